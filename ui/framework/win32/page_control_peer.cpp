// Tab controls: one tab per sheet whose tab is visible, the active page's selected; the
// user's choice of a tab goes to the model, and each sheet is placed and shown anew.
#include "ui/framework/win32/peers.h"

// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace msr::win32ui {
namespace {

class PageControlPeer final : public ChildPeer {
 public:
  explicit PageControlPeer(TPageControl& c) : ChildPeer(c), pages_(c) { load_common_controls(); }

 protected:
  native::WindowStyle style() const override { return native::tab_control_style(); }
  void made() override { apply_tabs(); }
  // A sheet's tab (visibility, caption), the active page or the display area changed.
  void mirror(Prop what) override {
    if (what == Prop::tab_visible || what == Prop::active_page || what == Prop::bounds) {
      apply_tabs();
    }
  }
  void on_notify(int code) override {
    if (code != static_cast<int>(TCN_SELCHANGE)) return;
    int i = TabCtrl_GetCurSel(hwnd_);
    if (i >= 0 && static_cast<std::size_t>(i) < tabs_.size()) pages_.user_select_page(tabs_[i]);
    apply_tabs();
  }

 private:
  void apply_tabs() {
    echo_ = true;
    TabCtrl_DeleteAllItems(hwnd_);
    tabs_.clear();
    for (TTabSheet* sheet : pages_.Pages()) {
      if (!sheet->TabVisible()) continue;
      std::string caption = sheet->Caption();
      TCITEMA item{};
      item.mask = TCIF_TEXT;
      item.pszText = caption.data();
      ::SendMessageA(hwnd_, TCM_INSERTITEMA, tabs_.size(), reinterpret_cast<LPARAM>(&item));
      tabs_.push_back(sheet);
    }
    auto at = std::find(tabs_.begin(), tabs_.end(), pages_.ActivePage());
    TabCtrl_SetCurSel(hwnd_, at == tabs_.end() ? -1 : static_cast<int>(at - tabs_.begin()));
    echo_ = false;
    for (TTabSheet* sheet : pages_.Pages()) {
      if (auto* sp = static_cast<Win32Peer*>(sheet->GetPeer())) {
        sp->place();
        sp->apply_visible();
      }
    }
  }
  TPageControl& pages_;
  std::vector<TTabSheet*> tabs_;  // the tab control's items, in order
};

}  // namespace

std::unique_ptr<Win32Peer> make_page_control_peer(TPageControl& c) {
  return std::make_unique<PageControlPeer>(c);
}

}  // namespace msr::win32ui
