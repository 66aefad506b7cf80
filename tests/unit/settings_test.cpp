// The settings block (defaults, bits, resets, firmware values) and the settings file.
#include <string>

#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "settings/settings_file.h"
#include "tests/fakes/fake_os.h"

namespace msr {
namespace {

std::string bytes(const SettingsBlock& b) {
  return std::string{static_cast<char>(b.p2j), static_cast<char>(b.mr1), static_cast<char>(b.mr2),
                     static_cast<char>(b.mr3), static_cast<char>(b.mr4), static_cast<char>(b.mr5),
                     static_cast<char>(b.mr6), static_cast<char>(b.mr7), static_cast<char>(b.kq1),
                     static_cast<char>(b.kq2), static_cast<char>(b.kq3), static_cast<char>(b.kq4),
                     static_cast<char>(b.kq5), static_cast<char>(b.kq6), static_cast<char>(b.kq7)};
}

TEST(SettingsBlock, StartsWithTheInitialValues) {
  EXPECT_EQ(bytes(SettingsBlock{}),
            std::string("\xC6\x08%;;?\x01\x00\x00\x00\x00\x00\x00\x00\x00", 15));
}

struct BitCase {
  Bit bit;
  int offset;  // byte in the 15-byte order
  std::uint8_t mask;
};
class NamedBits : public ::testing::TestWithParam<BitCase> {};
TEST_P(NamedBits, TouchOnlyTheirOwnBit) {
  SettingsBlock b{};
  std::string before = bytes(b);
  set_bit(b, GetParam().bit, true);
  EXPECT_TRUE(get_bit(b, GetParam().bit));
  std::string after = bytes(b);
  for (int i = 0; i < 15; ++i) {
    std::uint8_t expected = static_cast<std::uint8_t>(before[i]);
    if (i == GetParam().offset) expected |= GetParam().mask;
    EXPECT_EQ(static_cast<std::uint8_t>(after[i]), expected) << "byte " << i;
  }
  set_bit(b, GetParam().bit, false);
  EXPECT_FALSE(get_bit(b, GetParam().bit));
  std::string cleared = bytes(b);
  EXPECT_EQ(static_cast<std::uint8_t>(cleared[GetParam().offset]),
            static_cast<std::uint8_t>(before[GetParam().offset]) & ~GetParam().mask);
}
INSTANTIATE_TEST_SUITE_P(
    Bits, NamedBits,
    ::testing::Values(BitCase{Bit::altnum, 0, 0x80}, BitCase{Bit::tabend, 0, 0x08},
                      BitCase{Bit::t1off, 1, 0x01}, BitCase{Bit::t2off, 1, 0x02},
                      BitCase{Bit::t3off, 1, 0x04}, BitCase{Bit::lecodes, 1, 0x08},
                      BitCase{Bit::lrc, 1, 0x10}, BitCase{Bit::addcr, 1, 0x20},
                      BitCase{Bit::vcomif, 8, 0x01}, BitCase{Bit::dosmode, 8, 0x10},
                      BitCase{Bit::vendorcls, 8, 0x20}, BitCase{Bit::numlock, 8, 0x40},
                      BitCase{Bit::nocr, 8, 0x80}, BitCase{Bit::android, 9, 0x40},
                      BitCase{Bit::sendascii, 9, 0x80}));

TEST(SettingsBlock, BaseBlockTravelsInItsOrderAndLeavesTheExtendedBlock) {
  SettingsBlock b{};
  b.kq1 = 0x81;
  const unsigned char in[8] = {0x46, 0x28, 'A', 'B', 'C', 'D', 32, 0x17};
  load_base_block(b, in);
  EXPECT_EQ(bytes(b), std::string("\x46\x28" "ABCD\x20\x17\x81\0\0\0\0\0\0", 15));
  unsigned char out[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0xEE};
  store_base_block(b, out);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 9),
            std::string(reinterpret_cast<const char*>(in), 8) + "\xEE");
}

TEST(SettingsBlock, LanguageKeepsTheHighNibble) {
  SettingsBlock b{};
  b.kq2 = 0xC2;
  set_lang(b, 5);
  EXPECT_EQ(b.kq2, 0xC5);
  EXPECT_EQ(lang(b), 5);
}

