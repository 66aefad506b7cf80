#include "tests/fakes/fake_os.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/process_state.h"
#include "common/log.h"

namespace msr::fake {

namespace fs = std::filesystem;

bool Device::read(void*, std::uint32_t, std::uint32_t* read) {
  *read = 0;
  return true;
}

bool Device::write(const void* buffer, std::uint32_t to_write, std::uint32_t* written) {
  auto p = static_cast<const unsigned char*>(buffer);
  writes.emplace_back(p, p + to_write);
  *written = to_write;
  return true;
}

bool Device::ioctl(std::uint32_t, void*, std::uint32_t, void*, std::uint32_t,
                   std::uint32_t* returned) {
  *returned = 0;
  return false;
}

FakeOs::FakeOs() {
  // TMPDIR as every temporary file honours it, so that a long fuzz run can keep its
  // files in memory.
  const char* tmpdir = std::getenv("TMPDIR");
  std::string tmpl =
      std::string(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp") + "/msr-fakeos-XXXXXX";
  char* dir = ::mkdtemp(tmpl.data());
  if (dir == nullptr) std::abort();
  root = dir;
  fs::create_directories(host_path("C:\\windows\\system32"));
  fs::create_directories(host_path(current_dir));
}

FakeOs::~FakeOs() {
  std::error_code ec;
  fs::remove_all(root, ec);
}

std::string FakeOs::host_path(const std::string& windows_path) const {
  std::string p = windows_path;
  std::string drive = "c";
  std::string rest;
  if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
    drive = std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(p[0]))));
    rest = p.substr(2);
  } else if (!p.empty() && (p[0] == '\\' || p[0] == '/')) {
    rest = p;
  } else {
    rest = current_dir.substr(current_dir.size() >= 2 && current_dir[1] == ':' ? 2 : 0) + "\\" + p;
  }
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  return root + "/" + drive + (rest.empty() || rest[0] != '/' ? "/" : "") + rest;
}

void FakeOs::write_file(const std::string& windows_path, const std::string& bytes) {
  std::string host = host_path(windows_path);
  fs::create_directories(fs::path(host).parent_path());
  // A new file, never the old one truncated: ext4 writes a truncated and rewritten file
  // out to disk when it is closed, and a fuzz run that rewrites its file every input
  // then spends most of its time waiting for the disk.
  ::unlink(host.c_str());
  std::ofstream(host, std::ios::binary) << bytes;
}

