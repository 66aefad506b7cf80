// Fixture for the setup window's tests: scripted transports that play a reader found on
// USB, on a virtual COM port or not at all, and the window made as window mode makes it.
#pragma once

#include <string>
#include <vector>

#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "tests/fakes/fake_os.h"
#include "transport/usb/usb.h"
#include "transport/vcom/vcom.h"
#include "ui/Unit1.h"

namespace msr::uitest {

class UiWindow : public fake::FakeOsTest {
 protected:
  void SetUp() override {
    FakeOsTest::SetUp();
    Application.Initialize();
    Application.SetTitle(kAppTitle);
    g_transports.setusb = [this](int mode) {
      transport_calls.push_back("setusb(" + std::to_string(mode) + ")");
      if (mode != 0) return 0;
      if (!usb_reader) return nofail ? 0 : 1;
      g_shell.usb = 1;
      copy_base();
      if (reader_jis) g_shell.jis = 1;
      if (reader_cif) g_shell.cif = 1;
      g_shell.status = "USB MSR";
      return 0;
    };
    g_transports.setusb1 = [this](int mode) {
      transport_calls.push_back("setusb1(" + std::to_string(mode) + ")");
      if (mode == 0) {
        g_usb.ext_f = reader_ext ? 1 : 0;
        if (reader_ext) blk().kq1 = reader.kq1, blk().kq2 = reader.kq2;
      } else {
        written_kq1 = blk().kq1;
      }
      return 0;
    };
    g_transports.setcom = [this](int mode) {
      transport_calls.push_back("setcom(" + std::to_string(mode) + ")");
      if (mode != 0) return g_vcom.last_write = com_write, 0;
      if (!com_reader) return nofail ? 0 : 1;
      g_shell.vcom = 1;
      copy_base();
      blk().kq1 = reader.kq1;
      if (reader_jis) g_shell.jis = 1;
      if (reader_cif) g_shell.cif = 1;
      g_shell.status = "COM5";
      return 0;
    };
    g_transports.setps2 = [this] { transport_calls.push_back("setps2()"); };
  }

  void copy_base() {
    SettingsBlock& b = blk();
    b.p2j = reader.p2j, b.mr1 = reader.mr1, b.mr2 = reader.mr2, b.mr3 = reader.mr3;
    b.mr4 = reader.mr4, b.mr5 = reader.mr5, b.mr6 = reader.mr6, b.mr7 = reader.mr7;
  }

  // Back to the start of a run, for a second window within one test.
  void fresh() {
    Application.Reset();
    Application.Initialize();
    Application.SetTitle(kAppTitle);
    g_shell = {};
    g_usb = {};
    fos.message_boxes.clear();
    transport_calls.clear();
  }

  // Creates Form1 as window mode does.
  TForm1& create() {
    Application.CreateForm(Form1);
    return *Form1;
  }
  // A USB reader (extended block, firmware 20h) with the command line's transport switch.
  TForm1& create_usb(bool switch_u = true) {
    usb_reader = true;
    g_shell.usb = switch_u ? 1 : 0;
    return create();
  }
  TForm1& create_vcom(bool switch_v = true) {
    com_reader = true;
    g_shell.vcom = switch_v ? 1 : 0;
    return create();
  }
  // No reader, but -d lets the window open anyway.
  TForm1& create_without_reader() {
    nofail = true;
    return create();
  }

  TControl* control(const char* name) {
    TControl* c = Form1->FindControl(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  TCheckBox* box(const char* name) { return static_cast<TCheckBox*>(control(name)); }
  TEdit* edit(const char* name) { return static_cast<TEdit*>(control(name)); }

  // The user flips a box (whether or not it is on screen): its handler runs as an event.
  static void toggle(TCheckBox* b) {
    run_event([b] { b->SetChecked(!b->Checked()); });
  }

  std::vector<std::string> message_texts() const {
    std::vector<std::string> texts;
    for (const auto& m : fos.message_boxes) texts.push_back(m.text);
    return texts;
  }

  // The reader the scripted transports find.
  SettingsBlock reader = [] {
    SettingsBlock b;
    b.p2j = 0xC6, b.mr1 = 0x08, b.mr2 = '%', b.mr3 = ';', b.mr4 = ';', b.mr5 = '?';
    b.mr6 = 2, b.mr7 = 0x20, b.kq1 = 0x00, b.kq2 = 0x00;
    return b;
  }();
  bool usb_reader = false, com_reader = false, reader_ext = true;
  bool reader_jis = false, reader_cif = false, nofail = false;
  std::vector<std::string> transport_calls;
  int written_kq1 = -1;                    // kq1 as setusb1(1) found it
  ComWrite com_write = ComWrite::written;  // what setcom(1) comes to
};

}  // namespace msr::uitest
