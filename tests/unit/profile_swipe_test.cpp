// The swipe check: test tracks framed as the stand-ins frame them, read back track by
// track; what reaches the output of a card (nothing beyond the PAN's last four); and the
// swipe command's exit codes on a fake COM port that swipes, stays silent or misbehaves.
#include <functional>
#include <sstream>

#include "msrprofile/cli.h"
#include "msrprofile/reader/reader.h"
#include "msrprofile/swipe/swipe.h"
#include "sim/swipe/framing.h"
#include "tests/unit/vcom_devices.h"

namespace msr::profile {
namespace {

using Cfg = std::array<unsigned char, 15>;
// The English default set with the ending CR: lecodes, "%", ";", ";", "?".
const Cfg kEnglish{0x46, 0x08, '%', ';', ';', '?', 0, 0x13, 0, 0, 0, 0, 0, 0, 0};

Cfg with(Cfg c, int byte, unsigned char set, unsigned char clear = 0) {
  c[byte] = static_cast<unsigned char>((c[byte] | set) & ~clear);
  return c;
}

const char* const kTrack1 = "%B4111111111111111^DOE/JOHN^2512101000000000?";
const char* const kTrack2 = ";4111111111111111=25121010000000000?";

std::u32string framed(const Cfg& cfg, const char* t1, const char* t2, const char* t3 = nullptr) {
  const char* const tracks[3] = {t1, t2, t3};
  unsigned char out[512];
  const std::size_t n = msr_frame_swipe(cfg.data(), tracks, out, sizeof out);
  return std::u32string(out, out + n);
}

struct ParseCase {
  const char* what;
  std::u32string text;
  bool valid;
  std::vector<int> tracks;  // numbers found, in order
  const char* failed;       // the check that fails, or ""
  int crs = 1;
};

class Parse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Parse, FindsTheTracksAndTheFailingCheck) {
  const ParseCase& c = GetParam();
  const Swipe s = analyze(c.text, std::nullopt);
  std::vector<int> numbers;
  std::string failed;
  for (const Track& t : s.tracks) {
    numbers.push_back(t.number);
    for (const Check& k : t.checks) {
      if (k.verdict == Verdict::failed) failed += (failed.empty() ? "" : ",") + k.name;
    }
  }
  EXPECT_EQ(s.valid(), c.valid);
  EXPECT_EQ(numbers, c.tracks);
  EXPECT_EQ(failed, c.failed);
  EXPECT_EQ(s.crs, c.crs);
}

std::u32string bad_lrc() {
  std::u32string s = framed(with(kEnglish, 1, 0x10), nullptr, kTrack2);
  s[s.size() - 2] ^= 1;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, Parse,
    ::testing::Values(
        ParseCase{"valid", framed(kEnglish, kTrack1, kTrack2), true, {1, 2}, ""},
        ParseCase{"with LRC", framed(with(kEnglish, 1, 0x10), kTrack1, kTrack2), true, {1, 2}, ""},
        ParseCase{"bad LRC", bad_lrc(), false, {2}, "LRC"},
        ParseCase{
            "an LRC that is itself ?",
            framed(with(kEnglish, 1, 0x10), nullptr, ";4111111111111111=25121010000000000007?"),
            true,
            {2},
            ""},
        ParseCase{"bad Luhn",
                  framed(kEnglish, nullptr, ";4111111111111112=2512101?"),
                  false,
                  {2},
                  "Luhn"},
        ParseCase{"too long for track 2",
                  framed(kEnglish, nullptr, ";4111111111111111=251210100000000000000?"),
                  false,
                  {2},
                  "length"},
        ParseCase{"a letter on track 2",
                  framed(kEnglish, nullptr, ";4111111111111111=2512A01?"),
                  false,
                  {2},
                  "character set"},
        ParseCase{"a bad month",
                  framed(kEnglish, nullptr, ";4111111111111111=2513101?"),
                  false,
                  {2},
                  "expiry"},
        ParseCase{"E markers",
                  framed(kEnglish, "%E?", kTrack2, "+E?"),
                  false,
                  {1, 2, 3},
                  "readable,readable"},
        ParseCase{"TAB to end, additional CR",
                  framed(with(with(kEnglish, 0, 0x08), 1, 0x20), kTrack1, kTrack2),
                  true,
                  {1, 2},
                  "",
                  2},
        ParseCase{"no codes: the tracks run together",
                  framed(with(kEnglish, 1, 0, 0x08), kTrack1, kTrack2),
                  true,
                  {1, 2},
                  ""},
        ParseCase{"JIS2 codes",
                  framed(Cfg{0xC6, 0x18, '%', '?', ';', ';', 2}, kTrack1, kTrack2),
                  true,
                  {1, 2},
                  ""},
        ParseCase{"no CR", framed(with(kEnglish, 8, 0x80), nullptr, kTrack2), true, {2}, "", 0},
        ParseCase{"a lower-case name and a PAN failing Luhn keep their tracks' names",
                  U"%B4111111111111112^doe/john^2512101?;4111111111111112=2512101?\r",
                  false,
                  {1, 2},
                  "character set,Luhn"},
        ParseCase{"a third track after a track 2 is track 3, whatever its PAN",
                  U"%B4111111111111111^DOE/JOHN^2512101?;4111111111111111=2512101?;"
                  U"4111111111111111=2512101?\r",
                  false,
                  {1, 2, 3},
                  "Luhn"},
        ParseCase{
            "E markers alone", U"%E?;E?+E?\r", false, {1, 2, 3}, "readable,readable,readable"},
        ParseCase{"E markers after a track 1",
                  U"%B4111111111111111^DOE/JOHN^2512101?;E?+E?\r",
                  false,
                  {1, 2, 3},
                  "readable,readable"},
        ParseCase{"noise", U"\x01\xFFxyz\r", false, {}, ""}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& ch : n) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return n;
    });

