// The native side of the form framework on Win32: the hidden application window, the
// message loop over the process's one pump with the keys that move through a form, the
// fonts, and the one factory of the controls' peers.
//
// The model (controls.h, forms.h) is the one truth: a peer mirrors its control, and
// what the user does comes back as a model event. Keyboard navigation (Tab, Esc, Enter
// on a button) goes through the model too, because the window's tab order and its
// stacking order differ (a text laid over a button comes later in tab order).
#include "ui/framework/win32/win32_ui.h"

#include "ui/framework/win32/form_peer.h"
#include "ui/framework/win32/peers.h"

// After the model, as windows.h must be.
#include "platform/win32/message_pump.h"

// After windows.h, which it needs.
#include <commctrl.h>

#include <exception>
#include <map>
#include <memory>
#include <string>
#include <tuple>

namespace msr {
namespace {

using namespace win32ui;

constexpr char kAppClass[] = "TApplication";

FormPeer* main_form_peer() {
  TForm* main = Application.MainForm();
  auto* fp = main != nullptr ? static_cast<FormPeer*>(main->GetPeer()) : nullptr;
  return fp != nullptr && fp->on_screen() && fp->hwnd() != nullptr ? fp : nullptr;
}

// The hidden application window: brought to the front by a second start, it hands the
// activation on to the main form.
LRESULT CALLBACK app_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if ((m == WM_ACTIVATE && LOWORD(wp) != WA_INACTIVE) || m == WM_SETFOCUS) {
    if (FormPeer* fp = main_form_peer()) {
      if (::IsIconic(fp->hwnd())) ::ShowWindow(fp->hwnd(), SW_RESTORE);
      ::SetForegroundWindow(fp->hwnd());
      return 0;
    }
  }
  return ::DefWindowProcA(w, m, wp, lp);
}

// The keys that move through a form, whoever pumps the message; true when used.
bool form_key(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || msg.hwnd == nullptr) return false;
  Win32Peer* tp = peer_of(::GetAncestor(msg.hwnd, GA_ROOT));
  if (tp == nullptr || !tp->is_form()) return false;
  TForm& form = static_cast<FormPeer*>(tp)->form();
  switch (msg.wParam) {
    case VK_TAB:
      if (::GetKeyState(VK_CONTROL) < 0) return false;
      guarded([&] { form.user_tab(::GetKeyState(VK_SHIFT) >= 0); });
      return true;
    case VK_ESCAPE:
      guarded([&] { form.user_escape(); });
      return true;
    case VK_RETURN: {
      TWinControl* a = form.ActiveControl();
      auto* p = a != nullptr ? static_cast<Win32Peer*>(a->GetPeer()) : nullptr;
      if (p == nullptr || !p->presses_on_enter()) return false;
      guarded([&] { a->user_click(); });
      return true;
    }
    default:
      return false;
  }
}

// The peer of a control of that kind, its window not made yet.
std::unique_ptr<Win32Peer> make_peer(TControl& c) {
  switch (c.Kind()) {
    case ControlKind::form:
      return std::make_unique<FormPeer>(static_cast<TForm&>(c));
    case ControlKind::label:
      return make_label_peer(static_cast<TLabel&>(c));
    case ControlKind::button:
      return make_button_peer(static_cast<TButton&>(c));
    case ControlKind::check_box:
      return make_check_box_peer(static_cast<TCheckBox&>(c));
    case ControlKind::edit:
      return make_edit_peer(static_cast<TEdit&>(c));
    case ControlKind::combo_box:
      return make_combo_box_peer(static_cast<TComboBox&>(c));
    case ControlKind::group_box:
      return make_group_box_peer(static_cast<TGroupBox&>(c));
    case ControlKind::page_control:
      return make_page_control_peer(static_cast<TPageControl&>(c));
    case ControlKind::tab_sheet:
      return make_tab_sheet_peer(static_cast<TTabSheet&>(c));
    case ControlKind::static_text:
      return make_static_text_peer(static_cast<TStaticText&>(c));
    case ControlKind::image:
      return make_image_peer(static_cast<TImage&>(c));
  }
  throw Exception("No native control for " + c.Name());
}

