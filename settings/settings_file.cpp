#include "settings/settings_file.h"

#include <cstdint>
#include <cstdio>

#include "common/flags.h"
#include "common/log.h"
#include "platform/os.h"
#include "settings/settings_block.h"

namespace msr {
namespace {

void apply_presets(SettingsBlock& b) {
  if (g_shell.jis) {
    b.p2j = 0xC6, b.mr3 = 0x3F, b.mr5 = 0x3B, b.mr6 = 0x02;
  } else if (g_shell.usb) {
    b.p2j = 0x46, b.mr6 = 0x01, b.kq1 = 0x00;
  } else if (g_shell.vcom) {
    b.p2j = 0x46, b.mr6 = 0x00, b.kq1 = 0x00;
  }
}

char* c(std::uint8_t& byte) {
  return reinterpret_cast<char*>(&byte);
}

}  // namespace

void readf() {
  SettingsBlock& b = blk();
  apply_presets(b);

  const std::string places[] = {g_shell.inifn, "msr.ini", "tvrnmsr.ini"};
  std::FILE* fd = nullptr;
  for (const std::string& place : places) {
    fd = os().fopen(place.c_str(), "rb");
    if (fd != nullptr) {
      g_settings.fn = place;
      break;
    }
  }
  if (fd == nullptr) {
    os().Beep(500, 500);
    // Writing the presets is how a reader is put back to its defaults, but a file that
    // was meant to be there and isn't should show.
    log_write(" readf(): no settings file (%s, msr.ini, tvrnmsr.ini): the presets stand \n",
              g_shell.inifn.c_str());
    return;
  }

  // %c takes every byte as it stands; a short file stops the reads where it ends.
  if (std::fscanf(fd, "%c%c%c%c%c%c%c%c", c(b.p2j), c(b.mr1), c(b.mr2), c(b.mr3), c(b.mr4),
                  c(b.mr5), c(b.mr6), c(b.mr7)) == 8) {
    std::fscanf(fd, "%c%c%c%c%c%c%c", c(b.kq1), c(b.kq2), c(b.kq3), c(b.kq4), c(b.kq5), c(b.kq6),
                c(b.kq7));
  }
  // The stream's address identifies the file in the log; keep it before the close.
  const std::uintptr_t fd_id = reinterpret_cast<std::uintptr_t>(fd);
  std::fclose(fd);
  log_write(" readf(): fd=%p, fn=%s, p2j=%x, mr1=%x,%x,%x,%x,%x,%x,%x, kq1=%x \n",
            reinterpret_cast<void*>(fd_id), g_settings.fn.c_str(), b.p2j, b.mr1, b.mr2, b.mr3,
            b.mr4, b.mr5, b.mr6, b.mr7, b.kq1);
}

}  // namespace msr
