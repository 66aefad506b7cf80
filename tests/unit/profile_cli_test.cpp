// msrprofile's commands as a user runs them: exit codes, what is printed, and which files
// exist afterwards, in a private folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "msrprofile/cli.h"
#include "msrprofile/profile/codec.h"
#include "msrprofile/profile/files.h"
#include "msrprofile/reader/results.h"

namespace msr::profile {
namespace {

namespace fs = std::filesystem;

const std::string kEnglish("\x46\x08%;;?\0\0\0\0\0\0\0\0\0", 15);

class ProfileCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "msrprofile-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string path(const std::string& name) const { return (dir / name).string(); }
  void put(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string get(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  int run(std::vector<std::string> args) {
    args.insert(args.begin(), "msrprofile");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    out.str(""), err.str("");
    return profile::run(static_cast<int>(argv.size()), argv.data(), out, err);
  }

  fs::path dir;
  std::ostringstream out, err;
};

TEST_F(ProfileCli, ASettingsFileHasExactlyFifteenBytes) {
  const std::pair<std::size_t, const char*> rows[] = {
      {0, "has 0 bytes; a settings file has 15"},
      {14, "has 14 bytes; a settings file has 15 (msrsetup would keep"},
      {16, "has 16 bytes; a settings file has 15 (msrsetup would ignore the rest)"},
      {kMaxProfileBytes + 2, "has more than 1048576 bytes"}};
  for (const auto& [size, message] : rows) {
    put("s.ini", std::string(size, '\x46'));
    EXPECT_EQ(run({"show", path("s.ini")}), kExitBadInput) << size;
    EXPECT_EQ(err.str().rfind(path("s.ini") + ": " + message, 0), 0u) << err.str();
    EXPECT_EQ(out.str(), "");
  }
}

TEST_F(ProfileCli, AnOutputThatCantBeWrittenExitsFive) {
  put("p.toml", "send_lrc = true\n");
  EXPECT_EQ(run({"build", path("p.toml"), "-o", path("no/such/folder/msr.ini")}), kExitNotWritten);
  EXPECT_EQ(err.str().rfind(path("no/such/folder/msr.ini") + ": not written: ", 0), 0u);
}

TEST_F(ProfileCli, ShowAndBuildGoBothWaysAndTheNameTellsAProfile) {
  put("a.ini", kEnglish);
  EXPECT_EQ(run({"show", path("a.ini"), "-o", path("a.TOML")}), kExitOk);
  EXPECT_EQ(get("a.TOML"), show(to_bytes(default_block(DefaultSet::english))));
  EXPECT_EQ(run({"show", path("a.TOML")}), kExitOk);
  EXPECT_EQ(out.str(), get("a.TOML"));
  EXPECT_EQ(run({"build", path("a.TOML"), "-o", path("b.toml.ini")}), kExitOk);
  EXPECT_EQ(get("b.toml.ini"), kEnglish);
}

TEST_F(ProfileCli, DiffExitsZeroForTheSameAndOneForADifference) {
  put("a.ini", kEnglish);
  put("b.toml", "ending_code = 0x0D\nsend_lrc = true\n");
  EXPECT_EQ(run({"diff", path("a.ini"), path("a.ini")}), kExitOk);
  EXPECT_EQ(out.str(), "the same configuration\n");
  EXPECT_EQ(run({"diff", path("a.ini"), path("b.toml")}), kExitDiffers);
  EXPECT_EQ(out.str(), "--- " + path("a.ini") + "\n+++ " + path("b.toml") +
                           "\nending_code: \"?\" -> 0x0D\nsend_lrc: false -> true\n"
                           "2 options differ\n");
  EXPECT_EQ(run({"diff", "--json", path("b.toml"), path("nothing.ini")}), kExitBadInput);
  EXPECT_EQ(out.str(), "");
}

TEST_F(ProfileCli, UsageErrorsExitSixtyFourAndHelpZero) {
  put("p.toml", "");
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate"},
      {"show"},
      {"build", path("p.toml")},
      {"diff", path("p.toml")},
      {"build", path("p.toml"), "-o", path("x.toml")},
      {"show", path("p.toml"), "-o", path("x")},
      {"show", path("p.toml"), "--json", "-o", path("x.toml")}};
  for (const auto& args : wrong) EXPECT_EQ(run(args), kExitUsage) << ::testing::PrintToString(args);
  EXPECT_EQ(files(), std::vector<std::string>{"p.toml"});
  for (const char* command : {"show", "build", "diff"}) {
    EXPECT_EQ(run({command, "--help"}), kExitOk);
    EXPECT_NE(out.str().find(std::string("msrprofile ") + command), std::string::npos) << out.str();
  }
  EXPECT_EQ(run({"--version"}), kExitOk);
  EXPECT_EQ(out.str().rfind("msrprofile ", 0), 0u);
}

TEST(ProfileResources, TheShippedProfilesAreTheDefaultSets) {
  const std::pair<const char*, DefaultSet> sets[] = {{"english.toml", DefaultSet::english},
                                                     {"jis2.toml", DefaultSet::jis2},
                                                     {"non-english.toml", DefaultSet::non_english}};
  for (const auto& [name, set] : sets) {
    std::ifstream in(std::string(MSR_SOURCE_DIR) + "/resources/profiles/" + name, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              show(to_bytes(default_block(set))))
        << name;
  }
}

}  // namespace
}  // namespace msr::profile

namespace msr::profile {
namespace {

TEST(ProfileResults, OneLineOfNineTabSeparatedFieldsInUtc) {
  struct Row {
    RunRecord run;
    std::time_t when;
    std::string computer, line;
  };
  const Row rows[] = {
      {{"verify", "vcom", "COM5", 0, "C:\\p\\jis2.toml", "ab12"},
       1772373909,
       "TILL-7",
       "2026-03-01T14:05:09Z\tTILL-7\tverify\tvcom\tCOM5\tsame\t0\tC:\\p\\jis2.toml\tab12"},
      {{"write", "usb", "-", 0, "a b.toml", "cd"},
       0,
       "T",
       "1970-01-01T00:00:00Z\tT\twrite\tusb\t-\twritten\t0\ta b.toml\tcd"},
      // Nothing a field holds can split the line or its fields.
      {{"write", "", "", 2, "x\ty\nz", ""},
       0,
       "",
       "1970-01-01T00:00:00Z\t-\twrite\t-\t-\tno-reader\t2\tx?y?z\t-"},
      {{"verify", "usb", "-", 1, "p", "-"},
       0,
       "T",
       "1970-01-01T00:00:00Z\tT\tverify\tusb\t-\tdiffers\t1\tp\t-"},
  };
  for (const Row& r : rows) EXPECT_EQ(results_line(r.run, r.when, r.computer), r.line);
}

}  // namespace
}  // namespace msr::profile
