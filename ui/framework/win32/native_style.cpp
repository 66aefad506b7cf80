#include "ui/framework/win32/native_style.h"

// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>

namespace msr::native {

namespace {
constexpr DWORD kChild = WS_CHILD | WS_CLIPSIBLINGS;
}  // namespace

WindowStyle button_style() {
  return {"Button", kChild | BS_PUSHBUTTON | BS_MULTILINE | WS_TABSTOP, 0};
}

// Not automatic: the model decides the state.
WindowStyle check_box_style() {
  return {"Button", kChild | BS_CHECKBOX | WS_TABSTOP, 0};
}

WindowStyle edit_style() {
  return {"Edit", kChild | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
}

WindowStyle combo_box_style() {
  return {"ComboBox", kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0};
}

WindowStyle container_style() {
  return {kContainerClass, kChild | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT};
}

WindowStyle tab_control_style() {
  return {WC_TABCONTROLA, kChild | WS_CLIPCHILDREN | WS_TABSTOP, WS_EX_CONTROLPARENT};
}

WindowStyle text_style(TAlignment alignment, TTextLayout layout) {
  return {"Static", kChild | SS_NOTIFY | text_alignment_style(alignment, layout), 0};
}

WindowStyle image_style() {
  return {"Static", kChild | SS_BITMAP, 0};
}

DWORD text_alignment_style(TAlignment alignment, TTextLayout layout) {
  DWORD style = SS_LEFT;
  if (alignment == TAlignment::taRightJustify) style = SS_RIGHT;
  if (alignment == TAlignment::taCenter) style = SS_CENTER;
  // A vertically centred text is a single line.
  if (layout == TTextLayout::tlCenter) style |= SS_CENTERIMAGE;
  return style;
}

HFONT create_font(const TFont& f) {
  LOGFONTA lf{};
  // The height taken as the line's cell height: the layout's texts were fitted to their
  // controls that way (a multi-line reset text fits its 56 pixels in three lines), also
  // when the face is substituted by a wider one.
  lf.lfHeight = f.Height;
  lf.lfWeight = f.Bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = f.Charset == kOemCharset ? OEM_CHARSET : DEFAULT_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH;
  lstrcpynA(lf.lfFaceName, f.Name.c_str(), LF_FACESIZE);
  HFONT h = ::CreateFontIndirectA(&lf);
  if (h == nullptr) h = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  return h;
}

void register_container_class(WNDPROC proc) {
  WNDCLASSA cc{};
  cc.lpfnWndProc = proc;
  cc.hInstance = ::GetModuleHandleA(nullptr);
  cc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  cc.lpszClassName = kContainerClass;
  ::RegisterClassA(&cc);
}

void erase_container(HWND w, HDC dc) {
  RECT r;
  ::GetClientRect(w, &r);
  ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_BTNFACE));
}

void paint_group_box(HWND w, HFONT font, const std::string& caption, bool enabled) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(w, &ps);
  HFONT old = static_cast<HFONT>(::SelectObject(dc, font));
  TEXTMETRICA tm{};
  ::GetTextMetricsA(dc, &tm);
  RECT r;
  ::GetClientRect(w, &r);
  RECT frame = r;
  frame.top += tm.tmHeight / 2;
  ::DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  if (!caption.empty()) {
    RECT tr{8, 0, r.right - 8, tm.tmHeight};
    ::DrawTextA(dc, caption.c_str(), -1, &tr, DT_SINGLELINE | DT_CALCRECT);
    tr.left -= 2;
    tr.right += 2;
    ::FillRect(dc, &tr, ::GetSysColorBrush(COLOR_BTNFACE));
    tr.left += 2;
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    ::DrawTextA(dc, caption.c_str(), -1, &tr, DT_SINGLELINE);
  }
  ::SelectObject(dc, old);
  ::EndPaint(w, &ps);
}

DWORD form_style() {
  return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
}

bool register_form_class(const std::string& class_name, WNDPROC proc) {
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  if (::GetClassInfoExA(instance, class_name.c_str(), &wc)) return true;
  wc = WNDCLASSEXA{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(1));
  wc.hIconSm = static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = class_name.c_str();
  return ::RegisterClassExA(&wc) != 0;
}

SIZE frame_size(DWORD style, DWORD ex_style, int w, int h, bool horz, bool vert) {
  RECT r{0, 0, w, h};
  if (vert) r.right += ::GetSystemMetrics(SM_CXVSCROLL);
  if (horz) r.bottom += ::GetSystemMetrics(SM_CYHSCROLL);
  ::AdjustWindowRectEx(&r, style & ~(WS_HSCROLL | WS_VSCROLL), FALSE, ex_style);
  return {r.right - r.left, r.bottom - r.top};
}

POINT centred(SIZE frame) {
  RECT work{};
  ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  return {work.left + std::max(0, static_cast<int>((work.right - work.left - frame.cx) / 2)),
          work.top + std::max(0, static_cast<int>((work.bottom - work.top - frame.cy) / 2))};
}

void set_scroll_bars(HWND form, int range_width, int range_height, int w, int h) {
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_DISABLENOSCROLL;
  si.nMin = 0;
  si.nMax = std::max(range_width, w) - 1;
  si.nPage = static_cast<UINT>(w);
  ::SetScrollInfo(form, SB_HORZ, &si, TRUE);
  si.nMax = std::max(range_height, h) - 1;
  si.nPage = static_cast<UINT>(h);
  ::SetScrollInfo(form, SB_VERT, &si, TRUE);
  ::ShowScrollBar(form, SB_HORZ, range_width > w ? TRUE : FALSE);
  ::ShowScrollBar(form, SB_VERT, range_height > h ? TRUE : FALSE);
}

RECT sheet_rect(HWND tab_control) {
  RECT r;
  ::GetClientRect(tab_control, &r);
  TabCtrl_AdjustRect(tab_control, FALSE, &r);
  return r;
}

}  // namespace msr::native
