// Where Windows types differently from the xkb-data the tables are made from. xkb stays the
// source of every key; this file holds only what a Windows host does otherwise, each fact
// with the layout DLL it belongs to. They were taken from a transcription of those DLLs'
// dead-key tables and key tables made independently of xkb (not Microsoft's own source),
// and kept only where the printed keyboards agree; where that transcription and xkb
// disagree on a key's character (the Dutch punctuation row, Polish & and ^, Portuguese -),
// xkb matches the printed keyboards and is kept.
#pragma once

namespace msr::layout_gen {

// A dead key on Windows combines only with the characters its layout's table lists; any
// other character after it gives the spacing accent, then that character. X's Compose file
// combines far more (consonants, digits into superscripts, symbols), so the pairs it makes
// are kept only where a rule below lists them. A dead key no rule names for a layout
// combines with nothing there.
struct DeadKeyRule {
  const char* xkb;       // the layout, as keyboard_layouts names it in xkb-data
  const char* dead_key;  // the xkb keysym name of the dead key
  const char* bases;     // UTF-8: what it combines with on Windows
};

inline constexpr DeadKeyRule kDeadKeyRules[] = {
    // KBDGR.DLL (German): circumflex, acute and grave over the vowels; acute also over y.
    {"de", "dead_circumflex", "aeiouAEIOU"},
    {"de", "dead_acute", "aeiouyAEIOUY"},
    {"de", "dead_grave", "aeiouAEIOU"},
    // KBDSP.DLL (Spanish), KBDPO.DLL (Portuguese), KBDFR.DLL (French), KBDNE.DLL (Dutch):
    // acute, grave, circumflex and diaeresis over the vowels (acute and diaeresis also over
    // y), tilde over a, n and o; KBDNE.DLL also the cedilla under c.
    {"es", "dead_acute", "aeiouyAEIOUY"},
    {"es", "dead_grave", "aeiouAEIOU"},
    {"es", "dead_circumflex", "aeiouAEIOU"},
    {"es", "dead_diaeresis", "aeiouyAEIOU"},
    {"es", "dead_tilde", "aAnNoO"},
    {"pt", "dead_acute", "aeiouyAEIOUY"},
    {"pt", "dead_grave", "aeiouAEIOU"},
    {"pt", "dead_circumflex", "aeiouAEIOU"},
    {"pt", "dead_diaeresis", "aeiouyAEIOU"},
    {"pt", "dead_tilde", "aAnNoO"},
    {"fr", "dead_acute", "aeiouyAEIOUY"},
    {"fr", "dead_grave", "aeiouAEIOU"},
    {"fr", "dead_circumflex", "aeiouAEIOU"},
    {"fr", "dead_diaeresis", "aeiouyAEIOU"},
    {"fr", "dead_tilde", "aAnNoO"},
    {"nl", "dead_acute", "aeiouyAEIOUY"},
    {"nl", "dead_grave", "aeiouAEIOU"},
    {"nl", "dead_circumflex", "aeiouAEIOU"},
    {"nl", "dead_diaeresis", "aeiouyAEIOU"},
    {"nl", "dead_tilde", "aAnNoO"},
    {"nl", "dead_cedilla", "cC"},
    // KBDPL.DLL (Polish (214)): the ogonek under a and e, the dot above z.
    {"pl(qwertz)", "dead_ogonek", "aAeE"},
    {"pl(qwertz)", "dead_abovedot", "zZ"},
    // KBDIT.DLL (Italian) and KBDUS.DLL (US): no dead key on the keys a reader presses.
};

// A key whose character Windows gives otherwise than xkb.
struct KeyOverride {
  const char* xkb;
  int scan;   // set-1 scan code
  int level;  // 0 plain, 1 Shift, 2 AltGr, 3 Shift+AltGr
  char32_t ch;
};

inline constexpr KeyOverride kKeyOverrides[] = {
    // KBDPL.DLL: Shift+4 is the currency sign, where xkb's pl(qwertz) keeps the dollar.
    {"pl(qwertz)", 0x05, 1, U'\u00A4'},
};

}  // namespace msr::layout_gen
