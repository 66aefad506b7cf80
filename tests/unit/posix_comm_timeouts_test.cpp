// Serial reads under COMMTIMEOUTS against a real pseudo-terminal: which bytes a read
// returns, and that it waits no less than the time-outs say. Late bytes that would fill
// the read show when it waited too long; the upper bounds are loose.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/comm_timeouts.h"

namespace msr {
namespace {

constexpr std::uint32_t kMax = 0xFFFFFFFFu;

struct Send {
  int at_ms;  // after the read starts; 0: already waiting when it starts
  std::string bytes;
};

struct ReadCase {
  const char* what;
  CommTimeouts timeouts;  // read interval, multiplier, constant
  std::uint32_t count;
  std::vector<Send> sends;
  std::string expected;
  int min_ms, max_ms;
};

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    ::grantpt(master_);
    ::unlockpt(master_);
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(slave_, 0);
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
  }
  ~PtyPair() {
    ::close(slave_);
    ::close(master_);
  }
  void send(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Bytes written to the master reach the slave a moment later.
  void wait_readable() {
    pollfd p{slave_, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
  }
  // The source the read engine waits on: poll, then a non-blocking read.
  ReadSome source() {
    int fd = slave_;
    return [fd](unsigned char* b, std::size_t n, long wait_ms) -> long {
      pollfd p{fd, POLLIN, 0};
      int r = ::poll(&p, 1, static_cast<int>(wait_ms));
      if (r <= 0) return r;
      ssize_t got = ::read(fd, b, n);
      return got < 0 && errno == EAGAIN ? 0 : static_cast<long>(got);
    };
  }

 private:
  int master_ = -1, slave_ = -1;
};

class CommRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(CommRead, ReturnsWhatTheTimeoutsLetIn) {
  const ReadCase& c = GetParam();
  PtyPair pty;
  std::vector<Send> later;
  for (const Send& s : c.sends) {
    if (s.at_ms == 0) {
      pty.send(s.bytes);
      pty.wait_readable();
    } else {
      later.push_back(s);
    }
  }
  auto start = std::chrono::steady_clock::now();
  std::thread writer([&] {
    for (const Send& s : later) {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(s.at_ms));
      pty.send(s.bytes);
    }
  });
  unsigned char buffer[64] = {};
  std::uint32_t got = 99;
  bool ok = comm_read(c.timeouts, buffer, c.count, &got, pty.source());
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();
  writer.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), c.expected);
  EXPECT_GE(elapsed, c.min_ms);
  EXPECT_LE(elapsed, c.max_ms);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CommRead,
    ::testing::Values(
        ReadCase{"TotalEndsASilentRead", {0, 10, 100}, 8, {}, "", 175, 1500},
        ReadCase{"AllBytesEndTheReadAtOnce", {20, 1, 200}, 4, {{0, "abcd"}}, "abcd", 0, 150},
        ReadCase{"PauseEndsTheRead", {300, 0, 0}, 4, {{0, "ab"}, {1500, "cd"}}, "ab", 295, 1300},
        ReadCase{"EachByteRestartsThePause",
                 {300, 0, 0},
                 4,
                 {{0, "a"}, {100, "b"}, {200, "c"}, {1500, "d"}},
                 "abc",
                 495,
                 1300},
        ReadCase{"NoPauseBeforeTheFirstByte", {100, 0, 0}, 2, {{400, "ab"}}, "ab", 395, 1300},
        ReadCase{"TotalCutsAStream",
                 {0, 0, 300},
                 8,
                 {{0, "ab"}, {150, "cd"}, {1200, "efgh"}},
                 "abcd",
                 295,
                 1000},
        ReadCase{"NoTimeoutsWaitForEveryByte",
                 {0, 0, 0},
                 4,
                 {{0, "ab"}, {300, "cd"}},
                 "abcd",
                 295,
                 3000},
        ReadCase{"MaxIntervalAloneTakesWhatIsThere",
                 {kMax, 0, 0},
                 4,
                 {{0, "ab"}, {300, "cd"}},
                 "ab",
                 0,
                 250},
        ReadCase{"MaxIntervalAndMultiplierWaitForTheFirstBytes",
                 {kMax, kMax, 2000},
                 4,
                 {{200, "ab"}, {1500, "cd"}},
                 "ab",
                 195,
                 1300},
        ReadCase{"MaxIntervalAndMultiplierGiveUpAfterTheConstant",
                 {kMax, kMax, 200},
                 8,
                 {},
                 "",
                 195,
                 1500},
        ReadCase{"NothingAskedReturnsAtOnce", {0, 0, 0}, 0, {{0, "ab"}}, "", 0, 250}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(CommWriteLimit, IsMultiplierTimesCountPlusConstantWithoutOverflow) {
  EXPECT_EQ(comm_write_limit_ms({0, 0, 0, 1, 200}, 12), 212u);
  EXPECT_EQ(comm_write_limit_ms({0, 0, 0, 0, 0}, 12), 0u);  // no limit
  EXPECT_EQ(comm_write_limit_ms({0, 0, 0, kMax, kMax}, kMax), std::uint64_t{kMax} * kMax + kMax);
}

}  // namespace
}  // namespace msr
