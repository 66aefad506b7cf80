#include "settings/history.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/os.h"

namespace msr {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + kSeparator + name;
}

bool is_folder(const std::string& path) {
  const std::uint32_t attributes = os().GetFileAttributesA(path.c_str());
  return attributes != w32::kInvalidFileAttributes && (attributes & 0x10u) != 0;
}

// Makes the folder and whatever above it is missing.
bool make_folders(const std::string& folder, std::string* why) {
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '\\' && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    if (part.size() == 2 && part[1] == ':') continue;  // a drive
    if (os().CreateDirectoryA(part.c_str()) || is_folder(part)) continue;
    const std::uint32_t error = os().GetLastError();
    *why = error == w32::kErrorAlreadyExists
               ? part + " is a file, not a folder"
               : "the folder " + part + " can't be made (error " + std::to_string(error) + ")";
    return false;
  }
  return true;
}

std::string utc_text(long when, const char* format) {
  const std::time_t t = static_cast<std::time_t>(when);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&t)) std::strftime(text, sizeof text, format, utc);
  return text;
}

std::string unread_fields(std::uint16_t read) {
  std::string list;
  for (int i = 0; i < kBlockSize; ++i) {
    if (!(read & (1u << i))) list += (list.empty() ? "" : ", ") + std::string(kFields[i].name);
  }
  return list;
}

std::string entry_text(const HistoryRecord& r, long when) {
  std::string text = "# Kept by " + r.by + " before it wrote to the reader.\n";
  text += "# time: " + utc_text(when, "%Y-%m-%dT%H:%M:%SZ") + "\n";
  text += "# transport: " + r.transport + "\n";
  if (!r.port.empty()) text += "# port: " + r.port + "\n";
  text += "# firmware: " + hex_byte(r.bytes[7]) + "\n";
  const std::string unread = unread_fields(r.read);
  if (!unread.empty()) text += "# not read from the reader, 0x00 here: " + unread + "\n";
  return text + show(r.bytes);
}

bool write_new(const std::string& path, const std::string& text, std::string* why) {
  const std::string part = path + ".part";
  std::FILE* f = os().fopen(part.c_str(), "wb");
  if (f == nullptr) {
    *why = "can't create " + part + ": " + std::strerror(errno);
    return false;
  }
  const bool written =
      std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
  const int error = errno;
  if (std::fclose(f) != 0 || !written) {
    *why = "can't write " + part + ": " + std::strerror(written ? errno : error);
    os().DeleteFileA(part.c_str());
    return false;
  }
  if (os().MoveFileA(part.c_str(), path.c_str())) return true;
  *why = os().GetLastError() == w32::kErrorAlreadyExists ? "exists" : "can't rename " + part;
  os().DeleteFileA(part.c_str());
  return false;
}

// "20261209T121503Z" as an ISO 8601 time; empty when it is not one.
std::string iso_time(const std::string& stamp) {
  if (stamp.size() != 16 || stamp[8] != 'T' || stamp[15] != 'Z') return "";
  for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14}) {
    if (stamp[i] < '0' || stamp[i] > '9') return "";
  }
  return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + "T" +
         stamp.substr(9, 2) + ":" + stamp.substr(11, 2) + ":" + stamp.substr(13, 2) + "Z";
}

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == by) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// TIME_usb_fwXX[_N].toml or TIME_vcom_PORT_fwXX[_N].toml.
bool parse_entry(const std::string& name, HistoryEntry* e) {
  constexpr char kSuffix[] = ".toml";
  const std::size_t n = name.size(), s = sizeof kSuffix - 1;
  if (n <= s || name.compare(n - s, s, kSuffix) != 0) return false;
  const std::vector<std::string> parts = split(name.substr(0, n - s), '_');
  e->time = parts.empty() ? "" : iso_time(parts[0]);
  if (e->time.empty() || parts.size() < 3) return false;
  e->transport = parts[1];
  std::size_t at = 2;
  if (e->transport == "vcom") {
    e->port = parts[at++];
  } else if (e->transport != "usb") {
    return false;
  }
  if (at >= parts.size() || parts[at].size() != 4 || parts[at].compare(0, 2, "fw") != 0) {
    return false;
  }
  char* end = nullptr;
  e->firmware = static_cast<int>(std::strtol(parts[at].c_str() + 2, &end, 16));
  if (*end != '\0' || parts.size() > at + 2) return false;
  e->name = name;
  return true;
}

