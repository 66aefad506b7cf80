// The form's peer: the top-level window with its frame, its scroll bars and the view
// they scroll, and the notifications of the controls placed on it.
#pragma once

#include "ui/framework/win32/peer.h"

namespace msr::win32ui {

class FormPeer final : public Win32Peer {
 public:
  explicit FormPeer(TForm& f) : Win32Peer(f), form_(f) {}
  bool is_form() const override { return true; }
  TForm& form() { return form_; }

  // The window is made with the frame, place and scroll bars it shows with.
  void create() override;
  void show();
  // Taken off screen (the window goes with its form).
  void hide();
  bool on_screen() const { return on_screen_; }
  int scroll_x() const { return scroll_x_; }
  int scroll_y() const { return scroll_y_; }
  // Scrolls just enough for the child window to lie inside the client area.
  void show_child(HWND child);
  LRESULT proc(UINT m, WPARAM wp, LPARAM lp);

 protected:
  void mirror(Prop what) override {
    // Before it is on screen the frame follows the scroll ranges (it was made with them).
    if (what == Prop::scroll_range && !on_screen_) scroll_stale_ = true;
  }

 private:
  // The frame is sized so that the client area keeps the form's size with the scroll
  // bars the layout needs.
  void fit_frame(bool centre);
  void update_scroll();
  void scroll_to(int x, int y);
  void on_scroll(int bar, int code);

  TForm& form_;
  int scroll_x_ = 0, scroll_y_ = 0;
  bool on_screen_ = false;
  bool scroll_stale_ = false;
};

// The peer of the form that holds c, or nullptr.
FormPeer* form_peer_of(TControl& c);

}  // namespace msr::win32ui
