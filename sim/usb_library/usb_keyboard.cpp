// The keyboard side of the simulated USB reader: swipes a card into another process's
// console as a keyboard reader types it, so that a program reading the console's key
// events (ReadConsoleInputW) sees what it would see on a real terminal.
//
//   usb_keyboard --state FILE (--pid N | --image NAME) --host LANG
//                [--track1 T] [--track2 T] [--track3 T] [--timeout S]
//
// FILE is the substitute doziv.dll's state file (its base= and ext= lines give the
// fifteen configuration bytes). The swipe is framed by them (sim/swipe/framing.h) and
// typed with the keys a reader set to their keyboard language (kq2 bits 0..3) presses for
// each character, Shift and AltGr as keys of their own and in dwControlKeyState, and
// mr6 ms between characters. Each key event's character is what the host's layout LANG
// (0..7, the reader languages' layouts) makes of the keys, dead keys as Windows gives
// them: the dead key's own event carries no character; the next key carries the composed
// character, or the accent and then its own character as two events. Tracks are ISO text
// with sentinels; a character the reader's language can't type is left out (as the
// reader would) and counted on standard error. The target is a process id, or the newest
// process running the image NAME (waited for up to --timeout seconds, default 20).
// Exit 0 when every event was written, 1 when the console couldn't be reached, 64 usage.
#include <windows.h>
// after windows.h, whose types it uses
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "msrprofile/keyboard/keyboard_layouts.h"
#include "msrprofile/keyboard/layout_tables.h"
#include "sim/swipe/framing.h"

namespace {

using msr::profile::Keystroke;

constexpr int kUsage = 64;

// The base= and ext= lines of the library's state file; false unless both are there.
bool read_state(const char* path, unsigned char cfg[MSR_CFG_SIZE]) {
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) return false;
  char line[512];
  bool base = false, ext = false;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    bool is_base = std::strncmp(line, "base=", 5) == 0;
    if (!is_base && std::strncmp(line, "ext=", 4) != 0) continue;
    const char* p = line + (is_base ? 5 : 4);
    unsigned char* out = cfg + (is_base ? 0 : 8);
    int count = is_base ? 8 : 7, i = 0;
    for (; i < count; ++i) {
      char* end = nullptr;
      unsigned long v = std::strtoul(p, &end, 16);
      if (end == p || v > 0xFF) break;
      out[i] = static_cast<unsigned char>(v);
      p = end;
    }
    (is_base ? base : ext) = i == count;
  }
  std::fclose(f);
  return base && ext;
}

DWORD newest_process(const char* image) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 e{};
  e.dwSize = sizeof e;
  DWORD pid = 0;
  // Process ids are handed out in rising order under Wine and mostly on Windows; the
  // tests start one such process at a time.
  for (BOOL ok = Process32First(snap, &e); ok; ok = Process32Next(snap, &e)) {
    if (lstrcmpiA(e.szExeFile, image) == 0 && e.th32ProcessID > pid) pid = e.th32ProcessID;
  }
  CloseHandle(snap);
  return pid;
}

class Typist {
 public:
  explicit Typist(int host) : host_(host) {}

  // The events of one character typed with `keys`.
  void type(const std::vector<Keystroke>& keys) {
    for (const Keystroke& k : keys) press(k);
  }

  std::vector<INPUT_RECORD>& events() { return events_; }

 private:
  void add(bool down, WORD vk, WORD scan, DWORD control, wchar_t ch) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = down;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualKeyCode = vk;
    r.Event.KeyEvent.wVirtualScanCode = scan;
    r.Event.KeyEvent.uChar.UnicodeChar = ch;
    r.Event.KeyEvent.dwControlKeyState = control;
    events_.push_back(r);
  }

  // What the host's layout makes of the key: Enter and Tab are the same on every layout.
  msr::profile::KeyResult host_key(const Keystroke& k) const {
    if (k.scan == 0x1C && !k.altgr) return {U'\r', false};
    if (k.scan == 0x0F && !k.altgr) return {U'\t', false};
    return msr::profile::layout_key(host_, k);
  }

  void press(const Keystroke& k) {
    DWORD control = 0;
    if (k.shift) {
      control |= SHIFT_PRESSED;
      add(true, VK_SHIFT, 0x2A, control, 0);
    }
    if (k.altgr) {
      // AltGr reaches a Windows program as left Ctrl and then right Alt.
      control |= LEFT_CTRL_PRESSED;
      add(true, VK_CONTROL, 0x1D, control, 0);
      control |= RIGHT_ALT_PRESSED;
      add(true, VK_MENU, 0x38, control | ENHANCED_KEY, 0);
    }
    const WORD vk = static_cast<WORD>(MapVirtualKeyW(k.scan, MAPVK_VSC_TO_VK));
    msr::profile::KeyResult r = host_key(k);
    std::vector<char32_t> chars;  // the key's down events, one per character
    if (r.dead && accent_ == 0) {
      accent_ = r.ch;
      chars.push_back(0);
    } else if (accent_ != 0) {
      // After a dead key: a space gives the accent alone; otherwise the composed
      // character, or the accent and then the key's own character.
      char32_t composed = r.ch == U' ' ? accent_ : msr::profile::compose(host_, accent_, r.ch);
      if (composed != 0) {
        chars.push_back(composed);
      } else {
        chars.push_back(accent_);
        chars.push_back(r.ch);
      }
      accent_ = 0;
    } else {
      chars.push_back(r.ch);
    }
    for (char32_t c : chars) add(true, vk, k.scan, control, static_cast<wchar_t>(c));
    add(false, vk, k.scan, control, r.dead ? 0 : static_cast<wchar_t>(chars.back()));
    if (k.altgr) {
      control &= ~static_cast<DWORD>(RIGHT_ALT_PRESSED);
      add(false, VK_MENU, 0x38, control | ENHANCED_KEY, 0);
      control &= ~static_cast<DWORD>(LEFT_CTRL_PRESSED);
      add(false, VK_CONTROL, 0x1D, control, 0);
    }
    if (k.shift) add(false, VK_SHIFT, 0x2A, 0, 0);
  }

  int host_;
  char32_t accent_ = 0;
  std::vector<INPUT_RECORD> events_;
};

