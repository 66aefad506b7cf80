#include "platform/files.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

bool append_line(const std::string& path, std::string_view line, std::string* why) {
  // O_APPEND moves to the end and writes in one step, for every writer of the file.
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  std::string text(line);
  text += '\n';
  ssize_t n = ::write(fd, text.data(), text.size());
  int error = errno;
  bool closed = ::close(fd) == 0;
  if (n == static_cast<ssize_t>(text.size()) && closed) return true;
  *why = n < 0 ? std::strerror(error) : "the line was not written whole";
  return false;
}

std::string computer_name() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string sha256_hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

}  // namespace msr
