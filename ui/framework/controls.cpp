#include "ui/framework/controls.h"

#include <algorithm>

#include "ui/framework/forms.h"

namespace msr {

bool run_event(const std::function<void()>& fn) {
  try {
    fn();
    return true;
  } catch (const Exception& e) {
    Application.ShowException(e);
    return false;
  }
}

// --- TControl ---

TControl::TControl(ControlKind kind, std::string name, TWinControl* parent)
    : kind_(kind), name_(std::move(name)), parent_(parent) {
  if (parent_ != nullptr) parent_->controls_.push_back(this);
}

TControl::~TControl() = default;

TForm* TControl::Form() const {
  const TControl* c = this;
  while (c->parent_ != nullptr) c = c->parent_;
  return c->kind_ == ControlKind::form ? static_cast<TForm*>(const_cast<TControl*>(c)) : nullptr;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left, top_ = top, width_ = width, height_ = height;
  notify(Prop::bounds);
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  notify(Prop::visible);
}

bool TControl::Showing() const {
  for (const TControl* c = this; c != nullptr; c = c->parent_) {
    if (!c->visible_) return false;
    // Only the active page of a tab control is on screen.
    if (c->kind_ == ControlKind::tab_sheet) {
      const auto* sheet = static_cast<const TTabSheet*>(c);
      if (sheet->PageControl()->ActivePage() != sheet) return false;
    }
  }
  return true;
}

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  notify(Prop::enabled);
}

bool TControl::EffectivelyEnabled() const {
  for (const TControl* c = this; c != nullptr; c = c->parent_) {
    if (!c->enabled_) return false;
  }
  return true;
}

void TControl::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  notify(Prop::caption);
}

const TFont& TControl::GetFont() const {
  if (parent_font_ && parent_ != nullptr) return parent_->GetFont();
  return font_;
}

namespace {

// A font change reaches every control that takes its font from its parent.
void notify_font(TControl* c) {
  if (c->GetPeer() != nullptr) c->GetPeer()->changed(Prop::font);
  if (auto* w = dynamic_cast<TWinControl*>(c)) {
    for (TControl* child : w->Controls()) {
      if (child->ParentFont()) notify_font(child);
    }
  }
}

}  // namespace

void TControl::SetFont(const TFont& font) {
  font_ = font;
  parent_font_ = false;
  notify_font(this);
}

void TControl::SetAlignment(TAlignment a) {
  if (a == alignment_) return;
  alignment_ = a;
  notify(Prop::alignment);
}

void TControl::SetLayout(TTextLayout l) {
  if (l == layout_) return;
  layout_ = l;
  notify(Prop::alignment);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::user_click() {
  if (!can_take_user_input()) return;
  run_event([this] { Click(); });
}

void TControl::notify(Prop what) {
  if (peer_ != nullptr) peer_->changed(what);
  if (what == Prop::visible || what == Prop::active_page) {
    if (TForm* form = Form()) form->came_on_screen(this);
  }
  // What the form's direct children cover decides its scroll ranges.
  if ((what == Prop::visible || what == Prop::bounds) && parent_ != nullptr &&
      parent_->kind_ == ControlKind::form) {
    parent_->notify(Prop::scroll_range);
  }
}

// --- TWinControl ---

TWinControl::TWinControl(ControlKind kind, std::string name, TWinControl* parent)
    : TControl(kind, std::move(name), parent) {
  if (parent != nullptr) parent->tab_list_.push_back(this);
}

int TWinControl::TabOrder() const {
  if (Parent() == nullptr) return -1;
  const auto& list = Parent()->tab_list_;
  return static_cast<int>(std::find(list.begin(), list.end(), this) - list.begin());
}

void TWinControl::SetTabOrder(int position) {
  if (Parent() == nullptr) return;
  auto& list = Parent()->tab_list_;
  list.erase(std::find(list.begin(), list.end(), this));
  position = std::clamp(position, 0, static_cast<int>(list.size()));
  list.insert(list.begin() + position, this);
}

bool TWinControl::CanFocus() const {
  return Kind() != ControlKind::form && Form() != nullptr && Showing() && EffectivelyEnabled();
}

bool TWinControl::Focused() const {
  return Form() != nullptr && Form()->ActiveControl() == this;
}

void TWinControl::SetFocus() {
  TForm* form = Form();
  if (form == nullptr) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  form->FocusControl(this);
}

// --- the kinds ---

TLabel::TLabel(std::string name, TWinControl* parent)
    : TControl(ControlKind::label, std::move(name), parent) {}

TImage::TImage(std::string name, TWinControl* parent)
    : TControl(ControlKind::image, std::move(name), parent) {}

void TImage::SetPicture(const TPicture& picture) {
  picture_ = picture;
  notify(Prop::picture);
  fit();
}

void TImage::SetAutoSize(bool v) {
  auto_size_ = v;
  fit();
}

void TImage::fit() {
  if (auto_size_ && picture_.width > 0 && picture_.height > 0) {
    SetBounds(Left(), Top(), picture_.width, picture_.height);
  }
}

TButton::TButton(std::string name, TWinControl* parent)
    : TWinControl(ControlKind::button, std::move(name), parent) {
  SetTabStop(true);
}

TCheckBox::TCheckBox(std::string name, TWinControl* parent)
    : TWinControl(ControlKind::check_box, std::move(name), parent) {
  SetTabStop(true);
}

void TCheckBox::SetChecked(bool v) {
  if (v == checked_) return;
  checked_ = v;
  notify(Prop::checked);
  Click();
}

void TCheckBox::user_click() {
  if (!can_take_user_input()) return;
  run_event([this] { SetChecked(!checked_); });
}

TEdit::TEdit(std::string name, TWinControl* parent)
    : TWinControl(ControlKind::edit, std::move(name), parent) {
  SetTabStop(true);
}

void TEdit::SetText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  notify(Prop::text);
  if (OnChange) OnChange(this);
}

