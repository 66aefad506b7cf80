// The boundary between the code below the window and the operating system: devices,
// serial ports, the registry, libraries, files, processes, message boxes and the message
// pump. Each method mirrors one Win32 call the program makes, with the Win32 meaning of
// its arguments; platform/win32 implements it for real, platform/posix the serial part
// for msrprofile on Linux, tests/fakes for unit tests.
//
// The other boundaries: ui/framework/native_ui.h between the form framework's model and
// the native windows; platform/files.h for files replaced in one step; Host in
// msrprofile/reader/reader.h for what differs between the platforms msrprofile runs on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace msr {

// Opaque, pointer-sized handle (file, device, window, registry key, module).
using Handle = void*;

// INVALID_HANDLE_VALUE: all bits set.
inline Handle invalid_handle() {
  return reinterpret_cast<Handle>(~std::uintptr_t{0});
}

// Win32 constants the program passes across the boundary, with their Win32 values.
namespace w32 {
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 0x1u;
inline constexpr std::uint32_t kOpenExisting = 3u;
inline constexpr std::uint32_t kFileFlagDeleteOnClose = 0x04000000u;
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr std::uint32_t kMsCtsOn = 0x10u;
inline constexpr std::uint32_t kMsDsrOn = 0x20u;
inline constexpr std::uint32_t kPurgeAll = 0x0Fu;  // TXABORT | RXABORT | TXCLEAR | RXCLEAR
inline constexpr std::uint32_t kPurgeRxClear = 0x08u;
inline constexpr std::uint32_t kMbIconWarning = 0x30u;
inline constexpr std::uint32_t kMbOk = 0x0u;
inline constexpr std::uint32_t kMbOkCancel = 0x1u;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr std::uint32_t kSwShow = 5u;
inline constexpr std::uint32_t kStdInputHandle = 0xFFFFFFF6u;  // (DWORD)-10
inline constexpr std::uint32_t kWaitObject0 = 0x0u;
inline constexpr std::uint32_t kWaitTimeout = 0x102u;
inline constexpr std::uint16_t kKeyEvent = 0x1u;
inline constexpr int kCsidlCommonAppdata = 0x23;
inline constexpr std::uint32_t kErrorAlreadyExists = 183u;
}  // namespace w32

// INPUT_RECORD, as far as the program reads it: a key event's fields, the other kinds of
// event by their type alone.
struct InputRecord {
  std::uint16_t event_type = 0;  // KEY_EVENT 1, MOUSE_EVENT 2, FOCUS_EVENT 16, ...
  bool key_down = false;
  std::uint16_t repeat_count = 0;
  std::uint16_t virtual_key = 0, virtual_scan = 0;
  char16_t unicode_char = 0;
  std::uint32_t control_key_state = 0;
};

// COMMTIMEOUTS, in milliseconds.
struct CommTimeouts {
  std::uint32_t read_interval = 0;
  std::uint32_t read_total_multiplier = 0;
  std::uint32_t read_total_constant = 0;
  std::uint32_t write_total_multiplier = 0;
  std::uint32_t write_total_constant = 0;
};

// The part of a DCB the program looks at.
struct Dcb {
  std::uint32_t baud_rate = 0;
};

// SYSTEMTIME.
struct SystemTime {
  int year = 0, month = 0, day_of_week = 0, day = 0;
  int hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// OSVERSIONINFOA, as far as the program reads it.
struct OsVersionInfo {
  std::uint32_t size = 0;
  std::uint32_t major = 0, minor = 0, build = 0, platform_id = 0;
  std::string csd_version;
};

// SECURITY_DESCRIPTOR storage; its layout is the platform's.
struct SecurityDescriptor {
  alignas(8) unsigned char bytes[64] = {};
};

// SECURITY_ATTRIBUTES.
struct SecurityAttributes {
  std::uint32_t length = 0;
  SecurityDescriptor* descriptor = nullptr;
  bool inherit_handle = false;
};

// The size the platform gives SECURITY_ATTRIBUTES (a DWORD, a pointer and a BOOL, aligned
// as the platform aligns them: 12 bytes on 32-bit Windows, 24 on 64-bit), which is what
// its length field must hold.
struct SecurityAttributesLayout {
  std::uint32_t length;
  void* descriptor;
  std::int32_t inherit_handle;
};
inline constexpr std::uint32_t kSecurityAttributesLength = sizeof(SecurityAttributesLayout);

class Os {
 public:
  virtual ~Os() = default;

  // Windows and the single-instance rule.
  virtual Handle FindWindowA(const char* class_name, const char* window_name) = 0;
  virtual bool SetForegroundWindow(Handle window) = 0;
  virtual bool UpdateWindow(Handle window) = 0;
  virtual int MessageBoxA(Handle owner, const char* text, const char* caption,
                          std::uint32_t type) = 0;
  // Lets the calling thread dispatch its pending window messages.
  virtual void ProcessMessages() = 0;

