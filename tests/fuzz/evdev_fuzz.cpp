// Whatever an input device or a recording holds as `struct input_event` records (any
// type, code and value, torn records at the end, modifiers never released): the decoder
// stays within its buffer and the burst's limit, gives each key press once, and what it
// makes of the keys through any reader language the settings byte can name is sound.
#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "msrprofile/exit_codes.h"
#include "msrprofile/profile/codec.h"
#include "msrprofile/swipe/key_capture.h"
#include "msrprofile/swipe/swipe.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

using msr::fuzz::check;

// The modifier state bits a key event may carry.
constexpr std::uint32_t kModifierBits =
    msr::profile::kRightAltPressed | msr::profile::kLeftAltPressed |
    msr::profile::kRightCtrlPressed | msr::profile::kLeftCtrlPressed | msr::profile::kShiftPressed;

// The records as the fuzzer's bytes give them: as they are (whole records, torn ones,
// anything), or from 4 bytes each (kind, code, code, value) so that most are keys.
std::vector<unsigned char> records_of(const unsigned char* data, std::size_t size, bool raw) {
  if (raw) return {data, data + size};
  std::vector<unsigned char> out;
  for (std::size_t i = 0; i + 4 <= size; i += 4) {
    input_event e{};
    const unsigned kind = data[i] & 7;
    e.type = kind < 5 ? EV_KEY : kind == 5 ? EV_SYN : kind == 6 ? EV_MSC : data[i] >> 3;
    e.code = static_cast<std::uint16_t>((data[i + 1] << 8 | data[i + 2]) & 0x2FF);
    e.value = data[i + 3] < 0xF0 ? data[i + 3] % 3 : static_cast<std::int8_t>(data[i + 3]);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&e);
    out.insert(out.end(), bytes, bytes + sizeof e);
  }
  return out;
}

// How many key presses and releases the records hold, repeats aside.
std::size_t keys_in(const std::vector<unsigned char>& bytes) {
  std::size_t n = 0;
  for (std::size_t i = 0; i + sizeof(input_event) <= bytes.size(); i += sizeof(input_event)) {
    input_event e;
    std::memcpy(&e, bytes.data() + i, sizeof e);
    n += e.type == EV_KEY && e.value != 2;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace msr::profile;
  // Set-up: the reader's language, how the records are given, whether the profile's
  // ending ends the burst.
  msr::fuzz::SwipeSetup set;
  if (!set.take(data, size)) return 0;
  const int lang = set.lang();
  const std::vector<unsigned char> bytes = records_of(data, size, set.flags & 0x10);

  // A recording played from a pipe, all of it there at once: its end ends the burst.
  int pipe_fds[2];
  check(::pipe2(pipe_fds, O_CLOEXEC) == 0);
  ::fcntl(pipe_fds[1], F_SETPIPE_SZ, 1 << 20);
  std::size_t put = 0;
  while (put < bytes.size()) {
    const ssize_t n = ::write(pipe_fds[1], bytes.data() + put, bytes.size() - put);
    check(n > 0);
    put += static_cast<std::size_t>(n);
  }
  ::close(pipe_fds[1]);

  KeyEvents keys;
  std::string why;
  const int got = capture_evdev(pipe_fds[0], set.burst(1000, 0x20), &keys, &why);
  ::close(pipe_fds[0]);
  msr::fuzz::check_capture(got, why);
  check(keys.size() <= keys_in(bytes) && keys.size() <= kMaxKeyEvents + 64);
  for (const KeyEvent& e : keys) check((e.control & ~kModifierBits) == 0 && e.ch == 0);

  // What the swipe command makes of the keys: the text the reader meant.
  const Validity valid = set.valid();
  Typed typed = decode_keys(keys, lang);
  check(typed.received.empty());  // an input device's keys carry no characters
  msr::fuzz::check_finding(diagnose_text(typed.intended, lang, valid), typed.intended, lang, valid);
  wipe(keys);
  wipe(typed.intended);
  return 0;
}
