// Native peers of the form framework on Win32.
//
// The model (controls.h, forms.h) is the one truth: check boxes are non-automatic, so a
// click only tells the model, which flips its state and sends it back here; an edit's
// EN_CHANGE tells the model the new text, and the model's own updates are written with
// the echo suppressed (EN_CHANGE fires on every WM_SETTEXT). Keyboard navigation (Tab,
// Esc, Enter on a button) goes through the model too, because the window's tab order and
// its stacking order differ (a text laid over a button comes later in tab order).
//
// Every control window carries its model name in the window property "MsrName" (a global
// atom), so that test drivers in another process can find it; the form gets "MsrReady"
// once it is on screen with all its controls.
#include "ui/framework/win32/win32_ui.h"

// The model first: <windows.h> defines macros (OEM_CHARSET, MessageBox) that collide
// with the framework's own names.
#include "ui/framework/forms.h"
#include "ui/framework/win32/native_style.h"

// After the model, as windows.h must be.
#include "platform/win32/message_pump.h"

// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace msr {
namespace {

constexpr char kAppClass[] = "TApplication";
constexpr char kNameProp[] = "MsrName";
constexpr char kReadyProp[] = "MsrReady";
constexpr int kLineStep = 8;  // pixels per scroll-bar arrow click

class Win32Peer;
class Win32Ui;
Win32Ui& ui();

HINSTANCE instance() {
  return ::GetModuleHandleA(nullptr);
}

// Our peer behind each of our windows, looked up in the process (every message to our
// windows asks, and a window property would cost a trip to the window server each time);
// no other window is taken for a peer.
std::unordered_map<HWND, Win32Peer*>& peers() {
  static std::unordered_map<HWND, Win32Peer*> map;
  return map;
}

Win32Peer* peer_of(HWND w) {
  if (w == nullptr) return nullptr;
  auto it = peers().find(w);
  return it == peers().end() ? nullptr : it->second;
}

// A title bar shows no mnemonics: "&&" reads as "&" there only if we say so.
std::string title_text(const std::string& caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size() && caption[i + 1] == '&') ++i;
    out += caption[i];
  }
  return out;
}

std::string window_text(HWND w) {
  int n = ::GetWindowTextLengthA(w);
  std::string s(static_cast<std::size_t>(std::max(n, 0)) + 1, '\0');
  int got = ::GetWindowTextA(w, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(std::max(got, 0)));
  return s;
}

// --- the native side ---

class Win32Ui final : public NativeUi {
 public:
  void set_app_title(const std::string& title) override;
  std::unique_ptr<Peer> create_peer(TControl& control) override;
  void show_form(TForm& form) override;
  void close_form(TForm& form) override;
  void run_loop(TForm& main_form) override;
  void process_messages() override;
  Handle dialog_owner() override;

  void shutdown();
  HFONT font(const TFont& f);
  // The tab control is the one common control here, and only a window that shows one
  // needs the library: it is loaded and initialised when the first one is made.
  void load_common_controls();
  HWND app_window() const { return app_; }

  // Runs fn inside a window procedure: a framework error is shown in the error box as
  // the model does it; anything else must not unwind through the system's frames, so it
  // is kept and raised again once the message loop has returned.
  template <typename Fn>
  void guarded(Fn fn) {
    try {
      fn();
    } catch (const Exception& e) {
      Application.ShowException(e);
    } catch (...) {
      if (!pending_) pending_ = std::current_exception();
      ::PostQuitMessage(0);
    }
  }

 private:
  void register_classes();
  // The keys that move through the form, for every pump of the process; true when the
  // message was used.
  static bool form_key(const MSG& msg);
  void rethrow_pending();

  bool registered_ = false;
  bool common_controls_ = false;
  HWND app_ = nullptr;
  std::map<std::tuple<std::string, int, bool, int>, HFONT> fonts_;
  std::exception_ptr pending_;
};

// --- peers ---

class Win32Peer : public Peer {
 public:
  explicit Win32Peer(TControl& c) : control_(c) {}
  ~Win32Peer() override { destroy(); }

  void changed(Prop what) override;
  void focus() override;
  Handle handle() override { return hwnd_; }

  TControl& control() { return control_; }
  HWND hwnd() const { return hwnd_; }
  // The window has gone (or is going): it is no longer ours.
  void release();
  virtual bool is_form() const { return false; }

  // Makes the native window (parent: the nearest container's window) with the
  // control's whole state.
  void create();
  // A notification from the control: WM_COMMAND code or WM_NOTIFY code.
  void command(int code);
  void notify(int code);
  // The position in the native parent, which for the form's children moves with the
  // form's scroll position.
  void place();
  LRESULT subclass_proc(UINT m, WPARAM wp, LPARAM lp);

