// Pictures: a bitmap static showing a bitmap resource of the program, at the model's
// bounds; it reports no clicks and takes no focus.
#include "ui/framework/win32/peers.h"

namespace msr::win32ui {
namespace {

class ImagePeer final : public ChildPeer {
 public:
  explicit ImagePeer(TImage& c) : ChildPeer(c), image_(c) {}
  ~ImagePeer() override {
    // The bitmap outlives the window that shows it.
    destroy();
    if (bitmap_ != nullptr) ::DeleteObject(bitmap_);
  }

 protected:
  native::WindowStyle style() const override { return native::image_style(); }
  const std::string* native_text() const override { return nullptr; }
  bool takes_focus() const override { return false; }
  void made() override { apply_picture(); }
  void mirror(Prop what) override {
    if (what == Prop::picture) apply_picture();
  }

 private:
  void apply_picture() {
    const auto& pic = image_.Picture();
    HBITMAP old = bitmap_;
    bitmap_ = pic.resource.empty()
                  ? nullptr
                  : static_cast<HBITMAP>(::LoadImageA(instance(), pic.resource.c_str(),
                                                      IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    ::SendMessageA(hwnd_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap_));
    if (old != nullptr) ::DeleteObject(old);
    // Setting a bitmap resizes the static; the model's bounds stand.
    place();
  }
  TImage& image_;
  HBITMAP bitmap_ = nullptr;
};

}  // namespace

std::unique_ptr<Win32Peer> make_image_peer(TImage& c) {
  return std::make_unique<ImagePeer>(c);
}

}  // namespace msr::win32ui
