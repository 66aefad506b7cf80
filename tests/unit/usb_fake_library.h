// A doziv.dll for the unit tests: native entry points that record each call (its
// arguments, the buffer as it came in, the status text and the flushed log at that
// moment) and answer with scripted statuses and 32-byte replies.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "common/flags.h"
#include "tests/fakes/fake_os.h"
#include "transport/usb/doziv.h"

namespace msr::usbtest {

using Buffer = std::array<unsigned char, doziv::kBufferSize>;

struct Call {
  std::string name;
  std::vector<std::int32_t> args;  // SetID's three; RetrieveStatistics' index and length
  Buffer in{};                     // the buffer as the entry point received it
  std::string status_text;         // g_shell.status during the call
  std::string log_on_disk;         // what the log file held during the call
};

struct FakeDoziv {
  // Statuses.
  std::int32_t open = 0, close = 0, get = 0, set_buf = 0, set = 0, get1 = 0;
  std::map<std::int32_t, std::int32_t> rtvs;  // by statistic index; 0 when absent
  std::deque<std::int32_t> set1;              // one per SetMrState1 call; 0 when used up
  // What each entry point leaves in the whole 32-byte buffer (the library may write
  // anywhere in it). Write calls leave their buffer as it came unless a scribble is set.
  Buffer get_reply{}, get1_reply{};
  std::map<std::int32_t, Buffer> rtvs_reply;  // by statistic index; zeros when absent
  const Buffer* write_scribble = nullptr;

  std::vector<Call> calls;
  fake::FakeOs* fos = nullptr;

  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const Call& c : calls) out.push_back(c.name);
    return out;
  }
  std::vector<Call> named(const std::string& name) const {
    std::vector<Call> out;
    for (const Call& c : calls) {
      if (c.name == name) out.push_back(c);
    }
    return out;
  }

  static FakeDoziv*& current() {
    static FakeDoziv* lib = nullptr;
    return lib;
  }

  Call& record(const char* name, const unsigned char* buffer, std::vector<std::int32_t> args) {
    Call c;
    c.name = name;
    c.args = std::move(args);
    if (buffer != nullptr) std::memcpy(c.in.data(), buffer, c.in.size());
    c.status_text = g_shell.status;
    if (fos != nullptr) c.log_on_disk = fos->read_file("C:\\msr.log").value_or("");
    calls.push_back(c);
    return calls.back();
  }

  static void fill(unsigned char* buffer, const Buffer& with) {
    std::memcpy(buffer, with.data(), with.size());
  }

  // --- entry points ---
  static std::int32_t SetID(std::int32_t a, std::int32_t b, std::int32_t c) {
    current()->record("SetID", nullptr, {a, b, c});
    return 0;
  }
  static std::int32_t OpenUSB() {
    current()->record("OpenUSB", nullptr, {});
    return current()->open;
  }
  static std::int32_t GetMrState(unsigned char* buffer) {
    FakeDoziv& l = *current();
    l.record("GetMrState", buffer, {});
    fill(buffer, l.get_reply);
    return l.get;
  }
  static std::int32_t RetrieveStatistics(std::int32_t index, unsigned char* buffer,
                                         std::int32_t length) {
    FakeDoziv& l = *current();
    l.record("RetrieveStatistics", buffer, {index, length});
    auto reply = l.rtvs_reply.find(index);
    fill(buffer, reply != l.rtvs_reply.end() ? reply->second : Buffer{});
    auto status = l.rtvs.find(index);
    return status != l.rtvs.end() ? status->second : 0;
  }
  static std::int32_t SetMrStateBuf(unsigned char* buffer) {
    FakeDoziv& l = *current();
    l.record("SetMrStateBuf", buffer, {});
    if (l.write_scribble != nullptr) fill(buffer, *l.write_scribble);
    return l.set_buf;
  }
  static std::int32_t SetMrState() {
    current()->record("SetMrState", nullptr, {});
    return current()->set;
  }
  static std::int32_t GetMrState1(unsigned char* buffer) {
    FakeDoziv& l = *current();
    l.record("GetMrState1", buffer, {});
    fill(buffer, l.get1_reply);
    return l.get1;
  }
  static std::int32_t SetMrState1(unsigned char* buffer) {
    FakeDoziv& l = *current();
    l.record("SetMrState1", buffer, {});
    if (l.write_scribble != nullptr) fill(buffer, *l.write_scribble);
    if (l.set1.empty()) return 0;
    std::int32_t s = l.set1.front();
    l.set1.pop_front();
    return s;
  }
  static std::int32_t CloseUSB() {
    current()->record("CloseUSB", nullptr, {});
    return current()->close;
  }

  // The exports as name -> address, for FakeOs::libraries. The casts check that each
  // fake has exactly the type the program calls it with.
  static std::map<std::string, void*> exports() {
    return {
        {"SetID", reinterpret_cast<void*>(doziv::SetIDFn{&SetID})},
        {"OpenUSB", reinterpret_cast<void*>(doziv::OpenUSBFn{&OpenUSB})},
        {"GetMrState", reinterpret_cast<void*>(doziv::GetMrStateFn{&GetMrState})},
        {"RetrieveStatistics",
         reinterpret_cast<void*>(doziv::RetrieveStatisticsFn{&RetrieveStatistics})},
        {"SetMrStateBuf", reinterpret_cast<void*>(doziv::SetMrStateBufFn{&SetMrStateBuf})},
        {"SetMrState", reinterpret_cast<void*>(doziv::SetMrStateFn{&SetMrState})},
        {"GetMrState1", reinterpret_cast<void*>(doziv::GetMrState1Fn{&GetMrState1})},
        {"SetMrState1", reinterpret_cast<void*>(doziv::SetMrState1Fn{&SetMrState1})},
        {"CloseUSB", reinterpret_cast<void*>(doziv::CloseUSBFn{&CloseUSB})},
    };
  }

  // Where install puts it: beside the program.
  static std::string installed_path(const fake::FakeOs& os) {
    return os.program_dir() + "\\doziv.dll";
  }

  // Makes this the doziv.dll the fake OS loads, with all nine entry points.
  void install(fake::FakeOs& os) {
    fos = &os;
    current() = this;
    os.libraries[installed_path(os)] = exports();
  }
};

