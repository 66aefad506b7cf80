// The Linux boundary without hardware: how a list of ports becomes COM numbers that the
// vCOM probe visits in the list's order, which names open nothing, the last-error codes,
// the order of the system's ports, and the facilities Linux lacks.
#include "platform/posix/posix_os.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/posix/serial_ports.h"
#include "transport/vcom/serial_port.h"
#include "transport/vcom/vcom.h"

namespace msr {
namespace {

static_assert(kMaxPresentedPorts == kComSlots - 1, "every presented port must be probed");

class PosixOsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_os(&posix_os());
    posix_set_ports({});
  }
  void TearDown() override {
    posix_set_ports({});
    set_os(nullptr);
  }
  static Handle open(const char* name) {
    return os().CreateFileA(name, w32::kGenericRead | w32::kGenericWrite, 0, nullptr,
                            w32::kOpenExisting, 0, nullptr);
  }
};

TEST_F(PosixOsTest, ListedPortsAreProbedInTheGivenOrder) {
  posix_set_ports({"/dev/ttyACM0", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyS0"});
  EXPECT_EQ(posix_ports(),
            (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB1", "/dev/ttyS0"}));
  // The probe runs from maxcom() down to 1.
  ASSERT_EQ(maxcom(), 3);
  std::vector<std::string> visited;
  for (int n = maxcom(); n >= 1; --n) visited.push_back(posix_port_path(n));
  EXPECT_EQ(visited, posix_ports());
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(posix_com_number(posix_port_path(n)), n);
  EXPECT_EQ(posix_port_path(0), "");
  EXPECT_EQ(posix_port_path(4), "");
  EXPECT_EQ(posix_com_number("/dev/ttyS1"), 0);
}

TEST_F(PosixOsTest, OnePortIsComOne) {
  posix_set_ports({"/dev/ttyACM0"});
  EXPECT_EQ(maxcom(), 1);
  EXPECT_EQ(posix_port_path(1), "/dev/ttyACM0");
}

TEST_F(PosixOsTest, TooManyPortsKeepTheFirstWithinTheProbedRange) {
  std::vector<std::string> paths;
  for (int i = 0; i < 300; ++i) paths.push_back("/dev/ttyX" + std::to_string(i));
  posix_set_ports(paths);
  EXPECT_EQ(maxcom(), static_cast<int>(kMaxPresentedPorts));
  EXPECT_EQ(posix_port_path(static_cast<int>(kMaxPresentedPorts)), "/dev/ttyX0");
}

struct OpenCase {
  const char* name;
  std::uint32_t error;
};

class OpenFails : public PosixOsTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenFails, WithTheCodeWindowsGives) {
  // COM3 is missing, COM2 exists but is no serial port, COM1 is a folder.
  posix_set_ports({"/nonexistent/ttyACM9", "/dev/null", "/"});
  os().SetLastError(0);
  EXPECT_EQ(open(GetParam().name), invalid_handle());
  EXPECT_EQ(os().GetLastError(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Names, OpenFails,
                         ::testing::Values(OpenCase{"\\\\.\\COM3", 2}, OpenCase{"\\\\.\\COM2", 2},
                                           OpenCase{"COM1", 2}, OpenCase{"\\\\.\\COM4", 2},
                                           OpenCase{"\\\\.\\COM0", 2}, OpenCase{"\\\\.\\COM03", 2},
                                           OpenCase{"\\\\.\\COM1x", 2},
                                           OpenCase{"\\\\.\\COM99999999999", 2},
                                           OpenCase{"\\\\.\\DUVU.VXD", 2},
                                           OpenCase{"/dev/null", 2}));

TEST_F(PosixOsTest, AnOpenThatIsNoPlainOpenIsRefused) {
  posix_set_ports({"/dev/null"});
  EXPECT_EQ(os().CreateFileA("\\\\.\\COM1", w32::kGenericRead, 0, nullptr, 2 /* CREATE_ALWAYS */, 0,
                             nullptr),
            invalid_handle());
  EXPECT_EQ(os().GetLastError(), 87u);
}

TEST(Win32Error, MapsErrnoToTheCodesTheLogShows) {
  const std::pair<int, std::uint32_t> rows[] = {
      {0, 0},       {ENOENT, 2},  {ENODEV, 2},  {ENXIO, 2},        {EACCES, 5},
      {EPERM, 5},   {EBUSY, 5},   {EAGAIN, 5},  {EBADF, 6},        {EIO, 31},
      {ENOTTY, 50}, {EINVAL, 87}, {EINTR, 995}, {ETIMEDOUT, 1460}, {EPIPE, 31}};
  for (auto [e, code] : rows) EXPECT_EQ(win32_error(e), code) << e;
}

TEST_F(PosixOsTest, WhatLinuxLacksFailsWithoutHarm) {
  EXPECT_EQ(os().LoadLibraryA("doziv.dll"), nullptr);
  EXPECT_EQ(os().GetLastError(), 126u);
  EXPECT_EQ(os().MessageBoxA(nullptr, "text", "title", w32::kMbOk), 0);
  std::uint32_t n = 7;
  EXPECT_FALSE(os().DeviceIoControl(nullptr, 0x222000, nullptr, 0, nullptr, 0, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(os().ReadFile(reinterpret_cast<Handle>(0x104), nullptr, 1, &n));
  EXPECT_EQ(os().GetLastError(), 6u);
  Handle key = nullptr;
  EXPECT_FALSE(os().RegOpenLocalMachineKeyRead("SOFTWARE\\Wine\\Ports", &key));
  char dir[260];
  EXPECT_EQ(os().GetWindowsDirectoryA(dir, sizeof dir), 0u);
  EXPECT_EQ(os().FindWindowA("TApplication", "title"), nullptr);
}

TEST_F(PosixOsTest, WindowsSeparatorsInFilePathsBecomeSlashes) {
  EXPECT_EQ(os().GetFileAttributesA("\\dev"), 0x10u);
  EXPECT_EQ(os().GetFileAttributesA("\\nonexistent\\msr.log"), w32::kInvalidFileAttributes);
  EXPECT_EQ(os().GetLastError(), 2u);
}

SerialPortInfo port(const char* path, PortTransport t) {
  SerialPortInfo p;
  p.path = path;
  p.transport = t;
  return p;
}

TEST(SerialPortOrder, UsbFirstThenByPathWithNumbersByValue) {
  using T = PortTransport;
  std::vector<SerialPortInfo> ports = {
      port("/dev/ttyS10", T::native),     port("/dev/ttyACM10", T::usb),
      port("/dev/rfcomm0", T::bluetooth), port("/dev/ttyS2", T::native),
      port("/dev/ttyUSB0", T::usb),       port("/dev/ttyACM2", T::usb),
      port("/dev/ttyACM02", T::usb),      port("/dev/ttyS", T::native)};
  order_serial_ports(ports);
  EXPECT_EQ(port_paths(ports), (std::vector<std::string>{
                                   "/dev/ttyACM02", "/dev/ttyACM2", "/dev/ttyACM10", "/dev/ttyUSB0",
                                   "/dev/rfcomm0", "/dev/ttyS", "/dev/ttyS2", "/dev/ttyS10"}));
}

}  // namespace
}  // namespace msr
