#include "msrprofile/reader/results.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "msrprofile/exit_codes.h"
#include "platform/files.h"
#include "transport/vcom/vcom.h"

namespace msr::profile {
namespace {

std::string field(const std::string& text) {
  if (text.empty()) return "-";
  std::string f = text;
  for (char& c : f) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return f;
}

// The whole file as it is now; nothing when it can't be read.
bool read_all(const std::string& path, std::string* bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char chunk[16384];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes->append(chunk, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Where the reader answered: a vCOM read that found one leaves its port number behind.
std::string port_of(const Host& host, const Target& t) {
  if (t.transport != Transport::vcom) return "-";
  if (g_vcom.cportStr[0] != '\0') return host.port_name(std::atoi(g_vcom.cportStr));
  if (!t.path.empty()) return t.path;
  return t.com != 0 ? host.port_name(t.com) : "-";
}

}  // namespace

const char* outcome_word(const std::string& command, int exit) {
  switch (exit) {
    case kExitOk:
      return command == "verify" ? "same" : "written";
    case kExitDiffers:
      return "differs";
    case kExitNoReader:
      return port_busy(exit) ? "port-busy" : "no-reader";
    case kExitBadInput:
      return "bad-profile";
    case kExitReaderFailed:
      return "reader-failed";
    case kExitNotWritten:
      return "not-written";
    case kExitUsage:
      return "usage";
    default:
      return "failed";
  }
}

std::string results_line(const RunRecord& run, std::time_t when, const std::string& computer,
                         const std::string& outcome) {
  char time[32] = "-";
  if (const std::tm* utc = std::gmtime(&when)) {
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", utc);
  }
  const std::string fields[] = {time,
                                field(computer),
                                field(run.command),
                                field(run.transport),
                                field(run.port),
                                outcome.empty() ? outcome_word(run.command, run.exit) : outcome,
                                std::to_string(run.exit),
                                field(run.profile),
                                field(run.sha256)};
  std::string line;
  for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + f;
  return line;
}

bool results_writable(const std::string& path, std::string* why) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) {
    *why = std::strerror(errno);
    return false;
  }
  std::fclose(f);
  return true;
}

std::string file_sha256(const std::string& path) {
  std::string bytes;
  return read_all(path, &bytes) ? sha256_hex(bytes) : std::string();
}

int record_run(Io io, const std::string& path, const std::string& command, const Target* target,
               const Host& host, const std::string& profile, int exit) {
  RunRecord run;
  run.command = command;
  if (target != nullptr) {
    run.transport = target->transport == Transport::usb    ? "usb"
                    : target->transport == Transport::vcom ? "vcom"
                                                           : "ps2";
    run.port = port_of(host, *target);
  }
  run.exit = exit;
  run.profile = profile;
  run.sha256 = file_sha256(profile);
  std::string why;
  if (append_line(path, results_line(run, std::time(nullptr), computer_name()), &why)) return exit;
  io.err << "msrprofile: the results file " << path << " can't be written: " << why << " (the "
         << command << " itself ended with exit code " << exit << ")\n";
  return exit == kExitOk ? kExitNotWritten : exit;
}

}  // namespace msr::profile
