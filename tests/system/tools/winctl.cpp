// Test helper: drives the setup window of a running msrsetup.exe from another process,
// the way a user would, through Win32 messages.
//
//   winctl.exe [--title APPTITLE] [--timeout SECONDS] COMMAND [ARGS...]
//
// The program is found by its hidden "TApplication" window (class and title), its form
// as the top-level window of the same process that carries a control name. Every native
// control of the form carries its model name in the window property "MsrName" (a global
// atom), so controls are addressed by name ("CheckBox4", "Edit6"); a name that no control
// carries is matched against the captions instead (with "&&" read as "&").
//
// Commands (exit code 0 on success, 1 when the thing waited for never came or a check
// failed, 2 for bad usage):
//   wait-window           until the form is visible and all its controls exist
//   wait-gone             until the program's application window has gone
//   dump                  one line per control: name class id visible enabled checked
//                         left top width height text (tab separated; client coordinates)
//   get NAME [FIELD]      FIELD: text checked enabled visible rect (default: all, key=value)
//   caption               the form's caption
//   click NAME            click a button, check box or clickable text; waits for the
//                         handler to finish
//   post-click NAME       the same, without waiting (use where a message box may open)
//   type NAME TEXT        select the edit's text and type TEXT over it, key by key
//   settext NAME TEXT     replace the edit's text at once (as pasting does)
//   focus NAME            click into the control, which takes the keyboard focus
//   key KEY               press tab, esc or enter in the focused control (posted keys carry
//                         no keyboard state, so a shift-tab reads as tab to GetKeyState)
//   press KEY...          real key presses (SendInput) into the foreground form: tab,
//                         shift-tab, or a text typed character by character
//   focused               the name of the control holding the focus
//   scroll h|v home|end   move a scroll bar of the form
//   scrollbars            "h=0|1 v=0|1 client=W,H" of the form
//   close                 the close box of the form (posted)
//   box TITLE             wait for a message box, print its text
//   answer-box TITLE ok|cancel   wait for a message box, print its text, press the button
//   no-box TITLE          succeed when no message box of that title is open
//   wait-top CLASS        wait for a top-level window of that class (any process), print
//                         its title; close-top CLASS closes all of them
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string g_title = "ZOV ORU VAZ Izove Duro";
double g_timeout = 20.0;

int fail(const char* fmt, const char* arg = "") {
  std::fprintf(stderr, "winctl: ");
  std::fprintf(stderr, fmt, arg);
  std::fprintf(stderr, "\n");
  return 1;
}

// Keeps trying until probe says yes or the time-out runs out.
template <typename Probe>
bool wait_for(Probe probe) {
  DWORD start = GetTickCount();
  for (;;) {
    if (probe()) return true;
    if (GetTickCount() - start > static_cast<DWORD>(g_timeout * 1000)) return false;
    Sleep(25);
  }
}

std::string class_of(HWND w) {
  char buf[256] = {};
  GetClassNameA(w, buf, sizeof buf);
  return buf;
}

// Text of a window in another process: GetWindowText does not cross processes.
std::string text_of(HWND w) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len)) return {};
  std::vector<char> buf(len + 2, '\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutA(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                      SMTO_ABORTIFHUNG, 5000, &got);
  return std::string(buf.data());
}

std::string name_of(HWND w) {
  ATOM atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(GetPropA(w, "MsrName")));
  if (atom == 0) return {};
  char buf[256] = {};
  if (GlobalGetAtomNameA(atom, buf, sizeof buf) == 0) return {};
  return buf;
}

