#include "platform/files.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <wincrypt.h>

namespace msr {
namespace {

std::string error_text(const char* call) {
  const DWORD code = ::GetLastError();
  return std::string(call) + " failed: " + system_error_text(code) + " (error " +
         std::to_string(code) + ")";
}

std::string folder_of(const std::string& path) {
  std::string::size_type cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
  return cut == 0 || (cut == 2 && path[1] == ':') ? path.substr(0, cut + 1) : path.substr(0, cut);
}

}  // namespace

std::string final_target(const std::string& path) {
  return path;
}

std::FILE* create_file_beside(const std::string& target, bool text, std::string* created,
                              std::string* why) {
  const DWORD attributes = ::GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *why = "it is a folder: name a file in it";
    return nullptr;
  }
  char name[MAX_PATH];
  // Creates the file, under a name that was free.
  const std::string folder = folder_of(target);
  if (::GetTempFileNameA(folder.c_str(), "msr", 0, name) == 0) {
    const DWORD error = ::GetLastError();
    *why =
        error == ERROR_DIRECTORY || error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND
            ? "the folder " + folder + " does not exist"
            : error_text("GetTempFileNameA");
    return nullptr;
  }
  *created = name;
  std::FILE* file = std::fopen(name, text ? "w" : "wb");
  if (file == nullptr) {
    *why = error_text("fopen");
    ::DeleteFileA(name);
  }
  return file;
}

bool replace_file(const std::string& from, const std::string& to, std::string* why) {
  // The replaced file's attributes go to the new one; a read-only file is replaced as
  // POSIX replaces one, and stays read-only.
  const DWORD attributes = ::GetFileAttributesA(to.c_str());
  const bool kept = attributes != INVALID_FILE_ATTRIBUTES;
  if (kept && (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetFileAttributesA(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    if (kept) ::SetFileAttributesA(to.c_str(), attributes);
    return true;
  }
  *why = error_text("MoveFileExA");
  if (kept) ::SetFileAttributesA(to.c_str(), attributes);
  return false;
}

bool append_line(const std::string& path, std::string_view line, std::string* why) {
  // Append access alone: every write goes to the end of the file in one step, whoever else
  // appends at the same time. Another writer may hold the file for a moment.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 20; ++attempt) {
    file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION) break;
    ::Sleep(50);
  }
  if (file == INVALID_HANDLE_VALUE) {
    *why = error_text("CreateFileA");
    return false;
  }
  std::string text(line);
  text += "\r\n";
  DWORD written = 0;
  BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  if (!ok) *why = error_text("WriteFile");
  ::CloseHandle(file);
  if (ok && written != text.size()) {
    *why = "the line was not written whole";
    ok = FALSE;
  }
  return ok != FALSE;
}

std::string system_error_text(unsigned long code) {
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n != 0 && text != nullptr ? std::string(text, n) : "";
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  // Without inserts, some texts keep their placeholder ("%1 is not a valid Win32 application").
  for (std::size_t at; (at = message.find("%1")) != std::string::npos;)
    message.replace(at, 2, "it");
  return message.empty() ? "error " + std::to_string(code) : message;
}

std::string computer_name() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!::GetComputerNameA(name, &size)) return "";
  return std::string(name, size);
}

std::string sha256_hex(std::string_view data) {
  // Windows XP SP3 has SHA-256 in its AES provider type only, whose name differs from later
  // versions', so the provider is asked for by type.
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    return "";
  }
  std::string text;
  HCRYPTHASH hash = 0;
  if (::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    BYTE digest[32];
    DWORD size = sizeof digest;
    if (::CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()), 0) &&
        ::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
      static const char kHex[] = "0123456789abcdef";
      for (DWORD i = 0; i < size; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
      }
    }
    ::CryptDestroyHash(hash);
  }
  ::CryptReleaseContext(provider, 0);
  return text;
}

}  // namespace msr
