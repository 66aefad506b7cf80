#include "ui/framework/win32/peer.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "ui/framework/win32/form_peer.h"

namespace msr::win32ui {
namespace {

// Looked up in the process: every message to our windows asks, and a window property
// would cost a trip to the window server each time.
std::unordered_map<HWND, Win32Peer*>& peers() {
  static std::unordered_map<HWND, Win32Peer*> map;
  return map;
}

}  // namespace

HINSTANCE instance() {
  return ::GetModuleHandleA(nullptr);
}

std::string window_text(HWND w) {
  int n = ::GetWindowTextLengthA(w);
  std::string s(static_cast<std::size_t>(std::max(n, 0)) + 1, '\0');
  int got = ::GetWindowTextA(w, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(std::max(got, 0)));
  return s;
}

Win32Peer* peer_of(HWND w) {
  if (w == nullptr) return nullptr;
  auto it = peers().find(w);
  return it == peers().end() ? nullptr : it->second;
}

bool route_control_message(UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND && lp != 0) {
    if (Win32Peer* p = peer_of(reinterpret_cast<HWND>(lp))) {
      guarded([&] { p->command(HIWORD(wp)); });
      return true;
    }
  } else if (m == WM_NOTIFY && lp != 0) {
    const auto* nm = reinterpret_cast<const NMHDR*>(lp);
    if (Win32Peer* p = peer_of(nm->hwndFrom)) {
      guarded([&] { p->notify(static_cast<int>(nm->code)); });
      return true;
    }
  }
  return false;
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
  name_atom_ = ::GlobalAddAtomA(control_.Name().c_str());
  ::SetPropA(hwnd_, kNameProp, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(name_atom_)));
}

void Win32Peer::release() {
  if (hwnd_ != nullptr) peers().erase(hwnd_);
  hwnd_ = nullptr;
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
}

RECT Win32Peer::native_bounds() const {
  int x = control_.Left(), y = control_.Top(), w = control_.Width(), h = control_.Height();
  TForm* form = control_.Form();
  if (form != nullptr && control_.Parent() == form) {
    if (auto* fp = static_cast<FormPeer*>(form->GetPeer())) {
      x -= fp->scroll_x();
      y -= fp->scroll_y();
    }
  }
  return RECT{x, y, x + w, y + h};
}

void Win32Peer::focus() {
  if (hwnd_ == nullptr) return;
  bool moved = ::GetFocus() != hwnd_;
  ::SetFocus(hwnd_);
  if (moved) entered();
  if (FormPeer* fp = form_peer_of(control_)) fp->show_child(hwnd_);
}

void Win32Peer::place() {
  if (hwnd_ == nullptr) return;
  RECT r = native_bounds();
  ::SetWindowPos(hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Peer::apply_visible() {
  ::ShowWindow(hwnd_, shown_natively() ? SW_SHOWNA : SW_HIDE);
}

bool Win32Peer::apply_text() {
  const std::string* model = native_text();
  if (model == nullptr || window_text(hwnd_) == *model) return false;
  echo_ = true;
  ::SetWindowTextA(hwnd_, model->c_str());
  echo_ = false;
  return true;
}

void Win32Peer::changed(Prop what) {
  if (hwnd_ == nullptr) return;
  switch (what) {
    case Prop::caption:
    case Prop::text:
      show_text();
      break;
    case Prop::enabled:
      ::EnableWindow(hwnd_, control_.Enabled() ? TRUE : FALSE);
      break;
    case Prop::visible:
      apply_visible();
      break;
    case Prop::bounds:
      place();
      break;
    case Prop::font:
      ::SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font(control_.GetFont())), TRUE);
      break;
    default:
      break;
  }
  mirror(what);
}

// --- ChildPeer ---

void ChildPeer::create() {
  native::WindowStyle ws = style();
  DWORD style = ws.style | (control_.Enabled() ? 0 : WS_DISABLED);
  if (shown_natively()) style |= WS_VISIBLE;
  const std::string* text = native_text();
  bool font_first = sized_after_font();
  RECT r = native_bounds();
  HWND w = ::CreateWindowExA(ws.ex_style, ws.class_name, text != nullptr ? text->c_str() : "",
                             style, r.left, r.top, font_first ? 0 : r.right - r.left,
                             font_first ? 0 : r.bottom - r.top, native_parent(), nullptr,
                             instance(), nullptr);
  if (w == nullptr) {
    throw Exception("Error creating window for " + control_.Name());
  }
  adopt(w);
  if (subclassed()) {
    original_ = reinterpret_cast<WNDPROC>(::SetWindowLongPtrA(
        hwnd_, GWLP_WNDPROC,
        reinterpret_cast<LONG_PTR>(peer_proc<ChildPeer, &ChildPeer::subclass_proc>)));
  }
  ::SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font(control_.GetFont())), FALSE);
  if (font_first) place();
  made();
  stack();
}

void ChildPeer::stack() {
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

LRESULT ChildPeer::subclass_proc(UINT m, WPARAM wp, LPARAM lp) {
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
  if (m == WM_SETFOCUS && takes_focus()) {
    // The user moved the focus here (a click): the model hears of it, which runs the
    // OnExit of an edit that lost it.
    TForm* form = control_.Form();
    auto& wc = static_cast<TWinControl&>(control_);
    if (form != nullptr && form->ActiveControl() != &wc) {
      guarded([&] { form->user_focus(&wc); });
    }
  }
  return r;
}

}  // namespace msr::win32ui
