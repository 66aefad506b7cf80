#include "platform/posix/comm_timeouts.h"

#include <algorithm>
#include <chrono>

namespace msr {
namespace {

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
// The longest wait handed to the source in one piece; a longer one goes round again.
constexpr std::int64_t kLongestWait = std::int64_t{1} << 30;

using Clock = std::chrono::steady_clock;

std::int64_t ms_since(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

}  // namespace

bool comm_read(const CommTimeouts& t, unsigned char* buffer, std::uint32_t count,
               std::uint32_t* read, const ReadSome& read_some) {
  *read = 0;
  if (count == 0) return true;
  const bool interval_max = t.read_interval == kMaxDword;

  // MAXDWORD, 0, 0: whatever has arrived, at once.
  if (interval_max && t.read_total_multiplier == 0 && t.read_total_constant == 0) {
    long n = read_some(buffer, count, 0);
    if (n < 0) return false;
    *read = static_cast<std::uint32_t>(n);
    return true;
  }

  // MAXDWORD, MAXDWORD, c: whatever has arrived; if nothing, the first bytes that come
  // within c milliseconds.
  const bool first_bytes = interval_max && t.read_total_multiplier == kMaxDword &&
                           t.read_total_constant != 0 && t.read_total_constant != kMaxDword;
  // No limit on the whole read (-1), or one worked out in 64 bits, where it can't
  // overflow: (2^32 - 1)^2 + 2^32 - 1 < 2^63.
  std::int64_t total = -1;
  if (first_bytes) {
    total = t.read_total_constant;
  } else if (t.read_total_multiplier != 0 || t.read_total_constant != 0) {
    total = static_cast<std::int64_t>(std::uint64_t{t.read_total_multiplier} * count +
                                      t.read_total_constant);
  }
  // The pause between two bytes is timed from the first byte on.
  const bool timed_gaps = t.read_interval != 0 && !first_bytes;

  const Clock::time_point start = Clock::now();
  Clock::time_point last_byte = start;
  while (*read < count) {
    std::int64_t wait = -1;
    if (total >= 0) {
      wait = total - ms_since(start);
      if (wait <= 0) break;
    }
    if (timed_gaps && *read > 0) {
      std::int64_t gap = static_cast<std::int64_t>(t.read_interval) - ms_since(last_byte);
      if (gap <= 0) break;
      wait = wait < 0 ? gap : std::min(wait, gap);
    }
    long n = read_some(buffer + *read, count - *read,
                       static_cast<long>(wait < 0 ? -1 : std::min(wait, kLongestWait)));
    if (n < 0) return false;
    if (n == 0) continue;
    *read += static_cast<std::uint32_t>(n);
    last_byte = Clock::now();
    if (first_bytes) break;
  }
  return true;
}

std::uint64_t comm_write_limit_ms(const CommTimeouts& t, std::uint32_t count) {
  return std::uint64_t{t.write_total_multiplier} * count + t.write_total_constant;
}

}  // namespace msr
