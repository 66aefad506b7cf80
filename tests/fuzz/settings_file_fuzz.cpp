// Any settings file, of any length and content, loads without reading past its end.
#include <string>

#include "app/process_state.h"
#include "common/flags.h"
#include "settings/settings_block.h"
#include "settings/settings_file.h"
#include "tests/fakes/fake_os.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static msr::fake::FakeOs fos;
  msr::reset_process_state();
  msr::set_os(&fos);
  if (size > 0) {
    msr::g_shell.jis = data[0] & 1;
    msr::g_shell.usb = data[0] & 2;
    msr::g_shell.vcom = data[0] & 4;
  }
  msr::g_shell.inifn = "C:\\windows\\tvrnmsr.ini";
  fos.write_file(msr::g_shell.inifn, std::string(reinterpret_cast<const char*>(data), size));
  msr::readf();
  if (size >= 15 && msr::blk().kq7 != data[14]) __builtin_trap();

  // Nothing this input allocated outlives it: libFuzzer takes memory held over from one
  // input to the next for a leak and runs the input again to make sure.
  msr::reset_process_state();
  fos.clear_records();
  return 0;
}
