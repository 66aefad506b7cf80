#include "msrprofile/profile/json.h"

#include <cstdio>

namespace msr::profile {
namespace {

nlohmann::ordered_json value_json(const Option& o, const Bytes& b) {
  return std::visit([](const auto& v) { return nlohmann::ordered_json(v); }, value(o, b));
}

nlohmann::ordered_json file_json(const std::string& file, const Bytes& b) {
  return {{"file", file}, {"bytes", hex_bytes(b)}};
}

}  // namespace

std::string hex_bytes(const Bytes& b) {
  std::string text;
  for (std::uint8_t byte : b) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

nlohmann::ordered_json option_json(const Option& o, const Bytes& b) {
  return {{"name", o.name},
          {"value", value_json(o, b)},
          {"field", kFields[o.field].name},
          {"mask", o.mask},
          {"raw", raw(o, b)}};
}

nlohmann::ordered_json side_json(const Option& o, const Bytes& b) {
  return {{"value", value_json(o, b)}, {"raw", raw(o, b)}};
}

nlohmann::ordered_json block_json(const std::string& file, const Bytes& b) {
  nlohmann::ordered_json doc = file_json(file, b);
  doc["options"] = nlohmann::ordered_json::array();
  for (const Option& o : options()) doc["options"].push_back(option_json(o, b));
  return doc;
}

nlohmann::ordered_json diff_json(const std::string& file_a, const Bytes& a,
                                 const std::string& file_b, const Bytes& b) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Option* o : differences(a, b)) {
    list.push_back({{"name", o->name},
                    {"field", kFields[o->field].name},
                    {"mask", o->mask},
                    {"a", side_json(*o, a)},
                    {"b", side_json(*o, b)}});
  }
  return {{"same", list.empty()},
          {"a", file_json(file_a, a)},
          {"b", file_json(file_b, b)},
          {"differences", list}};
}

}  // namespace msr::profile
