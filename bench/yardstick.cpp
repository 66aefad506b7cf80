// The yardstick of the window's start-up: the setup window made the plainest way Win32
// offers, as the floor of what that window costs. The same top-level window, every
// control of the layout in the same window class, style, bounds and text, one font
// object per distinct font, the same bitmaps, then shown; no framework, no model, no
// reader. The rows come from the layout TForm1 is built from and the classes and styles
// from the framework's native look, so the two windows cannot drift apart.
// bench/window_start.py measures it beside msrsetup.exe. Closed by its close box.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "bench/design.h"
#include "ui/framework/win32/native_style.h"

// After windows.h, which it needs.
#include <commctrl.h>

namespace {

using namespace msr;
using form1::DesignRow;

constexpr auto kDesign = form1::design();

// Once it has found a reader, the form shows its third picture.
constexpr char kShownWithAReader[] = "Image3";

HFONT g_fonts[std::size(form1::kFonts)];

HFONT font(form1::FontId id) {
  HFONT& f = g_fonts[id];
  if (f == nullptr) f = native::create_font(form1::to_font(form1::kFonts[id]));
  return f;
}

bool named(const char* a, const char* b) {
  return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

bool shown(const DesignRow& r) {
  return (r.state & form1::kHidden) == 0 || named(r.name, kShownWithAReader);
}

LRESULT CALLBACK form_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

LRESULT CALLBACK container_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_ERASEBKGND) {
    native::erase_container(w, reinterpret_cast<HDC>(wp));
    return 1;
  }
  if (m == WM_PAINT) {
    const auto* r = reinterpret_cast<const DesignRow*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    if (r != nullptr && r->kind == ControlKind::group_box) {
      native::paint_group_box(w, font(r->font), r->caption, (r->state & form1::kDisabled) == 0);
      return 0;
    }
  }
  return DefWindowProcA(w, m, wp, lp);
}

native::WindowStyle style_of(const DesignRow& r) {
  TAlignment alignment =
      r.state & form1::kCentered ? TAlignment::taCenter : TAlignment::taLeftJustify;
  TTextLayout layout = r.state & form1::kMiddle ? TTextLayout::tlCenter : TTextLayout::tlTop;
  switch (r.kind) {
    case ControlKind::button:
      return native::button_style();
    case ControlKind::check_box:
      return native::check_box_style();
    case ControlKind::edit:
      return native::edit_style();
    case ControlKind::combo_box:
      return native::combo_box_style();
    case ControlKind::group_box:
    case ControlKind::tab_sheet:
      return native::container_style();
    case ControlKind::page_control:
      return native::tab_control_style();
    case ControlKind::image:
      return native::image_style();
    default:
      return native::text_style(alignment, layout);
  }
}

// As the form stacks them: labels and pictures are drawn on their container, under
// every windowed control of the same container.
bool drawn_on_container(ControlKind kind) {
  return kind == ControlKind::label || kind == ControlKind::image;
}

HWND make_control(const DesignRow& r, HWND parent, bool visible) {
  native::WindowStyle ws = style_of(r);
  DWORD style =
      ws.style | (visible ? WS_VISIBLE : 0) | (r.state & form1::kDisabled ? WS_DISABLED : 0);
  int x = r.left, y = r.top, w = r.width;
  int h = r.kind == ControlKind::combo_box ? r.height + native::kDropDownRoom : r.height;
  if (r.kind == ControlKind::tab_sheet) {
    RECT s = native::sheet_rect(parent);
    x = s.left, y = s.top, w = s.right - s.left, h = s.bottom - s.top;
  }
  // A combo box's and a tab control's caption are not text they show; a picture's names
  // its bitmap, which the static loads.
  const char* text =
      r.kind == ControlKind::combo_box || r.kind == ControlKind::page_control ? "" : r.caption;
  // An edit takes margins from its font only while it is large or still without a size,
  // and the form's edits get their font before their size: so here too.
  bool edit = r.kind == ControlKind::edit;
  HWND c = CreateWindowExA(ws.ex_style, ws.class_name, text, style, x, y, edit ? 0 : w,
                           edit ? 0 : h, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetWindowLongPtrA(c, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&r));
  SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font(r.font)), FALSE);
  if (edit) SetWindowPos(c, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (r.kind == ControlKind::check_box && (r.state & form1::kChecked) != 0) {
    SendMessageA(c, BM_SETCHECK, BST_CHECKED, 0);
  }
  return c;
}

bool in(const DesignRow& r, const char* container) {
  return container == nullptr ? r.parent == nullptr : named(r.parent, container);
}

bool is_container(ControlKind k) {
  return k == ControlKind::group_box || k == ControlKind::page_control ||
         k == ControlKind::tab_sheet;
}

// Only the first page of a tab control is on screen.
bool first_page(const DesignRow& sheet) {
  for (const DesignRow& r : kDesign) {
    if (r.kind == ControlKind::tab_sheet && named(r.parent, sheet.parent)) return &r == &sheet;
  }
  return false;
}

void add_tabs(HWND tab_control, const char* name) {
  int i = 0;
  for (const DesignRow& sheet : kDesign) {
    if (sheet.kind != ControlKind::tab_sheet || !named(sheet.parent, name)) continue;
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(sheet.caption);
    SendMessageA(tab_control, TCM_INSERTITEMA, i++, reinterpret_cast<LPARAM>(&item));
  }
}

// The controls of one container, then the contents of each. A new child window goes
// below its siblings, so the rows are made last first: later rows lie over earlier ones,
// and every windowed control over the labels and pictures.
void make_children(const char* container, HWND parent) {
  for (bool on_container : {false, true}) {
    for (auto r = kDesign.rbegin(); r != kDesign.rend(); ++r) {
      if (!in(*r, container) || drawn_on_container(r->kind) != on_container) continue;
      bool visible = shown(*r) && (r->kind != ControlKind::tab_sheet || first_page(*r));
      HWND c = make_control(*r, parent, visible);
      if (r->kind == ControlKind::page_control) add_tabs(c, r->name);
      if (is_container(r->kind)) make_children(r->name, c);
    }
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES};
  InitCommonControlsEx(&icc);
  if (!native::register_form_class("TForm1", form_proc)) return 1;
  native::register_container_class(container_proc);

  // The form scrolls to the right and bottom edges of its outermost shown control.
  int range_w = 0, range_h = 0;
  for (const DesignRow& r : kDesign) {
    if (r.parent != nullptr || !shown(r)) continue;
    range_w = std::max(range_w, r.left + r.width);
    range_h = std::max(range_h, r.top + r.height);
  }
  const int cw = form1::kClientWidth, ch = form1::kClientHeight;
  DWORD style = native::form_style();
  SIZE frame = native::frame_size(style, native::kFormExStyle, cw, ch, range_w > cw, range_h > ch);
  POINT at = native::centred(frame);
  HWND form =
      CreateWindowExA(native::kFormExStyle, "TForm1", form1::kCaption, style, at.x, at.y, frame.cx,
                      frame.cy, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (form == nullptr) return 2;
  SendMessageA(form, WM_SETFONT, reinterpret_cast<WPARAM>(font(form1::kFormFont)), FALSE);
  native::set_scroll_bars(form, range_w, range_h, cw, ch);
  make_children(nullptr, form);

  ShowWindow(form, SW_SHOWNORMAL);
  UpdateWindow(form);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  for (HFONT f : g_fonts) {
    if (f != nullptr) DeleteObject(f);
  }
  return 0;
}
