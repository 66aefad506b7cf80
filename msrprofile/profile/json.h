// The JSON documents of --json. Field names are part of the interface fleet tools read:
// change them only with the README.
//
//   option:     {"name", "value", "field", "mask", "raw"}
//               value as the profile gives it (true/false, a name or character, or an
//               integer); field the byte that holds it ("mr1"); mask the bits of that byte
//               it stands for; raw those bits as they stand (byte & mask)
//   block:      {"file", "bytes", "options": [option...]}   bytes: 30 hexadecimal digits
//   difference: {"name", "field", "mask", "a": {"value", "raw"}, "b": {"value", "raw"}}
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "msrprofile/profile/codec.h"

namespace msr::profile {

nlohmann::ordered_json option_json(const Option& o, const Bytes& b);
nlohmann::ordered_json block_json(const std::string& file, const Bytes& b);
// One side of a difference: {"value", "raw"}.
nlohmann::ordered_json side_json(const Option& o, const Bytes& b);
// {"same", "a": {"file", "bytes"}, "b": {"file", "bytes"}, "differences": [difference...]}
nlohmann::ordered_json diff_json(const std::string& file_a, const Bytes& a,
                                 const std::string& file_b, const Bytes& b);

std::string hex_bytes(const Bytes& b);

}  // namespace msr::profile
