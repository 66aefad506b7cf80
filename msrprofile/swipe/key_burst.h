// The timing every keyboard source shares: the wait for the first key with its countdown,
// the quiet time that ends a burst, and the limit on a burst that never ends.
#pragma once

#include <cstdint>
#include <string>

#include "msrprofile/swipe/key_capture.h"

namespace msr::profile {

class KeyBurst {
 public:
  enum class State { wait, timed_out, quiet, endless };

  KeyBurst(const BurstOptions& o, std::uint32_t now_ms) : o_(o), start_(now_ms) {}

  // What to do at `now_ms`: wait up to *wait_ms for input, or stop. Shows the countdown.
  State next(std::uint32_t now_ms, std::uint32_t* wait_ms);
  void key(std::uint32_t now_ms);  // a key arrived
  bool started() const { return started_; }

  // next(), for a capture loop: true to wait *wait_ms; false once the burst is over, with
  // *exit kExitOk after its quiet time, or *exit and *why (for `where`, "on the keyboard")
  // when nothing came or it never ended.
  bool go_on(std::uint32_t now_ms, std::uint32_t* wait_ms, const std::string& where, int* exit,
             std::string* why);

 private:
  const BurstOptions& o_;
  std::uint32_t start_, first_ = 0, last_ = 0;
  bool started_ = false;
  int shown_ = -1;
};

}  // namespace msr::profile
