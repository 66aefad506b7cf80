// The form framework's exceptions and the number conversions the window's edits use.
// An Exception raised inside an event handler is caught where the event entered the
// framework and shown in the application's error box.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace msr {

// Base class of every error the framework shows in its error box.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A value outside the range its type allows (a character read from an empty text).
class ERangeError : public Exception {
 public:
  ERangeError() : Exception("Range check error") {}
};

// A text that is no number.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// The runtime's integer conversion: leading blanks, an optional sign, an optional
// hexadecimal prefix ("$" or "0x"), then digits up to the end of the text; anything
// else, no digits at all or a value beyond 32 bits raises
// EConvertError("'<text>' is not a valid integer value").
std::int32_t StrToInt(const std::string& text);
// The same conversion, with def in place of the error.
std::int32_t StrToIntDef(const std::string& text, std::int32_t def);
std::string IntToStr(std::int32_t value);

}  // namespace msr
