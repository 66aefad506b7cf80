#include "app/startup.h"

#include <cstring>
#include <vector>

#include "app/modes.h"
#include "common/flags.h"
#include "common/log.h"
#include "common/text.h"
#include "platform/os.h"
#include "settings/settings_block.h"

namespace msr {
namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string current_directory() {
  char small[260] = {};
  std::uint32_t n = os().GetCurrentDirectoryA(sizeof small, small);
  if (n == 0) return {};
  if (n < sizeof small) return std::string(small, n);
  // Longer than a classic path: ask again with the size the platform asked for.
  std::vector<char> big(n + 1, '\0');
  std::uint32_t m = os().GetCurrentDirectoryA(static_cast<std::uint32_t>(big.size()), big.data());
  if (m == 0 || m >= big.size()) return {};
  return std::string(big.data(), m);
}

template <typename Match>
void scan(const char* cp, char letter, Match on_match) {
  for (std::size_t i = 0; cp[i] != '\0'; ++i) {
    if (cp[i] == '-' && cp[i + 1] == letter) on_match(i);
  }
}

}  // namespace

std::string command_tail(const char* command_line) {
  const char* p = command_line;
  if (p == nullptr) return {};
  while (blank(*p)) ++p;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  }
  while (*p != '\0' && !blank(*p)) ++p;
  while (blank(*p)) ++p;
  return p;
}

void read_environment_and_switches(const char* cp) {
  ShellState& s = g_shell;
  s.curdir = current_directory();

  // The directory is only used when it fits the classic 260-character buffer; a
  // failed query, or one that asks for a bigger buffer, leaves it empty.
  char windir[260] = {};
  std::uint32_t len = os().GetWindowsDirectoryA(windir, sizeof windir);
  if (len == 0 || len >= sizeof windir) windir[0] = '\0';
  windir[sizeof windir - 1] = '\0';
  s.inifn = std::string(windir) + "\\tvrnmsr.ini";
  log_write(" curdir=%s, inifn=%s, len=%ld, cp=%s \n", s.curdir.c_str(), s.inifn.c_str(),
            static_cast<long>(len), cp);

  if (std::strstr(cp, "-d") != nullptr) s.nofail = 1;
  if (std::strstr(cp, "-t") != nullptr) s.vclass = 1;
  s.cif = std::strstr(cp, "-c") != nullptr ? 1 : 0;

  s.vcom = s.usb = s.jis = s.cport = 0;
  scan(cp, 'v', [&](std::size_t i) {
    log_write(" usb vcom version. (102.7.23.2) \n");
    s.vcom = 1;
    s.cport = atol32(cp + i + 2);
  });
  scan(cp, 'u', [&](std::size_t) {
    log_write(" usb version. (92.9.20,101.8.6) \n");
    s.usb = 1;
  });
  scan(cp, 'j', [&](std::size_t) {
    log_write(" usb jis version. (95.11.9.4) \n");
    s.jis = 1;
  });
  log_write(" vcom=%d, usb=%ld, jis=%ld \n", s.vcom, static_cast<long>(s.usb),
            static_cast<long>(s.jis));
}

int find_silent_switch(const char* cp) {
  const char* hit = std::strstr(cp, "-s");
  return hit == nullptr ? -1 : static_cast<int>(hit - cp);
}

int msr_main(const char* cp) {
  if (cp == nullptr) cp = "";
  Handle other = os().FindWindowA("TApplication", kAppTitle);
  if (other != nullptr) {
    os().SetForegroundWindow(other);
    os().UpdateWindow(other);
    if (find_silent_switch(cp) < 0) return 0;
    // A silent run that programs nothing must not look like one that did: the script
    // that started it learns why from the code and the log.
    log_open();
    log_write(" another instance has its window open: nothing written, exit=%d \n",
              kExitWindowOpen);
    log_close();
    return kExitWindowOpen;
  }
  log_open();
  read_environment_and_switches(cp);

  int code = 0;
  int pos = find_silent_switch(cp);
  if (pos >= 0) {
    code = silent_mode(pos);
  } else {
    window_mode();
  }
  log_close();
  return code;
}

}  // namespace msr