TEST(SwipeLrc, MatchesTheCardFormatsCheckValues) {
  EXPECT_EQ(card_lrc(1, U"7C^SZ"), U'9');
  EXPECT_EQ(card_lrc(2, U"0"), U'4');
}

// A COM port that plays a swipe, or silence, or a failure.
class SwipeCommand : public fake::FakeOsTest {
 public:
  std::shared_ptr<vcomtest::ScriptedPort> port = std::make_shared<vcomtest::ScriptedPort>();
  void sends(const std::u32string& text) {
    vcomtest::Bytes b;
    for (char32_t c : text) b.push_back(static_cast<unsigned char>(c));
    port->read_script.push_back({true, b});
  }

 protected:
  void SetUp() override {
    FakeOsTest::SetUp();
    fos.add_device(vcomtest::com_path(5), port);
  }
  std::string profile(const std::string& toml) {
    fos.write_file("C:\\p.toml", toml);
    return fos.host_path("C:\\p.toml");
  }
  int run(std::vector<std::string> args) {
    args.insert(args.begin(), {"msrprofile", "swipe", "--vcom=5", "--timeout", "1"});
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    out.str(""), err.str("");
    return profile::run(static_cast<int>(argv.size()), argv.data(), out, err, Host{});
  }
  std::ostringstream out, err;
};

// Beyond its last four, the PAN (4012888888881881), the name, the expiry and the
// discretionary data never reach standard output or standard error, as text or JSON.
TEST_F(SwipeCommand, ShowsNothingOfTheCardButThePansLastFour) {
  const std::string pan = "4012888888881881";
  const std::string t1 = "%B" + pan + "^DOE/JOHN^2512101987654321?";
  const std::string t2 = ";" + pan + "=25121019876543210?";
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, {"--json"}, {"--show-bin"}, {"--json", "--show-bin"}}) {
    sends(framed(with(kEnglish, 1, 0x10), t1.c_str(), t2.c_str()));
    ASSERT_EQ(run(extra), kExitOk) << err.str();
    const std::string all = out.str() + err.str();
    EXPECT_NE(all.find("1881"), std::string::npos) << all;
    for (std::size_t i = 0; i + 5 <= pan.size(); ++i) {
      EXPECT_EQ(all.find(pan.substr(i, 5)), std::string::npos) << pan.substr(i, 5) << "\n" << all;
    }
    for (const char* secret : {"DOE", "JOHN", "2512", "987654"}) {
      EXPECT_EQ(all.find(secret), std::string::npos) << secret << "\n" << all;
    }
  }
}

struct ExitCase {
  const char* what;
  std::function<void(SwipeCommand&)> setup;
  std::vector<std::string> args;
  int exit;
  const char* says;  // on standard output or standard error
};

class SwipeExit : public SwipeCommand, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(SwipeExit, SaysWhatHappenedWithTheDocumentedCode) {
  const ExitCase& c = GetParam();
  c.setup(*this);
  std::vector<std::string> args = c.args;
  for (std::string& a : args) {
    if (a == "PROFILE") a = profile("send_lrc = true\ninterface = \"virtual COM port\"\n");
    if (a == "BAD") a = profile("send_lrc = 3\n");
  }
  EXPECT_EQ(run(args), c.exit) << err.str();
  EXPECT_NE((out.str() + err.str()).find(c.says), std::string::npos) << out.str() << err.str();
  EXPECT_EQ(fos.open_handles(), 0);
}

const auto kSwipe = [](SwipeCommand& s) { s.sends(framed(kEnglish, kTrack1, kTrack2)); };
const auto kNothing = [](SwipeCommand&) {};

INSTANTIATE_TEST_SUITE_P(
    Runs, SwipeExit,
    ::testing::Values(
        ExitCase{"valid", kSwipe, {}, 0, "the swipe is valid track data"},
        ExitCase{"differs from the profile", kSwipe, {"--profile", "PROFILE"}, 1, "send_lrc"},
        ExitCase{
            "matches the profile",
            [](SwipeCommand& s) { s.sends(framed(with(kEnglish, 1, 0x10), kTrack1, kTrack2)); },
            {"--profile", "PROFILE"},
            0,
            "shows what"},
        ExitCase{"nothing swiped", kNothing, {}, 2, "nothing was swiped within 1 s"},
        ExitCase{"unplugged mid-swipe",
                 [](SwipeCommand& s) {
                   s.sends(U"%B4111");
                   s.port->read_script.push_back({false});
                 },
                 {},
                 2,
                 "stopped answering in the middle of a swipe"},
        ExitCase{"10 kB of noise",
                 [](SwipeCommand& s) {
                   for (int i = 0; i < 40; ++i) s.sends(std::u32string(256, U'\x5A'));
                 },
                 {},
                 1,
                 "that is no swipe"},
        ExitCase{"binary bytes",
                 [](SwipeCommand& s) { s.sends(std::u32string(U"\x00\x01\x80\xFF\x7F\x1B\r", 7)); },
                 {"--json"},
                 1,
                 "\"outcome\": \"invalid\""},
        ExitCase{"a bad profile", kSwipe, {"--profile", "BAD"}, 3, "send_lrc"},
        ExitCase{
            "a second reader option", kNothing, {"--port", "COM3"}, 64, "name the reader once"}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& ch : n) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return n;
    });

}  // namespace
}  // namespace msr::profile
