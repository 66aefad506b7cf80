// How the framework's controls look as native windows: the window class and styles of
// each kind, fonts, the form's frame and scroll bars, and our own container class (group
// boxes and tab sheets) with the group box's drawing. The peers make their windows with
// these.
#pragma once

// The model first: <windows.h> defines macros (OEM_CHARSET) that collide with its names.
#include "ui/framework/controls.h"

namespace msr::native {
inline constexpr TFontCharset kOemCharset = TFontCharset::OEM_CHARSET;
}  // namespace msr::native

#include <windows.h>

#include <string>

namespace msr::native {

struct WindowStyle {
  const char* class_name;
  DWORD style;  // WS_CHILD and the kind's own styles; never WS_VISIBLE or WS_DISABLED
  DWORD ex_style;
};

// The window of each kind of control.
WindowStyle button_style();
WindowStyle check_box_style();
WindowStyle edit_style();
WindowStyle combo_box_style();
WindowStyle container_style();  // group boxes and tab sheets
WindowStyle tab_control_style();
WindowStyle text_style(TAlignment alignment, TTextLayout layout);  // labels, static texts
WindowStyle image_style();
// The part of a static's style that the alignment decides.
inline constexpr DWORD kTextAlignmentMask = SS_TYPEMASK | SS_CENTERIMAGE;
DWORD text_alignment_style(TAlignment alignment, TTextLayout layout);
// A drop-down list's window reaches this far below its field, room for the list.
inline constexpr int kDropDownRoom = 160;

HFONT create_font(const TFont& font);

// Group boxes and tab sheets: an opaque window of our own class.
inline constexpr char kContainerClass[] = "MsrContainer";
void register_container_class(WNDPROC proc);
// WM_ERASEBKGND of a container.
void erase_container(HWND w, HDC dc);
// WM_PAINT of a group box: the etched frame with the caption on it.
void paint_group_box(HWND w, HFONT font, const std::string& caption, bool enabled);

// The form's frame: fixed size, no maximise box.
DWORD form_style();
inline constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;
// The class "T" + form name: the program's icon, the arrow, the button face. False when
// it could not be registered.
bool register_form_class(const std::string& class_name, WNDPROC proc);
// The frame of a form window of that style around a client area of w x h, with the
// scroll bars the layout needs.
SIZE frame_size(DWORD style, DWORD ex_style, int w, int h, bool horz, bool vert);
// Where a frame of that size sits centred on the work area.
POINT centred(SIZE frame);
// Scroll ranges that reach the layout's right and bottom edges, over a client area of
// w x h; each bar shown only when its range is wider than the client area.
void set_scroll_bars(HWND form, int range_width, int range_height, int w, int h);

// The display area of a tab control, which its sheets fill.
RECT sheet_rect(HWND tab_control);

}  // namespace msr::native
