// Labels and static texts: statics that report clicks (SS_NOTIFY) and align their text as
// the model says. A label is drawn on its container and takes no focus; a static text is
// a windowed control of its own.
#include "ui/framework/win32/peers.h"

namespace msr::win32ui {
namespace {

class TextPeer : public ChildPeer {
 public:
  TextPeer(TControl& c, bool focusable) : ChildPeer(c), focusable_(focusable) {}

 protected:
  native::WindowStyle style() const override {
    return native::text_style(control_.Alignment(), control_.Layout());
  }
  bool takes_focus() const override { return focusable_; }
  void mirror(Prop what) override {
    if (what != Prop::alignment) return;
    LONG style = ::GetWindowLongA(hwnd_, GWL_STYLE);
    style &= ~native::kTextAlignmentMask;
    style |= native::text_alignment_style(control_.Alignment(), control_.Layout());
    ::SetWindowLongA(hwnd_, GWL_STYLE, style);
    ::InvalidateRect(hwnd_, nullptr, TRUE);
  }
  void on_command(int code) override {
    if (code == STN_CLICKED) control_.user_click();
  }

 private:
  bool focusable_;
};

}  // namespace

std::unique_ptr<Win32Peer> make_label_peer(TLabel& c) {
  return std::make_unique<TextPeer>(c, false);
}

std::unique_ptr<Win32Peer> make_static_text_peer(TStaticText& c) {
  return std::make_unique<TextPeer>(c, true);
}

}  // namespace msr::win32ui
