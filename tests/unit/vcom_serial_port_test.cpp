// COM port access: the port count from the registry, opening a port with something
// attached, and the time-out sequence.
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "common/log.h"
#include "tests/unit/vcom_devices.h"
#include "transport/vcom/serial_port.h"

namespace msr {
namespace {

using namespace vcomtest;

using RegValues = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct MaxcomCase {
  const char* what;
  std::optional<RegValues> key;  // nullopt: the key is missing
  int expected;
  std::string log;  // the log maxcom writes, word for word
};

class Maxcom : public fake::FakeOsTest, public ::testing::WithParamInterface<MaxcomCase> {};

TEST_P(Maxcom, ReadsTheHighestPortNumber) {
  const MaxcomCase& c = GetParam();
  fos.serialcomm = c.key;
  enable_log();
  log_open();
  std::size_t header = log_text().size();
  EXPECT_EQ(maxcom(), c.expected);
  EXPECT_EQ(log_text().substr(header), c.log);
  EXPECT_EQ(fos.open_handles(), 0);  // the key is closed again
}

const std::string kLongDigits = "COM7" + std::string(296, 'x');
const std::string kManyDigits = "COM" + std::string(297, '9');

INSTANTIATE_TEST_SUITE_P(
    RegistryLists, Maxcom,
    ::testing::Values(
        MaxcomCase{"empty", RegValues{}, 0, " open serialcomm=1 \n"},
        MaxcomCase{"missing", std::nullopt, 17, " open serialcomm=0 \n"},
        MaxcomCase{"3and12",
                   RegValues{{"\\Device\\Serial0", "COM3"}, {"\\Device\\Serial1", "COM12"}}, 12,
                   " open serialcomm=1 \n i=0, ss=COM3 \n i=1, ss=COM12 \n"},
        MaxcomCase{"12and3", RegValues{{"a", "COM12"}, {"b", "COM3"}}, 12,
                   " open serialcomm=1 \n i=0, ss=COM12 \n i=1, ss=COM3 \n"},
        MaxcomCase{"cnca0", RegValues{{"x", "CNCA0"}}, 0, " open serialcomm=1 \n i=0, ss=CNCA0 \n"},
        MaxcomCase{"abc5", RegValues{{"x", "ABC5"}}, 5, " open serialcomm=1 \n i=0, ss=ABC5 \n"},
        MaxcomCase{"blankandsign", RegValues{{"x", "COM +8"}, {"y", "COM-30"}}, 8,
                   " open serialcomm=1 \n i=0, ss=COM +8 \n i=1, ss=COM-30 \n"},
        MaxcomCase{"threechars", RegValues{{"x", "COM"}, {"y", "C"}, {"z", ""}}, 0,
                   " open serialcomm=1 \n i=0, ss=COM \n i=1, ss=C \n i=2, ss= \n"},
        // Cut at the buffer: 127 characters reach the log.
        MaxcomCase{"long", RegValues{{"x", kLongDigits}}, 7,
                   " open serialcomm=1 \n i=0, ss=" + kLongDigits.substr(0, 127) + " \n"},
        MaxcomCase{"hugenumber", RegValues{{"x", kManyDigits}}, INT_MAX,
                   " open serialcomm=1 \n i=0, ss=" + kManyDigits.substr(0, 127) + " \n"},
        // Data that isn't a string names no port, and the next value still counts.
        MaxcomCase{"notastring", RegValues{{"x", std::nullopt}, {"y", "COM4"}}, 4,
                   " open serialcomm=1 \n i=0, ss= \n i=1, ss=COM4 \n"},
        // A zero byte ends the name, as it ends the text in the log.
        MaxcomCase{"embeddedzero", RegValues{{"x", std::string("CO\0M9", 5)}}, 0,
                   " open serialcomm=1 \n i=0, ss=CO \n"}),
    [](const auto& info) { return std::string(info.param.what); });

struct OpenCase {
  const char* what;
  bool present = true;
  std::uint32_t open_error = 0;
  bool serial = true;
  bool modem_status_ok = true;
  std::uint32_t modem_status = 0;
  bool usable;
  std::string tail;  // log after the hCom line
};

class Opencom : public fake::FakeOsTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(Opencom, KeepsOnlyAPortWithCtsOrDsr) {
  const OpenCase& c = GetParam();
  std::shared_ptr<fake::Device> d;
  if (c.present) {
    d = fos.add_device(com_path(5));
    d->open_error = c.open_error;
    d->serial = c.serial;
    d->modem_status_ok = c.modem_status_ok;
    d->modem_status = c.modem_status;
    d->baud = 19200;
  }
  enable_log();
  log_open();
  std::size_t header = log_text().size();
  fos.last_error = 1234;  // stale: opencom clears it first
  Handle h = opencom("5");
  EXPECT_EQ(h != invalid_handle(), c.usable);
  EXPECT_EQ(fos.open_handles(), c.usable ? 1 : 0);
  std::uint32_t lerr = c.present ? c.open_error : 2;  // ERROR_FILE_NOT_FOUND when absent
  // A device that opens gets the fake's first handle, 0x100, even if it is closed again.
  Handle shown =
      c.present && c.open_error == 0 ? reinterpret_cast<Handle>(0x100) : invalid_handle();
  std::string first = " hCom=" + ptr_text(shown) +
                      ", port=\\\\.\\COM5, lerr=" + std::to_string(lerr) + ", tm=1796613021 \n";
  EXPECT_EQ(log_text().substr(header), first + c.tail);
  if (d) {
    EXPECT_EQ(d->closes, d->opens - (c.usable ? 1 : 0));
  }
  if (c.usable) fos.CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, Opencom,
    ::testing::Values(OpenCase{"cts", true, 0, true, true, 0x10, true,
                               " getcs=1, dcb.baud=19200 \n getms=1, ms=10 \n"},
                      OpenCase{"dsr", true, 0, true, true, 0x20, true,
                               " getcs=1, dcb.baud=19200 \n getms=1, ms=20 \n"},
                      OpenCase{"both", true, 0, true, true, 0xF0, true,
                               " getcs=1, dcb.baud=19200 \n getms=1, ms=f0 \n"},
                      OpenCase{"neither", true, 0, true, true, 0x00, false,
                               " getcs=1, dcb.baud=19200 \n getms=1, ms=0 \n"},
                      OpenCase{"ringandrlsdonly", true, 0, true, true, 0xC0, false,
                               " getcs=1, dcb.baud=19200 \n getms=1, ms=c0 \n"},
                      OpenCase{"statusfails", true, 0, true, false, 0x30, false,
                               " getcs=1, dcb.baud=19200 \n getms=0, ms=0 \n"},
                      OpenCase{"notserial", true, 0, false, true, 0x30, false,
                               " getcs=0, dcb.baud=0 \n getms=0, ms=0 \n"},
                      OpenCase{"missing", false, 0, true, true, 0x30, false, ""},
                      OpenCase{"denied", true, 5, true, true, 0x30, false, ""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(Opencom, AsksForAnExclusiveSynchronousReadWriteOpen) {
  auto d = fos.add_device(com_path(12));
  Handle h = opencom("12");
  ASSERT_NE(h, invalid_handle());
  ASSERT_EQ(d->open_requests.size(), 1u);
  const auto& r = d->open_requests[0];
  EXPECT_EQ(r.access, w32::kGenericRead | w32::kGenericWrite);
  EXPECT_EQ(r.share, 0u);
  EXPECT_EQ(r.disposition, w32::kOpenExisting);
  EXPECT_EQ(r.flags, 0u);
  EXPECT_FALSE(r.has_security);
  fos.CloseHandle(h);
}

TEST_F(Opencom, APortHeldByAnotherProgramIsNotOpened) {
  fos.add_device(com_path(3));
  Handle other = fos.CreateFileA(com_path(3).c_str(), w32::kGenericRead, w32::kFileShareRead,
                                 nullptr, w32::kOpenExisting, 0, nullptr);
  ASSERT_NE(other, invalid_handle());
  EXPECT_EQ(opencom("3"), invalid_handle());
  fos.CloseHandle(other);
}

TEST_F(Opencom, LeavesTheLineSettingsAlone) {
  auto d = fos.add_device(com_path(4));
  d->baud = 1200;
  Handle h = opencom("4");
  fos.CloseHandle(h);
  EXPECT_EQ(d->baud, 1200u);
  EXPECT_TRUE(d->timeouts_set.empty());
}

class Settimeout : public fake::FakeOsTest {};

TEST_F(Settimeout, EmptiesThePortUnderTheFlushSetThenLeavesTheProtocolSet) {
  auto d = fos.add_device(com_path(6));
  d->timeouts = {50, 2, 300, 3, 400};
  enable_log();
  log_open();
  std::size_t header = log_text().size();
  Handle h = fos.CreateFileA(com_path(6).c_str(), 0, 0, nullptr, 3, 0, nullptr);
  EXPECT_EQ(settimeout(h), 1);
  ASSERT_EQ(d->timeouts_set.size(), 2u);
  const CommTimeouts& flush = d->timeouts_set[0];
  const CommTimeouts& proto = d->timeouts_set[1];
  EXPECT_EQ(std::vector<std::uint32_t>({flush.read_interval, flush.read_total_multiplier,
                                        flush.read_total_constant, flush.write_total_multiplier,
                                        flush.write_total_constant}),
            std::vector<std::uint32_t>({1, 5, 1, 0, 1000}));
  EXPECT_EQ(std::vector<std::uint32_t>({proto.read_interval, proto.read_total_multiplier,
                                        proto.read_total_constant, proto.write_total_multiplier,
                                        proto.write_total_constant}),
            std::vector<std::uint32_t>({20, 1, 200, 1, 200}));
  EXPECT_EQ(d->clear_errors, 1);
  EXPECT_EQ(d->purge_flags, std::vector<std::uint32_t>({0x0F}));
  EXPECT_EQ(d->zero_reads, 2);
  // Read-back values in the order interval, constant, multiplier for reads, then writes.
  EXPECT_EQ(log_text().substr(header), " in settimeout, hCom=" + ptr_text(h) +
                                           ", tm=1796613021 \n"
                                           " GetCommTimeouts()=1,  50,300,2,400,3 \n"
                                           " SetCommTimeouts()=1,0 \n"
                                           " PurgeComm()=1 \n"
                                           " SetCommTimeouts(1)=1,0 \n"
                                           " GetCommTimeouts()=1,  20,200,1,200,1, lerr=0 \n"
                                           " out settimeout at 1796613021 \n");
  fos.CloseHandle(h);
}

TEST_F(Settimeout, InvalidHandleLogsOneLineAndTouchesNothing) {
  enable_log();
  log_open();
  std::size_t header = log_text().size();
  std::size_t calls = fos.calls.size();
  EXPECT_EQ(settimeout(invalid_handle()), 0);
  EXPECT_EQ(fos.calls.size(), calls);
  EXPECT_EQ(log_text().substr(header),
            " in settimeout, hCom=" + ptr_text(invalid_handle()) + ", tm=1796613021 \n");
}

TEST_F(Settimeout, FailingStepsAreLoggedAndTheSequenceRunsOn) {
  auto d = fos.add_device(com_path(6));
  d->serial = false;  // every comm call fails on it
  enable_log();
  log_open();
  std::size_t header = log_text().size();
  Handle h = fos.CreateFileA(com_path(6).c_str(), 0, 0, nullptr, 3, 0, nullptr);
  EXPECT_EQ(settimeout(h), 0);
  EXPECT_EQ(d->zero_reads, 2);
  EXPECT_EQ(log_text().substr(header), " in settimeout, hCom=" + ptr_text(h) +
                                           ", tm=1796613021 \n"
                                           " GetCommTimeouts()=0,  0,0,0,0,0 \n"
                                           " SetCommTimeouts()=0,0 \n"
                                           " PurgeComm()=0 \n"
                                           " SetCommTimeouts(1)=0,0 \n"
                                           " GetCommTimeouts()=0,  0,0,0,0,0, lerr=0 \n"
                                           " out settimeout at 1796613021 \n");
  fos.CloseHandle(h);
}

}  // namespace
}  // namespace msr