 protected:
  void destroy();
  void apply_visible();
  void apply_text();
  void apply_style_alignment();
  void apply_items();
  void apply_picture();
  void apply_tabs();
  HWND native_parent() const;
  // The window's place and size in its native parent.
  RECT native_bounds() const;
  // The model's visibility as the window has it (only the active page of a tab control
  // is visible).
  bool shown_natively() const;
  // What the window's text mirrors: an edit's text or the caption; nullptr when the
  // window has no text of ours (combo box, picture).
  const std::string* native_text() const;
  // Takes the window into the process's list of ours.
  void adopt(HWND w);
  // Puts a window made after some of its siblings in its place among them.
  void stack();

  TControl& control_;
  HWND hwnd_ = nullptr;
  WNDPROC original_ = nullptr;
  ATOM name_atom_ = 0;
  bool echo_ = false;  // writing the model's own change into the control
  HBITMAP bitmap_ = nullptr;
  std::vector<TTabSheet*> tabs_;  // the tab control's items, in order
};

LRESULT CALLBACK subclass_thunk(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  Win32Peer* p = peer_of(w);
  if (p == nullptr) return ::DefWindowProcA(w, m, wp, lp);
  return p->subclass_proc(m, wp, lp);
}

// The form: frame, scroll bars, and the notifications of its controls.
class FormPeer final : public Win32Peer {
 public:
  explicit FormPeer(TForm& f) : Win32Peer(f), form_(f) {}
  bool is_form() const override { return true; }

  void create_form();
  void show();
  void update_scroll();
  void scroll_to(int x, int y);
  // Scrolls just enough for the child window to lie inside the client area.
  void show_child(HWND child);
  LRESULT proc(UINT m, WPARAM wp, LPARAM lp);
  int scroll_x() const { return scroll_x_; }
  int scroll_y() const { return scroll_y_; }
  bool on_screen() const { return on_screen_; }
  void set_on_screen(bool v) { on_screen_ = v; }
  void fit_frame(bool centre);
  void changed(Prop what) override {
    // Before it is on screen the frame follows the scroll ranges (it was made with them).
    if (what == Prop::scroll_range && !on_screen_) scroll_stale_ = true;
    Win32Peer::changed(what);
  }

 private:
  void on_scroll(int bar, int code);
  TForm& form_;
  int scroll_x_ = 0, scroll_y_ = 0;
  bool on_screen_ = false;
  bool scroll_stale_ = false;
  bool fitting_ = false;
};

FormPeer* form_peer_of(TControl& c) {
  TForm* f = c.Form();
  return f == nullptr ? nullptr : static_cast<FormPeer*>(f->GetPeer());
}

// Notifications from a control reach the window that holds it; containers and the form
// pass them to the control's peer.
bool route_control_message(UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND && lp != 0) {
    if (Win32Peer* p = peer_of(reinterpret_cast<HWND>(lp))) {
      ui().guarded([&] { p->command(HIWORD(wp)); });
      return true;
    }
  } else if (m == WM_NOTIFY && lp != 0) {
    const auto* nm = reinterpret_cast<const NMHDR*>(lp);
    if (Win32Peer* p = peer_of(nm->hwndFrom)) {
      ui().guarded([&] { p->notify(static_cast<int>(nm->code)); });
      return true;
    }
  }
  return false;
}

LRESULT CALLBACK form_thunk(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  auto* p = static_cast<FormPeer*>(peer_of(w));
  if (p == nullptr) return ::DefWindowProcA(w, m, wp, lp);
  return p->proc(m, wp, lp);
}

// Group boxes and tab sheets: opaque containers (what lies under a group box stays
// covered) that hand their controls' notifications on.
LRESULT CALLBACK container_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_COMMAND:
    case WM_NOTIFY:
      if (route_control_message(m, wp, lp)) return 0;
      break;
    case WM_ERASEBKGND:
      native::erase_container(w, reinterpret_cast<HDC>(wp));
      return 1;
    case WM_PAINT: {
      Win32Peer* p = peer_of(w);
      if (p != nullptr && p->control().Kind() == ControlKind::group_box) {
        const TControl& c = p->control();
        native::paint_group_box(w, ui().font(c.GetFont()), c.Caption(), c.EffectivelyEnabled());
      } else {
        PAINTSTRUCT ps;
        ::BeginPaint(w, &ps);
        ::EndPaint(w, &ps);
      }
      return 0;
    }
    case WM_NCDESTROY:
      if (Win32Peer* p = peer_of(w)) p->release();
      break;
    default:
      break;
  }
  return ::DefWindowProcA(w, m, wp, lp);
}

