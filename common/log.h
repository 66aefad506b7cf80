// The diagnostic log: "\msr.log" in the root of the current drive, appended to only
// when it already exists. Every writer goes through log_write, which does nothing
// while logging is off.
#pragma once

#include <cstddef>
#include <cstdio>

#ifdef _WIN32
#define MSR_PRINTF(fmt, args) __attribute__((format(ms_printf, fmt, args)))
#else
#define MSR_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

namespace msr {

struct LogState {
  std::FILE* stream = nullptr;  // null while logging is off
};
inline LogState g_log;

// Opening rule and header; called once, right after the single-instance test.
void log_open();
bool log_on();
void log_write(const char* format, ...) MSR_PRINTF(1, 2);
// Each byte written with item_format (" %x", " %c", " %x "...).
void log_bytes(const unsigned char* bytes, std::size_t count, const char* item_format);
void log_flush();
void log_close();

}  // namespace msr