std::optional<std::string> FakeOs::read_file(const std::string& windows_path) const {
  std::ifstream in(host_path(windows_path), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int FakeOs::open_handles() const {
  return static_cast<int>(open_.size()) + open_keys_;
}

std::shared_ptr<Device> FakeOs::add_device(const std::string& path,
                                           std::shared_ptr<Device> device) {
  if (!device) device = std::make_shared<Device>();
  devices[path] = device;
  return device;
}

Handle FakeOs::FindWindowA(const char* class_name, const char* window_name) {
  calls.push_back(std::string("FindWindowA(") + class_name + "," + window_name + ")");
  auto it = top_windows.find(std::string(class_name) + "|" + window_name);
  return it == top_windows.end() ? nullptr : it->second;
}

bool FakeOs::SetForegroundWindow(Handle) {
  calls.push_back("SetForegroundWindow");
  return true;
}

bool FakeOs::UpdateWindow(Handle) {
  calls.push_back("UpdateWindow");
  return true;
}

int FakeOs::MessageBoxA(Handle owner, const char* text, const char* caption, std::uint32_t type) {
  calls.push_back(std::string("MessageBoxA(") + text + ")");
  message_boxes.push_back({owner, text, caption, type});
  if (message_box_answers.empty()) return w32::kIdOk;
  int answer = message_box_answers.front();
  message_box_answers.pop_front();
  return answer;
}

void FakeOs::ProcessMessages() {
  calls.push_back("ProcessMessages");
  ++process_messages_calls;
  if (on_process_messages) on_process_messages();
}

namespace {
// The Win32 directory-query contract: the length without the terminator when the text
// fits, the size needed (with the terminator) when it doesn't, 0 on failure.
std::uint32_t answer_directory(const std::string& dir, bool fails, char* buffer,
                               std::uint32_t size) {
  if (fails) return 0;
  if (dir.size() + 1 > size) return static_cast<std::uint32_t>(dir.size() + 1);
  std::memcpy(buffer, dir.c_str(), dir.size() + 1);
  return static_cast<std::uint32_t>(dir.size());
}
}  // namespace

std::uint32_t FakeOs::GetWindowsDirectoryA(char* buffer, std::uint32_t size) {
  return answer_directory(windows_dir, windows_dir_fails, buffer, size);
}

std::uint32_t FakeOs::GetSystemDirectoryA(char* buffer, std::uint32_t size) {
  if (system_dir_result) return *system_dir_result;
  return answer_directory(system_dir, system_dir_fails, buffer, size);
}

std::uint32_t FakeOs::GetCurrentDirectoryA(std::uint32_t size, char* buffer) {
  return answer_directory(current_dir, current_dir_fails, buffer, size);
}

std::uint32_t FakeOs::GetFileAttributesA(const char* path) {
  calls.push_back(std::string("GetFileAttributesA(") + path + ")");
  struct stat st;
  if (::stat(host_path(path).c_str(), &st) != 0) {
    last_error = 2;
    return w32::kInvalidFileAttributes;
  }
  return S_ISDIR(st.st_mode) ? 0x10u : 0x80u;
}

std::FILE* FakeOs::fopen(const char* path, const char* mode) {
  calls.push_back(std::string("fopen(") + path + "," + mode + ")");
  std::string host = host_path(path);
  struct stat st;
  // As on Windows, a folder never opens as a file.
  if (::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return nullptr;
  bool writes = std::strpbrk(mode, "wa+") != nullptr;
  for (const std::string& ro : read_only_files) {
    if (writes && host_path(ro) == host) {
      last_error = 5;
      return nullptr;
    }
  }
  return std::fopen(host.c_str(), mode);
}

bool FakeOs::GetEnvironmentVariableA(const char* name, std::string* value) {
  auto it = environment.find(name);
  if (it == environment.end()) return (last_error = 203), false;
  *value = it->second;
  return true;
}

bool FakeOs::SHGetFolderPathA(int csidl, std::string* path) {
  if (csidl != w32::kCsidlCommonAppdata || common_appdata.empty()) return false;
  *path = common_appdata;
  return true;
}

bool FakeOs::CreateDirectoryA(const char* path) {
  calls.push_back(std::string("CreateDirectoryA(") + path + ")");
  if (::mkdir(host_path(path).c_str(), 0755) == 0) return true;
  last_error = errno == EEXIST ? w32::kErrorAlreadyExists : errno == EACCES ? 5 : 3;
  return false;
}

Handle FakeOs::FindFirstFileA(const char* pattern, std::string* name) {
  std::string folder = host_path(pattern);
  folder.resize(folder.size() - 2);  // "/*"
  std::vector<std::string> names = {"..", "."};
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  if (ec) return (last_error = 3), invalid_handle();
  const std::uintptr_t h = next_find_++;
  finds_[h] = std::move(names);
  FindNextFileA(reinterpret_cast<Handle>(h), name);
  return reinterpret_cast<Handle>(h);
}

bool FakeOs::FindNextFileA(Handle find, std::string* name) {
  auto& names = finds_.at(reinterpret_cast<std::uintptr_t>(find));
  if (names.empty()) return (last_error = 18), false;
  *name = names.back();
  names.pop_back();
  return true;
}

bool FakeOs::FindClose(Handle find) {
  return finds_.erase(reinterpret_cast<std::uintptr_t>(find)) == 1;
}

bool FakeOs::DeleteFileA(const char* path) {
  calls.push_back(std::string("DeleteFileA(") + path + ")");
  return ::unlink(host_path(path).c_str()) == 0;
}

bool FakeOs::MoveFileA(const char* from, const char* to) {
  if (::link(host_path(from).c_str(), host_path(to).c_str()) != 0) {
    last_error = errno == EEXIST ? w32::kErrorAlreadyExists : 5;
    return false;
  }
  ::unlink(host_path(from).c_str());
  return true;
}

Handle FakeOs::CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                           const SecurityAttributes* security, std::uint32_t disposition,
                           std::uint32_t flags, Handle) {
  calls.push_back(std::string("CreateFileA(") + path + ")");
  auto it = devices.find(path);
  if (it == devices.end()) {
    last_error = 2;  // ERROR_FILE_NOT_FOUND
    return invalid_handle();
  }
  Device& d = *it->second;
  if (d.open_error != 0) {
    last_error = d.open_error;
    return invalid_handle();
  }
  for (const auto& [h, o] : open_) {
    if (o.device == it->second && (o.share == 0 || share == 0)) {
      last_error = 5;  // ERROR_ACCESS_DENIED: held exclusively
      return invalid_handle();
    }
  }
  ++d.opens;
  d.open_flags.push_back(flags);
  Device::OpenRequest req;
  req.access = access, req.share = share, req.disposition = disposition, req.flags = flags;
  if (security != nullptr) {
    req.has_security = true;
    req.security_length = security->length;
    req.inherit_handle = security->inherit_handle;
    if (security->descriptor != nullptr) {
      req.has_descriptor = true;
      req.descriptor = *security->descriptor;
    }
  }
  d.open_requests.push_back(req);
  std::uintptr_t h = next_handle_;
  next_handle_ += 4;
  open_[h] = {path, it->second, share};
  return reinterpret_cast<Handle>(h);
}

Device* FakeOs::device(Handle h) {
  auto it = open_.find(reinterpret_cast<std::uintptr_t>(h));
  if (it == open_.end()) {
    last_error = 6;  // ERROR_INVALID_HANDLE
    return nullptr;
  }
  return it->second.device.get();
}

bool FakeOs::CloseHandle(Handle h) {
  calls.push_back("CloseHandle");
  auto it = open_.find(reinterpret_cast<std::uintptr_t>(h));
  if (it == open_.end()) {
    last_error = 6;
    return false;
  }
  ++it->second.device->closes;
  open_.erase(it);
  return true;
}

bool FakeOs::ReadFile(Handle h, void* buffer, std::uint32_t to_read, std::uint32_t* read) {
  Device* d = device(h);
  if (d == nullptr) {
    *read = 0;
    return false;
  }
  if (to_read == 0) {
    ++d->zero_reads;
    *read = 0;
    return true;
  }
  return d->read(buffer, to_read, read);
}

bool FakeOs::WriteFile(Handle h, const void* buffer, std::uint32_t to_write,
                       std::uint32_t* written) {
  Device* d = device(h);
  if (d == nullptr) {
    *written = 0;
    return false;
  }
  return d->write(buffer, to_write, written);
}

bool FakeOs::GetCommState(Handle h, Dcb* dcb) {
  Device* d = device(h);
  if (d == nullptr || !d->serial) {
    if (d != nullptr) last_error = 1;  // ERROR_INVALID_FUNCTION
    return false;
  }
  dcb->baud_rate = d->baud;
  return true;
}

bool FakeOs::GetCommModemStatus(Handle h, std::uint32_t* status) {
  Device* d = device(h);
  *status = 0;
  if (d == nullptr || !d->serial || !d->modem_status_ok) {
    if (d != nullptr) last_error = 50;  // ERROR_NOT_SUPPORTED
    return false;
  }
  *status = d->modem_status;
  return true;
}

bool FakeOs::GetCommTimeouts(Handle h, CommTimeouts* t) {
  Device* d = device(h);
  if (d == nullptr || !d->serial) return false;
  *t = d->timeouts;
  return true;
}

bool FakeOs::SetCommTimeouts(Handle h, const CommTimeouts* t) {
  Device* d = device(h);
  if (d == nullptr || !d->serial) return false;
  d->timeouts = *t;
  d->timeouts_set.push_back(*t);
  return true;
}

bool FakeOs::ClearCommError(Handle h, std::uint32_t* errors) {
  Device* d = device(h);
  if (errors != nullptr) *errors = 0;
  if (d != nullptr) ++d->clear_errors;
  return d != nullptr && d->serial;
}

bool FakeOs::PurgeComm(Handle h, std::uint32_t flags) {
  Device* d = device(h);
  if (d == nullptr || !d->serial) return false;
  ++d->purges;
  d->purge_flags.push_back(flags);
  return true;
}

bool FakeOs::DeviceIoControl(Handle h, std::uint32_t code, void* in, std::uint32_t in_size,
                             void* out, std::uint32_t out_size, std::uint32_t* returned) {
  char text[48];
  std::snprintf(text, sizeof text, "DeviceIoControl(%x)", code);
  calls.push_back(text);
  Device* d = device(h);
  if (d == nullptr) {
    if (returned != nullptr) *returned = 0;
    return false;
  }
  std::uint32_t n = 0;
  bool ok = d->ioctl(code, in, in_size, out, out_size, &n);
  if (returned != nullptr) *returned = n;
  return ok;
}

bool FakeOs::InitializeSecurityDescriptor(SecurityDescriptor* sd, std::uint32_t revision) {
  calls.push_back("InitializeSecurityDescriptor");
  sd->bytes[0] = static_cast<unsigned char>(revision);
  return revision == 1;
}

bool FakeOs::SetSecurityDescriptorDacl(SecurityDescriptor* sd, bool present, const void* acl,
                                       bool defaulted) {
  calls.push_back("SetSecurityDescriptorDacl");
  sd->bytes[1] = present ? 1 : 0;
  sd->bytes[2] = acl == nullptr ? 1 : 0;
  sd->bytes[3] = defaulted ? 1 : 0;
  return true;
}

bool FakeOs::ClipCursorRelease() {
  calls.push_back("ClipCursorRelease");
  ++clip_cursor_releases;
  return true;
}

namespace {
constexpr std::uintptr_t kSerialCommKey = 0x5e41;
}

bool FakeOs::RegOpenLocalMachineKeyRead(const char* subkey, Handle* key) {
  calls.push_back(std::string("RegOpenLocalMachineKeyRead(") + subkey + ")");
  if (!serialcomm || std::strcmp(subkey, "HARDWARE\\DEVICEMAP\\SERIALCOMM") != 0) {
    *key = nullptr;
    return false;
  }
  ++open_keys_;
  *key = reinterpret_cast<Handle>(kSerialCommKey);
  return true;
}

bool FakeOs::RegEnumValueName(Handle key, std::uint32_t index, std::string* name) {
  if (reinterpret_cast<std::uintptr_t>(key) != kSerialCommKey || !serialcomm ||
      index >= serialcomm->size()) {
    return false;
  }
  *name = (*serialcomm)[index].first;
  last_enumerated_ = index;
  return true;
}

bool FakeOs::RegQueryStringValue(Handle key, const char* name, std::string* data) {
  if (reinterpret_cast<std::uintptr_t>(key) != kSerialCommKey || !serialcomm) return false;
  // The value just enumerated is nearly always the one asked for; looking there first
  // keeps listing a long key linear rather than quadratic (value names are unique).
  const auto& list = *serialcomm;
  std::size_t at = last_enumerated_;
  if (at >= list.size() || list[at].first != name) {
    at = 0;
    while (at < list.size() && list[at].first != name) ++at;
  }
  if (at == list.size() || !list[at].second) return false;
  *data = *list[at].second;
  return true;
}

void FakeOs::RegCloseKey(Handle) {
  calls.push_back("RegCloseKey");
  --open_keys_;
}

std::string FakeOs::program_dir() const {
  return module_file_name.substr(0, module_file_name.find_last_of('\\'));
}

std::uint32_t FakeOs::GetModuleFileNameA(char* buffer, std::uint32_t size) {
  calls.push_back("GetModuleFileNameA");
  if (module_file_name.empty() || size == 0) {
    last_error = 2;
    return 0;
  }
  // As on XP: a short buffer gets the truncated path with no terminator.
  const std::uint32_t n = static_cast<std::uint32_t>(module_file_name.size());
  if (n >= size) {
    std::memcpy(buffer, module_file_name.data(), size);
    last_error = 122;  // ERROR_INSUFFICIENT_BUFFER
    return size;
  }
  std::memcpy(buffer, module_file_name.c_str(), n + 1);
  return n;
}

std::string FakeOs::library_key(const std::string& path) const {
  auto lower = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
  };
  for (const auto& [key, exports] : libraries) {
    if (lower(key) == lower(path)) return key;
  }
  return {};
}

Handle FakeOs::LoadLibraryA(const char* path) {
  calls.push_back(std::string("LoadLibraryA(") + path + ")");
  libraries_loaded.emplace_back(path);
  const std::string name = path;
  std::string key;
  if (name.find('\\') != std::string::npos || name.find(':') != std::string::npos) {
    key = library_key(name);
  } else {
    for (const std::string& dir : {program_dir(), system_dir, windows_dir, current_dir}) {
      key = library_key(dir + "\\" + name);
      if (!key.empty()) break;
    }
  }
  if (key.empty()) {
    last_error = load_library_error;
    return nullptr;
  }
  std::uintptr_t h = next_handle_;
  next_handle_ += 4;
  modules_[h] = key;
  return reinterpret_cast<Handle>(h);
}

void* FakeOs::GetProcAddress(Handle module, const char* name) {
  auto m = modules_.find(reinterpret_cast<std::uintptr_t>(module));
  if (m == modules_.end()) return nullptr;
  const auto& exports = libraries[m->second];
  auto it = exports.find(name);
  if (it == exports.end()) {
    last_error = 127;  // ERROR_PROC_NOT_FOUND
    return nullptr;
  }
  return it->second;
}

bool FakeOs::FreeLibrary(Handle module) {
  calls.push_back("FreeLibrary");
  if (modules_.erase(reinterpret_cast<std::uintptr_t>(module)) == 0) return false;
  ++libraries_freed;
  return true;
}

bool FakeOs::Beep(std::uint32_t frequency, std::uint32_t duration_ms) {
  calls.push_back("Beep(" + std::to_string(frequency) + "," + std::to_string(duration_ms) + ")");
  beeps.emplace_back(frequency, duration_ms);
  return true;
}

void FakeOs::Sleep(std::uint32_t ms) {
  calls.push_back("Sleep(" + std::to_string(ms) + ")");
  sleeps.push_back(ms);
}

namespace {
const Handle kConsoleInput = reinterpret_cast<Handle>(std::uintptr_t{0xC0});
}  // namespace

Handle FakeOs::GetStdHandle(std::uint32_t which) {
  return which == w32::kStdInputHandle && console ? kConsoleInput : invalid_handle();
}

bool FakeOs::GetConsoleMode(Handle h, std::uint32_t* mode) {
  *mode = 0x1f7;
  last_error = h == kConsoleInput ? 0 : 6;  // ERROR_INVALID_HANDLE, as for a pipe
  return h == kConsoleInput;
}

std::uint32_t FakeOs::WaitForSingleObject(Handle, std::uint32_t ms) {
  const bool arrives = !console_input.empty() && console_input.front().first <= tick + ms;
  tick = arrives ? std::max(tick, console_input.front().first) : tick + ms;
  return arrives ? w32::kWaitObject0 : w32::kWaitTimeout;
}

// Waits for the next record, as Windows does; with none left the console has closed.
bool FakeOs::ReadConsoleInputW(Handle, InputRecord* records, std::uint32_t count,
                               std::uint32_t* read) {
  if (!console_input.empty()) tick = std::max(tick, console_input.front().first);
  for (*read = 0; *read < count && !console_input.empty() && console_input.front().first <= tick;
       console_input.erase(console_input.begin())) {
    records[(*read)++] = console_input.front().second;
  }
  return *read > 0;
}

std::uint32_t FakeOs::WinExec(const char* command_line, std::uint32_t show) {
  calls.push_back(std::string("WinExec(") + command_line + ")");
  programs_run.emplace_back(command_line, show);
  return 33;
}

bool FakeOs::GetVersionExA(OsVersionInfo* info) {
  if (info->size != 148 || version_ex_fails) return false;
  *info = version_ex;
  return true;
}

void FakeOs::clear_records() {
  calls.clear();
  beeps.clear();
  sleeps.clear();
  message_boxes.clear();
  programs_run.clear();
  libraries_loaded.clear();
  libraries_freed = 0;
  process_messages_calls = 0;
  clip_cursor_releases = 0;
}

void FakeOsTest::SetUp() {
  reset_process_state();
  set_os(&fos);
}

void FakeOsTest::TearDown() {
  reset_process_state();
  set_os(nullptr);
}

std::string FakeOsTest::log_text() {
  log_flush();
  return fos.read_file("C:\\msr.log").value_or("");
}

void FakeOsTest::enable_log() {
  fos.write_file("C:\\msr.log", "");
}

}  // namespace msr::fake
