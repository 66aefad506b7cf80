#include "transport/usb/usb.h"

#include <cstring>
#include <string>

#include "common/flags.h"
#include "common/log.h"
#include "common/paths.h"
#include "platform/os.h"
#include "settings/settings_block.h"
#include "transport/usb/doziv.h"

namespace msr {
namespace {

constexpr std::uint32_t kPathSize = 260;  // MAX_PATH
constexpr std::int32_t kNoWriteEntry = 99;
constexpr std::int32_t kNoCloseEntry = 11;

// The loaded doziv.dll; every lookup goes into the log, found or not.
class Library {
 public:
  explicit Library(Handle module) : module_(module) {}
  void* find(const char* name) const {
    void* address = os().GetProcAddress(module_, name);
    log_write(" GetProcAddress( %s)=%p \n", name, address);
    return address;
  }

 private:
  Handle module_;
};

template <class Fn>
Fn entry(void* address) {
  return reinterpret_cast<Fn>(address);
}

// The first 16 bytes as numbers, then as characters (a zero byte goes in as it is).
void dump(const unsigned char* buffer) {
  log_bytes(buffer, 16, " %x");
  log_write(" \n");
  log_bytes(buffer, 16, " %c");
  log_write(" \n");
}

bool exists(const char* path) {
  return os().GetFileAttributesA(path) != w32::kInvalidFileAttributes;
}

}  // namespace

// hid.dll in the system directory, or in one of the two classic system folders when the
// system directory can't be had.
HidLookup find_hid() {
  HidLookup h;
  char dir[kPathSize] = {};
  h.len = os().GetSystemDirectoryA(dir, kPathSize);
  // A length of the buffer size or more is the size the path would need: nothing was
  // copied, which is no better than a failed query.
  const bool have_dir = h.len != 0 && h.len < kPathSize;
  dir[kPathSize - 1] = '\0';
  if (have_dir) {
    h.path = std::string(dir) + "\\hid.dll";
    h.present = exists(h.path.c_str());
  } else {
    h.present = exists("c:\\windows\\system\\hid.dll") || exists("c:\\winnt\\system32\\hid.dll");
  }
  return h;
}

// doziv.dll by absolute path only, in the program's own folder, then the system folder,
// then the Windows folder: the current directory and PATH are never searched, so a
// doziv.dll planted there is never run.
std::vector<std::string> doziv_paths() {
  std::vector<std::string> paths;
  for (const std::string& folder : {program_folder(), system_folder(), windows_folder()}) {
    if (!folder.empty()) paths.push_back(join_path(folder, doziv::kLibraryName));
  }
  return paths;
}

namespace {

// find_hid, and what it looked at in the log.
bool hid_present(const char* op) {
  const HidLookup h = find_hid();
  log_write(" in %s, HIDpath=%s, %lu \n", op, h.path.c_str(), static_cast<unsigned long>(h.len));
  return h.present;
}

// doziv.dll from doziv_paths(). Plain LoadLibraryA of a full path behaves the same on
// every Windows from XP on (the search flags of LoadLibraryExA are refused by
// XP, Vista and an unpatched 7). *lerr is the last-error code of the attempt that ended
// the search.
Handle load_doziv(long* lerr) {
  os().SetLastError(0);
  *lerr = 0;
  for (const std::string& path : doziv_paths()) {
    os().SetLastError(0);
    const Handle module = os().LoadLibraryA(path.c_str());
    *lerr = static_cast<long>(os().GetLastError());
    if (module != nullptr) return module;
  }
  return nullptr;
}

// What one access sequence leaves: the working status (the last stored library status)
// and whether the transfer between OpenUSB and CloseUSB did its job. A successful
// CloseUSB replaces the working status, so the transfer's own outcome is kept apart:
// otherwise a refused write would be reported as a success.
struct Outcome {
  std::int32_t status = 1;
  bool transfer_ok = true;
};

enum class OpenFailure { clears_usb, keeps_usb };
enum class MissingClose { keeps_status, fails };

// Loads doziv.dll, opens the reader, runs the transfer, closes the reader and releases
// the library. The transfer gets the library and the working status and says whether
// it did its job.
template <class Transfer>
Outcome access(OpenFailure open_failure, MissingClose missing_close, Transfer transfer) {
  Outcome out;
  long lerr = 0;
  const Handle module = load_doziv(&lerr);
  log_write(" LoadLibrary( doziv.dll )=%p, lerr=%ld \n", module, lerr);
  if (module == nullptr) {
    log_flush();
    return out;
  }

  const Library lib(module);
  void* open_usb = lib.find("OpenUSB");
  void* set_id = open_usb != nullptr ? lib.find("SetID") : nullptr;
  if (open_usb != nullptr && set_id != nullptr) {
    g_shell.status = "USB HID";
    entry<doziv::SetIDFn>(set_id)(doziv::kSetId1, doziv::kSetId2, doziv::kSetId3);
    out.status = entry<doziv::OpenUSBFn>(open_usb)();
    log_write(" OpenUSB(500)=%ld \n", static_cast<long>(out.status));
    if (out.status != 0) {
      if (open_failure == OpenFailure::clears_usb) g_shell.usb = 0;
      g_shell.status = "NO USB MSR";
      log_write(" openUSB failed \n");
    } else {
      g_shell.usb = 1;
      g_usb.opened = true;
      out.transfer_ok = transfer(lib, out.status);
      void* close_usb = lib.find("CloseUSB");
      if (close_usb != nullptr) {
        out.status = entry<doziv::CloseUSBFn>(close_usb)();
        log_write(" CloseUSB=%ld \n", static_cast<long>(out.status));
      } else if (missing_close == MissingClose::fails) {
        out.status = kNoCloseEntry;
        log_write(" CloseUSB=%ld \n", static_cast<long>(out.status));
      }
    }
  }
  os().FreeLibrary(module);
  log_flush();
  return out;
}

// The capability replies: index 8 is the firmware version text ("1.0" or "1.1", ended
// by a zero byte or a blank, marks a JIS2 reader); 18 answers J and 19 answers F in one
// of its first two bytes.
void test_reply(std::int32_t index, const unsigned char* r) {
  switch (index) {
    case 8:
      if (r[0] == '1' && r[1] == '.' && (r[2] == '0' || r[2] == '1') &&
          (r[3] == 0 || r[3] == ' ')) {
        g_shell.jis = 1;
      }
      break;
    case 18:
      if (r[0] == 'J' || r[1] == 'J') g_shell.jis = 1;
      break;
    case 19:
      if (r[0] == 'F' || r[1] == 'F') g_shell.cif = 1;
      break;
  }
}

// p2j, mr1..mr7 from the reader, then the three capability replies. A read that could
// not take the settings fails, whatever CloseUSB says afterwards; the capability replies
// are extras whose status never decides it.
bool read_base(const Library& lib, std::int32_t& status) {
  void* get = lib.find("GetMrState");
  if (get == nullptr) return false;
  unsigned char rbuf[doziv::kBufferSize] = {};
  std::memset(rbuf, 0, 16);
  status = entry<doziv::GetMrStateFn>(get)(rbuf);
  log_write(" GetMrState=%ld, rbuf= \n", static_cast<long>(status));
  dump(rbuf);
  if (status != 0) return false;
  load_base_block(blk(), rbuf + 1);  // byte 0 of the reply is not part of the settings
  std::memcpy(g_usb.base_as_read, rbuf + 1, sizeof g_usb.base_as_read);
  g_usb.base_read = true;

  void* rtvs = lib.find("RetrieveStatistics");
  if (rtvs == nullptr) return true;
  for (const std::int32_t index : {8, 18, 19}) {
    std::memset(rbuf, 0, 25);
    status = entry<doziv::RetrieveStatisticsFn>(rtvs)(index, rbuf, 25);
    log_write(" rtvs(%ld)=%ld, rbuf= \n", static_cast<long>(index), static_cast<long>(status));
    dump(rbuf);
    test_reply(index, rbuf);  // whatever the status was
  }
  return true;
}

// p2j, mr1..mr7 to the reader; an older library only has SetMrState, which takes no data.
bool write_base(const Library& lib, std::int32_t& status) {
  unsigned char wbuf[doziv::kBufferSize] = {};
  std::memset(wbuf, 0, 16);
  store_base_block(blk(), wbuf);
  if (void* put = lib.find("SetMrStateBuf"); put != nullptr) {
    status = entry<doziv::SetMrStateBufFn>(put)(wbuf);
  } else if (void* set = lib.find("SetMrState"); set != nullptr) {
    status = entry<doziv::SetMrStateFn>(set)();
  } else {
    status = kNoWriteEntry;
  }
  log_write(" SetMrState=%ld \n", static_cast<long>(status));
  log_flush();
  g_usb.written = status == 0;
  return status == 0;
}

// Asks for the extended block; A0h in byte 1 acknowledges it, with kq1 and kq2 after.
bool read_ext(const Library& lib, std::int32_t& status) {
  void* get = lib.find("GetMrState1");
  if (get == nullptr) return true;  // an older library: nothing to read, nothing changes
  unsigned char buf[doziv::kBufferSize] = {};
  buf[1] = doziv::kCmdQueryExtended;
  status = entry<doziv::GetMrState1Fn>(get)(buf);
  log_write(" GetMrState1=%ld, rbuf= \n", static_cast<long>(status));
  dump(buf);
  SettingsBlock& b = blk();
  if (status == 0 && buf[1] == doziv::kAckExtended) {
    g_usb.ext_f = 1;
    g_usb.ext_as_read[0] = buf[2];
    g_usb.ext_as_read[1] = buf[3];
    b.kq1 = buf[2];
  } else {
    g_usb.ext_f = 0;
    b.kq1 = 0;
  }
  b.kq2 = buf[3];
  return status == 0;
}

// kq1..kq7 to the reader, then the reset that makes it come back on the interface that
// vcomif chose, when the reader can switch.
bool write_ext(const Library& lib, std::int32_t& status) {
  const SettingsBlock& b = blk();
  log_write(" kq1=%x \n", static_cast<unsigned>(b.kq1));
  unsigned char buf[doziv::kBufferSize] = {};
  buf[1] = doziv::kCmdWriteExtended;
  const unsigned char kq[] = {b.kq1, b.kq2, b.kq3, b.kq4, b.kq5, b.kq6, b.kq7};
  std::memcpy(buf + 2, kq, sizeof kq);
  void* set = lib.find("SetMrState1");
  bool ok = set != nullptr;  // without the entry point the block can't be written
  if (set != nullptr) {
    status = entry<doziv::SetMrState1Fn>(set)(buf);
    ok = status == 0;
  }
  log_write(" SetMrState1=%ld, fp2=%p \n", static_cast<long>(status), set);
  log_flush();
  if (set != nullptr && g_shell.cif && get_bit(b, Bit::vcomif)) {
    std::memset(buf, 0, sizeof buf);
    buf[1] = doziv::kCmdReset;
    buf[2] = doziv::kResetArg;
    status = entry<doziv::SetMrState1Fn>(set)(buf);
    ok = ok && status == 0;
    log_write(" SetMrState1=%ld, fp2=%p \n", static_cast<long>(status), set);
    log_flush();
  }
  g_usb.written = ok;
  return ok;
}

}  // namespace

bool hid_dll_present() {
  return find_hid().present;
}

int setusb(int mode) {
  g_usb.opened = g_usb.written = false;
  if (log_on()) log_write(" in setusb at %ld, mode=%d \n", os().time(), mode);
  if (!hid_present("setusb")) {
    log_write(" can't find hid.dll \n");
    if (g_shell.nofail) return 0;
    os().MessageBoxA(nullptr, "Can't find hid.dll", kAppTitle, w32::kMbOk);
    return 2;
  }
  const Outcome out = access(OpenFailure::clears_usb, MissingClose::keeps_status,
                             [mode](const Library& lib, std::int32_t& status) {
                               return mode == 0 ? read_base(lib, status) : write_base(lib, status);
                             });
  if ((out.status != 0 || !out.transfer_ok) && !g_shell.nofail) return 9;
  g_shell.usb = 1;
  return 0;
}

int setusb1(int mode) {
  g_usb.opened = g_usb.written = false;
  if (log_on()) log_write(" in setusb1 at %ld, mode=%d \n", os().time(), mode);
  if (g_shell.vcom) return 1;
  // The extended block is written only to a reader whose query was answered.
  if (mode == 1 && g_usb.ext_f == 0) return 0;
  if (g_shell.nofail) {
    g_usb.ext_f = 1;
    return 0;
  }
  if (!hid_present("setusb1")) {
    log_write(" can't find hid.dll \n");
    os().MessageBoxA(nullptr, "Can't find hid.dll", "DIZ URE ZOV Avive Vava", w32::kMbOk);
    return 1;
  }
  const Outcome out = access(OpenFailure::keeps_usb, MissingClose::fails,
                             [mode](const Library& lib, std::int32_t& status) {
                               return mode == 1 ? write_ext(lib, status) : read_ext(lib, status);
                             });
  return out.status != 0 || !out.transfer_ok ? 9 : 0;
}

}  // namespace msr
