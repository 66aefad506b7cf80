#include "msrprofile/keyboard/keyboard_layouts.h"

#include <cctype>

#include "settings/settings_block.h"

namespace msr::profile {
namespace {

// Polish (214) is 00010415; Polish Programmers (00000415) types these keys as US does.
constexpr KeyboardLayout kLayouts[kLayoutCount] = {
    {0, "US", "00000409", "us"},          {1, "Polish (214)", "00010415", "pl(qwertz)"},
    {2, "German", "00000407", "de"},      {3, "Spanish", "0000040A", "es"},
    {4, "Italian", "00000410", "it"},     {5, "French", "0000040C", "fr"},
    {6, "Dutch", "00000413", "nl"},       {7, "Portuguese", "00000816", "pt"},
};

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

const KeyboardLayout& keyboard_layout(int lang) {
  return kLayouts[lang >= 0 && lang < kLayoutCount ? lang : 0];
}

const KeyboardLayout* layout_for_klid(std::string_view klid) {
  if (same_ignoring_case(klid, "00000C0A")) return &kLayouts[3];
  for (const KeyboardLayout& l : kLayouts) {
    if (same_ignoring_case(klid, l.klid)) return &l;
  }
  return nullptr;
}

int language_named(std::string_view name) {
  for (const KeyboardLayout& l : kLayouts) {
    if (same_ignoring_case(name, kLanguageNames[l.lang]) || same_ignoring_case(name, l.windows)) {
      return l.lang;
    }
  }
  return -1;
}

std::string language_name(int lang) {
  if (lang >= 0 && lang < kLayoutCount) return kLanguageNames[lang];
  return "index " + std::to_string(lang);
}

std::string layout_advice(const KeyboardLayout& host, int reader_lang) {
  const std::string name = kLanguageNames[host.lang];
  return std::string("this terminal types with the ") + host.windows + " layout (" + host.klid +
         ") but the reader types for " + language_name(reader_lang) +
         ": set keyboard_language = \"" + name + "\" in the profile (or choose " + name +
         " in the window) and write it";
}

std::string unknown_layout_advice(std::string_view klid, int reader_lang) {
  return "this terminal types with a keyboard layout (" + std::string(klid) +
         ") that the reader cannot type for (it types for " + language_name(reader_lang) +
         "): switch the reader to its virtual COM interface, or give the terminal a US "
         "layout";
}

}  // namespace msr::profile
