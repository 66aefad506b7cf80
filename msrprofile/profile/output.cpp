#include "msrprofile/profile/output.h"

#include <ostream>

#include "msrprofile/exit_codes.h"
#include "msrprofile/profile/files.h"

namespace msr::profile {
namespace {

constexpr std::size_t kMaxErrorsShown = 20;

}  // namespace

// Paths from a Windows command line are in the ANSI code page, not UTF-8: let the JSON
// writer replace what it can't encode rather than throw.
void print_json(Io io, const nlohmann::ordered_json& doc) {
  io.out << doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

std::optional<Bytes> load_or_report(Io io, const std::string& path, bool* interface_left_out) {
  Loaded loaded = load(path);
  if (interface_left_out != nullptr) *interface_left_out = loaded.interface_left_out;
  for (std::size_t i = 0; i < loaded.errors.size() && i < kMaxErrorsShown; ++i) {
    io.err << loaded.errors[i] << "\n";
  }
  if (loaded.errors.size() > kMaxErrorsShown) {
    io.err << path << ": " << loaded.errors.size() - kMaxErrorsShown << " more problems\n";
  }
  return loaded.bytes;
}

int write_or_report(Io io, const std::string& path, std::string_view content, bool text) {
  std::string why;
  if (write_replacing(path, content, text, &why)) return kExitOk;
  io.err << path << ": not written: " << why << "\n";
  return kExitNotWritten;
}

void warn_delay(Io io, const std::string& file, const Bytes& bytes) {
  static const Option* const delay = find_option("inter_character_delay");
  const unsigned ms = raw(*delay, bytes);
  if (ms > kMaxDelay) {
    io.err << "msrprofile: warning: " << file << ": inter_character_delay = " << ms << " is above "
           << kMaxDelay
           << ", the most msrsetup's window takes: the window turns it into 0 once its delay "
              "box is edited\n";
  }
}

int usage(Io io, const std::string& text) {
  io.err << text << "\nRun with --help for more information.\n";
  return kExitUsage;
}

}  // namespace msr::profile
