// Win32 implementation of the operating-system boundary.
#include "platform/win32/win32_os.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "platform/win32/message_pump.h"

namespace msr {
namespace {

HANDLE h(Handle x) {
  return static_cast<HANDLE>(x);
}

static_assert(kSecurityAttributesLength == sizeof(SECURITY_ATTRIBUTES));

class Win32Os final : public Os {
 public:
  Handle FindWindowA(const char* class_name, const char* window_name) override {
    return ::FindWindowA(class_name, window_name);
  }
  bool SetForegroundWindow(Handle window) override {
    return ::SetForegroundWindow(static_cast<HWND>(window)) != FALSE;
  }
  bool UpdateWindow(Handle window) override {
    return ::UpdateWindow(static_cast<HWND>(window)) != FALSE;
  }
  int MessageBoxA(Handle owner, const char* text, const char* caption,
                  std::uint32_t type) override {
    return ::MessageBoxA(static_cast<HWND>(owner), text, caption, type);
  }
  void ProcessMessages() override { win32::pump_waiting(); }

  std::uint32_t GetWindowsDirectoryA(char* buffer, std::uint32_t size) override {
    return ::GetWindowsDirectoryA(buffer, size);
  }
  std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) override {
    return ::GetSystemDirectoryA(buffer, size);
  }
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override {
    return ::GetCurrentDirectoryA(size, buffer);
  }
  std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) override {
    return ::GetModuleFileNameA(nullptr, buffer, size);
  }
  std::uint32_t GetFileAttributesA(const char* path) override { return ::GetFileAttributesA(path); }
  std::FILE* fopen(const char* path, const char* mode) override { return std::fopen(path, mode); }

  Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                     const SecurityAttributes* security, std::uint32_t disposition,
                     std::uint32_t flags, Handle template_file) override {
    SECURITY_ATTRIBUTES sa{};
    LPSECURITY_ATTRIBUTES psa = nullptr;
    if (security != nullptr) {
      sa.nLength = security->length;
      sa.lpSecurityDescriptor = security->descriptor;
      sa.bInheritHandle = security->inherit_handle ? TRUE : FALSE;
      psa = &sa;
    }
    return ::CreateFileA(path, access, share, psa, disposition, flags, h(template_file));
  }
  bool CloseHandle(Handle x) override { return ::CloseHandle(h(x)) != FALSE; }
  bool ReadFile(Handle x, void* buffer, std::uint32_t to_read, std::uint32_t* read) override {
    DWORD n = 0;
    BOOL ok = ::ReadFile(h(x), buffer, to_read, &n, nullptr);
    if (read != nullptr) *read = n;
    return ok != FALSE;
  }
  bool WriteFile(Handle x, const void* buffer, std::uint32_t to_write,
                 std::uint32_t* written) override {
    DWORD n = 0;
    BOOL ok = ::WriteFile(h(x), buffer, to_write, &n, nullptr);
    if (written != nullptr) *written = n;
    return ok != FALSE;
  }
  bool GetCommState(Handle x, Dcb* dcb) override {
    DCB d{};
    d.DCBlength = sizeof d;
    BOOL ok = ::GetCommState(h(x), &d);
    dcb->baud_rate = d.BaudRate;
    return ok != FALSE;
  }
  bool GetCommModemStatus(Handle x, std::uint32_t* status) override {
    DWORD s = 0;
    BOOL ok = ::GetCommModemStatus(h(x), &s);
    *status = s;
    return ok != FALSE;
  }
  bool GetCommTimeouts(Handle x, CommTimeouts* t) override {
    COMMTIMEOUTS c{};
    BOOL ok = ::GetCommTimeouts(h(x), &c);
    if (ok) {
      t->read_interval = c.ReadIntervalTimeout;
      t->read_total_multiplier = c.ReadTotalTimeoutMultiplier;
      t->read_total_constant = c.ReadTotalTimeoutConstant;
      t->write_total_multiplier = c.WriteTotalTimeoutMultiplier;
      t->write_total_constant = c.WriteTotalTimeoutConstant;
    }
    return ok != FALSE;
  }
  bool SetCommTimeouts(Handle x, const CommTimeouts* t) override {
    COMMTIMEOUTS c{};
    c.ReadIntervalTimeout = t->read_interval;
    c.ReadTotalTimeoutMultiplier = t->read_total_multiplier;
    c.ReadTotalTimeoutConstant = t->read_total_constant;
    c.WriteTotalTimeoutMultiplier = t->write_total_multiplier;
    c.WriteTotalTimeoutConstant = t->write_total_constant;
    return ::SetCommTimeouts(h(x), &c) != FALSE;
  }
  bool ClearCommError(Handle x, std::uint32_t* errors) override {
    DWORD e = 0;
    COMSTAT st{};
    BOOL ok = ::ClearCommError(h(x), &e, &st);
    if (errors != nullptr) *errors = e;
    return ok != FALSE;
  }
  bool PurgeComm(Handle x, std::uint32_t flags) override {
    return ::PurgeComm(h(x), flags) != FALSE;
  }
  bool DeviceIoControl(Handle x, std::uint32_t code, void* in, std::uint32_t in_size, void* out,
                       std::uint32_t out_size, std::uint32_t* returned) override {
    DWORD n = 0;
    BOOL ok = ::DeviceIoControl(h(x), code, in, in_size, out, out_size, &n, nullptr);
    if (returned != nullptr) *returned = n;
    return ok != FALSE;
  }
  bool InitializeSecurityDescriptor(SecurityDescriptor* sd, std::uint32_t revision) override {
    static_assert(sizeof(sd->bytes) >= SECURITY_DESCRIPTOR_MIN_LENGTH);
    return ::InitializeSecurityDescriptor(sd->bytes, revision) != FALSE;
  }
  bool SetSecurityDescriptorDacl(SecurityDescriptor* sd, bool present, const void* acl,
                                 bool defaulted) override {
    return ::SetSecurityDescriptorDacl(sd->bytes, present ? TRUE : FALSE,
                                       static_cast<PACL>(const_cast<void*>(acl)),
                                       defaulted ? TRUE : FALSE) != FALSE;
  }
  bool ClipCursorRelease() override { return ::ClipCursor(nullptr) != FALSE; }

  bool RegOpenLocalMachineKeyRead(const char* subkey, Handle* key) override {
    HKEY k = nullptr;
    LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &k);
    *key = k;
    return rc == ERROR_SUCCESS;
  }
  bool RegEnumValueName(Handle key, std::uint32_t index, std::string* name) override {
    // Value names are at most 16383 characters.
    std::vector<char> buf(16384);
    DWORD len = static_cast<DWORD>(buf.size());
    LONG rc = ::RegEnumValueA(static_cast<HKEY>(key), index, buf.data(), &len, nullptr, nullptr,
                              nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return false;
    name->assign(buf.data(), len);
    return true;
  }
  bool RegQueryStringValue(Handle key, const char* name, std::string* data) override {
    DWORD type = 0, size = 0;
    LONG rc = ::RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    // The data may change between the two calls; retry with the new size a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
      std::vector<char> buf(size + 1, '\0');
      DWORD got = size;
      rc = ::RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, &type,
                              reinterpret_cast<BYTE*>(buf.data()), &got);
      if (rc == ERROR_MORE_DATA) {
        size = got;
        continue;
      }
      if (rc != ERROR_SUCCESS) return false;
      buf[got < buf.size() ? got : buf.size() - 1] = '\0';
      data->assign(buf.data());  // stops at the terminator, or at an embedded NUL
      return true;
    }
    return false;
  }
  void RegCloseKey(Handle key) override { ::RegCloseKey(static_cast<HKEY>(key)); }

  Handle LoadLibraryA(const char* path) override { return ::LoadLibraryA(path); }
  void* GetProcAddress(Handle module, const char* name) override {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
  }
  bool FreeLibrary(Handle module) override {
    return ::FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
  }

  std::uint32_t GetLastError() override { return ::GetLastError(); }
  void SetLastError(std::uint32_t code) override { ::SetLastError(code); }

  void GetLocalTime(SystemTime* now) override {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    now->year = st.wYear;
    now->month = st.wMonth;
    now->day_of_week = st.wDayOfWeek;
    now->day = st.wDay;
    now->hour = st.wHour;
    now->minute = st.wMinute;
    now->second = st.wSecond;
    now->milliseconds = st.wMilliseconds;
  }
  long time() override { return static_cast<long>(std::time(nullptr)); }
  bool Beep(std::uint32_t frequency, std::uint32_t duration_ms) override {
    return ::Beep(frequency, duration_ms) != FALSE;
  }
  void Sleep(std::uint32_t ms) override { ::Sleep(ms); }
  std::uint32_t WinExec(const char* command_line, std::uint32_t show) override {
    return ::WinExec(command_line, show);
  }
  std::uint32_t GetVersion() override {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersion();
#pragma GCC diagnostic pop
  }
  bool GetVersionExA(OsVersionInfo* info) override {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = info->size;
    if (info->size != sizeof v) v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = ::GetVersionExA(&v);
#pragma GCC diagnostic pop
    if (ok) {
      info->major = v.dwMajorVersion;
      info->minor = v.dwMinorVersion;
      info->build = v.dwBuildNumber;
      info->platform_id = v.dwPlatformId;
      v.szCSDVersion[sizeof v.szCSDVersion - 1] = '\0';
      info->csd_version = v.szCSDVersion;
    }
    return ok != FALSE;
  }
  bool GetKeyboardLayoutNameA(char* klid) override {
    static_assert(kKlidLength + 1 == KL_NAMELENGTH);
    return ::GetKeyboardLayoutNameA(klid) != FALSE;
  }
  Handle GetStdHandle(std::uint32_t which) override {
    return ::GetStdHandle(which);
  }
  bool GetConsoleMode(Handle console, std::uint32_t* mode) override {
    DWORD m = 0;
    const bool ok = ::GetConsoleMode(h(console), &m) != FALSE;
    *mode = m;
    return ok;
  }
  std::uint32_t WaitForSingleObject(Handle x, std::uint32_t ms) override {
    return ::WaitForSingleObject(h(x), ms);
  }
  bool ReadConsoleInputW(Handle console, InputRecord* records, std::uint32_t count,
                         std::uint32_t* read) override {
    INPUT_RECORD raw[64];
    DWORD n = 0;
    const bool ok = ::ReadConsoleInputW(h(console), raw, count < 64 ? count : 64, &n) != FALSE;
    *read = ok ? n : 0;
    for (DWORD i = 0; i < *read; ++i) {
      InputRecord& r = records[i];
      r = InputRecord{};
      r.event_type = raw[i].EventType;
      if (raw[i].EventType != KEY_EVENT) continue;
      const KEY_EVENT_RECORD& k = raw[i].Event.KeyEvent;
      r.key_down = k.bKeyDown != FALSE;
      r.repeat_count = k.wRepeatCount;
      r.virtual_key = k.wVirtualKeyCode;
      r.virtual_scan = k.wVirtualScanCode;
      r.unicode_char = static_cast<char16_t>(k.uChar.UnicodeChar);
      r.control_key_state = k.dwControlKeyState;
    }
    // The records held key events: what a keyboard reader typed.
    SecureZeroMemory(raw, sizeof raw);
    return ok;
  }
  bool GetEnvironmentVariableA(const char* name, std::string* value) override {
    std::vector<char> text(256);
    for (;;) {
      const DWORD n = ::GetEnvironmentVariableA(name, text.data(), static_cast<DWORD>(text.size()));
      if (n == 0) return false;
      if (n < text.size()) {
        value->assign(text.data(), n);
        return true;
      }
      text.resize(n);
    }
  }
  bool SHGetFolderPathA(int csidl, std::string* path) override {
    char text[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, text))) return false;
    *path = text;
    return true;
  }
  bool CreateDirectoryA(const char* path) override {
    return ::CreateDirectoryA(path, nullptr) != FALSE;
  }
  Handle FindFirstFileA(const char* pattern, std::string* name) override {
    WIN32_FIND_DATAA found{};
    HANDLE find = ::FindFirstFileA(pattern, &found);
    if (find != INVALID_HANDLE_VALUE) *name = found.cFileName;
    return find;
  }
  bool FindNextFileA(Handle find, std::string* name) override {
    WIN32_FIND_DATAA found{};
    if (!::FindNextFileA(h(find), &found)) return false;
    *name = found.cFileName;
    return true;
  }
  bool FindClose(Handle find) override {
    return ::FindClose(h(find)) != FALSE;
  }
  bool DeleteFileA(const char* path) override {
    return ::DeleteFileA(path) != FALSE;
  }
  bool MoveFileA(const char* from, const char* to) override {
    return ::MoveFileA(from, to) != FALSE;
  }

  std::uint32_t GetTickCount() override {
    return ::GetTickCount();
  }
};

}  // namespace

Os& win32_os() {
  static Win32Os instance;
  return instance;
}

}  // namespace msr
