#include "msrprofile/swipe/key_capture.h"

#include <algorithm>

#include "msrprofile/exit_codes.h"
#include "msrprofile/swipe/key_burst.h"
#include "msrprofile/swipe/swipe.h"
#include "msrprofile/swipe/swipe_capture.h"
#include "platform/os.h"

namespace msr::profile {
namespace {

bool is_modifier_vk(std::uint16_t vk) {
  return vk == kVkShift || vk == kVkControl || vk == kVkMenu;
}

}  // namespace

KeyBurst::State KeyBurst::next(std::uint32_t now, std::uint32_t* wait_ms) {
  if (!started_) {
    const std::uint32_t waited = now - start_;
    const std::uint32_t limit = static_cast<std::uint32_t>(o_.timeout_ms);
    if (waited >= limit) return State::timed_out;
    const std::uint32_t left = limit - waited;
    const int seconds = static_cast<int>((left + 999) / 1000);
    if (o_.countdown && seconds != shown_) o_.countdown(shown_ = seconds);
    // Wake at the next whole second, for the countdown.
    *wait_ms = std::min(left, left % 1000 == 0 ? 1000u : left % 1000);
    return State::wait;
  }
  if (now - first_ > static_cast<std::uint32_t>(kMaxBurstSeconds) * 1000) return State::endless;
  const std::uint32_t since = now - last_;
  const std::uint32_t quiet = static_cast<std::uint32_t>(o_.quiet_ms);
  if (since >= quiet) return State::quiet;
  *wait_ms = quiet - since;
  return State::wait;
}

void KeyBurst::key(std::uint32_t now) {
  if (!started_) first_ = now;
  started_ = true;
  last_ = now;
}

bool KeyBurst::go_on(std::uint32_t now, std::uint32_t* wait_ms, const std::string& where, int* exit,
                     std::string* why) {
  const State s = next(now, wait_ms);
  if (s == State::wait) return true;
  *exit = kExitOk;
  if (s == State::timed_out) {
    *exit = kExitNoReader;
    *why = "nothing was swiped within ";
    *why += std::to_string(o_.timeout_ms / 1000);
    *why += " s " + where;
  } else if (s == State::endless) {
    *exit = kExitDiffers;
    *why = "the keys " + where + " kept coming for more than ";
    *why += std::to_string(kMaxBurstSeconds);
    *why += " s: that is no swipe";
  }
  return false;
}

void wipe(KeyEvents& keys) {
  std::fill(keys.begin(), keys.end(), KeyEvent{});
  keys.clear();
}

int capture_console_keys(const BurstOptions& o, KeyEvents* keys, std::string* why) {
  keys->clear();
  const Handle in = os().GetStdHandle(w32::kStdInputHandle);
  std::uint32_t mode = 0;
  if (in == invalid_handle() || in == nullptr || !os().GetConsoleMode(in, &mode)) {
    *why =
        "standard input is not a console: run swipe --keyboard in a console window (not "
        "with its input from a pipe or a file), and swipe with the window in front";
    return kExitUsage;
  }
  const std::string where = "on the keyboard";
  InputRecord records[64];
  struct Wiper {
    InputRecord* r;
    ~Wiper() { std::fill(r, r + 64, InputRecord{}); }
  } wiper{records};
  CardText received;  // what `complete` looks at; wiped on every way out
  received.reserve(kMaxKeyEvents);
  struct TextWiper {
    CardText& t;
    ~TextWiper() { wipe(t); }
  } text_wiper{received};

  KeyBurst burst(o, os().GetTickCount());
  for (;;) {
    std::uint32_t wait = 0;
    int exit = kExitOk;
    if (!burst.go_on(os().GetTickCount(), &wait, where, &exit, why)) return exit;
    const std::uint32_t w = os().WaitForSingleObject(in, wait);
    if (w == w32::kWaitTimeout) continue;
    std::uint32_t n = 0;
    if (w != w32::kWaitObject0 || !os().ReadConsoleInputW(in, records, 64, &n)) {
      // Built by appending: GCC 12 warns wrongly (-Wrestrict) on a literal + std::to_string.
      *why = "the console stopped giving input (error ";
      *why += std::to_string(os().GetLastError());
      *why += ")";
      return kExitNoReader;
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      const InputRecord& r = records[i];
      if (r.event_type != w32::kKeyEvent) continue;  // the mouse, focus, the window's size
      // The release of the Enter that started the command is no part of the swipe.
      if (!burst.started() && !r.key_down) continue;
      const KeyEvent e{r.key_down, r.virtual_key, r.virtual_scan, r.control_key_state,
                       static_cast<char32_t>(r.unicode_char)};
      keys->push_back(e);
      if (e.down && e.ch != 0 && received.size() < received.capacity()) received += e.ch;
      if (e.down && !is_modifier_vk(e.vk)) burst.key(os().GetTickCount());
    }
    std::fill(records, records + n, InputRecord{});
    if (keys->size() > kMaxKeyEvents) {
      *why = "more than ";
      *why += std::to_string(kMaxKeyEvents);
      *why += " key events arrived " + where + " without a pause: that is no swipe";
      return kExitDiffers;
    }
    if (burst.started() && o.complete && o.complete(received)) return kExitOk;
  }
}

}  // namespace msr::profile
