// Any bytes as a profile: build never crashes, writes the settings file only for a valid
// profile, and leaves no other file behind; a valid profile shows and builds to itself.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "profile/cli.h"
#include "profile/codec.h"

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
  std::ostringstream o, e;
  const char* argv[] = {"msrprofile", "build", in.c_str(), "-o", out.c_str()};
  const int code = msr::profile::run(5, argv, o, e);

  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) files += entry.is_regular_file();
  if (built.bytes) {
    if (code != msr::profile::kExitOk || files != 2 || fs::file_size(out) != msr::kBlockSize) {
      __builtin_trap();
    }
    const msr::profile::Built again = msr::profile::build(msr::profile::show(*built.bytes));
    if (!again.bytes || *again.bytes != *built.bytes) __builtin_trap();
  } else if (code != msr::profile::kExitBadInput || files != 1 || e.str().empty()) {
    __builtin_trap();
  }
  fs::remove_all(folder);
  return 0;
}
