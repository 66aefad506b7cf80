// What every command shares on its way out: the streams, JSON on standard output, a
// settings file or profile loaded with its problems reported, a file written in one step.
#pragma once

#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "msrprofile/profile/codec.h"

namespace msr::profile {

struct Io {
  std::ostream& out;  // the profile, the JSON document or the comparison
  std::ostream& err;  // messages
};

void print_json(Io io, const nlohmann::ordered_json& doc);

// The file's bytes, or its problems printed and nothing; `interface_left_out` says whether
// a profile leaves `interface` out.
std::optional<Bytes> load_or_report(Io io, const std::string& path,
                                    bool* interface_left_out = nullptr);

// kExitOk, or kExitNotWritten with the reason printed.
int write_or_report(Io io, const std::string& path, std::string_view content, bool text);

// The inter-character delay msrsetup's window takes goes from 0 to 32 ms; its delay box
// turns a larger one into 0 once edited. A file read from a reader may hold one, and must build to
// the same bytes, so it is only warned about (on standard error).
inline constexpr unsigned kMaxDelay = 32;
void warn_delay(Io io, const std::string& file, const Bytes& bytes);

// kExitUsage, with the text and a pointer to --help.
int usage(Io io, const std::string& text);

}  // namespace msr::profile
