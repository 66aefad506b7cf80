// Push buttons and check boxes: a click goes to the model, which runs the handler. A
// check box is not automatic: the model flips its state and sends it back here.
#include "ui/framework/win32/peers.h"

namespace msr::win32ui {
namespace {

class ButtonPeer final : public ChildPeer {
 public:
  using ChildPeer::ChildPeer;
  bool presses_on_enter() const override { return true; }

 protected:
  native::WindowStyle style() const override { return native::button_style(); }
  void on_command(int code) override {
    if (code == BN_CLICKED) control_.user_click();
  }
};

class CheckBoxPeer final : public ChildPeer {
 public:
  explicit CheckBoxPeer(TCheckBox& c) : ChildPeer(c), box_(c) {}

 protected:
  native::WindowStyle style() const override { return native::check_box_style(); }
  void made() override {
    if (box_.Checked()) mirror(Prop::checked);
  }
  void mirror(Prop what) override {
    if (what != Prop::checked) return;
    ::SendMessageA(hwnd_, BM_SETCHECK, box_.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  void on_command(int code) override {
    if (code == BN_CLICKED) control_.user_click();
  }

 private:
  TCheckBox& box_;
};

}  // namespace

std::unique_ptr<Win32Peer> make_button_peer(TButton& c) {
  return std::make_unique<ButtonPeer>(c);
}

std::unique_ptr<Win32Peer> make_check_box_peer(TCheckBox& c) {
  return std::make_unique<CheckBoxPeer>(c);
}

}  // namespace msr::win32ui