// Oldest first beyond the newest kHistoryKept; only entries, never another file.
void prune(const std::string& folder) {
  std::vector<HistoryEntry> entries = list_history(folder);
  for (std::size_t i = kHistoryKept; i < entries.size(); ++i) {
    os().DeleteFileA(entries[i].path.c_str());
  }
}

}  // namespace

std::string history_port_key(const std::string& port) {
  std::string key;
  for (char c : port) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    key += plain || c == '.' ? c : '-';
  }
  key.erase(0, key.find_first_not_of('-'));
  return key.empty() ? "-" : key;
}

std::string history_folder(std::string* why) {
  std::string folder;
  if (os().GetEnvironmentVariableA(kHistoryVariable, &folder) && !folder.empty()) return folder;
  if (os().SHGetFolderPathA(w32::kCsidlCommonAppdata, &folder) && !folder.empty()) {
    return join(join(folder, "msrsetup"), "history");
  }
  *why = "the system names no common application data folder: set " +
         std::string(kHistoryVariable) + " to the folder to keep the history in";
  return "";
}

std::string keep_history(const std::string& folder, const HistoryRecord& record, std::string* why) {
  if (!make_folders(folder, why)) return "";
  const long now = os().time();
  std::string stem = utc_text(now, "%Y%m%dT%H%M%SZ") + "_" + record.transport;
  if (record.transport != "usb") {
    stem += '_';
    stem += history_port_key(record.port);
  }
  char firmware[8];
  std::snprintf(firmware, sizeof firmware, "_fw%02X", record.bytes[7]);
  stem += firmware;
  const std::string text = entry_text(record, now);
  // Two writes within a second to one reader get the same time: number the later ones.
  for (int n = 1; n <= kHistoryKept; ++n) {
    std::string name = stem;
    if (n > 1) name += '_' + std::to_string(n);
    const std::string path = join(folder, name + ".toml");
    std::string problem;
    if (write_new(path, text, &problem)) {
      prune(folder);
      return path;
    }
    if (problem != "exists") {
      *why = "the history folder " + folder + " can't be written: " + problem;
      return "";
    }
  }
  *why = "the history folder " + folder + " already holds " + std::to_string(kHistoryKept) +
         " entries of this second";
  return "";
}

bool keep_history(const HistoryRecord& record, std::string* path, std::string* why) {
  const std::string folder = history_folder(why);
  if (folder.empty()) return false;
  *path = keep_history(folder, record, why);
  return !path->empty();
}

HistoryRecord window_record(const SettingsBlock& read, const std::string& transport,
                            const std::string& port, bool extended) {
  HistoryRecord r;
  r.transport = transport;
  r.port = transport == "usb" ? "" : port;
  store_block(read, r.bytes.data());
  const bool usb = transport == "usb";
  r.read = static_cast<std::uint16_t>((1u << kBaseBlockSize) - 1);  // p2j, mr1..mr7
  if (!usb || extended) r.read |= 1u << 8;                          // kq1
  if (usb && extended) r.read |= 1u << 9;                           // kq2
  for (int i = 0; i < kBlockSize; ++i) {
    if (!(r.read & (1u << i))) r.bytes[i] = 0;
  }
  r.by = "msrsetup Save";
  return r;
}

std::vector<HistoryEntry> list_history(const std::string& folder) {
  std::vector<HistoryEntry> entries;
  std::string name;
  const Handle find = os().FindFirstFileA(join(folder, "*").c_str(), &name);
  if (find == invalid_handle()) return entries;
  do {
    HistoryEntry e;
    if (!parse_entry(name, &e)) continue;
    e.path = join(folder, name);
    entries.push_back(e);
  } while (os().FindNextFileA(find, &name));
  os().FindClose(find);
  // The name begins with the time, and a later entry of the same second has a number.
  std::sort(entries.begin(), entries.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
    if (a.time != b.time) return a.time > b.time;
    if (a.name.size() != b.name.size()) return a.name.size() > b.name.size();
    return a.name > b.name;
  });
  return entries;
}

}  // namespace msr
