// Scripted serial devices for the vCOM transport's tests: a port that plays back a list
// of read and write outcomes, and a reader that answers the configuration commands.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/fakes/fake_os.h"

namespace msr::vcomtest {

using Bytes = std::vector<unsigned char>;

struct ReadStep {
  ReadStep(bool ok, Bytes bytes = {}, std::optional<std::uint32_t> reported = std::nullopt)
      : ok(ok), bytes(std::move(bytes)), reported(reported) {}
  bool ok;
  Bytes bytes;
  std::optional<std::uint32_t> reported;  // count the call claims; default: bytes given
};

struct WriteStep {
  WriteStep(bool ok, std::optional<std::uint32_t> reported = std::nullopt)
      : ok(ok), reported(reported) {}
  bool ok;
  std::optional<std::uint32_t> reported;  // count the call claims; default: all
};

// Plays back its scripts, one step per call; with a script used up, reads give nothing
// and writes take every byte.
class ScriptedPort : public fake::Device {
 public:
  std::deque<ReadStep> read_script;
  std::deque<WriteStep> write_script;
  int reads = 0;

  bool read(void* buffer, std::uint32_t to_read, std::uint32_t* read) override {
    ++reads;
    if (read_script.empty()) {
      *read = 0;
      return true;
    }
    ReadStep s = read_script.front();
    read_script.pop_front();
    std::size_t n = std::min<std::size_t>(s.bytes.size(), to_read);
    if (n > 0) std::memcpy(buffer, s.bytes.data(), n);  // an empty step's data() may be null
    *read = s.reported.value_or(static_cast<std::uint32_t>(n));
    return s.ok;
  }

  bool write(const void* buffer, std::uint32_t to_write, std::uint32_t* written) override {
    fake::Device::write(buffer, to_write, written);
    if (write_script.empty()) return true;
    WriteStep s = write_script.front();
    write_script.pop_front();
    *written = s.reported.value_or(to_write);
    return s.ok;
  }
};

inline const Bytes kSettingsReadCommand{0x1D, 0x4D, 0x52, 0xB3};
inline const Bytes kJis2Query{0x1D, 0x4D, 0x52, 0xD0, 0x12};
inline const Bytes kCifQuery{0x1D, 0x4D, 0x52, 0xD0, 0x13};
inline const Bytes kResetCommand{0x1D, 0x4D, 0x52, 0xFF, 0xAA};

// A reader in its virtual COM mode: answers the settings read command with its settings
// record and the two queries with their replies; takes everything else silently.
class Reader : public fake::Device {
 public:
  Bytes settings{0x46, 0x08, '%', ';', ';', '?', 0x00, 0x13, 0x00};
  Bytes jis_reply{0x04, 0x00, 0x00, 0x00, 0x00};
  Bytes cif_reply{0x04, 0x00, 0x00, 0x00, 0x00};
  std::deque<unsigned char> pending;

  bool write(const void* buffer, std::uint32_t to_write, std::uint32_t* written) override {
    fake::Device::write(buffer, to_write, written);
    const Bytes& w = writes.back();
    const Bytes* reply = w == kSettingsReadCommand ? &settings
                         : w == kJis2Query         ? &jis_reply
                         : w == kCifQuery          ? &cif_reply
                                                   : nullptr;
    if (reply != nullptr) pending.assign(reply->begin(), reply->end());
    return true;
  }

  bool read(void* buffer, std::uint32_t to_read, std::uint32_t* read) override {
    std::size_t n = std::min<std::size_t>(pending.size(), to_read);
    std::copy_n(pending.begin(), n, static_cast<unsigned char*>(buffer));
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
    *read = static_cast<std::uint32_t>(n);
    return true;
  }
};

inline std::string com_path(int n) {
  return "\\\\.\\COM" + std::to_string(n);
}

// The ports CreateFileA was asked for, in order, as numbers.
inline std::vector<int> ports_opened(const fake::FakeOs& fos) {
  std::vector<int> ports;
  const std::string prefix = "CreateFileA(\\\\.\\COM";
  for (const std::string& c : fos.calls) {
    if (c.rfind(prefix, 0) == 0) ports.push_back(std::stoi(c.substr(prefix.size())));
  }
  return ports;
}

// A handle as the log prints it.
inline std::string ptr_text(Handle h) {
  char s[32];
  std::snprintf(s, sizeof s, "%p", h);
  return s;
}

inline std::string as_text(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// The two dump rows of bytes, as the log writes them.
inline std::string dump(const Bytes& b) {
  if (b.empty()) return "";
  std::string hex, chars;
  char item[8];
  for (unsigned char c : b) {
    std::snprintf(item, sizeof item, " %x", c);
    hex += item;
    chars += ' ';
    chars += static_cast<char>(c);
  }
  return hex + "\n" + chars + "\n";
}

}  // namespace msr::vcomtest
