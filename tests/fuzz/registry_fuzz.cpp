// Any serial-port list, with names of any length and content: maxcom reads the number
// behind the first three characters of each name without running past its text buffer,
// closes the key, and the probe that follows stays within the 298 numbered ports.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "app/process_state.h"
#include "common/log.h"
#include "common/text.h"
#include "settings/settings_block.h"
#include "tests/fakes/fake_os.h"
#include "transport/vcom/serial_port.h"
#include "transport/vcom/vcom.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static msr::fake::FakeOs fos;
  msr::reset_process_state();
  msr::set_os(&fos);

  // Values separated by 0xFF; a value starting with 0xFE holds no string data. An input
  // starting with 0xFD stands for a missing key. The list is made in place in the fake,
  // under names short enough to need no heap: an input can hold hundreds of values.
  bool missing = size > 0 && data[0] == 0xFD;
  std::int32_t expected = missing ? 17 : 0;
  if (missing) {
    fos.serialcomm.reset();
  } else {
    auto& values = fos.serialcomm.emplace();
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i) {
      if (i < size && data[i] != 0xFF) continue;
      std::string v(reinterpret_cast<const char*>(data) + start, i - start);
      std::string name = "Serial" + std::to_string(values.size());
      if (!v.empty() && static_cast<unsigned char>(v[0]) == 0xFE) {
        values.emplace_back(std::move(name), std::nullopt);
      } else {
        // What the port number is read from: the text up to its first zero byte, cut to
        // the 127 characters of the name buffer.
        char text[128] = {};
        v.copy(text, sizeof text - 1);
        if (std::strlen(text) > 3) expected = std::max(expected, msr::atol32(text + 3));
        values.emplace_back(std::move(name), std::move(v));
      }
      start = i + 1;
    }
  }

  if (size > 1 && (data[size - 1] & 1)) {
    fos.write_file("C:\\msr.log", "");
    msr::log_open();
  }
  if (msr::maxcom() != expected) __builtin_trap();
  if (fos.open_handles() != 0) __builtin_trap();

  // The probe runs from the listed maximum (at most 298) down to 1, and nowhere else.
  fos.calls.clear();
  msr::chkcom(0);
  std::int32_t top = std::min<std::int32_t>(expected, 298);
  std::int32_t want = top;
  char opened[32];
  for (const std::string& c : fos.calls) {
    if (c.rfind("CreateFileA(", 0) != 0) continue;
    std::snprintf(opened, sizeof opened, "CreateFileA(\\\\.\\COM%d)", static_cast<int>(want));
    if (want < 1 || c != opened) __builtin_trap();
    --want;
  }
  if (top > 0 && want != 0) __builtin_trap();
  if (fos.open_handles() != 0) __builtin_trap();

  // Nothing this input allocated outlives it: libFuzzer takes memory held over from one
  // input to the next for a leak and runs the input again to make sure.
  msr::reset_process_state();
  fos.clear_records();
  fos.serialcomm.emplace();
  return 0;
}
