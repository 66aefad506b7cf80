// The diagnostic log: the opening rule, the header, appending.
#include <sys/stat.h>

#include "common/log.h"
#include "tests/fakes/fake_os.h"

namespace msr {
namespace {

class LogTest : public fake::FakeOsTest {};

TEST_F(LogTest, NoFileMeansNoLogAndNothingCreated) {
  log_open();
  EXPECT_FALSE(log_on());
  log_write(" anything \n");
  log_close();
  EXPECT_FALSE(fos.read_file("C:\\msr.log").has_value());
}

struct HeaderCase {
  SystemTime t;
  const char* expected;
};
class Header : public fake::FakeOsTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(Header, IsWrittenWordForWord) {
  enable_log();
  fos.local_time = GetParam().t;
  log_open();
  EXPECT_EQ(log_text(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, Header,
    ::testing::Values(
        HeaderCase{{2026, 12, 1, 7, 3, 10, 21, 57},
                   "\n -------------------------------------- \n"
                   " * 1.02.3-92.1.10 * 2026-12-7,   3:10:21.05  \n"
                   " Mon Dec 07 03:10:21 2026\n"},
        HeaderCase{{2027, 1, 0, 31, 23, 59, 59, 999},
                   "\n -------------------------------------- \n"
                   " * 1.02.3-92.1.10 * 2027-1-31,  23:59:59.99  \n"
                   " Sun Jan 31 23:59:59 2027\n"},
        HeaderCase{{2026, 6, 6, 13, 0, 0, 0, 9},
                   "\n -------------------------------------- \n"
                   " * 1.02.3-92.1.10 * 2026-6-13,   0:00:00.00  \n"
                   " Sat Jun 13 00:00:00 2026\n"}));

TEST_F(LogTest, EachRunAppendsAfterTheLast) {
  enable_log();
  log_open();
  log_write(" first run \n");
  log_close();
  log_open();
  log_write(" second run \n");
  std::string text = log_text();
  auto first = text.find(" first run \n");
  auto second_header = text.find("\n ------", first);
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second_header, std::string::npos);
  EXPECT_NE(text.find(" second run \n", second_header), std::string::npos);
}

TEST_F(LogTest, ReadOnlyFileIsNeitherWrittenNorChanged) {
  fos.write_file("C:\\msr.log", "old");
  fos.read_only_files.push_back("\\msr.log");
  log_open();
  EXPECT_FALSE(log_on());
  EXPECT_EQ(fos.read_file("C:\\msr.log"), "old");
}

TEST_F(LogTest, FolderNamedLikeTheLogTurnsLoggingOff) {
  ::mkdir(fos.host_path("C:\\msr.log").c_str(), 0755);
  log_open();
  EXPECT_FALSE(log_on());
}


}  // namespace
}  // namespace msr
