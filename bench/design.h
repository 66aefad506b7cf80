// The setup window's layout as the yardstick reads it: the rows of ui/form1_layout.h with
// each control's kind and without TForm1's members and handlers, so the yardstick makes
// the same window from the same data and links none of TForm1.
#pragma once

#include <array>
#include <cstddef>
#include <type_traits>
#include <variant>

#include "ui/form1_layout.h"

namespace msr::form1 {

// A row as it looks: the same data without the member and the handlers.
struct DesignRow {
  ControlKind kind;
  const char* name;
  const char* parent;
  const char* caption;
  int left, top, width, height;
  FontId font;
  unsigned state;
};

// The control class a member holds.
template <class M>
struct ControlOf;
template <class T>
struct ControlOf<T * TForm1::*> {
  using type = T;
};

template <class T>
consteval ControlKind kind_of() {
  if constexpr (std::is_same_v<T, TLabel>) return ControlKind::label;
  if constexpr (std::is_same_v<T, TButton>) return ControlKind::button;
  if constexpr (std::is_same_v<T, TCheckBox>) return ControlKind::check_box;
  if constexpr (std::is_same_v<T, TEdit>) return ControlKind::edit;
  if constexpr (std::is_same_v<T, TComboBox>) return ControlKind::combo_box;
  if constexpr (std::is_same_v<T, TGroupBox>) return ControlKind::group_box;
  if constexpr (std::is_same_v<T, TPageControl>) return ControlKind::page_control;
  if constexpr (std::is_same_v<T, TTabSheet>) return ControlKind::tab_sheet;
  if constexpr (std::is_same_v<T, TStaticText>) return ControlKind::static_text;
  if constexpr (std::is_same_v<T, TImage>) return ControlKind::image;
}

// Evaluated while compiling: a program that reads the design links none of TForm1.
consteval std::array<DesignRow, std::size(kLayout)> design() {
  std::array<DesignRow, std::size(kLayout)> out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    const Row& r = kLayout[i];
    ControlKind kind = std::visit(
        [](auto member) { return kind_of<typename ControlOf<decltype(member)>::type>(); }, r.field);
    out[i] = {kind, r.name, r.parent, r.caption, r.left, r.top, r.width, r.height, r.font, r.state};
  }
  return out;
}

}  // namespace msr::form1
