// Scripted keyboard-wedge and touch drivers for the PS/2 transport's unit tests.
#pragma once

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "common/log.h"
#include "tests/fakes/fake_os.h"
#include "transport/ps2/ps2.h"

namespace msr::ps2test {

inline constexpr const char* kVidedu = "\\\\.\\VIDEDU";
inline constexpr const char* kKrnldrvr = "\\\\.\\krnldrvr";
inline constexpr const char* kVxd = "\\\\.\\DUVU.VXD";
inline constexpr const char* kRozivadu = "\\\\.\\ROZIVADU";

// One control call as the driver saw it.
struct IoctlCall {
  std::uint32_t code = 0, in_size = 0, out_size = 0;
  std::vector<unsigned char> in;
  bool in_is_out = false;  // one buffer for both directions
  bool in_is_io = false;   // that buffer is the transport's I/O buffer
};

// How a driver answers one control call. count may exceed the output buffer: the
// driver then claims more than it wrote, as a broken driver would.
struct Answer {
  bool ok = true;
  std::uint32_t count = 0;
  std::uint32_t error = 0;  // last error of a failed call
};

class ScriptedDriver : public fake::Device {
 public:
  explicit ScriptedDriver(fake::FakeOs* os) : os_(os) { serial = false; }

  std::vector<IoctlCall> ioctls;
  std::uint32_t count(std::uint32_t code) const {
    std::uint32_t n = 0;
    for (const IoctlCall& c : ioctls) n += c.code == code ? 1 : 0;
    return n;
  }

  bool ioctl(std::uint32_t code, void* in, std::uint32_t in_size, void* out, std::uint32_t out_size,
             std::uint32_t* returned) override {
    IoctlCall call;
    call.code = code;
    call.in_size = in_size;
    call.out_size = out_size;
    auto* p = static_cast<unsigned char*>(in);
    call.in.assign(p, p + in_size);
    call.in_is_out = in == out;
    call.in_is_io = in == static_cast<void*>(g_ps2.io);
    ioctls.push_back(call);
    Answer a = answer(code);
    // Reply byte i is i + first_byte, written only as far as the buffer goes.
    auto* o = static_cast<unsigned char*>(out);
    for (std::uint32_t i = 0; i < a.count && i < out_size; ++i) {
      o[i] = static_cast<unsigned char>(first_byte + i);
    }
    *returned = a.count;
    if (!a.ok) os_->last_error = a.error;
    return a.ok;
  }

  unsigned char first_byte = 0;

 protected:
  virtual Answer answer(std::uint32_t code) = 0;
  fake::FakeOs* os_;
};

class WedgeDriver : public ScriptedDriver {
 public:
  using ScriptedDriver::ScriptedDriver;
  Answer version{true, 9, 0};
  Answer probe{true, 64, 0};
  // One answer per write attempt; the last one repeats.
  std::deque<Answer> writes{{true, 20, 0}};

 protected:
  Answer answer(std::uint32_t code) override {
    switch (code) {
      case 0x80FF0040u:
        return version;
      case 0x80FF0038u:
        return probe;
      case 0x80FF0024u: {
        Answer a = writes.front();
        if (writes.size() > 1) writes.pop_front();
        return a;
      }
      default:
        return {false, 0, 1};  // ERROR_INVALID_FUNCTION
    }
  }
};

class TouchDriver : public ScriptedDriver {
 public:
  using ScriptedDriver::ScriptedDriver;
  Answer reply{true, 0, 0};

 protected:
  Answer answer(std::uint32_t code) override {
    return code == 0x000F0054u ? reply : Answer{false, 0, 1};
  }
};

// The platform's rendering of a handle in the log.
inline std::string ptr(Handle h) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", h);
  return text;
}

// dopen's log up to its last open: the entry line, the descriptor lines, and the two
// NT-family drivers that were not there.
inline std::string dopen_log_to_vxd(int tag) {
  const std::string inv = ptr(invalid_handle());
  return " in dopen( " + std::to_string(tag) + " ), hd=" + inv +
         ", win95_f=0 \n"
         "\n InitSD()=1, lerr=0 \n"
         " SetSDDacl()=1, lerr=0 \n"
         " createfile( videdu)=" +
         inv + ", lerr=2 \n createfile( kdrnldrvr)=" + inv + ", lerr=2 \n";
}

// A fixture whose log holds only what the transport writes after the header.
class Ps2Test : public fake::FakeOsTest {
 protected:
  void start_log() {
    enable_log();
    log_open();
    header_ = log_text().size();
    fos.calls.clear();  // only the transport's own calls from here on
  }
  std::string ps2_log() { return log_text().substr(header_); }

  std::shared_ptr<WedgeDriver> add_wedge(const char* path) {
    auto d = std::make_shared<WedgeDriver>(&fos);
    fos.add_device(path, d);
    return d;
  }
  std::shared_ptr<TouchDriver> add_touch() {
    auto d = std::make_shared<TouchDriver>(&fos);
    fos.add_device(kRozivadu, d);
    return d;
  }
  // The boundary calls in order, without the security-descriptor set-up.
  std::vector<std::string> device_calls() const {
    std::vector<std::string> out;
    for (const std::string& c : fos.calls) {
      if (c != "InitializeSecurityDescriptor" && c != "SetSecurityDescriptorDacl") {
        out.push_back(c);
      }
    }
    return out;
  }

 private:
  std::size_t header_ = 0;
};

}  // namespace msr::ps2test
