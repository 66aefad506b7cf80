#include "common/text.h"

namespace msr {

std::int32_t atol32(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  std::int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX) {
      return negative ? INT32_MIN : INT32_MAX;  // the runtime's strtol saturates too
    }
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace msr