struct ResetCase {
  const char* name;
  DefaultSet set;
  bool vcom;
  const char* base;  // p2j, mr1..mr6
};
class Resets : public ::testing::TestWithParam<ResetCase> {};
TEST_P(Resets, WriteTheSetAndKeepTheRest) {
  SettingsBlock b{};
  b.mr7 = 0x13;
  b.kq1 = 0xF1;
  b.kq2 = 0x37;
  b.kq7 = 0x99;
  reset_to_defaults(b, GetParam().set, GetParam().vcom);
  std::string all = bytes(b);
  EXPECT_EQ(all.substr(0, 7), std::string(GetParam().base, 7));
  EXPECT_EQ(b.mr7, 0x13);
  EXPECT_EQ(b.kq1, 0x01);
  EXPECT_EQ(b.kq2, 0x37);
  EXPECT_EQ(b.kq7, 0x99);
}
INSTANTIATE_TEST_SUITE_P(
    Sets, Resets,
    ::testing::Values(ResetCase{"english", DefaultSet::english, false, "\x46\x08%;;?\x00"},
                      ResetCase{"english_vcom", DefaultSet::english, true, "\x46\x08%;;?\x00"},
                      ResetCase{"jis2", DefaultSet::jis2, false, "\xC6\x08%?;;\x02"},
                      ResetCase{"non_english", DefaultSet::non_english, false, "\xC6\x08%;;?\x02"},
                      ResetCase{"non_english_vcom", DefaultSet::non_english, true,
                                "\x46\x08%;;?\x00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsBlock, ResetKeepsOnlyTheInterfaceBitOfKq1) {
  SettingsBlock b{};
  b.kq1 = 0x81;
  reset_to_defaults(b, DefaultSet::english, false);
  EXPECT_EQ(b.kq1, 0x01);
  b.kq1 = 0xFE;
  reset_to_defaults(b, DefaultSet::non_english, false);
  EXPECT_EQ(b.kq1, 0x00);
}

struct FwCase {
  std::uint8_t mr7;
  const char* text;
  std::int32_t num;
};
class Firmware : public ::testing::TestWithParam<FwCase> {};
TEST_P(Firmware, TextAndNumber) {
  std::string text = make_fwtext(GetParam().mr7);
  EXPECT_EQ(text, GetParam().text);
  EXPECT_EQ(make_fwnum(text), GetParam().num);
}
INSTANTIATE_TEST_SUITE_P(Values, Firmware,
                         ::testing::Values(FwCase{0x13, ".13", 13}, FwCase{0x00, ".0", 0},
                                           FwCase{0x1A, ".1a", 1}, FwCase{0x0D, ".d", 0},
                                           FwCase{0x17, ".17", 17}, FwCase{0xFF, ".ff", 0},
                                           FwCase{0x99, ".99", 99}, FwCase{0x56, ".56", 56}));

// ---- readf ----

class Readf : public fake::FakeOsTest {
 protected:
  void SetUp() override {
    FakeOsTest::SetUp();
    g_shell.inifn = "C:\\windows\\tvrnmsr.ini";
  }
};

struct FileCase {
  const char* name;
  std::string content;
  std::string expected;  // the 15 bytes after readf, no presets
};
class ReadfFiles : public Readf, public ::testing::WithParamInterface<FileCase> {};

TEST_P(ReadfFiles, LoadsWhatTheFileHolds) {
  fos.write_file("C:\\windows\\tvrnmsr.ini", GetParam().content);
  readf();
  EXPECT_EQ(bytes(blk()), GetParam().expected);
  EXPECT_TRUE(fos.beeps.empty());
}

const std::string kStart("\xC6\x08%;;?\x01\x00\x00\x00\x00\x00\x00\x00\x00", 15);
const std::string kAwkward("\x0D\x0A\x1A\x00 \xFF\x0D\x0A\x1A\x00\x20\x09\x0B\x0C\x80", 15);
INSTANTIATE_TEST_SUITE_P(
    Sizes, ReadfFiles,
    ::testing::Values(
        FileCase{"empty", "", kStart},
        FileCase{"ten_bytes", "ABCDEFGHIJ", std::string("ABCDEFGHIJ") + kStart.substr(10)},
        FileCase{"fifteen", "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"},
        FileCase{"twenty", "ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNO"},
        FileCase{"five", "ABCDE", std::string("ABCDE") + kStart.substr(5)},
        FileCase{"any_byte_value", kAwkward, kAwkward}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Readf, TriesTheThreePlacesInOrder) {
  fos.write_file("C:\\work\\msr.ini", std::string(15, 'M'));
  fos.write_file("C:\\work\\tvrnmsr.ini", std::string(15, 'T'));
  fos.write_file("C:\\windows\\tvrnmsr.ini", std::string(15, 'W'));
  readf();
  EXPECT_EQ(blk().p2j, 'W');
  std::vector<std::string> opens;
  for (const auto& c : fos.calls) {
    if (c.rfind("fopen(", 0) == 0) opens.push_back(c);
  }
  EXPECT_EQ(opens, std::vector<std::string>{"fopen(C:\\windows\\tvrnmsr.ini,rb)"});
}

TEST_F(Readf, FallsBackToMsrIniThenTvrnmsrIni) {
  fos.write_file("C:\\work\\tvrnmsr.ini", std::string(15, 'T'));
  readf();
  EXPECT_EQ(blk().p2j, 'T');
  EXPECT_EQ(g_settings.fn, "tvrnmsr.ini");
  fos.write_file("C:\\work\\msr.ini", std::string(15, 'M'));
  readf();
  EXPECT_EQ(blk().p2j, 'M');
  EXPECT_EQ(g_settings.fn, "msr.ini");
}

TEST_F(Readf, AFolderInTheFirstPlaceIsPassedOver) {
  fos.write_file("C:\\windows\\tvrnmsr.ini\\inner", "x");
  fos.write_file("C:\\work\\msr.ini", std::string(15, 'M'));
  readf();
  EXPECT_EQ(blk().p2j, 'M');
}

struct PresetCase {
  const char* name;
  int jis, usb, vcom;
  std::string expected;
};
class Presets : public Readf, public ::testing::WithParamInterface<PresetCase> {};
TEST_P(Presets, ApplyByFlagOrderAndBeepWithoutAFile) {
  g_shell.jis = GetParam().jis;
  g_shell.usb = GetParam().usb;
  g_shell.vcom = GetParam().vcom;
  blk().kq1 = 0x81;  // shows whether kq1 is preset
  readf();
  EXPECT_EQ(bytes(blk()), GetParam().expected);
  EXPECT_EQ(fos.beeps, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{500, 500}}));
}
INSTANTIATE_TEST_SUITE_P(
    Flags, Presets,
    ::testing::Values(
        PresetCase{"none", 0, 0, 0, std::string("\xC6\x08%;;?\x01\x00\x81\0\0\0\0\0\0", 15)},
        PresetCase{"jis", 1, 0, 0, std::string("\xC6\x08%?;;\x02\x00\x81\0\0\0\0\0\0", 15)},
        PresetCase{"jis_usb", 1, 1, 1, std::string("\xC6\x08%?;;\x02\x00\x81\0\0\0\0\0\0", 15)},
        PresetCase{"usb", 0, 1, 1, std::string("\x46\x08%;;?\x01\x00\x00\0\0\0\0\0\0", 15)},
        PresetCase{"vcom", 0, 0, 1, std::string("\x46\x08%;;?\x00\x00\x00\0\0\0\0\0\0", 15)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Readf, NoFileIsNamedInTheLog) {
  enable_log();
  log_open();
  std::string header = log_text();
  readf();
  EXPECT_EQ(log_text(), header +
                            " readf(): no settings file (C:\\windows\\tvrnmsr.ini, msr.ini, "
                            "tvrnmsr.ini): the presets stand \n");
}

TEST_F(Readf, EmptyFileLogsThePresets) {
  enable_log();
  log_open();
  g_shell.usb = 1;
  fos.write_file("C:\\windows\\tvrnmsr.ini", "");
  readf();
  std::string log = log_text();
  auto line = log.substr(log.find(" readf(): "));
  auto fd = line.substr(0, line.find(", fn="));
  EXPECT_EQ(line.substr(fd.size()),
            ", fn=C:\\windows\\tvrnmsr.ini, p2j=46, mr1=8,25,3b,3b,3f,1,0, kq1=0 \n");
}

}  // namespace
}  // namespace msr
