#include "common/log.h"

#include <cstdarg>

#include "platform/os.h"

namespace msr {
namespace {

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const char* name_or_qq(const char* const* names, int count, int index) {
  return index >= 0 && index < count ? names[index] : "???";
}

void write_header() {
  SystemTime now;
  os().GetLocalTime(&now);
  log_write("\n -------------------------------------- \n");
  log_write(" * 1.02.3-92.1.10 * %d-%d-%d, ", now.year, now.month, now.day);
  log_write(" %2d:%02d:%02d.%02d  \n", now.hour, now.minute, now.second, now.milliseconds / 10);
  // The calendar line, laid out as the C runtime's asctime lays it out but with the day
  // of the month always in two digits.
  log_write(" %s %s %02d %02d:%02d:%02d %4d\n", name_or_qq(kWeekdays, 7, now.day_of_week),
            name_or_qq(kMonths, 12, now.month - 1), now.day, now.hour, now.minute, now.second,
            now.year);
}

}  // namespace

void log_open() {
  std::FILE* probe = os().fopen("\\msr.log", "r");
  if (probe == nullptr) return;  // no log file: logging stays off, nothing is created
  std::fclose(probe);
  g_log.stream = os().fopen("\\msr.log", "a+");
  if (g_log.stream == nullptr) return;  // read-only or locked: off
  write_header();
}

bool log_on() {
  return g_log.stream != nullptr;
}

void log_write(const char* format, ...) {
  if (g_log.stream == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(g_log.stream, format, args);
  va_end(args);
}

void log_bytes(const unsigned char* bytes, std::size_t count, const char* item_format) {
  if (g_log.stream == nullptr) return;
  for (std::size_t i = 0; i < count; ++i) std::fprintf(g_log.stream, item_format, bytes[i]);
}

void log_flush() {
  if (g_log.stream != nullptr) std::fflush(g_log.stream);
}

void log_close() {
  if (g_log.stream == nullptr) return;
  std::fclose(g_log.stream);
  g_log.stream = nullptr;
}

long log_time() {
  return static_cast<long>(os().time());
}

}  // namespace msr
