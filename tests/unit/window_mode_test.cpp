// Window mode: the application object, the form, the loop only with a reader, the
// framework's errors shown, and everything taken down before the run ends.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/modes.h"
#include "app/startup.h"
#include "common/flags.h"
#include "common/log.h"
#include "tests/fakes/fake_os.h"
#include "ui/Unit1.h"
#include "ui/framework/forms.h"

namespace msr {
namespace {

// A native side that only records what window mode asks of it.
class RecordingUi final : public NativeUi {
 public:
  void set_app_title(const std::string& title) override { calls.push_back("title:" + title); }
  std::unique_ptr<Peer> create_peer(TControl&) override { return nullptr; }
  void show_form(TForm& form) override { calls.push_back("show:" + form.Name()); }
  void close_form(TForm& form) override { calls.push_back("close:" + form.Name()); }
  void run_loop(TForm& form) override {
    calls.push_back("loop:" + form.Name());
    if (!loop_error.empty()) throw Exception(loop_error);
    // The user presses "Cancel && Exit".
    if (Form1 != nullptr) Form1->Button3->user_click();
  }
  void process_messages() override {}
  Handle dialog_owner() override { return nullptr; }

  std::vector<std::string> calls;
  std::string loop_error;
};

class WindowModeTest : public fake::FakeOsTest {
 protected:
  void SetUp() override {
    FakeOsTest::SetUp();
    set_native_ui(&ui);
    g_transports.setusb = [this](int mode) {
      calls.push_back("setusb(" + std::to_string(mode) + ")");
      if (!usb_reader) return 1;
      g_shell.usb = 1;
      return 0;
    };
    g_transports.setusb1 = [this](int mode) {
      calls.push_back("setusb1(" + std::to_string(mode) + ")");
      return 0;
    };
    g_transports.setcom = [this](int mode) {
      calls.push_back("setcom(" + std::to_string(mode) + ")");
      return 1;
    };
    g_transports.setps2 = [this] { calls.push_back("setps2()"); };
  }
  void TearDown() override {
    set_native_ui(nullptr);
    FakeOsTest::TearDown();
  }

  RecordingUi ui;
  bool usb_reader = true;
  std::vector<std::string> calls;
};

TEST_F(WindowModeTest, ReaderFoundRunsTheLoopUntilTheWindowCloses) {
  window_mode();
  EXPECT_EQ(ui.calls, (std::vector<std::string>{"title:ZOV ORU VAZ Izove Duro", "show:Form1",
                                                "loop:Form1", "close:Form1"}));
  EXPECT_TRUE(fos.message_boxes.empty());
  // Cancel sends nothing: only the reads of detection reached the reader.
  EXPECT_EQ(calls, (std::vector<std::string>{"setusb(0)", "setusb1(0)"}));
  // Taken down before the run ends.
  EXPECT_EQ(Form1, nullptr);
  EXPECT_EQ(Application.MainForm(), nullptr);
}

TEST_F(WindowModeTest, NoReaderShowsOneBoxAndNeverTheWindow) {
  usb_reader = false;
  window_mode();
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].text, "No MSR Detected!");
  EXPECT_EQ(fos.message_boxes[0].caption, "ZOV ORU VAZ Izove Duro");
  EXPECT_EQ(g_shell.runloop, 0);
  // The title is set first, so the box has an application to belong to; nothing else.
  EXPECT_EQ(ui.calls, (std::vector<std::string>{"title:ZOV ORU VAZ Izove Duro"}));
  EXPECT_EQ(Application.MainForm(), nullptr);
}

TEST_F(WindowModeTest, FrameworkErrorIsShownAndTheModeReturns) {
  ui.loop_error = "Window went away";
  window_mode();
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].text, "Window went away");
  EXPECT_EQ(fos.message_boxes[0].caption, "ZOV ORU VAZ Izove Duro");
  EXPECT_EQ(fos.message_boxes[0].type & kMbIconError, kMbIconError);
  EXPECT_EQ(Application.MainForm(), nullptr);
}

TEST_F(WindowModeTest, OtherErrorsAreNotSwallowed) {
  g_transports.setusb = [](int) -> int { throw std::runtime_error("not ours"); };
  EXPECT_THROW(window_mode(), std::runtime_error);
  EXPECT_TRUE(fos.message_boxes.empty());
}

TEST_F(WindowModeTest, WholeRunWithoutReaderEndsWithCodeZeroAndTheLogClosed) {
  usb_reader = false;
  enable_log();
  EXPECT_EQ(msr_main(""), 0);
  EXPECT_EQ(g_log.stream, nullptr);
  std::string log = log_text();
  EXPECT_NE(log.find(" vcom=0, usb=0, jis=0 \n"), std::string::npos);
  EXPECT_EQ(fos.message_boxes.size(), 1u);
}

}  // namespace
}  // namespace msr
