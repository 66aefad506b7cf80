// A scripted operating system for unit tests: files under a private temporary folder,
// devices and libraries that a test installs, a registry list, and a record of what
// crossed the boundary (beeps, sleeps, message boxes, programs run, calls in order).
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"

namespace msr::fake {

// Something CreateFileA can open: a serial port, a driver. Tests derive from it.
class Device {
 public:
  virtual ~Device() = default;
  virtual bool read(void* buffer, std::uint32_t to_read, std::uint32_t* read);
  virtual bool write(const void* buffer, std::uint32_t to_write, std::uint32_t* written);
  virtual bool ioctl(std::uint32_t code, void* in, std::uint32_t in_size, void* out,
                     std::uint32_t out_size, std::uint32_t* returned);

  // Serial behaviour; a device that is no serial port fails GetCommState.
  bool serial = true;
  std::uint32_t baud = 9600;
  bool modem_status_ok = true;
  std::uint32_t modem_status = w32::kMsCtsOn | w32::kMsDsrOn;
  CommTimeouts timeouts;
  // CreateFileA fails with this error instead of opening (0: opens).
  std::uint32_t open_error = 0;

  // What the device saw.
  std::vector<std::vector<unsigned char>> writes;
  std::vector<CommTimeouts> timeouts_set;
  int opens = 0, closes = 0, purges = 0, zero_reads = 0;
  std::vector<std::uint32_t> purge_flags;  // flags of each PurgeComm
  int clear_errors = 0;                    // ClearCommError calls
  std::vector<std::uint32_t> open_flags;
  // How each successful CreateFileA asked for the device; the security descriptor is
  // copied at the call, since the caller's copy may be gone by the time a test looks.
  struct OpenRequest {
    std::uint32_t access = 0, share = 0, disposition = 0, flags = 0;
    bool has_security = false;
    std::uint32_t security_length = 0;
    bool inherit_handle = false;
    bool has_descriptor = false;
    SecurityDescriptor descriptor;
  };
  std::vector<OpenRequest> open_requests;
};

struct MessageBoxCall {
  Handle owner;
  std::string text, caption;
  std::uint32_t type;
};

class FakeOs final : public Os {
 public:
  FakeOs();
  ~FakeOs() override;

  // --- set-up ---
  std::string root;  // private temporary folder that holds the fake drives
  std::string windows_dir = "C:\\windows";
  bool windows_dir_fails = false;
  std::string system_dir = "C:\\windows\\system32";
  bool system_dir_fails = false;
  // A system-directory query that answers with this length (the "needs more" case).
  std::optional<std::uint32_t> system_dir_result;
  std::string current_dir = "C:\\work";
  bool current_dir_fails = false;
  // The program's own .exe; empty: GetModuleFileNameA fails.
  std::string module_file_name = "C:\\Program Files\\msr\\msrsetup.exe";
  std::map<std::string, Handle> top_windows;               // "class|title" -> window
  std::deque<int> message_box_answers;                     // IDOK when empty
  std::map<std::string, std::shared_ptr<Device>> devices;  // by device path
  // HARDWARE\DEVICEMAP\SERIALCOMM: absent when empty optional; a value whose data is
  // not a string is given as nullopt.
  std::optional<std::vector<std::pair<std::string, std::optional<std::string>>>> serialcomm =
      std::vector<std::pair<std::string, std::optional<std::string>>>{};
  // Libraries by their full Windows path (compared without regard to case): entry point
  // name -> address. LoadLibraryA of a bare name searches as Windows does: the program's
  // folder, the system folder, the Windows folder, then the current directory.
  std::map<std::string, std::map<std::string, void*>> libraries;
  std::uint32_t load_library_error = 126;  // ERROR_MOD_NOT_FOUND
  SystemTime local_time{2026, 12, 1, 7, 3, 10, 21, 57};
  long now = 1796613021;  // calendar seconds; Sleep advances it
  std::uint32_t version = 0x1DB10106;
  OsVersionInfo version_ex{148, 6, 1, 7601, 2, "Service Pack 1"};
  bool version_ex_fails = false;  // GetVersionExA answers FALSE
  std::string klid = "00000409";  // GetKeyboardLayoutNameA; empty: it fails
  std::function<void()> on_process_messages;
  // Standard input is a console when `console` is set; each record arrives at its tick.
  bool console = true;
  std::uint32_t tick = 5000;
  std::vector<std::pair<std::uint32_t, InputRecord>> console_input;  // in arrival order
  std::map<std::string, std::string> environment;
  std::string common_appdata = "C:\\ProgramData";  // empty: the system names none
  // Files that open for reading only, as a read-only or locked file does.
  std::vector<std::string> read_only_files;

  // --- record ---
  std::vector<std::string> calls;  // boundary calls in order, e.g. "Beep(500,500)"
  std::vector<std::pair<std::uint32_t, std::uint32_t>> beeps;
  std::vector<std::uint32_t> sleeps;
  std::vector<MessageBoxCall> message_boxes;
  std::vector<std::pair<std::string, std::uint32_t>> programs_run;
  std::vector<std::string> libraries_loaded;  // the name of every LoadLibraryA, in order
  int libraries_freed = 0;
  int process_messages_calls = 0;
  int clip_cursor_releases = 0;
  std::uint32_t last_error = 0;

