// The history folder: where it is, what an entry's name says, and that it never grows past
// its limit or takes another file with it.
#include "settings/history.h"

#include <string>
#include <vector>

#include "tests/fakes/fake_os.h"

namespace msr {
namespace {

class History : public fake::FakeOsTest {};

struct FolderCase {
  const char* what;
  const char* variable;  // MSRPROFILE_HISTORY, nullptr: not set
  const char* appdata;   // the common application data folder, "": none
  const char* folder;    // "": none, and why names the variable
};

TEST_F(History, FolderComesFromTheVariableOrTheSystem) {
  const FolderCase rows[] = {
      {"the variable", "D:\\fleet\\hist", "C:\\ProgramData", "D:\\fleet\\hist"},
      {"Vista and later", nullptr, "C:\\ProgramData", "C:\\ProgramData/msrsetup/history"},
      {"XP", nullptr, "C:\\Documents and Settings\\All Users\\Application Data",
       "C:\\Documents and Settings\\All Users\\Application Data/msrsetup/history"},
      {"none", nullptr, "", ""},
  };
  for (const FolderCase& row : rows) {
    SCOPED_TRACE(row.what);
    fos.environment.clear();
    if (row.variable != nullptr) fos.environment[kHistoryVariable] = row.variable;
    fos.common_appdata = row.appdata;
    std::string why;
    EXPECT_EQ(history_folder(&why), row.folder);
    EXPECT_EQ(why.find(kHistoryVariable) != std::string::npos, *row.folder == '\0');
  }
}

HistoryRecord vcom_record() {
  HistoryRecord r;
  r.transport = "vcom";
  r.port = "COM5";
  r.bytes = Bytes{0xC6, 0x08, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x13, 0x01};
  r.read = 0x1FF;
  r.by = "msrprofile write fleet.toml";
  return r;
}

TEST_F(History, KeepsTheNewestHundredAndNothingElseGoes) {
  const std::string folder = "C:\\hist";
  fos.write_file(folder + "\\notes.txt", "mine");
  fos.now = 1'765'000'000;  // 2025-12-06T05:46:40Z
  std::string why, first, last;
  for (int i = 0; i < kHistoryKept + 2; ++i) {
    fos.now += i % 2;  // two entries in each second
    last = keep_history(folder, vcom_record(), &why);
    ASSERT_FALSE(last.empty()) << why;
    if (i == 0) first = last;
  }
  const std::vector<HistoryEntry> entries = list_history(folder);
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kHistoryKept));
  EXPECT_EQ(entries.front().path, last);
  EXPECT_EQ(entries.front().name, "20251206T054731Z_vcom_COM5_fw13.toml");
  EXPECT_EQ(entries.back().name, "20251206T054641Z_vcom_COM5_fw13_2.toml");
  EXPECT_FALSE(fos.read_file(first));
  EXPECT_EQ(fos.read_file(folder + "\\notes.txt"), "mine");
  const std::string text = *fos.read_file(last);
  EXPECT_NE(text.find("# port: COM5\n# firmware: 0x13\n# not read from the reader, 0x00 here: "
                      "kq2, kq3, kq4, kq5, kq6, kq7\n"),
            std::string::npos);
}

TEST(HistoryWindowRecord, KeepsOnlyWhatTheWindowRead) {
  SettingsBlock b{};
  b.kq1 = 0x81, b.kq2 = 0x05, b.kq3 = 0x33;
  // transport, extended block, the bytes kept from kq1 on
  const struct {
    const char* transport;
    bool extended;
    std::uint16_t read;
    std::uint8_t kq1, kq2, kq3;
  } rows[] = {{"vcom", false, 0x1FF, 0x81, 0, 0},
              {"usb", true, 0x3FF, 0x81, 0x05, 0},
              {"usb", false, 0x0FF, 0, 0, 0}};
  for (const auto& row : rows) {
    const HistoryRecord r = window_record(b, row.transport, "COM5", row.extended);
    EXPECT_EQ(r.read, row.read) << row.transport;
    EXPECT_EQ((std::vector<int>{r.bytes[8], r.bytes[9], r.bytes[10]}),
              (std::vector<int>{row.kq1, row.kq2, row.kq3}));
    EXPECT_EQ(r.port, std::string(row.transport) == "usb" ? "" : "COM5");
  }
}

}  // namespace
}  // namespace msr
