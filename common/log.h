// The diagnostic log: "\msr.log" in the root of the current drive, appended to only
// when it already exists. Every writer goes through log_write, which does nothing
// while logging is off.
#pragma once

#include <cstddef>
#include <cstdint>
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
// Arguments as the log's formats take them: the calendar time for " tm=%ld", and a
// 32-bit value for %lu or %lx (unsigned long, which is 64 bits wide on Linux).
long log_time();
inline unsigned long log_ul(std::uint32_t v) {
  return static_cast<unsigned long>(v);
}
void log_close();

}  // namespace msr
