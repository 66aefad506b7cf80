#include "ui/framework/win32/form_peer.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace msr::win32ui {
namespace {

constexpr int kLineStep = 8;  // pixels per scroll-bar arrow click

// A title bar shows no mnemonics: "&&" reads as "&" there only if we say so.
std::string title_text(const std::string& caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size() && caption[i + 1] == '&') ++i;
    out += caption[i];
  }
  return out;
}

}  // namespace

FormPeer* form_peer_of(TControl& c) {
  TForm* f = c.Form();
  return f == nullptr ? nullptr : static_cast<FormPeer*>(f->GetPeer());
}

void FormPeer::create() {
  bool horz = form_.HorzScrollBar(), vert = form_.VertScrollBar();
  DWORD style = native::form_style() | (horz ? WS_HSCROLL : 0) | (vert ? WS_VSCROLL : 0);
  std::string cls = "T" + form_.Name();
  if (!native::register_form_class(cls, peer_proc<FormPeer, &FormPeer::proc>)) {
    throw Exception("Error creating window class " + cls);
  }
  SIZE frame = native::frame_size(style, native::kFormExStyle, form_.ClientWidth(),
                                  form_.ClientHeight(), horz, vert);
  POINT at = native::centred(frame);
  HWND w = ::CreateWindowExA(native::kFormExStyle, cls.c_str(), title_text(form_.Caption()).c_str(),
                             style, at.x, at.y, frame.cx, frame.cy, nullptr, nullptr, instance(),
                             nullptr);
  if (w == nullptr) throw Exception("Error creating window " + form_.Name());
  adopt(w);
  TScrollRange range = form_.ScrollRange();
  native::set_scroll_bars(hwnd_, range.width, range.height, form_.ClientWidth(),
                          form_.ClientHeight());
  ::SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font(form_.GetFont())), FALSE);
}

void FormPeer::fit_frame(bool centre) {
  if (hwnd_ == nullptr) return;
  SIZE frame = native::frame_size(static_cast<DWORD>(::GetWindowLongA(hwnd_, GWL_STYLE)),
                                  static_cast<DWORD>(::GetWindowLongA(hwnd_, GWL_EXSTYLE)),
                                  form_.ClientWidth(), form_.ClientHeight(), form_.HorzScrollBar(),
                                  form_.VertScrollBar());
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  POINT at{0, 0};
  if (centre) {
    at = native::centred(frame);
  } else {
    flags |= SWP_NOMOVE;
  }
  ::SetWindowPos(hwnd_, nullptr, at.x, at.y, frame.cx, frame.cy, flags);
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
      guarded([&] { form_.user_close(); });
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

void FormPeer::hide() {
  if (hwnd_ == nullptr) return;
  on_screen_ = false;
  ::ShowWindow(hwnd_, SW_HIDE);
  ::PostMessageA(hwnd_, WM_NULL, 0, 0);  // wake the loop to see the end
}

}  // namespace msr::win32ui
