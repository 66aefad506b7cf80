// Group boxes and tab sheets: opaque windows of our own class (what lies under a group
// box stays covered) that hand their controls' notifications on. A group box draws its
// frame and caption; a sheet fills its tab control's display area, and only the active
// page of a tab control is on screen.
#include "ui/framework/win32/peers.h"

namespace msr::win32ui {
namespace {

class ContainerPeer : public ChildPeer {
 public:
  using ChildPeer::ChildPeer;
  virtual void paint() {
    PAINTSTRUCT ps;
    ::BeginPaint(hwnd_, &ps);
    ::EndPaint(hwnd_, &ps);
  }

 protected:
  native::WindowStyle style() const override { return native::container_style(); }
  bool subclassed() const override { return false; }
};

class GroupBoxPeer final : public ContainerPeer {
 public:
  using ContainerPeer::ContainerPeer;
  void paint() override {
    native::paint_group_box(hwnd_, font(control_.GetFont()), control_.Caption(),
                            control_.EffectivelyEnabled());
  }

 protected:
  void show_text() override {
    if (apply_text()) ::InvalidateRect(hwnd_, nullptr, TRUE);
  }
  void mirror(Prop what) override {
    if (what == Prop::enabled) ::InvalidateRect(hwnd_, nullptr, TRUE);
  }
};

class TabSheetPeer final : public ContainerPeer {
 public:
  explicit TabSheetPeer(TTabSheet& c) : ContainerPeer(c), sheet_(c) {}

 protected:
  RECT native_bounds() const override { return native::sheet_rect(native_parent()); }
  bool shown_natively() const override {
    return sheet_.PageControl()->ActivePage() == &sheet_ && sheet_.Visible();
  }
  // The caption is the sheet's tab: the tab control shows it.
  void show_text() override { tabs_changed(); }
  void mirror(Prop what) override {
    if (what == Prop::tab_visible) tabs_changed();
  }

 private:
  void tabs_changed() {
    if (Peer* pc = sheet_.Parent()->GetPeer()) pc->changed(Prop::tab_visible);
  }
  TTabSheet& sheet_;
};

LRESULT CALLBACK container_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_COMMAND:
    case WM_NOTIFY:
      if (route_control_message(m, wp, lp)) return 0;
      break;
    case WM_ERASEBKGND:
      native::erase_container(w, reinterpret_cast<HDC>(wp));
      return 1;
    case WM_PAINT:
      // Only containers are of this class.
      if (auto* p = static_cast<ContainerPeer*>(peer_of(w))) {
        p->paint();
      } else {
        PAINTSTRUCT ps;
        ::BeginPaint(w, &ps);
        ::EndPaint(w, &ps);
      }
      return 0;
    case WM_NCDESTROY:
      if (Win32Peer* p = peer_of(w)) p->release();
      break;
    default:
      break;
  }
  return ::DefWindowProcA(w, m, wp, lp);
}

}  // namespace

void register_container_class() {
  native::register_container_class(container_proc);
}

std::unique_ptr<Win32Peer> make_group_box_peer(TGroupBox& c) {
  return std::make_unique<GroupBoxPeer>(c);
}

std::unique_ptr<Win32Peer> make_tab_sheet_peer(TTabSheet& c) {
  return std::make_unique<TabSheetPeer>(c);
}

}  // namespace msr::win32ui
