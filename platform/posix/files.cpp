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

std::string final_target(const std::string& path) {
  std::string target = path;
  // A loop of links ends in an error at open or rename; 40 is the kernel's own limit.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
    const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n <= 0) break;
    link.resize(static_cast<std::size_t>(n));
    const std::string::size_type cut = target.rfind('/');
    target = link[0] == '/' || cut == std::string::npos ? link : target.substr(0, cut + 1) + link;
  }
  return target;
}

std::FILE* create_file_beside(const std::string& target, bool text, std::string* created,
                              std::string* why) {
  std::string::size_type cut = target.rfind('/');
  const std::string folder = cut == std::string::npos ? "." : target.substr(0, cut ? cut : 1);
  struct stat st;
  if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    *why = "it is a folder: name a file in it";
    return nullptr;
  }
  std::string name =
      (cut == std::string::npos ? std::string() : target.substr(0, cut + 1)) + ".msrXXXXXX";
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    const int error = errno;
    *why = error == ENOENT ? "the folder " + folder + " does not exist" : std::strerror(error);
    return nullptr;
  }
  if (::stat(target.c_str(), &st) == 0) {
    // A file replaced keeps its permissions, and its owner where this process may give it.
    ::fchmod(fd, st.st_mode & 07777);
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Not ours to give away: the new file is this user's, as any file it writes.
    }
  } else {
    // mkstemp makes the file private; the result should have the mode any new file gets.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
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

std::string system_error_text(unsigned long code) {
  return std::strerror(static_cast<int>(code));
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
