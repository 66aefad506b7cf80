// Linux implementation of the operating-system boundary (see posix_os.h).
#include "platform/posix/posix_os.h"

#include <dirent.h>
#include <libserialport.h>
#include <linux/serial.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <thread>
#include <utility>

#include "platform/posix/comm_timeouts.h"

namespace msr {
namespace {

// Win32 error codes this boundary answers with.
constexpr std::uint32_t kErrInvalidFunction = 1, kErrFileNotFound = 2, kErrPathNotFound = 3,
                        kErrTooManyOpenFiles = 4, kErrAccessDenied = 5, kErrInvalidHandle = 6,
                        kErrNotEnoughMemory = 8, kErrGenFailure = 31, kErrNotSupported = 50,
                        kErrInsufficientBuffer = 122, kErrInvalidParameter = 87,
                        kErrCallNotImplemented = 120, kErrModNotFound = 126,
                        kErrFilenameExcedRange = 206, kErrOperationAborted = 995,
                        kErrInvalidWindowHandle = 1400, kErrTimeout = 1460, kErrNoMoreFiles = 18,
                        kErrEnvVarNotFound = 203;

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

// A tty whose device went away (a USB adapter unplugged, a pseudo-terminal's other side
// closed) reads as an endless stream of nothing; Windows fails the read instead, and so
// must we, or an unplugged reader looks like one that is merely quiet.
bool hung_up(sp_port* port) {
  int fd = -1;
  if (sp_get_port_handle(port, &fd) != SP_OK || fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)) != 0;
}
constexpr std::uint32_t kFileFlagOverlapped = 0x40000000u;
constexpr std::uint32_t kFileAttributeDirectory = 0x10u, kFileAttributeNormal = 0x80u;
constexpr std::uint32_t kPurgeTxClear = 0x4u, kPurgeRxClear = 0x8u;
constexpr std::uint32_t kMsRingOn = 0x40u, kMsRlsdOn = 0x80u;
constexpr std::uint32_t kCeRxOver = 0x1u, kCeOverrun = 0x2u, kCeRxParity = 0x4u, kCeFrame = 0x8u,
                        kCeBreak = 0x10u;
constexpr char kSerialComm[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The errno behind a failed libserialport call.
int sp_errno(sp_return r) {
  switch (r) {
    case SP_ERR_FAIL: {
      int e = sp_last_error_code();
      return e != 0 ? e : EIO;
    }
    case SP_ERR_MEM:
      return ENOMEM;
    case SP_ERR_SUPP:
      return ENOTSUP;
    default:
      return EINVAL;
  }
}

bool same_text_ignoring_case(const char* a, const char* b) {
  return ::strcasecmp(a, b) == 0;
}

// The COM number in "\\.\COM<n>" or "COM<n>" (any case, n from 1 without leading zeros);
// 0 for any other name.
int com_number_of(const char* name) {
  if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
  if (::strncasecmp(name, "COM", 3) != 0) return 0;
  const char* digits = name + 3;
  if (*digits < '1' || *digits > '9') return 0;
  long n = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    n = n * 10 + (*p - '0');
    if (n > INT_MAX / 10) return 0;
  }
  return static_cast<int>(n);
}

// A path with the program's Windows separators turned into the system's.
std::string host_path(const char* path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

// The Win32 contract of the directory queries: the length without the terminator when
// the text fits, else the size needed with it.
std::uint32_t answer_text(const std::string& text, char* buffer, std::uint32_t size) {
  if (text.size() + 1 > size) return static_cast<std::uint32_t>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<std::uint32_t>(text.size());
}

struct Port {
  sp_port* port = nullptr;
  int fd = -1;
  CommTimeouts timeouts;               // zero until set: reads wait for every byte
  serial_icounter_struct counts = {};  // the driver's line-error counts at the last look
};

// The line errors counted since `before`, as ClearCommError flags; `before` moves on.
// A port that keeps no counts reports none.
std::uint32_t line_errors(int fd, serial_icounter_struct& before) {
  serial_icounter_struct now = {};
  if (::ioctl(fd, TIOCGICOUNT, &now) != 0) return 0;
  std::uint32_t flags = 0;
  if (now.buf_overrun != before.buf_overrun) flags |= kCeRxOver;
  if (now.overrun != before.overrun) flags |= kCeOverrun;
  if (now.parity != before.parity) flags |= kCeRxParity;
  if (now.frame != before.frame) flags |= kCeFrame;
  if (now.brk != before.brk) flags |= kCeBreak;
  before = now;
  return flags;
}

class PosixOs final : public Os {
 public:
  ~PosixOs() override {
    for (auto& [h, p] : open_) release(p);
  }

  void set_ports(std::vector<std::string> paths) {
    ports_.clear();
    for (std::string& path : paths) {
      if (ports_.size() == kMaxPresentedPorts) break;
      if (std::find(ports_.begin(), ports_.end(), path) == ports_.end())
        ports_.push_back(std::move(path));
    }
  }
  const std::vector<std::string>& ports() const { return ports_; }
  std::string port_path(int com_number) const {
    std::size_t n = ports_.size();
    if (com_number < 1 || static_cast<std::size_t>(com_number) > n) return "";
    return ports_[n - static_cast<std::size_t>(com_number)];
  }
  int com_number(const std::string& path) const {
    auto it = std::find(ports_.begin(), ports_.end(), path);
    if (it == ports_.end()) return 0;
    return static_cast<int>(ports_.end() - it);
  }

  // --- no window system ---
  Handle FindWindowA(const char*, const char*) override { return nullptr; }
  bool SetForegroundWindow(Handle) override { return fail(kErrInvalidWindowHandle); }
  bool UpdateWindow(Handle) override { return fail(kErrInvalidWindowHandle); }
  int MessageBoxA(Handle, const char*, const char*, std::uint32_t) override {
    last_error_ = kErrCallNotImplemented;
    return 0;
  }
  void ProcessMessages() override {}

  // --- files and folders ---
  std::uint32_t GetWindowsDirectoryA(char*, std::uint32_t) override {
    last_error_ = kErrCallNotImplemented;
    return 0;
  }
  std::uint32_t GetSystemDirectoryA(char*, std::uint32_t) override {
    last_error_ = kErrCallNotImplemented;
    return 0;
  }
  std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) override {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path || size == 0) {
      last_error_ = n <= 0 ? win32_error(errno) : kErrInsufficientBuffer;
      return 0;
    }
    // As Windows XP answers a short buffer: the path cut to the buffer, no terminator.
    if (static_cast<std::uint32_t>(n) >= size) {
      std::memcpy(buffer, path, size);
      last_error_ = kErrInsufficientBuffer;
      return size;
    }
    std::memcpy(buffer, path, static_cast<std::size_t>(n));
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
  }
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) {
      last_error_ = win32_error(errno);
      return 0;
    }
    std::uint32_t n = answer_text(cwd, buffer, size);
    std::free(cwd);
    return n;
  }
  std::uint32_t GetFileAttributesA(const char* path) override {
    struct stat st;
    if (::stat(host_path(path).c_str(), &st) != 0) {
      last_error_ = win32_error(errno);
      return w32::kInvalidFileAttributes;
    }
    return S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeNormal;
  }
  std::FILE* fopen(const char* path, const char* mode) override {
    std::FILE* f = std::fopen(host_path(path).c_str(), mode);
    if (f == nullptr) last_error_ = win32_error(errno);
    return f;
  }

  // --- serial ports ---
  Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t,
                     const SecurityAttributes*, std::uint32_t disposition, std::uint32_t flags,
                     Handle) override {
    std::string device = port_path(com_number_of(path));
    if (device.empty()) return open_failed(kErrFileNotFound);
    // Ports are opened as they are, synchronously; anything else is refused as Windows
    // refuses it for a COM port.
    if (disposition != w32::kOpenExisting || (flags & kFileFlagOverlapped) != 0)
      return open_failed(kErrInvalidParameter);

    sp_port* port = nullptr;
    if (sp_get_port_by_name(device.c_str(), &port) != SP_OK) {
      // libserialport knows only the ports that sysfs knows; a path that exists but is no
      // such port is a name that names no COM port.
      struct stat st;
      return open_failed(::stat(device.c_str(), &st) != 0 ? win32_error(errno) : kErrFileNotFound);
    }
    bool reads = (access & w32::kGenericRead) != 0, writes = (access & w32::kGenericWrite) != 0;
    sp_mode mode = writes ? (reads ? SP_MODE_READ_WRITE : SP_MODE_WRITE) : SP_MODE_READ;
    sp_return r = sp_open(port, mode);
    if (r != SP_OK) {
      std::uint32_t e = win32_error(sp_errno(r));
      sp_free_port(port);
      return open_failed(e);
    }
    Port p;
    p.port = port;
    sp_get_port_handle(port, &p.fd);
    if (::flock(p.fd, LOCK_EX | LOCK_NB) != 0) {
      std::uint32_t e = win32_error(errno);
      release(p);
      return open_failed(e);
    }
    line_errors(p.fd, p.counts);
    std::uintptr_t h = next_handle();
    open_[h] = p;
    return reinterpret_cast<Handle>(h);
  }

  bool CloseHandle(Handle h) override {
    auto key = keys_.find(id(h));
    if (key != keys_.end()) {
      keys_.erase(key);
      return true;
    }
    auto it = open_.find(id(h));
    if (it == open_.end()) return fail(kErrInvalidHandle);
    release(it->second);
    open_.erase(it);
    return true;
  }

  bool ReadFile(Handle h, void* buffer, std::uint32_t to_read, std::uint32_t* read) override {
    std::uint32_t got = 0;
    Port* p = port(h);
    bool ok = p != nullptr;
    if (ok) {
      sp_port* port = p->port;
      ok = comm_read(p->timeouts, static_cast<unsigned char*>(buffer), to_read, &got,
                     [port](unsigned char* b, std::size_t n, long wait_ms) -> long {
                       sp_return r =
                           wait_ms == 0
                               ? sp_nonblocking_read(port, b, n)
                               : sp_blocking_read_next(
                                     port, b, n, wait_ms < 0 ? 0 : static_cast<unsigned>(wait_ms));
                       if (r < 0) errno = sp_errno(r);
                       if (r == 0 && hung_up(port)) errno = EIO, r = SP_ERR_FAIL;
                       return r < 0 ? -1 : static_cast<long>(r);
                     });
      if (!ok) last_error_ = win32_error(errno);
    }
    if (read != nullptr) *read = got;
    return ok;
  }

  bool WriteFile(Handle h, const void* buffer, std::uint32_t to_write,
                 std::uint32_t* written) override {
    if (written != nullptr) *written = 0;
    Port* p = port(h);
    if (p == nullptr) return false;
    if (to_write == 0) return true;
    // libserialport's 0 means no limit, as a write without time-outs has none.
    std::uint64_t limit =
        std::min<std::uint64_t>(comm_write_limit_ms(p->timeouts, to_write), UINT_MAX);
    sp_return r = sp_blocking_write(p->port, buffer, to_write, static_cast<unsigned>(limit));
    if (r < 0) return fail(win32_error(sp_errno(r)));
    // A write cut short by its time-out still succeeds, with the count it got out.
    if (written != nullptr) *written = static_cast<std::uint32_t>(r);
    return true;
  }

  bool GetCommState(Handle h, Dcb* dcb) override {
    Port* p = port(h);
    if (p == nullptr) return false;
    sp_port_config* config = nullptr;
    sp_return r = sp_new_config(&config);
    if (r != SP_OK) return fail(win32_error(sp_errno(r)));
    int baud = 0;
    r = sp_get_config(p->port, config);
    if (r == SP_OK) r = sp_get_config_baudrate(config, &baud);
    sp_free_config(config);
    if (r != SP_OK) return fail(win32_error(sp_errno(r)));
    dcb->baud_rate = static_cast<std::uint32_t>(baud);
    return true;
  }

  bool GetCommModemStatus(Handle h, std::uint32_t* status) override {
    Port* p = port(h);
    if (p == nullptr) return false;
    sp_signal lines = {};
    sp_return r = sp_get_signals(p->port, &lines);
    if (r != SP_OK) return fail(win32_error(sp_errno(r)));
    std::uint32_t s = 0;
    if (lines & SP_SIG_CTS) s |= w32::kMsCtsOn;
    if (lines & SP_SIG_DSR) s |= w32::kMsDsrOn;
    if (lines & SP_SIG_RI) s |= kMsRingOn;
    if (lines & SP_SIG_DCD) s |= kMsRlsdOn;
    *status = s;
    return true;
  }

  bool GetCommTimeouts(Handle h, CommTimeouts* timeouts) override {
    Port* p = port(h);
    if (p == nullptr) return false;
    *timeouts = p->timeouts;
    return true;
  }

  bool SetCommTimeouts(Handle h, const CommTimeouts* timeouts) override {
    Port* p = port(h);
    if (p == nullptr) return false;
    // The one combination the serial driver refuses: it would wait forever for a read
    // that is meant to return early.
    if (timeouts->read_interval == kMaxDword && timeouts->read_total_multiplier == kMaxDword &&
        timeouts->read_total_constant == kMaxDword)
      return fail(kErrInvalidParameter);
    p->timeouts = *timeouts;
    return true;
  }

  bool ClearCommError(Handle h, std::uint32_t* errors) override {
    Port* p = port(h);
    if (p == nullptr) return false;
    std::uint32_t e = line_errors(p->fd, p->counts);
    if (errors != nullptr) *errors = e;
    return true;
  }

  bool PurgeComm(Handle h, std::uint32_t flags) override {
    Port* p = port(h);
    if (p == nullptr) return false;
    if ((flags & ~w32::kPurgeAll) != 0) return fail(kErrInvalidParameter);
    // The abort flags end pending overlapped work, which a synchronous port never has.
    // Output is cleared only while the port still holds some: on a pseudo-terminal the
    // flush would also drop what the other side has been sent but not yet read, which a
    // Windows port, whose writes complete once sent, never takes back.
    int buffers = ((flags & kPurgeRxClear) ? SP_BUF_INPUT : 0) |
                  ((flags & kPurgeTxClear) && sp_output_waiting(p->port) > 0 ? SP_BUF_OUTPUT : 0);
    if (buffers == 0) return true;
    sp_return r = sp_flush(p->port, static_cast<sp_buffer>(buffers));
    if (r != SP_OK) return fail(win32_error(sp_errno(r)));
    return true;
  }

  // --- no drivers, no security descriptors, no cursor ---
  bool DeviceIoControl(Handle h, std::uint32_t, void*, std::uint32_t, void*, std::uint32_t,
                       std::uint32_t* returned) override {
    if (returned != nullptr) *returned = 0;
    return fail(port(h) != nullptr ? kErrInvalidFunction : kErrInvalidHandle);
  }
  bool InitializeSecurityDescriptor(SecurityDescriptor*, std::uint32_t) override {
    return fail(kErrCallNotImplemented);
  }
  bool SetSecurityDescriptorDacl(SecurityDescriptor*, bool, const void*, bool) override {
    return fail(kErrCallNotImplemented);
  }
  bool ClipCursorRelease() override { return fail(kErrCallNotImplemented); }

  // --- the registry: the serial-port list only ---
  bool RegOpenLocalMachineKeyRead(const char* subkey, Handle* key) override {
    if (!same_text_ignoring_case(subkey, kSerialComm)) return false;
    // The key holds the list as it was when it was opened.
    std::vector<std::pair<std::string, std::string>> values;
    for (const std::string& path : ports_)
      values.emplace_back(path, "COM" + std::to_string(com_number(path)));
    std::uintptr_t h = next_handle();
    keys_[h] = std::move(values);
    *key = reinterpret_cast<Handle>(h);
    return true;
  }
  bool RegEnumValueName(Handle key, std::uint32_t index, std::string* name) override {
    auto it = keys_.find(id(key));
    if (it == keys_.end() || index >= it->second.size()) return false;
    *name = it->second[index].first;
    return true;
  }
  bool RegQueryStringValue(Handle key, const char* name, std::string* data) override {
    auto it = keys_.find(id(key));
    if (it == keys_.end()) return false;
    for (const auto& [value, text] : it->second) {
      if (value == name) {
        *data = text;
        return true;
      }
    }
    return false;
  }
  void RegCloseKey(Handle key) override { keys_.erase(id(key)); }

  // --- no libraries ---
  Handle LoadLibraryA(const char*) override {
    last_error_ = kErrModNotFound;
    return nullptr;
  }
  void* GetProcAddress(Handle, const char*) override {
    last_error_ = kErrInvalidHandle;
    return nullptr;
  }
  bool FreeLibrary(Handle) override { return fail(kErrInvalidHandle); }

  std::uint32_t GetLastError() override { return last_error_; }
  void SetLastError(std::uint32_t code) override { last_error_ = code; }

  // --- time ---
  void GetLocalTime(SystemTime* now) override {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    std::tm t{};
    ::localtime_r(&ts.tv_sec, &t);
    now->year = t.tm_year + 1900;
    now->month = t.tm_mon + 1;
    now->day_of_week = t.tm_wday;
    now->day = t.tm_mday;
    now->hour = t.tm_hour;
    now->minute = t.tm_min;
    now->second = t.tm_sec;
    now->milliseconds = static_cast<int>(ts.tv_nsec / 1000000);
  }
  long time() override { return static_cast<long>(std::time(nullptr)); }
  bool Beep(std::uint32_t, std::uint32_t) override { return fail(kErrCallNotImplemented); }
  void Sleep(std::uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  std::uint32_t WinExec(const char*, std::uint32_t) override { return kErrFileNotFound; }
  std::uint32_t GetVersion() override { return 0; }
  bool GetVersionExA(OsVersionInfo*) override { return fail(kErrCallNotImplemented); }
  // Linux keyboards have no Windows layout: a terminal's layout is the desktop's business.
  bool GetKeyboardLayoutNameA(char*) override { return fail(kErrCallNotImplemented); }
  // A terminal is read directly (msrprofile/swipe/key_capture), not as a Windows console.
  Handle GetStdHandle(std::uint32_t) override { return invalid_handle(); }
  bool GetConsoleMode(Handle, std::uint32_t*) override { return fail(kErrCallNotImplemented); }
  std::uint32_t WaitForSingleObject(Handle, std::uint32_t) override {
    fail(kErrCallNotImplemented);
    return 0xFFFFFFFFu;  // WAIT_FAILED
  }
  bool ReadConsoleInputW(Handle, InputRecord*, std::uint32_t, std::uint32_t* read) override {
    *read = 0;
    return fail(kErrCallNotImplemented);
  }
  bool GetEnvironmentVariableA(const char* name, std::string* value) override {
    const char* text = std::getenv(name);
    if (text == nullptr) return fail(kErrEnvVarNotFound);
    *value = text;
    return true;
  }
  // Linux has no common application data folder: msrprofile's host names its own.
  bool SHGetFolderPathA(int, std::string*) override { return fail(kErrCallNotImplemented); }
  bool CreateDirectoryA(const char* path) override {
    if (::mkdir(host_path(path).c_str(), 0755) == 0) return true;
    return fail(errno == EEXIST ? w32::kErrorAlreadyExists : win32_error(errno));
  }
  // Only "folder\*" patterns, which is all the program asks for.
  Handle FindFirstFileA(const char* pattern, std::string* name) override {
    std::string folder = host_path(pattern);
    if (folder.size() < 2 || folder.compare(folder.size() - 2, 2, "/*") != 0) {
      fail(kErrInvalidParameter);
      return invalid_handle();
    }
    folder.resize(folder.size() - 2);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
      fail(win32_error(errno));
      return invalid_handle();
    }
    const std::uintptr_t h = next_handle();
    finds_[h] = dir;
    if (!FindNextFileA(reinterpret_cast<Handle>(h), name)) {
      FindClose(reinterpret_cast<Handle>(h));
      fail(kErrFileNotFound);
      return invalid_handle();
    }
    return reinterpret_cast<Handle>(h);
  }
  bool FindNextFileA(Handle find, std::string* name) override {
    auto it = finds_.find(id(find));
    if (it == finds_.end()) return fail(kErrInvalidHandle);
    const dirent* entry = ::readdir(it->second);
    if (entry == nullptr) return fail(kErrNoMoreFiles);
    *name = entry->d_name;
    return true;
  }
  bool FindClose(Handle find) override {
    auto it = finds_.find(id(find));
    if (it == finds_.end()) return fail(kErrInvalidHandle);
    ::closedir(it->second);
    finds_.erase(it);
    return true;
  }
  bool DeleteFileA(const char* path) override {
    return ::unlink(host_path(path).c_str()) == 0 || fail(win32_error(errno));
  }
  bool MoveFileA(const char* from, const char* to) override {
    // link then unlink: rename(2) would replace a target that exists, which MoveFileA refuses.
    const std::string target = host_path(to);
    if (::link(host_path(from).c_str(), target.c_str()) != 0) {
      return fail(errno == EEXIST ? w32::kErrorAlreadyExists : win32_error(errno));
    }
    ::unlink(host_path(from).c_str());
    return true;
  }

  std::uint32_t GetTickCount() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
  }

 private:
  static std::uintptr_t id(Handle h) { return reinterpret_cast<std::uintptr_t>(h); }

  std::uintptr_t next_handle() {
    next_handle_ += 4;
    return next_handle_;
  }

  bool fail(std::uint32_t code) {
    last_error_ = code;
    return false;
  }

  Handle open_failed(std::uint32_t code) {
    last_error_ = code;
    return invalid_handle();
  }

  // The open port behind h; nullptr (and ERROR_INVALID_HANDLE) when h is none.
  Port* port(Handle h) {
    auto it = open_.find(id(h));
    if (it != open_.end()) return &it->second;
    last_error_ = kErrInvalidHandle;
    return nullptr;
  }

  static void release(Port& p) {
    sp_close(p.port);  // the lock goes with the descriptor
    sp_free_port(p.port);
    p.port = nullptr;
  }

  std::vector<std::string> ports_;  // in probing order: ports_[0] is COM<size>
  std::map<std::uintptr_t, Port> open_;
  std::map<std::uintptr_t, std::vector<std::pair<std::string, std::string>>> keys_;
  std::map<std::uintptr_t, DIR*> finds_;
  std::uintptr_t next_handle_ = 0x100;
  std::uint32_t last_error_ = 0;
};

PosixOs& instance() {
  static PosixOs os;
  return os;
}

}  // namespace

Os& posix_os() {
  return instance();
}

void posix_set_ports(std::vector<std::string> paths) {
  instance().set_ports(std::move(paths));
}

const std::vector<std::string>& posix_ports() {
  return instance().ports();
}

std::string posix_port_path(int com_number) {
  return instance().port_path(com_number);
}

int posix_com_number(const std::string& path) {
  return instance().com_number(path);
}

std::uint32_t win32_error(int errno_value) {
  switch (errno_value) {
    case 0:
      return 0;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return kErrFileNotFound;
    case ENOTDIR:
      return kErrPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      return kErrAccessDenied;
    case EBADF:
      return kErrInvalidHandle;
    case ENOMEM:
      return kErrNotEnoughMemory;
    case ENOTTY:
    case ENOTSUP:
    case ENOSYS:
      return kErrNotSupported;
    case EINVAL:
      return kErrInvalidParameter;
    case ENAMETOOLONG:
      return kErrFilenameExcedRange;
    case EINTR:
      return kErrOperationAborted;
    case ETIMEDOUT:
      return kErrTimeout;
    default:
      return kErrGenFailure;
  }
}

}  // namespace msr
