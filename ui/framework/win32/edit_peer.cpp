// Edits: typing tells the model the new text (EN_CHANGE); the model's own updates are
// written with the echo suppressed, since EN_CHANGE fires on every WM_SETTEXT.
#include "ui/framework/win32/peers.h"

namespace msr::win32ui {
namespace {

class EditPeer final : public ChildPeer {
 public:
  explicit EditPeer(TEdit& c) : ChildPeer(c), edit_(c) {}

 protected:
  native::WindowStyle style() const override { return native::edit_style(); }
  bool sized_after_font() const override { return true; }
  const std::string* native_text() const override { return &edit_.Text(); }
  void made() override { mirror(Prop::max_length); }
  void mirror(Prop what) override {
    if (what != Prop::max_length) return;
    ::SendMessageA(hwnd_, EM_LIMITTEXT, static_cast<WPARAM>(edit_.MaxLength()), 0);
  }
  // Entered from the keyboard or from code, the whole text is selected, so that a typed
  // character replaces a one-character code. A click has moved the native focus already
  // and keeps the caret where it was placed.
  void entered() override { ::SendMessageA(hwnd_, EM_SETSEL, 0, -1); }
  void on_command(int code) override {
    if (code != EN_CHANGE) return;
    std::string now = window_text(hwnd_);
    if (now != edit_.Text()) edit_.user_type(now);
  }

 private:
  TEdit& edit_;
};

}  // namespace

std::unique_ptr<Win32Peer> make_edit_peer(TEdit& c) {
  return std::make_unique<EditPeer>(c);
}

}  // namespace msr::win32ui