// The base of the USB tests: hid.dll where the system directory says, the fake library
// installed, and helpers to take entry points away and read the log.
class UsbTest : public fake::FakeOsTest {
 protected:
  static constexpr const char* kHidPath = "C:\\windows\\system32\\hid.dll";

  void SetUp() override {
    FakeOsTest::SetUp();
    fos.write_file(kHidPath, "MZ");
    lib.install(fos);
  }
  void TearDown() override {
    FakeDoziv::current() = nullptr;
    FakeOsTest::TearDown();
  }
  void drop(std::initializer_list<const char*> names) {
    for (const char* n : names) fos.libraries[FakeDoziv::installed_path(fos)].erase(n);
  }
  // The log from the first line that starts with the marker.
  std::string log_from(const std::string& marker) {
    const std::string log = log_text();
    const std::size_t at = log.find(marker);
    return at == std::string::npos ? std::string() : log.substr(at);
  }
  // Boundary calls that start with the prefix.
  std::vector<std::string> calls_starting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& c : fos.calls) {
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    }
    return out;
  }
  int loads() const { return static_cast<int>(fos.libraries_loaded.size()); }

  FakeDoziv lib;
};

// An address as the log prints it with %p.
inline std::string P(const void* address) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", address);
  return text;
}

// The buffer dump of the log: 16 bytes with " %x", then the same bytes as characters.
inline std::string dump(const Buffer& b) {
  std::string out;
  char text[8];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(text, sizeof text, " %x", b[i]);
    out += text;
  }
  out += " \n";
  for (int i = 0; i < 16; ++i) {
    out += ' ';
    out += static_cast<char>(b[i]);
  }
  out += " \n";
  return out;
}

// A 32-byte buffer that starts with the given bytes and is 0 after them.
inline Buffer bytes(std::initializer_list<unsigned char> head) {
  Buffer b{};
  std::size_t i = 0;
  for (unsigned char c : head) b[i++] = c;
  return b;
}

}  // namespace msr::usbtest
