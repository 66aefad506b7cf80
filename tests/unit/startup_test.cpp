// Start-up: single instance, settings path, switches and their log lines, exit codes.
#include <string>

#include "app/modes.h"
#include "app/startup.h"
#include "common/flags.h"
#include "common/log.h"
#include "tests/fakes/fake_os.h"

namespace msr {
namespace {

using fake::FakeOsTest;

class StartupTest : public FakeOsTest {};

struct SwitchCase {
  const char* cp;
  int vcom, usb, jis, cport, cif, nofail, vclass;
};

class SwitchRules : public FakeOsTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchRules, SetFlags) {
  const SwitchCase& c = GetParam();
  g_shell.vcom = g_shell.usb = g_shell.jis = g_shell.cport = 7;  // step 5 clears them
  read_environment_and_switches(c.cp);
  EXPECT_EQ(g_shell.vcom, c.vcom);
  EXPECT_EQ(g_shell.usb, c.usb);
  EXPECT_EQ(g_shell.jis, c.jis);
  EXPECT_EQ(g_shell.cport, c.cport);
  EXPECT_EQ(g_shell.cif, c.cif);
  EXPECT_EQ(g_shell.nofail, c.nofail);
  EXPECT_EQ(g_shell.vclass, c.vclass);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SwitchRules,
    ::testing::Values(
        //         cp                         vcom usb jis cport cif nofail vclass
        SwitchCase{"", 0, 0, 0, 0, 0, 0, 0},
        SwitchCase{"-v 7", 1, 0, 0, 7, 0, 0, 0},        // atol skips the blank
        SwitchCase{"-v -s", 1, 0, 0, 0, 0, 0, 0},       // no digits: all ports
        SwitchCase{"-vx", 1, 0, 0, 0, 0, 0, 0},
        SwitchCase{"-v2 -v5", 1, 0, 0, 5, 0, 0, 0},     // last number stands
        SwitchCase{"-v5 -v", 1, 0, 0, 0, 0, 0, 0},      // ... even when it is none
        SwitchCase{"-v-3", 1, 0, 0, -3, 0, 0, 0},       // sign taken as atol takes it
        SwitchCase{"-v99999999999", 1, 0, 0, 2147483647, 0, 0, 0},  // saturates
        SwitchCase{"-S -U -J -V3", 0, 0, 0, 0, 0, 0, 0},  // case-sensitive
        SwitchCase{"-u", 0, 1, 0, 0, 0, 0, 0},
        SwitchCase{"-j -u", 0, 1, 1, 0, 0, 0, 0},
        SwitchCase{"-c-d-t", 0, 0, 0, 0, 1, 1, 1},      // glued, any order
        SwitchCase{"C:\\my-dir\\x-tool", 0, 0, 0, 0, 0, 1, 1},  // inside words and paths
        SwitchCase{"a-ub-jc-v12x", 1, 1, 1, 12, 0, 0, 0},
        SwitchCase{"-", 0, 0, 0, 0, 0, 0, 0},           // a dash at the very end
        SwitchCase{"\xff-\xa0u\x80-j", 0, 0, 1, 0, 0, 0, 0}));  // bytes above 7Fh

TEST_F(StartupTest, EveryMatchLogsItsLineInScanOrder) {
  enable_log();
  fos.windows_dir = "C:\\windows";
  log_open();
  read_environment_and_switches("-v2 -u -v5 -j");
  std::string log = log_text();
  auto body = log.substr(log.find(" curdir="));
  EXPECT_EQ(body,
            " curdir=C:\\work, inifn=C:\\windows\\tvrnmsr.ini, len=10, cp=-v2 -u -v5 -j \n"
            " usb vcom version. (102.7.23.2) \n"
            " usb vcom version. (102.7.23.2) \n"
            " usb version. (92.9.20,101.8.6) \n"
            " usb jis version. (95.11.9.4) \n"
            " vcom=1, usb=1, jis=1 \n");
}

struct WindirCase {
  const char* name;
  std::string windir;
  bool fails;
  std::string inifn;
  long len;
};

class WindowsDirectory : public FakeOsTest, public ::testing::WithParamInterface<WindirCase> {};

TEST_P(WindowsDirectory, FillsInifnWithinTheBuffer) {
  const WindirCase& c = GetParam();
  fos.windows_dir = c.windir;
  fos.windows_dir_fails = c.fails;
  enable_log();
  log_open();
  read_environment_and_switches("");
  EXPECT_EQ(g_shell.inifn, c.inifn);
  EXPECT_NE(log_text().find("inifn=" + c.inifn + ", len=" + std::to_string(c.len) + ", cp= \n"),
            std::string::npos);
}

const std::string k259 = "C:\\" + std::string(256, 'w');
const std::string k260 = "C:\\" + std::string(257, 'w');
INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsDirectory,
    ::testing::Values(WindirCase{"usual", "C:\\windows", false, "C:\\windows\\tvrnmsr.ini", 10},
                      WindirCase{"fails", "C:\\windows", true, "\\tvrnmsr.ini", 0},
                      WindirCase{"259 fits", k259, false, k259 + "\\tvrnmsr.ini", 259},
                      WindirCase{"260 needs more", k260, false, "\\tvrnmsr.ini", 261}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return n;
    });