  // --- helpers for tests ---
  // Host path of a Windows path, with the same rules as fopen here.
  std::string host_path(const std::string& windows_path) const;
  void write_file(const std::string& windows_path, const std::string& bytes);
  std::optional<std::string> read_file(const std::string& windows_path) const;
  int open_handles() const;  // device and registry handles not yet closed
  std::shared_ptr<Device> add_device(const std::string& path,
                                     std::shared_ptr<Device> device = nullptr);
  int loaded_modules() const { return static_cast<int>(modules_.size()); }
  // The folder of module_file_name.
  std::string program_dir() const;
  // Empties the record above; a fuzz target that reuses one FakeOs calls it every input,
  // or the record grows for as long as the fuzzer runs.
  void clear_records();

  // --- Os ---
  Handle FindWindowA(const char* class_name, const char* window_name) override;
  bool SetForegroundWindow(Handle window) override;
  bool UpdateWindow(Handle window) override;
  int MessageBoxA(Handle owner, const char* text, const char* caption, std::uint32_t type) override;
  void ProcessMessages() override;
  std::uint32_t GetWindowsDirectoryA(char* buffer, std::uint32_t size) override;
  std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) override;
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override;
  std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) override;
  std::uint32_t GetFileAttributesA(const char* path) override;
  std::FILE* fopen(const char* path, const char* mode) override;
  Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                     const SecurityAttributes* security, std::uint32_t disposition,
                     std::uint32_t flags, Handle template_file) override;
  bool CloseHandle(Handle h) override;
  bool ReadFile(Handle h, void* buffer, std::uint32_t to_read, std::uint32_t* read) override;
  bool WriteFile(Handle h, const void* buffer, std::uint32_t to_write,
                 std::uint32_t* written) override;
  bool GetCommState(Handle h, Dcb* dcb) override;
  bool GetCommModemStatus(Handle h, std::uint32_t* status) override;
  bool GetCommTimeouts(Handle h, CommTimeouts* timeouts) override;
  bool SetCommTimeouts(Handle h, const CommTimeouts* timeouts) override;
  bool ClearCommError(Handle h, std::uint32_t* errors) override;
  bool PurgeComm(Handle h, std::uint32_t flags) override;
  bool DeviceIoControl(Handle h, std::uint32_t code, void* in, std::uint32_t in_size, void* out,
                       std::uint32_t out_size, std::uint32_t* returned) override;
  bool InitializeSecurityDescriptor(SecurityDescriptor* sd, std::uint32_t revision) override;
  bool SetSecurityDescriptorDacl(SecurityDescriptor* sd, bool present, const void* acl,
                                 bool defaulted) override;
  bool ClipCursorRelease() override;
  bool RegOpenLocalMachineKeyRead(const char* subkey, Handle* key) override;
  bool RegEnumValueName(Handle key, std::uint32_t index, std::string* name) override;
  bool RegQueryStringValue(Handle key, const char* name, std::string* data) override;
  void RegCloseKey(Handle key) override;
  Handle LoadLibraryA(const char* path) override;
  void* GetProcAddress(Handle module, const char* name) override;
  bool FreeLibrary(Handle module) override;
  std::uint32_t GetLastError() override { return last_error; }
  void SetLastError(std::uint32_t code) override { last_error = code; }
  void GetLocalTime(SystemTime* t) override { *t = local_time; }
  long time() override { return now; }
  bool Beep(std::uint32_t frequency, std::uint32_t duration_ms) override;
  void Sleep(std::uint32_t ms) override;
  std::uint32_t WinExec(const char* command_line, std::uint32_t show) override;
  std::uint32_t GetVersion() override { return version; }
  bool GetVersionExA(OsVersionInfo* info) override;
  bool GetKeyboardLayoutNameA(char* out) override {
    if (klid.empty()) return false;
    std::snprintf(out, kKlidLength + 1, "%s", klid.c_str());
    return true;
  }
  Handle GetStdHandle(std::uint32_t which) override;
  bool GetConsoleMode(Handle console, std::uint32_t* mode) override;
  std::uint32_t WaitForSingleObject(Handle h, std::uint32_t ms) override;
  bool ReadConsoleInputW(Handle console, InputRecord* records, std::uint32_t count,
                         std::uint32_t* read) override;
  std::uint32_t GetTickCount() override { return tick; }
  bool GetEnvironmentVariableA(const char* name, std::string* value) override;
  bool SHGetFolderPathA(int csidl, std::string* path) override;
  bool CreateDirectoryA(const char* path) override;
  Handle FindFirstFileA(const char* pattern, std::string* name) override;
  bool FindNextFileA(Handle find, std::string* name) override;
  bool FindClose(Handle find) override;
  bool DeleteFileA(const char* path) override;
  bool MoveFileA(const char* from, const char* to) override;

 private:
  struct Open {
    std::string path;
    std::shared_ptr<Device> device;
    std::uint32_t share;
  };
  std::map<std::uintptr_t, Open> open_;
  std::map<std::uintptr_t, std::string> modules_;
  std::map<std::uintptr_t, std::vector<std::string>> finds_;  // names still to give
  std::uintptr_t next_handle_ = 0x100;
  std::uintptr_t next_find_ = 0x70000;
  int open_keys_ = 0;
  std::size_t last_enumerated_ = 0;  // index of the registry value listed last
  Device* device(Handle h);
  // The key of libraries that a path names, case aside; empty when none.
  std::string library_key(const std::string& path) const;
};

// Installs a fresh FakeOs as the process's OS and resets all process-wide state; the
// base of every unit-test fixture.
class FakeOsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The diagnostic log as written so far (flushes first); empty when off.
  std::string log_text();
  // Creates "\msr.log" so that the next log_open turns logging on.
  void enable_log();
  FakeOs fos;
};

}  // namespace msr::fake
