#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace msr {

std::FILE* create_file_beside(const std::string& target, bool text, std::string* created,
                              std::string* why) {
  std::string::size_type cut = target.rfind('/');
  std::string name =
      (cut == std::string::npos ? std::string() : target.substr(0, cut + 1)) + ".msrXXXXXX";
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    *why = std::strerror(errno);
    return nullptr;
  }
  // mkstemp makes the file private; the result should have the mode any new file gets.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  *created = name;
  std::FILE* file = ::fdopen(fd, text ? "w" : "wb");
  if (file == nullptr) {
    *why = std::strerror(errno);
    ::close(fd);
    ::unlink(name.c_str());
  }
  return file;
}

bool replace_file(const std::string& from, const std::string& to, std::string* why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *why = std::strerror(errno);
  return false;
}

}  // namespace msr
