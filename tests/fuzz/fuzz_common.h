// What the fuzz targets share: the trap that marks a failed check, the fuzzer's bytes read
// front to back, and the head of a swipe or keyboard target's input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "msrprofile/exit_codes.h"
#include "msrprofile/keyboard/keyboard_layouts.h"
#include "msrprofile/keyboard/keys.h"
#include "msrprofile/profile/codec.h"
#include "msrprofile/swipe/key_capture.h"
#include "msrprofile/swipe/swipe.h"

namespace msr::fuzz {

inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

// The fuzzer's bytes, read front to back; zeros once they run out.
struct Input {
  const unsigned char* data;
  std::size_t size;
  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
};

// A byte of flags, then the profile's bytes: the framing a swipe is read with. The low four
// bits of the flags are a reader language, any of the sixteen its settings byte can hold.
struct SwipeSetup {
  std::uint8_t flags = 0;
  profile::Bytes profile{};
  profile::Framing framing;
  int lang() const { return flags & 0x0F; }
  // Takes the set-up off the input's front; false when the input is shorter.
  bool take(const unsigned char*& data, std::size_t& size) {
    if (size < 1 + profile.size()) return false;
    flags = data[0];
    for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = data[1 + i];
    framing = profile::framing_of(profile);
    data += 1 + profile.size();
    size -= 1 + profile.size();
    return true;
  }
  // The swipe parser's verdict, as the swipe command gives it to the layout diagnosis.
  profile::Validity valid() const {
    return [this](std::u32string_view t) { return profile::analyze(t, framing).valid(); };
  }
  // A capture's options: the profile's ending ends the burst, as the swipe command ends
  // it, when the flags hold `ending_bit`.
  profile::BurstOptions burst(int timeout_ms, std::uint8_t ending_bit) const {
    profile::BurstOptions o;
    o.timeout_ms = timeout_ms;
    o.reader_lang = lang();
    if (flags & ending_bit) {
      o.complete = [this](std::u32string_view t) { return profile::swipe_complete(t, framing); };
    }
    return o;
  }
};

// A capture ends in a burst, nothing, or no swipe, and says why when it has none.
inline void check_capture(int got, const std::string& why) {
  check(got == profile::kExitOk || got == profile::kExitNoReader || got == profile::kExitDiffers);
  check(got == profile::kExitOk || !why.empty());
}

// A diagnosis only calls valid what the swipe parser does, and names a layout only with
// the text it makes valid.
inline void check_finding(const profile::LayoutFinding& f, std::u32string_view received,
                          int reader_lang, const profile::Validity& valid) {
  using Kind = profile::LayoutFinding::Kind;
  if (f.kind == Kind::fits) check(valid(received));
  if (f.kind == Kind::host_layout) {
    check(f.host_lang >= 0 && f.host_lang < profile::kLayoutCount && f.host_lang != reader_lang);
    check(valid(f.repaired));
    check(!f.advice.empty());
  } else {
    check(f.host_lang == -1 && f.repaired.empty());
  }
  (void)profile::finding_name(f.kind);
}

}  // namespace msr::fuzz
