#include "msrprofile/profile/files.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/files.h"

namespace msr::profile {
namespace {

struct Content {
  std::string bytes;  // at most `limit` + 1 bytes: one more tells that there are more
  std::string error;
};

Content read_some(const std::string& path, std::size_t limit) {
  Content c;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    c.error = std::string("can't be opened: ") + std::strerror(errno);
    return c;
  }
  char chunk[16384];
  while (c.bytes.size() <= limit) {
    std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
    c.bytes.append(chunk, n);
    if (n < sizeof chunk) break;
  }
  if (std::ferror(f)) c.error = std::string("can't be read: ") + std::strerror(errno);
  std::fclose(f);
  if (c.bytes.size() > limit + 1) c.bytes.resize(limit + 1);
  return c;
}

std::string settings_size_problem(std::size_t size) {
  const std::string has = size > kMaxProfileBytes ? "more than " + std::to_string(kMaxProfileBytes)
                                                  : std::to_string(size);
  if (size < kBlockSize) {
    return "has " + has +
           " bytes; a settings file has 15 (msrsetup would keep its "
           "switch-dependent presets for the missing ones)";
  }
  return "has " + has +
         " bytes; a settings file has 15 (msrsetup would ignore the rest); "
         "a profile's name ends in .toml";
}

}  // namespace

bool is_profile_name(const std::string& path) {
  static const char kSuffix[] = ".toml";
  const std::size_t n = sizeof kSuffix - 1;
  if (path.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != kSuffix[i]) {
      return false;
    }
  }
  return true;
}

Loaded load(const std::string& path) {
  Loaded result;
  Content c = read_some(path, kMaxProfileBytes);
  if (!c.error.empty()) {
    result.errors.push_back(path + ": " + c.error);
    return result;
  }
  if (!is_profile_name(path)) {
    if (c.bytes.size() != kBlockSize) {
      result.errors.push_back(path + ": " + settings_size_problem(c.bytes.size()));
      return result;
    }
    Bytes b{};
    std::memcpy(b.data(), c.bytes.data(), kBlockSize);
    result.bytes = b;
    return result;
  }
  Built built = build(c.bytes);
  for (const Problem& p : built.problems) {
    std::ostringstream line;
    line << path;
    if (p.line > 0) line << ':' << p.line;
    if (p.column > 0) line << ':' << p.column;
    line << ": " << p.message;
    result.errors.push_back(line.str());
  }
  result.bytes = built.bytes;
  result.interface_left_out = built.interface_left_out;
  return result;
}

bool write_replacing(const std::string& path, std::string_view content, bool text,
                     std::string* why) {
  // Through a symbolic link to the file it names: the link stays, the file is replaced.
  const std::string target = final_target(path);
  std::string temp;
  std::FILE* f = create_file_beside(target, text, &temp, why);
  if (f == nullptr) return false;
  bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  ok = std::fflush(f) == 0 && ok;
  if (!ok) *why = std::string("writing failed: ") + std::strerror(errno);
  ok = std::fclose(f) == 0 && ok;
  if (ok && replace_file(temp, target, why)) return true;
  if (why->empty()) *why = "closing failed";
  std::remove(temp.c_str());
  return false;
}

}  // namespace msr::profile
