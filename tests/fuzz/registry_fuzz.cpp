// Any serial-port list, with names of any length and content: maxcom reads the number
// behind the first three characters of each name without running past its text buffer,
// closes the key, and the probe that follows stays within the 298 numbered ports.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

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
  // starting with 0xFD stands for a missing key.
  using Values = std::vector<std::pair<std::string, std::optional<std::string>>>;
  Values values;
  bool missing = size > 0 && data[0] == 0xFD;
  std::int32_t expected = missing ? 17 : 0;
  std::size_t start = missing ? 1 : 0;
  for (std::size_t i = start; i <= size && !missing; ++i) {
    if (i < size && data[i] != 0xFF) continue;
    std::string v(reinterpret_cast<const char*>(data) + start, i - start);
    std::string name = "\\Device\\Serial" + std::to_string(values.size());
    if (!v.empty() && static_cast<unsigned char>(v[0]) == 0xFE) {
      values.emplace_back(name, std::nullopt);
    } else {
      // What the port number is read from: the text up to its first zero byte, cut to
      // the 127 characters of the name buffer.
      std::string text = v.substr(0, std::min(v.find('\0'), std::size_t{127}));
      if (text.size() > 3) expected = std::max(expected, msr::atol32(text.c_str() + 3));
      values.emplace_back(name, v);
    }
    start = i + 1;
  }
  if (missing) {
    fos.serialcomm.reset();
  } else {
    fos.serialcomm = values;
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
  for (const std::string& c : fos.calls) {
    if (c.rfind("CreateFileA(", 0) != 0) continue;
    if (want < 1 || c != "CreateFileA(\\\\.\\COM" + std::to_string(want) + ")") __builtin_trap();
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
