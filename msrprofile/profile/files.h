// What the commands read and write: a settings file (fifteen raw bytes) or a profile
// (TOML), told apart by name alone: a name ending in ".toml", in any case, is a profile;
// any other name is a settings file. Content can't decide it: fifteen bytes of text can be
// both.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "msrprofile/profile/codec.h"

namespace msr::profile {

bool is_profile_name(const std::string& path);

struct Loaded {
  std::optional<Bytes> bytes;
  std::vector<std::string> errors;  // each names the file, and line and column where known
  bool interface_left_out = false;  // a profile that does not set `interface`
};
// A settings file must hold exactly fifteen bytes. msrsetup itself would load a shorter
// one into its transport presets and ignore bytes past the fifteenth; either way the file
// says something else than the configuration it seems to hold, so it is refused here.
Loaded load(const std::string& path);

// Writes `content` to `path` in one step: `path` holds the old bytes or the new ones,
// never a part, and is left as it was when anything fails. Text gets the platform's line
// ends (CR LF on Windows, whose Notepad shows a bare LF as no break before Windows 10).
bool write_replacing(const std::string& path, std::string_view content, bool text,
                     std::string* why);

}  // namespace msr::profile
