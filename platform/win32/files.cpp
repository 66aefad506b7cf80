#include "platform/files.h"

#include <windows.h>

namespace msr {
namespace {

std::string error_text(const char* call) {
  return std::string(call) + " failed, error " + std::to_string(::GetLastError());
}

std::string folder_of(const std::string& path) {
  std::string::size_type cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
  return cut == 0 || (cut == 2 && path[1] == ':') ? path.substr(0, cut + 1) : path.substr(0, cut);
}

}  // namespace

std::FILE* create_file_beside(const std::string& target, bool text, std::string* created,
                              std::string* why) {
  char name[MAX_PATH];
  // Creates the file, under a name that was free.
  if (::GetTempFileNameA(folder_of(target).c_str(), "msr", 0, name) == 0) {
    *why = error_text("GetTempFileNameA");
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
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  *why = error_text("MoveFileExA");
  return false;
}

}  // namespace msr
