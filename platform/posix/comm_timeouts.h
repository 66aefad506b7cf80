// Serial reads and writes by the rules of COMMTIMEOUTS, worked out with a monotonic clock
// over a source that can wait for bytes: how long a whole read may take, how long the
// line may pause between two bytes, and the MAXDWORD forms that return early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/os.h"

namespace msr {

// Waits up to wait_ms for bytes (wait_ms < 0: for as long as it takes; 0: not at all),
// then reads what has arrived, at most `count` (never 0). Returns the count read, 0 when
// the wait ran out, or -1 with errno set.
using ReadSome = std::function<long(unsigned char* buffer, std::size_t count, long wait_ms)>;

// ReadFile on a serial port under `timeouts`: true with *read set, also when a time-out
// ended the read early (on Windows that is no error either); false with errno set when
// the source fails, *read then holding what came before the failure.
bool comm_read(const CommTimeouts& timeouts, unsigned char* buffer, std::uint32_t count,
               std::uint32_t* read, const ReadSome& read_some);

// The longest a WriteFile of `count` bytes may take under `timeouts`, in milliseconds;
// 0 when no write time-out is set and the write takes as long as it takes.
std::uint64_t comm_write_limit_ms(const CommTimeouts& timeouts, std::uint32_t count);

}  // namespace msr