// The keys the reader presses for c: Enter and Tab are the same in every language.
std::vector<Keystroke> reader_keys(int lang, char32_t c) {
  if (c == U'\r') return {Keystroke{0x1C, false, false}};
  if (c == U'\t') return {Keystroke{0x0F, false, false}};
  return msr::profile::keys_for(lang, c);
}

int usage() {
  std::fprintf(stderr,
               "usage: usb_keyboard --state FILE (--pid N | --image NAME) --host LANG\n"
               "                    [--track1 T] [--track2 T] [--track3 T] [--timeout S]\n");
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const char* state = nullptr;
  const char* image = nullptr;
  const char* tracks[3] = {nullptr, nullptr, nullptr};
  DWORD pid = 0;
  int host = -1;
  int timeout_s = 20;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return usage();
    const char* v = argv[++i];
    if (a == "--state") {
      state = v;
    } else if (a == "--image") {
      image = v;
    } else if (a == "--pid") {
      pid = std::strtoul(v, nullptr, 10);
    } else if (a == "--host") {
      host = std::atoi(v);
    } else if (a == "--timeout") {
      timeout_s = std::atoi(v);
    } else if (a.size() == 8 && a.compare(0, 7, "--track") == 0 && a[7] >= '1' && a[7] <= '3') {
      tracks[a[7] - '1'] = v;
    } else {
      return usage();
    }
  }
  if (state == nullptr || (pid == 0) == (image == nullptr) || host < 0 ||
      host >= msr::profile::kLayoutCount)
    return usage();
  unsigned char cfg[MSR_CFG_SIZE] = {};
  if (!read_state(state, cfg)) {
    std::fprintf(stderr, "usb_keyboard: %s has no base= and ext= lines\n", state);
    return kUsage;
  }

  std::vector<unsigned char> swipe(msr_frame_swipe(cfg, tracks, nullptr, 0));
  msr_frame_swipe(cfg, tracks, swipe.data(), swipe.size());
  const int lang = cfg[MSR_CFG_KQ2] & MSR_KQ2_LANG;
  // One batch of events per character, so that the delay falls between characters.
  std::vector<std::vector<INPUT_RECORD>> batches;
  int untypable = 0;
  Typist typist(host);  // carries a pending dead key from one character to the next
  for (unsigned char c : swipe) {
    std::vector<Keystroke> keys = reader_keys(lang, c);
    if (keys.empty()) {
      ++untypable;
      continue;
    }
    typist.type(keys);
    batches.emplace_back();
    batches.back().swap(typist.events());
  }
  SecureZeroMemory(swipe.data(), swipe.size());
  if (untypable > 0)
    std::fprintf(stderr, "usb_keyboard: %d character(s) the reader's language can't type\n",
                 untypable);

  for (int waited = 0; pid == 0; waited += 50) {
    pid = newest_process(image);
    if (pid != 0) break;
    if (waited >= timeout_s * 1000) {
      std::fprintf(stderr, "usb_keyboard: no process %s\n", image);
      return 1;
    }
    Sleep(50);
  }
  FreeConsole();
  if (!AttachConsole(pid)) {
    std::fprintf(stderr, "usb_keyboard: AttachConsole(%lu) failed: %lu\n",
                 static_cast<unsigned long>(pid), GetLastError());
    return 1;
  }
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "usb_keyboard: CONIN$: %lu\n", GetLastError());
    return 1;
  }
  const DWORD gap = msr_frame_delay_ms(cfg);
  for (std::size_t i = 0; i < batches.size(); ++i) {
    DWORD written = 0;
    std::vector<INPUT_RECORD>& b = batches[i];
    if (!b.empty() && (!WriteConsoleInputW(in, b.data(), static_cast<DWORD>(b.size()), &written) ||
                       written != b.size())) {
      std::fprintf(stderr, "usb_keyboard: WriteConsoleInputW: %lu\n", GetLastError());
      return 1;
    }
    SecureZeroMemory(b.data(), b.size() * sizeof b[0]);
    if (gap > 0 && i + 1 < batches.size()) Sleep(gap);
  }
  CloseHandle(in);
  return 0;
}
