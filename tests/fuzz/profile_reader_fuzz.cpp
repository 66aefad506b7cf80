// Any bytes as a profile: build never crashes, writes the settings file only for a valid
// profile, and leaves no other file behind.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <optional>
#include <string>
#include <string_view>

#include "msrprofile/exit_codes.h"
#include "msrprofile/profile/codec.h"
#include "msrprofile/profile/output.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder for each run, removed at its end: libFuzzer ends the process without
// running exit handlers. Memory-backed where there is such a folder.
fs::path make_folder() {
  const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
  std::string pattern = (base / "profile-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const fs::path folder = make_folder();
  const std::string in = (folder / "in.toml").string(), out = (folder / "out.ini").string();
  std::ofstream(in, std::ios::binary) << text;

  const msr::profile::Built built = msr::profile::build(text);
  // What `msrprofile build in.toml -o out.ini` does once its fixed command line is parsed;
  // parsing that line anew for every input was three quarters of the time.
  std::ostringstream o, e;
  const msr::profile::Io io{o, e};
  const std::optional<msr::profile::Bytes> bytes = msr::profile::load_or_report(io, in);
  const int code = bytes ? msr::profile::write_or_report(
                               io, out,
                               std::string_view(reinterpret_cast<const char*>(bytes->data()),
                                                bytes->size()),
                               false)
                         : msr::profile::kExitBadInput;

  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) files += entry.is_regular_file();
  if (built.bytes) {
    // What show makes of those bytes builds to them again: profile_roundtrip_fuzz holds
    // that for every fifteen bytes, so it is not checked again here.
    if (code != msr::profile::kExitOk || files != 2 || fs::file_size(out) != msr::kBlockSize) {
      __builtin_trap();
    }
  } else if (code != msr::profile::kExitBadInput || files != 1 || e.str().empty()) {
    __builtin_trap();
  }
  fs::remove_all(folder);
  return 0;
}
