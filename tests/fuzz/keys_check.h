// What the keyboard targets ask of a layout diagnosis, whatever arrived.
#pragma once

#include <string_view>

#include "profile/keyboard_layouts.h"
#include "profile/keys.h"

namespace msr::fuzz {

inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

// A diagnosis only calls valid what the swipe parser does, and names a layout only with
// the text it makes valid.
inline void check_finding(const profile::LayoutFinding& f, std::u32string_view received,
                          int reader_lang, const profile::Validity& valid) {
  using Kind = profile::LayoutFinding::Kind;
  if (f.kind == Kind::fits) check(valid(received));
  if (f.kind == Kind::host_layout) {
    check(f.host_lang >= 0 && f.host_lang < profile::kLayoutCount && f.host_lang != reader_lang);
    check(valid(f.repaired));
    check(!f.advice.empty());
  } else {
    check(f.host_lang == -1 && f.repaired.empty());
  }
  (void)profile::finding_name(f.kind);
}

}  // namespace msr::fuzz