// The hidden application window: brought to the front by a second start, it hands the
// activation on to the main form.
LRESULT CALLBACK app_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if ((m == WM_ACTIVATE && LOWORD(wp) != WA_INACTIVE) || m == WM_SETFOCUS) {
    TForm* main = Application.MainForm();
    auto* fp = main != nullptr ? static_cast<FormPeer*>(main->GetPeer()) : nullptr;
    if (fp != nullptr && fp->on_screen() && fp->hwnd() != nullptr) {
      if (::IsIconic(fp->hwnd())) ::ShowWindow(fp->hwnd(), SW_RESTORE);
      ::SetForegroundWindow(fp->hwnd());
      return 0;
    }
  }
  return ::DefWindowProcA(w, m, wp, lp);
}

// --- Win32Peer ---

HWND Win32Peer::native_parent() const {
  for (TWinControl* p = control_.Parent(); p != nullptr; p = p->Parent()) {
    if (Peer* peer = p->GetPeer(); peer != nullptr && peer->handle() != nullptr) {
      return static_cast<HWND>(peer->handle());
    }
  }
  return nullptr;
}

void Win32Peer::adopt(HWND w) {
  hwnd_ = w;
  peers()[w] = this;
}

void Win32Peer::release() {
  if (hwnd_ != nullptr) peers().erase(hwnd_);
  hwnd_ = nullptr;
}

void Win32Peer::create() {
  const ControlKind kind = control_.Kind();
  if (kind == ControlKind::form) return;
  native::WindowStyle ws = native::child_style(kind, control_.Alignment(), control_.Layout());
  DWORD style = ws.style | (control_.Enabled() ? 0 : WS_DISABLED);
  if (shown_natively()) style |= WS_VISIBLE;
  const std::string* text = native_text();
  if (kind == ControlKind::page_control) ui().load_common_controls();
  // An edit takes its margins from its font only while it is large or still without a
  // size (and a combo box its field's height from the font): their font comes first.
  bool font_first = kind == ControlKind::edit || kind == ControlKind::combo_box;
  RECT r = native_bounds();
  HWND w = ::CreateWindowExA(ws.ex_style, ws.class_name, text != nullptr ? text->c_str() : "",
                             style, r.left, r.top, font_first ? 0 : r.right - r.left,
                             font_first ? 0 : r.bottom - r.top, native_parent(), nullptr,
                             instance(), nullptr);
  if (w == nullptr) {
    throw Exception("Error creating window for " + control_.Name());
  }
  adopt(w);
  if (kind != ControlKind::group_box && kind != ControlKind::tab_sheet) {
    original_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(subclass_thunk)));
  }
  name_atom_ = ::GlobalAddAtomA(control_.Name().c_str());
  ::SetPropA(hwnd_, kNameProp, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(name_atom_)));
  ::SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(ui().font(control_.GetFont())), FALSE);
  if (font_first) place();
  if (kind == ControlKind::edit) changed(Prop::max_length);
  if (kind == ControlKind::combo_box) apply_items();
  if (kind == ControlKind::image) apply_picture();
  if (kind == ControlKind::page_control) apply_tabs();
  if (kind == ControlKind::check_box && static_cast<TCheckBox&>(control_).Checked()) {
    changed(Prop::checked);
  }
  stack();
}

