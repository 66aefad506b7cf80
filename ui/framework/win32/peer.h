// What every native peer shares: its window, the process's map from our windows to their
// peers, the state every control has (text, enabled, visible, place, font), and the way
// a native notification reaches the peer of the control it came from. Each kind of
// control adds its own small peer type (peers.h); the form's is form_peer.h.
//
// Every control window carries its model name in the window property "MsrName" (a global
// atom), so that test drivers in another process can find it; the form gets "MsrReady"
// once it is on screen with all its controls.
#pragma once

// The model first: <windows.h> defines macros (OEM_CHARSET, MessageBox) that collide
// with the framework's own names.
#include <functional>
#include <string>

#include "ui/framework/forms.h"
#include "ui/framework/win32/native_style.h"

namespace msr::win32ui {

inline constexpr char kNameProp[] = "MsrName";
inline constexpr char kReadyProp[] = "MsrReady";

HINSTANCE instance();
std::string window_text(HWND w);

// What the application window's unit provides to the peers.
// Runs fn inside a window procedure: a framework error is shown in the error box as the
// model does it; anything else must not unwind through the system's frames, so it is
// kept and raised again once the message loop has returned.
void guarded(const std::function<void()>& fn);
HFONT font(const TFont& f);
// The tab control is the one common control here, and only a window that shows one
// needs the library: it is loaded and initialised when the first one is made.
void load_common_controls();

class Win32Peer : public Peer {
 public:
  explicit Win32Peer(TControl& c) : control_(c) {}
  ~Win32Peer() override { destroy(); }

  // The state every control has; then mirror() for what only its kind has.
  void changed(Prop what) override;
  void focus() override;
  Handle handle() override { return hwnd_; }

  TControl& control() { return control_; }
  HWND hwnd() const { return hwnd_; }
  // The window has gone (or is going): it is no longer ours.
  void release();
  virtual bool is_form() const { return false; }
  // Makes the native window with the control's whole state.
  virtual void create() = 0;
  // A notification from the control: WM_COMMAND code or WM_NOTIFY code. Nothing while
  // the peer writes the model's own change into the control.
  void command(int code) {
    if (!echo_) on_command(code);
  }
  void notify(int code) {
    if (!echo_) on_notify(code);
  }
  // Enter on the focused control presses it.
  virtual bool presses_on_enter() const { return false; }
  // The position in the native parent, which for the form's children moves with the
  // form's scroll position.
  void place();
  void apply_visible();

 protected:
  virtual void mirror(Prop) {}
  virtual void on_command(int) {}
  virtual void on_notify(int) {}
  // The model's caption or text into the window.
  virtual void show_text() { apply_text(); }
  // What the window's text mirrors; nullptr when the window has no text of ours.
  virtual const std::string* native_text() const { return &control_.Caption(); }
  // The model's visibility as the window has it.
  virtual bool shown_natively() const { return control_.Visible(); }
  // The window's place and size in its native parent.
  virtual RECT native_bounds() const;
  // The focus arrived from the keyboard or from code.
  virtual void entered() {}
  // True when the window's text changed.
  bool apply_text();
  // Takes the window into the process's list of ours, with the control's name on it.
  void adopt(HWND w);
  // Gives the window its procedure back and destroys it; idempotent.
  void destroy();
  HWND native_parent() const;

  TControl& control_;
  HWND hwnd_ = nullptr;
  WNDPROC original_ = nullptr;  // the class's own procedure, when we took it over
  bool echo_ = false;           // writing the model's own change into the control

 private:
  ATOM name_atom_ = 0;
};

// Our peer behind one of our windows, or nullptr for any other window.
Win32Peer* peer_of(HWND w);

// Notifications from a control reach the window that holds it; containers and the form
// pass them to the control's peer. True when the message was one.
bool route_control_message(UINT m, WPARAM wp, LPARAM lp);

// A control inside the form: made as a child window in its place in the stacking order,
// with its window procedure taken over unless the window is of our own class.
class ChildPeer : public Win32Peer {
 public:
  using Win32Peer::Win32Peer;
  void create() override;
  LRESULT subclass_proc(UINT m, WPARAM wp, LPARAM lp);

 protected:
  virtual native::WindowStyle style() const = 0;
  virtual bool subclassed() const { return true; }
  // An edit takes its margins from its font only while it is large or still without a
  // size (and a combo box its field's height from the font): their font comes first.
  virtual bool sized_after_font() const { return false; }
  // A click on it moves the model's focus (labels and pictures take none).
  virtual bool takes_focus() const { return true; }
  // The rest of the control's state, once its window exists.
  virtual void made() {}

 private:
  // Puts a window made after some of its siblings in its place among them.
  void stack();
};

// The window procedure of our windows whose peer is a P: their messages go to that
// peer's proc; a window without a peer (being made, or gone) gets the default.
template <class P, LRESULT (P::*Proc)(UINT, WPARAM, LPARAM)>
LRESULT CALLBACK peer_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  auto* p = static_cast<P*>(peer_of(w));
  if (p == nullptr) return ::DefWindowProcA(w, m, wp, lp);
  return (p->*Proc)(m, wp, lp);
}

}  // namespace msr::win32ui