TEST_F(StartupTest, CurrentDirectoryThatCannotBeReportedIsEmpty) {
  fos.current_dir_fails = true;
  read_environment_and_switches("");
  EXPECT_EQ(g_shell.curdir, "");
}

TEST_F(StartupTest, LongCurrentDirectoryIsReportedWhole) {
  fos.current_dir = "C:\\" + std::string(400, 'd');
  read_environment_and_switches("");
  EXPECT_EQ(g_shell.curdir, fos.current_dir);
}

struct TailCase {
  const char* full;
  const char* tail;
};
class CommandTail : public ::testing::TestWithParam<TailCase> {};
TEST_P(CommandTail, DropsTheProgramName) {
  EXPECT_EQ(command_tail(GetParam().full), GetParam().tail);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, CommandTail,
    ::testing::Values(TailCase{"msrsetup.exe -u -s", "-u -s"},
                      TailCase{"\"C:\\Program Files\\x\\msrsetup.exe\"  \t-v5", "-v5"},
                      TailCase{"  \tmsrsetup", ""}, TailCase{"\"unterminated -s", ""},
                      TailCase{"\"a b\"c -d", "-d"}, TailCase{"", ""}));

struct ExitCase {
  const char* cp;
  int code;
};
class ExitCodes : public FakeOsTest, public ::testing::WithParamInterface<ExitCase> {};
TEST_P(ExitCodes, PositionOfTheFirstSilentSwitch) {
  EXPECT_EQ(msr_main(GetParam().cp), GetParam().code);
}
// No reader here: -d makes that a success, the position of -s.
INSTANTIATE_TEST_SUITE_P(Cases, ExitCodes,
                         ::testing::Values(ExitCase{"-d -s", 3}, ExitCase{"-u -s -d", 3},
                                           ExitCase{"-v3 -s -d", 4}, ExitCase{"-j -u -s -d", 6},
                                           ExitCase{"a-sb -d", 1}, ExitCase{"x -s -s -d", 2},
                                           ExitCase{"-S", 0}, ExitCase{"", 0},
                                           ExitCase{"-s", kExitNoReader},
                                           ExitCase{"-u -s", kExitNoReader},
                                           ExitCase{"-v3 -s", kExitNoReader}));

TEST_F(StartupTest, SecondInstanceOnlyBringsTheFirstToTheFront) {
  enable_log();
  fos.top_windows["TApplication|ZOV ORU VAZ Izove Duro"] = reinterpret_cast<Handle>(0x1234);
  EXPECT_EQ(msr_main("-u"), 0);
  std::vector<std::string> expected = {"FindWindowA(TApplication,ZOV ORU VAZ Izove Duro)",
                                       "SetForegroundWindow", "UpdateWindow"};
  EXPECT_EQ(fos.calls, expected);  // no log, no settings file, no transport
  EXPECT_EQ(log_text(), "");
  // Silent, it writes nothing either, but says so.
  EXPECT_EQ(msr_main("-u -s"), kExitWindowOpen);
  EXPECT_NE(log_text().find(" another instance has its window open: nothing written, exit=202 "),
            std::string::npos);
}

TEST_F(StartupTest, LongCommandLineIsHandled) {
  std::string cp(10000, 'x');
  cp += "-v42";
  cp.insert(5000, "-s");
  cp += " -d";
  EXPECT_EQ(msr_main(cp.c_str()), 5000);
  EXPECT_EQ(g_shell.cport, 42);
}

}  // namespace
}  // namespace msr