  // Directories and files.
  virtual std::uint32_t GetWindowsDirectoryA(char* buffer, std::uint32_t size) = 0;
  virtual std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) = 0;
  virtual std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) = 0;
  // GetModuleFileNameA(NULL, ...): the full path of the program's own .exe. As on XP, a
  // buffer that is too small gets the truncated path without a terminator and the
  // result is the buffer size.
  virtual std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) = 0;
  virtual std::uint32_t GetFileAttributesA(const char* path) = 0;
  // C runtime fopen with the platform's path rules.
  virtual std::FILE* fopen(const char* path, const char* mode) = 0;

  // Devices: serial ports and drivers.
  virtual Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                             const SecurityAttributes* security, std::uint32_t disposition,
                             std::uint32_t flags, Handle template_file) = 0;
  virtual bool CloseHandle(Handle h) = 0;
  virtual bool ReadFile(Handle h, void* buffer, std::uint32_t to_read, std::uint32_t* read) = 0;
  virtual bool WriteFile(Handle h, const void* buffer, std::uint32_t to_write,
                         std::uint32_t* written) = 0;
  virtual bool GetCommState(Handle h, Dcb* dcb) = 0;
  virtual bool GetCommModemStatus(Handle h, std::uint32_t* status) = 0;
  virtual bool GetCommTimeouts(Handle h, CommTimeouts* timeouts) = 0;
  virtual bool SetCommTimeouts(Handle h, const CommTimeouts* timeouts) = 0;
  virtual bool ClearCommError(Handle h, std::uint32_t* errors) = 0;
  virtual bool PurgeComm(Handle h, std::uint32_t flags) = 0;
  virtual bool DeviceIoControl(Handle h, std::uint32_t code, void* in, std::uint32_t in_size,
                               void* out, std::uint32_t out_size, std::uint32_t* returned) = 0;
  virtual bool InitializeSecurityDescriptor(SecurityDescriptor* sd, std::uint32_t revision) = 0;
  virtual bool SetSecurityDescriptorDacl(SecurityDescriptor* sd, bool present, const void* acl,
                                         bool defaulted) = 0;
  // ClipCursor(NULL): lets the cursor move over the whole screen.
  virtual bool ClipCursorRelease() = 0;

  // Registry, read only: HKEY_LOCAL_MACHINE\<subkey>.
  virtual bool RegOpenLocalMachineKeyRead(const char* subkey, Handle* key) = 0;
  // Name of the value at index; false once the index is past the last value.
  virtual bool RegEnumValueName(Handle key, std::uint32_t index, std::string* name) = 0;
  // String data of the named value; false when it can't be read.
  virtual bool RegQueryStringValue(Handle key, const char* name, std::string* data) = 0;
  virtual void RegCloseKey(Handle key) = 0;

  // Dynamic libraries.
  virtual Handle LoadLibraryA(const char* path) = 0;
  virtual void* GetProcAddress(Handle module, const char* name) = 0;
  virtual bool FreeLibrary(Handle module) = 0;

  // Last error of the calling thread.
  virtual std::uint32_t GetLastError() = 0;
  virtual void SetLastError(std::uint32_t code) = 0;

  // Time, sound, programs, versions.
  virtual void GetLocalTime(SystemTime* now) = 0;
  virtual long time() = 0;  // calendar time in whole seconds
  virtual bool Beep(std::uint32_t frequency, std::uint32_t duration_ms) = 0;
  virtual void Sleep(std::uint32_t ms) = 0;
  virtual std::uint32_t WinExec(const char* command_line, std::uint32_t show) = 0;
  virtual std::uint32_t GetVersion() = 0;
  virtual bool GetVersionExA(OsVersionInfo* info) = 0;

  // Keyboard: the calling thread's active input layout as its KLID, eight hexadecimal
  // digits ("00000407"). `klid` holds kKlidLength + 1 characters.
  static constexpr std::uint32_t kKlidLength = 8;  // KL_NAMELENGTH - 1
  virtual bool GetKeyboardLayoutNameA(char* klid) = 0;

  // Console input, as a console program reads its key events.
  virtual Handle GetStdHandle(std::uint32_t which) = 0;
  virtual bool GetConsoleMode(Handle console, std::uint32_t* mode) = 0;
  // kWaitObject0 once the handle is signalled (a console: input waits), kWaitTimeout.
  virtual std::uint32_t WaitForSingleObject(Handle h, std::uint32_t ms) = 0;
  // Waits for at least one record, then gives up to `count` of those waiting.
  virtual bool ReadConsoleInputW(Handle console, InputRecord* records, std::uint32_t count,
                                 std::uint32_t* read) = 0;
  virtual std::uint32_t GetTickCount() = 0;  // milliseconds, wrapping after 49.7 days

  // Folders of files the program keeps: the history of configurations a write replaced.
  // false when the variable is not set.
  virtual bool GetEnvironmentVariableA(const char* name, std::string* value) = 0;
  // SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, ...); false when the system
  // names no such folder.
  virtual bool SHGetFolderPathA(int csidl, std::string* path) = 0;
  // false with kErrorAlreadyExists when the folder is there already.
  virtual bool CreateDirectoryA(const char* path) = 0;
  // The first name matching `pattern` ("folder\\*"), and the next ones; the invalid handle
  // when there is none or the folder can't be read.
  virtual Handle FindFirstFileA(const char* pattern, std::string* name) = 0;
  virtual bool FindNextFileA(Handle find, std::string* name) = 0;
  virtual bool FindClose(Handle find) = 0;
  virtual bool DeleteFileA(const char* path) = 0;
  // Refuses a target that exists.
  virtual bool MoveFileA(const char* from, const char* to) = 0;
};

// The process's one instance. Tests replace it with a fake.
Os& os();
void set_os(Os* instance);

}  // namespace msr