class Win32Ui final : public NativeUi {
 public:
  void set_app_title(const std::string& title) override {
    register_classes();
    if (app_ == nullptr) {
      // Hidden, so it never shows; a second start finds it by class and title.
      app_ = ::CreateWindowExA(WS_EX_TOOLWINDOW, kAppClass, title.c_str(), WS_POPUP, 0, 0, 0, 0,
                               nullptr, nullptr, instance(), nullptr);
      if (app_ == nullptr) throw Exception("Error creating the application window");
    } else {
      ::SetWindowTextA(app_, title.c_str());
    }
  }

  std::unique_ptr<Peer> create_peer(TControl& control) override {
    register_classes();
    std::unique_ptr<Win32Peer> p = make_peer(control);
    p->create();
    return p;
  }

  void show_form(TForm& form) override {
    if (auto* fp = static_cast<FormPeer*>(form.GetPeer())) fp->show();
  }

  // Only hidden here: we may be inside one of its controls' notifications.
  void close_form(TForm& form) override {
    if (auto* fp = static_cast<FormPeer*>(form.GetPeer())) fp->hide();
  }

  void run_loop(TForm& main_form) override {
    while (!Application.Terminated() && !main_form.Closed() && !pending_) {
      if (!win32::pump_one()) break;
    }
    rethrow_pending();
  }

  void process_messages() override {
    win32::pump_waiting();
    rethrow_pending();
  }

  Handle dialog_owner() override {
    if (HWND active = ::GetActiveWindow()) return active;
    if (FormPeer* fp = main_form_peer()) return fp->hwnd();
    return app_;
  }

  void guard(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const Exception& e) {
      Application.ShowException(e);
    } catch (...) {
      if (!pending_) pending_ = std::current_exception();
      ::PostQuitMessage(0);
    }
  }

  HFONT font(const TFont& f) {
    auto key = std::make_tuple(f.Name, f.Height, f.Bold, static_cast<int>(f.Charset));
    auto it = fonts_.find(key);
    if (it != fonts_.end()) return it->second;
    HFONT h = native::create_font(f);
    fonts_[key] = h;
    return h;
  }

  void load_common_controls() {
    if (common_controls_) return;
    common_controls_ = true;
    // By its name: the program's manifest names Common Controls 6, so the loader takes the
    // library from the system's side-by-side store (a full path would get the old one from
    // the system folder), and never from beside the program or the current directory.
    HMODULE lib = ::LoadLibraryA("comctl32.dll");
    using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto init = reinterpret_cast<Init>(
        reinterpret_cast<void (*)()>(::GetProcAddress(lib, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES};
    if (init != nullptr) init(&icc);
  }

  void shutdown() {
    if (app_ != nullptr) ::DestroyWindow(app_);
    app_ = nullptr;
    for (auto& [key, h] : fonts_) ::DeleteObject(h);
    fonts_.clear();
  }

 private:
  void register_classes() {
    if (registered_) return;
    win32::set_message_filter(form_key);
    WNDCLASSA wc{};
    wc.lpfnWndProc = app_proc;
    wc.hInstance = instance();
    wc.hIcon = ::LoadIconA(instance(), MAKEINTRESOURCEA(1));
    wc.lpszClassName = kAppClass;
    ::RegisterClassA(&wc);
    register_container_class();
    // Before the first control: on Windows XP the themed buttons and edits of Common
    // Controls 6 exist only once that library is loaded, or creating them fails.
    load_common_controls();
    registered_ = true;
  }

  void rethrow_pending() {
    if (pending_) {
      std::exception_ptr e = pending_;
      pending_ = nullptr;
      std::rethrow_exception(e);
    }
  }

  bool registered_ = false;
  bool common_controls_ = false;
  HWND app_ = nullptr;
  std::map<std::tuple<std::string, int, bool, int>, HFONT> fonts_;
  std::exception_ptr pending_;
};

Win32Ui& ui() {
  static Win32Ui instance;
  return instance;
}

}  // namespace

namespace win32ui {

void guarded(const std::function<void()>& fn) {
  ui().guard(fn);
}

HFONT font(const TFont& f) {
  return ui().font(f);
}

void load_common_controls() {
  ui().load_common_controls();
}

}  // namespace win32ui

NativeUi& win32_native_ui() {
  return ui();
}

void win32_native_ui_shutdown() {
  ui().shutdown();
}

}  // namespace msr
