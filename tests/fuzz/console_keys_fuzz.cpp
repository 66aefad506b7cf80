// Whatever the Windows console gives as input records (keys of any code, scan code,
// modifier state and character, mouse and focus events between them, at any times), and
// any reader language the settings byte can name: the capture stays within its buffers
// and limits, and the layout diagnosis only names a layout that makes the swipe valid.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/process_state.h"
#include "msrprofile/exit_codes.h"
#include "msrprofile/profile/codec.h"
#include "msrprofile/swipe/key_capture.h"
#include "msrprofile/swipe/swipe.h"
#include "tests/fakes/fake_os.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

constexpr std::size_t kRecordSize = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace msr::profile;
  using msr::fuzz::check;
  static msr::fake::FakeOs fos;
  msr::reset_process_state();
  msr::set_os(&fos);

  // Set-up: the reader's language, whether the profile's ending ends the burst, which
  // layout the host names; then records of kRecordSize bytes.
  msr::fuzz::SwipeSetup set;
  if (!set.take(data, size) || size < 1) return 0;
  const int lang = set.lang();
  const std::uint8_t klid_choice = *data++;
  --size;
  fos.klid = klid_choice < 0x40   ? ""
             : klid_choice < 0x80 ? "0000" + std::to_string(klid_choice)
                                  : keyboard_layout(klid_choice % kLayoutCount).klid;

  fos.console_input.clear();
  fos.tick = 5000;
  std::uint32_t at = fos.tick;
  std::size_t keys_sent = 0;
  for (std::size_t i = 0; i + kRecordSize <= size; i += kRecordSize) {
    const unsigned char* r = data + i;
    msr::InputRecord rec;
    at += r[0] & 0x3F;  // up to 63 ms apart: the burst's quiet time ends it further on
    rec.event_type =
        (r[0] & 0xC0) == 0xC0 ? static_cast<std::uint16_t>(r[1] & 0x1F) : msr::w32::kKeyEvent;
    rec.key_down = r[1] & 0x80;
    rec.virtual_key = r[2];
    rec.virtual_scan = r[3];
    rec.unicode_char = static_cast<char16_t>(r[4] << 8 | r[5]);
    rec.control_key_state = static_cast<std::uint32_t>(r[6]) | (r[7] & 1u) << 8;
    rec.repeat_count = 1;
    fos.console_input.emplace_back(at, rec);
    keys_sent += rec.event_type == msr::w32::kKeyEvent;
  }

  KeyEvents keys;
  std::string why;
  msr::fuzz::check_capture(capture_console_keys(set.burst(1000, 0x10), &keys, &why), why);
  check(keys.size() <= keys_sent && keys.size() <= kMaxKeyEvents + 64);

  const Validity valid = set.valid();
  Typed typed = decode_keys(keys, lang);
  const LayoutFinding f = diagnose_keys(keys, lang, valid, fos.klid);
  msr::fuzz::check_finding(f, typed.received, lang, valid);

  wipe(keys);
  wipe(typed.intended);
  wipe(typed.received);
  fos.console_input.clear();
  fos.clear_records();
  msr::reset_process_state();
  return 0;
}
