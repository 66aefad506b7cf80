#include "common/paths.h"

#include <vector>

#include "platform/os.h"

namespace msr {
namespace {

constexpr std::uint32_t kMaxPath = 260;
// The longest path Windows knows (the \\?\ form), and so the end of growing a buffer.
constexpr std::uint32_t kLongestPath = 32768;

// GetSystemDirectoryA and its kin: the length on success, 0 on failure, or the size the
// text needs (terminator included) when the buffer is too small.
template <class Query>
std::string directory(Query query) {
  std::vector<char> buffer(kMaxPath, '\0');
  for (;;) {
    const std::uint32_t n = query(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::string(buffer.data(), n);
    if (n > kLongestPath || n <= buffer.size()) return {};  // a size that can't be trusted
    buffer.assign(n, '\0');
  }
}

}  // namespace

std::string program_folder() {
  // GetModuleFileNameA answers a short buffer with its size and, on XP, no terminator:
  // grow it until the whole path fits.
  std::vector<char> buffer(kMaxPath, '\0');
  std::uint32_t n = 0;
  for (;;) {
    n = os().GetModuleFileNameA(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) break;
    if (buffer.size() >= kLongestPath) return {};
    buffer.assign(buffer.size() * 2, '\0');
  }
  const std::string path(buffer.data(), n);
  const std::size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return {};
  // "C:\msrsetup.exe" lives in "C:\", not in "C:".
  return path.substr(0, slash == 2 && path[1] == ':' ? slash + 1 : slash);
}

std::string system_folder() {
  return directory([](char* b, std::uint32_t n) { return os().GetSystemDirectoryA(b, n); });
}

std::string windows_folder() {
  return directory([](char* b, std::uint32_t n) { return os().GetWindowsDirectoryA(b, n); });
}

std::string join_path(const std::string& folder, const char* name) {
  if (!folder.empty() && folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

}  // namespace msr
