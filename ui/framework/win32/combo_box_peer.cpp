// Drop-down lists: the model holds the items and the selection; a selection the user
// makes goes to the model, which may refuse it.
#include "ui/framework/win32/peers.h"

namespace msr::win32ui {
namespace {

class ComboBoxPeer final : public ChildPeer {
 public:
  explicit ComboBoxPeer(TComboBox& c) : ChildPeer(c), combo_(c) {}

 protected:
  native::WindowStyle style() const override { return native::combo_box_style(); }
  bool sized_after_font() const override { return true; }
  const std::string* native_text() const override { return nullptr; }
  RECT native_bounds() const override {
    RECT r = ChildPeer::native_bounds();
    r.bottom += native::kDropDownRoom;
    return r;
  }
  void made() override { apply_items(); }
  void mirror(Prop what) override {
    if (what == Prop::items) apply_items();
    if (what == Prop::item_index) {
      echo_ = true;
      ::SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(combo_.ItemIndex()), 0);
      echo_ = false;
    }
  }
  void on_command(int code) override {
    if (code != CBN_SELCHANGE) return;
    auto i = static_cast<int>(::SendMessageA(hwnd_, CB_GETCURSEL, 0, 0));
    combo_.user_select(i);
    // The model may refuse: show what it holds.
    mirror(Prop::item_index);
  }

 private:
  void apply_items() {
    echo_ = true;
    ::SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : combo_.Items()) {
      ::SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
    ::SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(combo_.ItemIndex()), 0);
    echo_ = false;
  }
  TComboBox& combo_;
};

}  // namespace

std::unique_ptr<Win32Peer> make_combo_box_peer(TComboBox& c) {
  return std::make_unique<ComboBoxPeer>(c);
}

}  // namespace msr::win32ui