// "Save && Exit" is shown as "Save & Exit": compare the way it reads on screen.
std::string shown(const std::string& caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

HWND app_window() {
  return FindWindowA("TApplication", g_title.c_str());
}

struct FindForm {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK find_form_proc(HWND w, LPARAM lp) {
  auto* f = reinterpret_cast<FindForm*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == f->pid && !name_of(w).empty()) {
    f->found = w;
    return FALSE;
  }
  return TRUE;
}

HWND form_window() {
  HWND app = app_window();
  if (app == nullptr) return nullptr;
  FindForm f{0, nullptr};
  GetWindowThreadProcessId(app, &f.pid);
  EnumWindows(find_form_proc, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

BOOL CALLBACK collect_proc(HWND w, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
  return TRUE;
}

std::vector<HWND> controls_of(HWND form) {
  std::vector<HWND> all;
  EnumChildWindows(form, collect_proc, reinterpret_cast<LPARAM>(&all));
  return all;
}

HWND need_form() {
  HWND form = nullptr;
  wait_for([&] { return (form = form_window()) != nullptr && IsWindowVisible(form); });
  return form;
}

HWND find_control(HWND form, const std::string& name) {
  std::vector<HWND> all = controls_of(form);
  for (HWND w : all) {
    if (name_of(w) == name) return w;
  }
  for (HWND w : all) {
    if (shown(text_of(w)) == shown(name)) return w;
  }
  return nullptr;
}

bool is_button_kind(HWND w) {
  return _stricmp(class_of(w).c_str(), "Button") == 0;
}

LONG button_type(HWND w) {
  return GetWindowLongA(w, GWL_STYLE) & BS_TYPEMASK;
}

bool is_check_box(HWND w) {
  if (!is_button_kind(w)) return false;
  LONG t = button_type(w);
  return t == BS_CHECKBOX || t == BS_AUTOCHECKBOX || t == BS_3STATE || t == BS_AUTO3STATE;
}

int checked_of(HWND w) {
  if (!is_check_box(w)) return -1;
  DWORD_PTR r = 0;
  SendMessageTimeoutA(w, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
  return static_cast<int>(r);
}

RECT client_rect_in(HWND form, HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Replaces control characters so one control stays one line of the dump.
std::string one_line(std::string s) {
  for (char& c : s) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return s;
}

int cmd_dump(HWND form) {
  for (HWND w : controls_of(form)) {
    RECT r = client_rect_in(form, w);
    std::printf("%s\t%s\t%d\t%d\t%d\t%d\t%ld\t%ld\t%ld\t%ld\t%s\n", name_of(w).c_str(),
                class_of(w).c_str(), GetDlgCtrlID(w), IsWindowVisible(w) ? 1 : 0,
                IsWindowEnabled(w) ? 1 : 0, checked_of(w), r.left, r.top, r.right - r.left,
                r.bottom - r.top, one_line(text_of(w)).c_str());
  }
  return 0;
}

int cmd_get(HWND form, HWND w, const char* field) {
  RECT r = client_rect_in(form, w);
  std::string f = field ? field : "";
  if (f == "text") {
    std::printf("%s\n", text_of(w).c_str());
  } else if (f == "checked") {
    std::printf("%d\n", checked_of(w));
  } else if (f == "enabled") {
    std::printf("%d\n", IsWindowEnabled(w) ? 1 : 0);
  } else if (f == "visible") {
    std::printf("%d\n", IsWindowVisible(w) ? 1 : 0);
  } else if (f == "rect") {
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  } else if (f.empty()) {
    std::printf("name=%s\nclass=%s\ntext=%s\nchecked=%d\nenabled=%d\nvisible=%d\n",
                name_of(w).c_str(), class_of(w).c_str(), one_line(text_of(w)).c_str(),
                checked_of(w), IsWindowEnabled(w) ? 1 : 0, IsWindowVisible(w) ? 1 : 0);
  } else {
    return 2;
  }
  return 0;
}

// A mouse click in the middle of the control, as the user makes it.
void mouse_click(HWND w, bool wait) {
  RECT r{};
  GetClientRect(w, &r);
  LPARAM at = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
  if (wait) {
    DWORD_PTR res = 0;
    SendMessageTimeoutA(w, WM_LBUTTONDOWN, MK_LBUTTON, at, SMTO_NORMAL, 30000, &res);
    SendMessageTimeoutA(w, WM_LBUTTONUP, 0, at, SMTO_NORMAL, 30000, &res);
  } else {
    PostMessageA(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(w, WM_LBUTTONUP, 0, at);
  }
}

int cmd_click(HWND w, bool wait) {
  if (!IsWindowVisible(w) || !IsWindowEnabled(w)) {
    // A user can't click it either; say so, but let the program ignore it as it would.
    std::fprintf(stderr, "winctl: %s is not clickable\n", name_of(w).c_str());
  }
  if (is_button_kind(w)) {
    if (wait) {
      DWORD_PTR res = 0;
      if (!SendMessageTimeoutA(w, BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &res)) return 1;
    } else {
      PostMessageA(w, BM_CLICK, 0, 0);
    }
  } else {
    mouse_click(w, wait);
  }
  return 0;
}

void send(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR res = 0;
  SendMessageTimeoutA(w, msg, wp, lp, SMTO_NORMAL, 30000, &res);
}

int cmd_type(HWND w, const std::string& text) {
  send(w, EM_SETSEL, 0, -1);
  if (text.empty()) {
    send(w, WM_CHAR, VK_BACK, 1);
    return 0;
  }
  for (unsigned char c : text) send(w, WM_CHAR, c, 1);
  return 0;
}

int cmd_settext(HWND w, const std::string& text) {
  DWORD_PTR res = 0;
  // WM_SETTEXT with a pointer is marshalled across processes by the system.
  SendMessageTimeoutA(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 30000,
                      &res);
  return 0;
}

HWND focused_control(HWND form) {
  GUITHREADINFO gti{};
  gti.cbSize = sizeof gti;
  DWORD tid = GetWindowThreadProcessId(form, nullptr);
  if (!GetGUIThreadInfo(tid, &gti)) return nullptr;
  return gti.hwndFocus;
}

int cmd_key(HWND form, const std::string& key) {
  HWND target = focused_control(form);
  if (target == nullptr) target = form;
  WPARAM vk = 0;
  bool shift = false;
  if (key == "tab") {
    vk = VK_TAB;
  } else if (key == "shift-tab") {
    vk = VK_TAB;
    shift = true;
  } else if (key == "esc") {
    vk = VK_ESCAPE;
  } else if (key == "enter") {
    vk = VK_RETURN;
  } else {
    return 2;
  }
  // Posted, as the keyboard delivers keys: through the program's own message loop.
  if (shift) PostMessageA(target, WM_KEYDOWN, VK_SHIFT, 1);
  PostMessageA(target, WM_KEYDOWN, vk, 1);
  PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
  if (shift) PostMessageA(target, WM_KEYUP, VK_SHIFT, 0xC0000001);
  return 0;
}

void send_vk(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof(in));
}

// Keys as the keyboard driver delivers them, with the keyboard state that goes with them.
int cmd_press(HWND form, int argc, char** argv) {
  SetForegroundWindow(form);
  Sleep(200);
  for (int i = 0; i < argc; ++i) {
    std::string k = argv[i];
    bool shift = k == "shift-tab";
    std::vector<std::pair<WORD, bool>> keys;
    if (k == "tab" || shift) {
      keys.push_back({VK_TAB, false});
    } else {
      for (char ch : k) {
        SHORT vs = VkKeyScanA(ch);
        if (vs == -1) return 2;
        keys.push_back({static_cast<WORD>(LOBYTE(vs)), (HIBYTE(vs) & 1) != 0});
      }
    }
    for (auto [vk, sh] : keys) {
      if (shift || sh) send_vk(VK_SHIFT, false);
      send_vk(vk, false);
      send_vk(vk, true);
      if (shift || sh) send_vk(VK_SHIFT, true);
      Sleep(100);
    }
  }
  Sleep(300);
  return 0;
}

HWND find_box(const std::string& title) {
  return FindWindowA("#32770", title.c_str());
}

// The text of a message box: its static control that is no icon.
std::string box_text(HWND box) {
  std::string text;
  for (HWND w : controls_of(box)) {
    if (_stricmp(class_of(w).c_str(), "Static") != 0) continue;
    if ((GetWindowLongA(w, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    std::string t = text_of(w);
    if (!t.empty()) text = t;
  }
  return text;
}

struct TopFind {
  std::string cls;
  std::vector<HWND> found;
};

BOOL CALLBACK top_proc(HWND w, LPARAM lp) {
  auto* f = reinterpret_cast<TopFind*>(lp);
  if (_stricmp(class_of(w).c_str(), f->cls.c_str()) == 0 && IsWindowVisible(w))
    f->found.push_back(w);
  return TRUE;
}

std::vector<HWND> top_windows(const std::string& cls) {
  TopFind f{cls, {}};
  EnumWindows(top_proc, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

int usage() {
  std::fprintf(stderr,
               "usage: winctl [--title T] [--timeout S] wait-window|wait-gone|dump|get|caption|"
               "click|post-click|type|settext|focus|key|focused|scroll|scrollbars|close|box|"
               "answer-box|no-box|wait-top|close-top ...\n");
  return 2;
}

int run(int argc, char** argv) {
  int i = 1;
  while (i + 1 < argc && argv[i][0] == '-' && argv[i][1] == '-') {
    std::string opt = argv[i];
    if (opt == "--title") {
      g_title = argv[i + 1];
    } else if (opt == "--timeout") {
      g_timeout = std::atof(argv[i + 1]);
    } else {
      return usage();
    }
    i += 2;
  }
  if (i >= argc) return usage();
  std::string cmd = argv[i++];
  auto arg = [&](int k) -> const char* { return i + k < argc ? argv[i + k] : nullptr; };

  if (cmd == "wait-gone") {
    return wait_for([] { return app_window() == nullptr; }) ? 0 : fail("still running");
  }
  if (cmd == "box" || cmd == "answer-box") {
    if (!arg(0)) return usage();
    HWND box = nullptr;
    if (!wait_for([&] { return (box = find_box(arg(0))) != nullptr && IsWindowVisible(box); }))
      return fail("no message box \"%s\"", arg(0));
    std::printf("%s\n", box_text(box).c_str());
    std::fflush(stdout);
    if (cmd == "box") return 0;
    if (!arg(1)) return usage();
    std::string answer = arg(1);
    int id = answer == "ok" ? IDOK : answer == "cancel" ? IDCANCEL : 0;
    if (id == 0) return usage();
    HWND button = GetDlgItem(box, id);
    if (button == nullptr) return fail("the box has no %s button", arg(1));
    PostMessageA(button, BM_CLICK, 0, 0);
    return wait_for([&] { return !IsWindow(box); }) ? 0 : fail("the box stays open");
  }
  if (cmd == "no-box") {
    if (!arg(0)) return usage();
    return find_box(arg(0)) == nullptr ? 0 : fail("message box \"%s\" is open", arg(0));
  }
  if (cmd == "wait-top" || cmd == "close-top") {
    if (!arg(0)) return usage();
    std::vector<HWND> found;
    bool any = wait_for([&] { return !(found = top_windows(arg(0))).empty(); });
    if (!any) return fail("no window of class %s", arg(0));
    for (HWND w : found) {
      std::printf("%s\n", text_of(w).c_str());
      if (cmd == "close-top") PostMessageA(w, WM_CLOSE, 0, 0);
    }
    if (cmd == "close-top") {
      return wait_for([&] { return top_windows(arg(0)).empty(); }) ? 0 : fail("still open");
    }
    return 0;
  }

  HWND form = need_form();
  if (form == nullptr) return fail("no setup window");
  if (cmd == "wait-window") {
    // The form is marked ready once every control has its window.
    bool ok = wait_for([&] { return GetPropA(form, "MsrReady") != nullptr; });
    if (!ok) return fail("the window never got all its controls");
    std::printf("%s\n", text_of(form).c_str());
    return 0;
  }
  if (cmd == "caption") {
    std::printf("%s\n", text_of(form).c_str());
    return 0;
  }
  if (cmd == "dump") return cmd_dump(form);
  if (cmd == "close") {
    PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
  }
  if (cmd == "focused") {
    HWND f = focused_control(form);
    std::printf("%s\n", f ? name_of(f).c_str() : "");
    return 0;
  }
  if (cmd == "press") return cmd_press(form, argc - i, argv + i);
  if (cmd == "key") return arg(0) ? cmd_key(form, arg(0)) : usage();
  if (cmd == "scrollbars") {
    LONG style = GetWindowLongA(form, GWL_STYLE);
    RECT r{};
    GetClientRect(form, &r);
    std::printf("h=%d v=%d client=%ld,%ld\n", (style & WS_HSCROLL) ? 1 : 0,
                (style & WS_VSCROLL) ? 1 : 0, r.right, r.bottom);
    return 0;
  }
  if (cmd == "scroll") {
    if (!arg(0) || !arg(1)) return usage();
    UINT msg = std::string(arg(0)) == "h" ? WM_HSCROLL : WM_VSCROLL;
    WPARAM code = std::string(arg(1)) == "end" ? SB_BOTTOM : SB_TOP;  // SB_RIGHT == SB_BOTTOM
    send(form, msg, code, 0);
    return 0;
  }

  if (!arg(0)) return usage();
  HWND w = find_control(form, arg(0));
  if (w == nullptr) return fail("no control \"%s\"", arg(0));
  if (cmd == "get") return cmd_get(form, w, arg(1));
  if (cmd == "click") return cmd_click(w, true);
  if (cmd == "post-click") return cmd_click(w, false);
  if (cmd == "focus") {
    mouse_click(w, true);
    return 0;
  }
  if (cmd == "type") return arg(1) ? cmd_type(w, arg(1)) : usage();
  if (cmd == "settext") return arg(1) ? cmd_settext(w, arg(1)) : usage();
  return usage();
}

}  // namespace

int main(int argc, char** argv) {
  int code = run(argc, argv);
  std::fflush(stdout);
  return code;
}
