// Key bursts from the console (through the fake OS) and input_event records from a pipe.
#include "profile/key_capture.h"

#include <linux/input.h>
#include <unistd.h>

#include "profile/cli.h"
#include "tests/fakes/fake_os.h"

namespace msr::profile {
namespace {

using KeyCaptureTest = fake::FakeOsTest;

InputRecord key(bool down, std::uint16_t scan, char16_t ch, std::uint32_t control = 0) {
  InputRecord r;
  r.event_type = w32::kKeyEvent;
  r.key_down = down;
  r.virtual_scan = scan;
  r.unicode_char = ch;
  r.control_key_state = control;
  return r;
}

TEST_F(KeyCaptureTest, ConsoleBursts) {
  InputRecord mouse;
  mouse.event_type = 2;
  const std::uint32_t t0 = 5000;
  struct Row {
    const char* name;
    bool console;
    std::vector<std::pair<std::uint32_t, InputRecord>> input;
    bool complete_at_cr;
    int exit;
    std::u32string received;
    std::vector<int> countdown;
  } rows[] = {
      {"no console", false, {}, false, kExitUsage, U"", {}},
      {"nothing typed", true, {{t0 + 100, mouse}}, false, kExitNoReader, U"", {3, 2, 1}},
      {"the quiet time ends it",
       true,
       {{t0 + 10, key(false, 0x1C, 0)},  // the Enter that started the command, let go
        {t0 + 1200, key(true, 0x03, u'2')},
        {t0 + 1210, key(false, 0x03, u'2')},
        {t0 + 1400, key(true, 0x1C, u'\r')},
        {t0 + 1800, key(true, 0x04, u'3')}},
       false,
       kExitOk,
       U"2\r",
       {3, 2}},
      {"the ending ends it",
       true,
       {{t0 + 200, key(true, 0x03, u'2')},
        {t0 + 210, key(true, 0x1C, u'\r')},
        {t0 + 220, key(true, 0x04, u'3')}},
       true,
       kExitOk,
       U"2\r",
       {3}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    fos.console = r.console;
    fos.tick = t0;
    fos.console_input = r.input;
    std::vector<int> shown;
    BurstOptions o;
    o.timeout_ms = 3000;
    o.countdown = [&](int s) { shown.push_back(s); };
    if (r.complete_at_cr) o.complete = [](std::u32string_view t) { return t.back() == U'\r'; };
    std::vector<KeyEvent> keys;
    std::string why;
    EXPECT_EQ(capture_console_keys(o, &keys, &why), r.exit) << why;
    std::u32string received;
    for (const KeyEvent& k : keys) {
      if (k.down && k.ch != 0) received += k.ch;
    }
    EXPECT_EQ(received, r.received);
    EXPECT_EQ(shown, r.countdown);
    EXPECT_EQ(why.empty(), r.exit == kExitOk) << why;
  }
}

TEST_F(KeyCaptureTest, ConsoleBurstThatNeverEnds) {
  fos.tick = 0;
  for (std::uint32_t t = 100; t < 20000; t += 50)
    fos.console_input.push_back({t, key(true, 2, u'1')});
  std::vector<KeyEvent> keys;
  std::string why;
  EXPECT_EQ(capture_console_keys(BurstOptions{}, &keys, &why), kExitDiffers);
  EXPECT_NE(why.find("no swipe"), std::string::npos) << why;
}

input_event ev(std::uint16_t type, std::uint16_t code, std::int32_t value) {
  input_event e{};
  e.type = type;
  e.code = code;
  e.value = value;
  return e;
}

// Records written to a pipe as a device gives them, cut anywhere by the reads.
TEST(Evdev, RecordsFromAPipe) {
  const std::vector<input_event> shift_5 = {
      ev(EV_MSC, MSC_SCAN, 0x70022), ev(EV_KEY, KEY_LEFTSHIFT, 1), ev(EV_KEY, KEY_5, 1),
      ev(EV_SYN, SYN_REPORT, 0),     ev(EV_KEY, KEY_5, 0),         ev(EV_KEY, KEY_LEFTSHIFT, 0)};
  std::vector<input_event> repeat_and_enter = {ev(EV_KEY, KEY_3, 1), ev(EV_KEY, KEY_3, 2),
                                               ev(EV_KEY, KEY_3, 0), ev(EV_KEY, KEY_KPENTER, 1),
                                               ev(EV_KEY, KEY_KPENTER, 0)};
  struct Row {
    const char* name;
    std::vector<input_event> records;
    std::size_t cut;  // bytes of the first write; the rest follows
    int exit;
    std::u32string meant;
  } rows[] = {
      {"Shift held", shift_5, 5, kExitOk, U"%"},
      {"repeat left out, keypad Enter", repeat_and_enter, 30, kExitOk, U"3\r"},
      {"nothing before the end", {ev(EV_SYN, SYN_REPORT, 0)}, 24, kExitNoReader, U""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const char* bytes = reinterpret_cast<const char*>(r.records.data());
    const std::size_t size = r.records.size() * sizeof(input_event);
    ASSERT_EQ(write(p[1], bytes, r.cut), ssize_t(r.cut));
    ASSERT_EQ(write(p[1], bytes + r.cut, size - r.cut), ssize_t(size - r.cut));
    close(p[1]);
    BurstOptions o;
    o.timeout_ms = 2000;
    std::vector<KeyEvent> keys;
    std::string why;
    EXPECT_EQ(capture_evdev(p[0], o, &keys, &why), r.exit) << why;
    EXPECT_EQ(decode_keys(keys, 0).intended, r.meant);
    close(p[0]);
  }
}

}  // namespace
}  // namespace msr::profile