void TEdit::SetMaxLength(int n) {
  if (n == max_length_) return;
  max_length_ = n;
  notify(Prop::max_length);
}

void TEdit::user_type(const std::string& text) {
  if (!can_take_user_input()) return;
  std::string kept = text;
  if (max_length_ > 0 && kept.size() > static_cast<std::size_t>(max_length_)) {
    kept.resize(static_cast<std::size_t>(max_length_));
  }
  run_event([this, &kept] { SetText(kept); });
  // The native control may show more than the model kept: put the model's text back.
  if (kept != text) notify(Prop::text);
}

TComboBox::TComboBox(std::string name, TWinControl* parent)
    : TWinControl(ControlKind::combo_box, std::move(name), parent) {
  SetTabStop(true);
}

void TComboBox::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  notify(Prop::items);
  if (item_index_ >= static_cast<int>(items_.size())) SetItemIndex(-1);
}

void TComboBox::SetItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) index = -1;
  if (index == item_index_) return;
  item_index_ = index;
  notify(Prop::item_index);
}

const std::string& TComboBox::Text() const {
  static const std::string kNone;
  return item_index_ < 0 ? kNone : items_[static_cast<std::size_t>(item_index_)];
}

void TComboBox::user_select(int index) {
  if (!can_take_user_input()) return;
  run_event([this, index] {
    SetItemIndex(index);
    if (OnChange) OnChange(this);
  });
}

TGroupBox::TGroupBox(std::string name, TWinControl* parent)
    : TWinControl(ControlKind::group_box, std::move(name), parent) {}

TStaticText::TStaticText(std::string name, TWinControl* parent)
    : TWinControl(ControlKind::static_text, std::move(name), parent) {}

TTabSheet::TTabSheet(std::string name, TPageControl* parent)
    : TWinControl(ControlKind::tab_sheet, std::move(name), parent) {
  // The first sheet of a tab control is its active page until told otherwise.
  if (parent->ActivePage() == nullptr) parent->SetActivePage(this);
}

TPageControl* TTabSheet::PageControl() const {
  return static_cast<TPageControl*>(Parent());
}

void TTabSheet::SetTabVisible(bool v) {
  if (v == tab_visible_) return;
  tab_visible_ = v;
  notify(Prop::tab_visible);
}

TPageControl::TPageControl(std::string name, TWinControl* parent)
    : TWinControl(ControlKind::page_control, std::move(name), parent) {
  SetTabStop(true);
}

std::vector<TTabSheet*> TPageControl::Pages() const {
  std::vector<TTabSheet*> pages;
  for (TControl* c : Controls()) {
    if (c->Kind() == ControlKind::tab_sheet) pages.push_back(static_cast<TTabSheet*>(c));
  }
  return pages;
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page == active_page_) return;
  if (page != nullptr && page->Parent() != this) return;  // not one of ours
  active_page_ = page;
  notify(Prop::active_page);
}

void TPageControl::user_select_page(TTabSheet* page) {
  if (!can_take_user_input() || page == nullptr || !page->TabVisible()) return;
  run_event([this, page] { SetActivePage(page); });
}

}  // namespace msr
