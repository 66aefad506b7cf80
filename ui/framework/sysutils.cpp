#include "ui/framework/sysutils.h"

#include <optional>

namespace msr {
namespace {

int digit_value(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') v = c - '0';
  if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  return v < base ? v : -1;
}

std::optional<std::int32_t> convert(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16, ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16, i += 2;
  }
  if (i == text.size()) return std::nullopt;  // no digits
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    int d = digit_value(text[i], base);
    if (d < 0) return std::nullopt;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (base == 10) {
    // Decimal text must fit a signed 32-bit value.
    if (value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
    std::int64_t v =
        negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(v);
  }
  // Hexadecimal text covers all 32 bits, the top one being the sign.
  std::uint32_t bits = static_cast<std::uint32_t>(value);
  if (negative) bits = 0u - bits;
  return static_cast<std::int32_t>(bits);
}

}  // namespace

std::int32_t StrToInt(const std::string& text) {
  std::optional<std::int32_t> v = convert(text);
  if (!v) throw EConvertError("'" + text + "' is not a valid integer value");
  return *v;
}

std::int32_t StrToIntDef(const std::string& text, std::int32_t def) {
  return convert(text).value_or(def);
}

std::string IntToStr(std::int32_t value) {
  return std::to_string(value);
}

}  // namespace msr