void Win32Peer::stack() {
  TWinControl* parent = control_.Parent();
  if (parent == nullptr) return;
  // A new window goes below its siblings, which is its place while those below it in the
  // stacking order have no windows yet (as when the form makes its peers).
  std::vector<TControl*> order = TForm::StackingOrder(*parent);
  auto self = std::find(order.begin(), order.end(), &control_);
  auto made = [](TControl* c) { return c->GetPeer() != nullptr && c->GetPeer()->handle(); };
  if (std::none_of(self + 1, order.end(), made)) return;
  HWND above = HWND_TOP;
  for (auto c = self; c != order.begin();) {
    --c;
    if (made(*c)) {
      above = static_cast<HWND>((*c)->GetPeer()->handle());
      break;
    }
  }
  ::SetWindowPos(hwnd_, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Win32Peer::destroy() {
  if (hwnd_ != nullptr && ::IsWindow(hwnd_)) {
    if (original_ != nullptr) {
      ::SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    }
    ::RemovePropA(hwnd_, kNameProp);
    ::RemovePropA(hwnd_, kReadyProp);
    HWND w = hwnd_;
    release();
    ::DestroyWindow(w);
  }
  release();
  if (name_atom_ != 0) ::GlobalDeleteAtom(name_atom_);
  name_atom_ = 0;
  if (bitmap_ != nullptr) ::DeleteObject(bitmap_);
  bitmap_ = nullptr;
}

RECT Win32Peer::native_bounds() const {
  int x = control_.Left(), y = control_.Top(), w = control_.Width(), h = control_.Height();
  TWinControl* parent = control_.Parent();
  if (control_.Kind() == ControlKind::tab_sheet) {
    // A sheet fills the display area of its tab control.
    return native::sheet_rect(native_parent());
  }
  if (parent != nullptr && parent->Kind() == ControlKind::form) {
    if (FormPeer* fp = form_peer_of(control_)) {
      x -= fp->scroll_x();
      y -= fp->scroll_y();
    }
  }
  return RECT{x, y, x + w, y + native::window_height(control_.Kind(), h)};
}

// The focus arrives here from the keyboard or from code: an edit is entered with its
// whole text selected, so that a typed character replaces a one-character code. A click
// has moved the native focus already and keeps the caret where it was placed.
void Win32Peer::focus() {
  if (hwnd_ == nullptr) return;
  bool moved = ::GetFocus() != hwnd_;
  ::SetFocus(hwnd_);
  if (moved && control_.Kind() == ControlKind::edit) ::SendMessageA(hwnd_, EM_SETSEL, 0, -1);
  if (FormPeer* fp = form_peer_of(control_)) fp->show_child(hwnd_);
}

void Win32Peer::place() {
  if (hwnd_ == nullptr) return;
  RECT r = native_bounds();
  ::SetWindowPos(hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Win32Peer::shown_natively() const {
  if (control_.Kind() == ControlKind::tab_sheet &&
      static_cast<TTabSheet&>(control_).PageControl()->ActivePage() != &control_) {
    return false;
  }
  return control_.Visible();
}

void Win32Peer::apply_visible() {
  ::ShowWindow(hwnd_, shown_natively() ? SW_SHOWNA : SW_HIDE);
}

const std::string* Win32Peer::native_text() const {
  switch (control_.Kind()) {
    case ControlKind::combo_box:
    case ControlKind::image:
      return nullptr;
    case ControlKind::edit:
      return &static_cast<TEdit&>(control_).Text();
    default:
      return &control_.Caption();
  }
}

void Win32Peer::apply_text() {
  const std::string* model = native_text();
  if (model == nullptr) return;
  std::string text = *model;
  if (window_text(hwnd_) == text) return;
  echo_ = true;
  ::SetWindowTextA(hwnd_, text.c_str());
  echo_ = false;
  if (control_.Kind() == ControlKind::group_box) ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32Peer::apply_style_alignment() {
  ControlKind k = control_.Kind();
  if (k != ControlKind::label && k != ControlKind::static_text) return;
  LONG style = ::GetWindowLongA(hwnd_, GWL_STYLE);
  style &= ~native::kTextAlignmentMask;
  style |= native::text_alignment_style(control_.Alignment(), control_.Layout());
  ::SetWindowLongA(hwnd_, GWL_STYLE, style);
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32Peer::apply_items() {
  auto& combo = static_cast<TComboBox&>(control_);
  echo_ = true;
  ::SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : combo.Items()) {
    ::SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  ::SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
  echo_ = false;
}

void Win32Peer::apply_picture() {
  const auto& pic = static_cast<TImage&>(control_).Picture();
  HBITMAP old = bitmap_;
  bitmap_ = pic.resource.empty()
                ? nullptr
                : static_cast<HBITMAP>(::LoadImageA(instance(), pic.resource.c_str(), IMAGE_BITMAP,
                                                    0, 0, LR_DEFAULTCOLOR));
  ::SendMessageA(hwnd_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap_));
  if (old != nullptr) ::DeleteObject(old);
  // Setting a bitmap resizes the static; the model's bounds stand.
  place();
}

void Win32Peer::apply_tabs() {
  auto& pc = static_cast<TPageControl&>(control_);
  echo_ = true;
  TabCtrl_DeleteAllItems(hwnd_);
  tabs_.clear();
  for (TTabSheet* sheet : pc.Pages()) {
    if (!sheet->TabVisible()) continue;
    std::string caption = sheet->Caption();
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    ::SendMessageA(hwnd_, TCM_INSERTITEMA, tabs_.size(), reinterpret_cast<LPARAM>(&item));
    tabs_.push_back(sheet);
  }
  auto at = std::find(tabs_.begin(), tabs_.end(), pc.ActivePage());
  TabCtrl_SetCurSel(hwnd_, at == tabs_.end() ? -1 : static_cast<int>(at - tabs_.begin()));
  echo_ = false;
  for (TTabSheet* sheet : pc.Pages()) {
    if (auto* sp = static_cast<Win32Peer*>(sheet->GetPeer())) {
      sp->place();
      sp->apply_visible();
    }
  }
}

void Win32Peer::changed(Prop what) {
  if (hwnd_ == nullptr) return;
  switch (what) {
    case Prop::caption:
    case Prop::text:
      if (control_.Kind() == ControlKind::tab_sheet) {
        if (auto* pc = static_cast<Win32Peer*>(control_.Parent()->GetPeer())) pc->apply_tabs();
      } else {
        apply_text();
      }
      break;
    case Prop::checked:
      if (control_.Kind() == ControlKind::check_box) {
        bool on = static_cast<TCheckBox&>(control_).Checked();
        ::SendMessageA(hwnd_, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      break;
    case Prop::enabled:
      ::EnableWindow(hwnd_, control_.Enabled() ? TRUE : FALSE);
      if (control_.Kind() == ControlKind::group_box) ::InvalidateRect(hwnd_, nullptr, TRUE);
      break;
    case Prop::visible:
      apply_visible();
      break;
    case Prop::bounds:
      place();
      if (control_.Kind() == ControlKind::page_control) apply_tabs();
      break;
    case Prop::font:
      ::SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(ui().font(control_.GetFont())),
                     TRUE);
      break;
    case Prop::items:
      if (control_.Kind() == ControlKind::combo_box) apply_items();
      break;
    case Prop::item_index:
      if (control_.Kind() == ControlKind::combo_box) {
        echo_ = true;
        ::SendMessageA(hwnd_, CB_SETCURSEL,
                       static_cast<WPARAM>(static_cast<TComboBox&>(control_).ItemIndex()), 0);
        echo_ = false;
      }
      break;
    case Prop::max_length:
      if (control_.Kind() == ControlKind::edit) {
        ::SendMessageA(hwnd_, EM_LIMITTEXT,
                       static_cast<WPARAM>(static_cast<TEdit&>(control_).MaxLength()), 0);
      }
      break;
    case Prop::tab_visible:
      if (auto* pc = static_cast<Win32Peer*>(control_.Parent()->GetPeer())) pc->apply_tabs();
      break;
    case Prop::active_page:
      apply_tabs();
      break;
    case Prop::picture:
      if (control_.Kind() == ControlKind::image) apply_picture();
      break;
    case Prop::alignment:
      apply_style_alignment();
      break;
    case Prop::scroll_range:
      break;
  }
}

void Win32Peer::command(int code) {
  if (echo_) return;
  switch (control_.Kind()) {
    case ControlKind::button:
    case ControlKind::check_box:
      if (code == BN_CLICKED) control_.user_click();
      break;
    case ControlKind::static_text:
    case ControlKind::label:
      if (code == STN_CLICKED) control_.user_click();
      break;
    case ControlKind::edit:
      if (code == EN_CHANGE) {
        auto& edit = static_cast<TEdit&>(control_);
        std::string now = window_text(hwnd_);
        if (now != edit.Text()) edit.user_type(now);
      }
      break;
    case ControlKind::combo_box:
      if (code == CBN_SELCHANGE) {
        auto i = static_cast<int>(::SendMessageA(hwnd_, CB_GETCURSEL, 0, 0));
        static_cast<TComboBox&>(control_).user_select(i);
        // The model may refuse: show what it holds.
        changed(Prop::item_index);
      }
      break;
    default:
      break;
  }
}

void Win32Peer::notify(int code) {
  if (echo_ || control_.Kind() != ControlKind::page_control) return;
  if (code == static_cast<int>(TCN_SELCHANGE)) {
    int i = TabCtrl_GetCurSel(hwnd_);
    auto& pc = static_cast<TPageControl&>(control_);
    if (i >= 0 && static_cast<std::size_t>(i) < tabs_.size()) pc.user_select_page(tabs_[i]);
    apply_tabs();
  }
}

LRESULT Win32Peer::subclass_proc(UINT m, WPARAM wp, LPARAM lp) {
  HWND w = hwnd_;
  WNDPROC orig = original_;
  if (m == WM_NCDESTROY) {
    ::SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(orig));
    release();
    return ::CallWindowProcA(orig, w, m, wp, lp);
  }
  if (m == WM_COMMAND || m == WM_NOTIFY) {
    // The tab control holds the sheets: their notifications pass through it.
    if (route_control_message(m, wp, lp)) return 0;
  }
  LRESULT r = ::CallWindowProcA(orig, w, m, wp, lp);
  if (m == WM_SETFOCUS && control_.Kind() != ControlKind::label &&
      control_.Kind() != ControlKind::image) {
    // The user moved the focus here (a click): the model hears of it, which runs the
    // OnExit of an edit that lost it.
    TForm* form = control_.Form();
    auto& wc = static_cast<TWinControl&>(control_);
    if (form != nullptr && form->ActiveControl() != &wc) {
      ui().guarded([&] { form->user_focus(&wc); });
    }
  }
  return r;
}

// --- FormPeer ---

// The window is made with the frame, place and scroll bars it shows with.
void FormPeer::create_form() {
  bool horz = form_.HorzScrollBar(), vert = form_.VertScrollBar();
  DWORD style = native::form_style(form_.Resizable(), form_.MaximizeBox()) |
                (horz ? WS_HSCROLL : 0) | (vert ? WS_VSCROLL : 0);
  std::string cls = "T" + form_.Name();
  if (!native::register_form_class(cls, form_thunk)) {
    throw Exception("Error creating window class " + cls);
  }
  SIZE frame = native::frame_size(style, native::kFormExStyle, form_.ClientWidth(),
                                  form_.ClientHeight(), horz, vert);
  POINT at{CW_USEDEFAULT, CW_USEDEFAULT};
  if (form_.Centered()) at = native::centred(frame);
  HWND w = ::CreateWindowExA(native::kFormExStyle, cls.c_str(), title_text(form_.Caption()).c_str(),
                             style, at.x, at.y, frame.cx, frame.cy, nullptr, nullptr, instance(),
                             nullptr);
  if (w == nullptr) throw Exception("Error creating window " + form_.Name());
  adopt(w);
  TScrollRange range = form_.ScrollRange();
  native::set_scroll_bars(hwnd_, range.width, range.height, form_.ClientWidth(),
                          form_.ClientHeight());
  name_atom_ = ::GlobalAddAtomA(form_.Name().c_str());
  ::SetPropA(hwnd_, kNameProp, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(name_atom_)));
  ::SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(ui().font(form_.GetFont())), FALSE);
}

// The frame is sized so that the client area keeps the form's size with the scroll
// bars the layout needs.
void FormPeer::fit_frame(bool centre) {
  if (hwnd_ == nullptr) return;
  fitting_ = true;
  SIZE frame = native::frame_size(static_cast<DWORD>(::GetWindowLongA(hwnd_, GWL_STYLE)),
                                  static_cast<DWORD>(::GetWindowLongA(hwnd_, GWL_EXSTYLE)),
                                  form_.ClientWidth(), form_.ClientHeight(), form_.HorzScrollBar(),
                                  form_.VertScrollBar());
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  POINT at{0, 0};
  if (centre && form_.Centered()) {
    at = native::centred(frame);
  } else {
    flags |= SWP_NOMOVE;
  }
  ::SetWindowPos(hwnd_, nullptr, at.x, at.y, frame.cx, frame.cy, flags);
  fitting_ = false;
}

void FormPeer::update_scroll() {
  if (hwnd_ == nullptr) return;
  TScrollRange range = form_.ScrollRange();
  bool horz = form_.HorzScrollBar(), vert = form_.VertScrollBar();
  int cw = form_.ClientWidth(), ch = form_.ClientHeight();
  native::set_scroll_bars(hwnd_, range.width, range.height, cw, ch);
  fit_frame(false);
  // A range that shrank pulls the view back.
  int max_x = horz ? std::max(range.width, cw) - cw : 0;
  int max_y = vert ? std::max(range.height, ch) - ch : 0;
  scroll_to(std::min(scroll_x_, max_x), std::min(scroll_y_, max_y));
}

void FormPeer::scroll_to(int x, int y) {
  x = std::max(x, 0);
  y = std::max(y, 0);
  if (x == scroll_x_ && y == scroll_y_) return;
  scroll_x_ = x;
  scroll_y_ = y;
  ::SetScrollPos(hwnd_, SB_HORZ, x, TRUE);
  ::SetScrollPos(hwnd_, SB_VERT, y, TRUE);
  // Every control of the form moves, shown or not, so that their places stay exact.
  for (TControl* c : form_.Controls()) {
    if (auto* p = static_cast<Win32Peer*>(c->GetPeer())) p->place();
  }
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void FormPeer::show_child(HWND child) {
  if (hwnd_ == nullptr || child == nullptr) return;
  RECT c{}, r{};
  ::GetClientRect(hwnd_, &c);
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
  auto delta = [](long lo, long hi, long view_lo, long view_hi) -> long {
    if (hi > view_hi) return std::min(hi - view_hi, lo - view_lo);
    if (lo < view_lo) return lo - view_lo;
    return 0;
  };
  long dx = delta(r.left, r.right, c.left, c.right);
  long dy = delta(r.top, r.bottom, c.top, c.bottom);
  if (dx == 0 && dy == 0) return;
  TScrollRange range = form_.ScrollRange();
  int max_x = form_.HorzScrollBar() ? std::max(range.width - form_.ClientWidth(), 0) : 0;
  int max_y = form_.VertScrollBar() ? std::max(range.height - form_.ClientHeight(), 0) : 0;
  scroll_to(std::min(scroll_x_ + static_cast<int>(dx), max_x),
            std::min(scroll_y_ + static_cast<int>(dy), max_y));
}

void FormPeer::on_scroll(int bar, int code) {
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_ALL;
  ::GetScrollInfo(hwnd_, bar, &si);
  int pos = si.nPos;
  int max_pos = std::max(0, si.nMax - static_cast<int>(si.nPage) + 1);
  switch (code) {
    case SB_LINEUP:
      pos -= kLineStep;
      break;
    case SB_LINEDOWN:
      pos += kLineStep;
      break;
    case SB_PAGEUP:
      pos -= static_cast<int>(si.nPage);
      break;
    case SB_PAGEDOWN:
      pos += static_cast<int>(si.nPage);
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      pos = si.nTrackPos;
      break;
    case SB_TOP:
      pos = 0;
      break;
    case SB_BOTTOM:
      pos = max_pos;
      break;
    default:
      return;
  }
  pos = std::clamp(pos, 0, max_pos);
  if (bar == SB_HORZ) {
    scroll_to(pos, scroll_y_);
  } else {
    scroll_to(scroll_x_, pos);
  }
}

LRESULT FormPeer::proc(UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_COMMAND:
    case WM_NOTIFY:
      if (route_control_message(m, wp, lp)) return 0;
      break;
    case WM_CLOSE:
      // The close box: the model closes the form, without saving anything.
      ui().guarded([&] { form_.user_close(); });
      return 0;
    case WM_HSCROLL:
      on_scroll(SB_HORZ, LOWORD(wp));
      return 0;
    case WM_VSCROLL:
      on_scroll(SB_VERT, LOWORD(wp));
      return 0;
    case WM_MOUSEWHEEL: {
      int notches = GET_WHEEL_DELTA_WPARAM(wp) / WHEEL_DELTA;
      for (int i = 0; i < std::abs(notches); ++i) {
        on_scroll(SB_VERT, notches > 0 ? SB_LINEUP : SB_LINEDOWN);
      }
      return 0;
    }
    case WM_ACTIVATE:
      // Coming back to the window (after a message box or another program) puts the
      // focus back where the form keeps it.
      if (LOWORD(wp) != WA_INACTIVE) {
        if (TWinControl* a = form_.ActiveControl(); a != nullptr && a->GetPeer() != nullptr) {
          if (HWND fw = static_cast<HWND>(a->GetPeer()->handle());
              fw != nullptr && ::IsWindowVisible(fw) && ::IsWindowEnabled(fw)) {
            ::SetFocus(fw);
            return 0;
          }
        }
      }
      break;
    case WM_NCDESTROY: {
      HWND w = hwnd_;
      release();
      return ::DefWindowProcA(w, m, wp, lp);
    }
    default:
      break;
  }
  return ::DefWindowProcA(hwnd_, m, wp, lp);
}

void FormPeer::show() {
  if (scroll_stale_) {
    update_scroll();
    fit_frame(true);
    scroll_stale_ = false;
  }
  on_screen_ = true;
  ::ShowWindow(hwnd_, SW_SHOWNORMAL);
  ::UpdateWindow(hwnd_);
  ::SetForegroundWindow(hwnd_);
  if (TWinControl* a = form_.ActiveControl(); a != nullptr && a->GetPeer() != nullptr) {
    a->GetPeer()->focus();
  }
  ::SetPropA(hwnd_, kReadyProp, reinterpret_cast<HANDLE>(1));
}

// --- Win32Ui ---

void Win32Ui::register_classes() {
  if (registered_) return;
  win32::set_message_filter(&Win32Ui::form_key);
  WNDCLASSA wc{};
  wc.lpfnWndProc = app_proc;
  wc.hInstance = instance();
  wc.hIcon = ::LoadIconA(instance(), MAKEINTRESOURCEA(1));
  wc.lpszClassName = kAppClass;
  ::RegisterClassA(&wc);
  native::register_container_class(container_proc);
  registered_ = true;
}

void Win32Ui::load_common_controls() {
  if (common_controls_) return;
  common_controls_ = true;
  // By its full path: a library of that name beside the program or in the current
  // directory is never taken for it.
  char dir[MAX_PATH] = {};
  UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HMODULE lib = ::LoadLibraryA((std::string(dir, n) + "\\comctl32.dll").c_str());
  using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = reinterpret_cast<Init>(
      reinterpret_cast<void (*)()>(::GetProcAddress(lib, "InitCommonControlsEx")));
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES};
  if (init != nullptr) init(&icc);
}

void Win32Ui::set_app_title(const std::string& title) {
  register_classes();
  if (app_ == nullptr) {
    // Hidden, so it never shows; a second start finds it by class and title.
    app_ = ::CreateWindowExA(WS_EX_TOOLWINDOW, kAppClass, title.c_str(), WS_POPUP, 0, 0, 0, 0,
                             nullptr, nullptr, instance(), nullptr);
    if (app_ == nullptr) throw Exception("Error creating the application window");
  } else {
    ::SetWindowTextA(app_, title.c_str());
  }
}

std::unique_ptr<Peer> Win32Ui::create_peer(TControl& control) {
  register_classes();
  if (control.Kind() == ControlKind::form) {
    auto p = std::make_unique<FormPeer>(static_cast<TForm&>(control));
    p->create_form();
    return p;
  }
  auto p = std::make_unique<Win32Peer>(control);
  p->create();
  return p;
}

void Win32Ui::show_form(TForm& form) {
  if (auto* fp = static_cast<FormPeer*>(form.GetPeer())) fp->show();
}

void Win32Ui::close_form(TForm& form) {
  auto* fp = static_cast<FormPeer*>(form.GetPeer());
  if (fp == nullptr || fp->hwnd() == nullptr) return;
  // Only hidden here: we may be inside one of its controls' notifications; the window
  // goes with its form.
  fp->set_on_screen(false);
  ::ShowWindow(fp->hwnd(), SW_HIDE);
  ::PostMessageA(fp->hwnd(), WM_NULL, 0, 0);  // wake the loop to see the end
}

bool Win32Ui::form_key(const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  HWND target = msg.hwnd;
  if (target == nullptr) return false;
  HWND top = ::GetAncestor(target, GA_ROOT);
  Win32Peer* tp = peer_of(top);
  if (tp == nullptr || !tp->is_form()) return false;
  auto* fp = static_cast<FormPeer*>(tp);
  auto& form = static_cast<TForm&>(fp->control());
  switch (msg.wParam) {
    case VK_TAB:
      if (::GetKeyState(VK_CONTROL) < 0) return false;
      ui().guarded([&] { form.user_tab(::GetKeyState(VK_SHIFT) >= 0); });
      return true;
    case VK_ESCAPE:
      ui().guarded([&] { form.user_escape(); });
      return true;
    case VK_RETURN: {
      TWinControl* a = form.ActiveControl();
      if (a != nullptr && a->Kind() == ControlKind::button) {
        ui().guarded([&] { a->user_click(); });
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

void Win32Ui::rethrow_pending() {
  if (pending_) {
    std::exception_ptr e = pending_;
    pending_ = nullptr;
    std::rethrow_exception(e);
  }
}

void Win32Ui::run_loop(TForm& main_form) {
  while (!Application.Terminated() && !main_form.Closed() && !pending_) {
    if (!win32::pump_one()) break;
  }
  rethrow_pending();
}

void Win32Ui::process_messages() {
  win32::pump_waiting();
  rethrow_pending();
}

Handle Win32Ui::dialog_owner() {
  HWND active = ::GetActiveWindow();
  if (active != nullptr) return active;
  TForm* main = Application.MainForm();
  auto* fp = main != nullptr ? static_cast<FormPeer*>(main->GetPeer()) : nullptr;
  if (fp != nullptr && fp->on_screen() && fp->hwnd() != nullptr) return fp->hwnd();
  return app_;
}

HFONT Win32Ui::font(const TFont& f) {
  auto key = std::make_tuple(f.Name, f.Height, f.Bold, static_cast<int>(f.Charset));
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;
  HFONT h = native::create_font(f);
  fonts_[key] = h;
  return h;
}

void Win32Ui::shutdown() {
  if (app_ != nullptr) ::DestroyWindow(app_);
  app_ = nullptr;
  for (auto& [key, h] : fonts_) ::DeleteObject(h);
  fonts_.clear();
}

Win32Ui& ui() {
  static Win32Ui instance;
  return instance;
}

}  // namespace

NativeUi& win32_native_ui() {
  return ui();
}

void win32_native_ui_shutdown() {
  ui().shutdown();
}

}  // namespace msr
