// The controls of the form framework: each one holds its state (caption or text,
// bounds, visibility, enabled state, check state, items, font, tab order) and its event
// handlers. The state lives here; a native peer (native_ui.h) only mirrors it.
//
// The form relies on three rules, kept by the setters below:
//   - TCheckBox::SetChecked runs the box's OnClick, but only when the state changes;
//   - TEdit::SetText runs the edit's OnChange, but only when the text changes;
//   - TComboBox::SetItemIndex runs no handler.
// The user_* methods are the entry points of user actions (used by native peers and by
// tests alike). Each runs its handlers under the error box: an Exception raised inside
// is shown with the application title (TApplication::ShowException) and the rest of the
// handler is skipped. Setters called from code never catch: an error raised in a handler
// they run travels up to the user action that started it all.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/framework/native_ui.h"
#include "ui/framework/sysutils.h"

namespace msr {

class TForm;
class TWinControl;

class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

enum class ControlKind {
  form,
  label,
  button,
  check_box,
  edit,
  combo_box,
  group_box,
  page_control,
  tab_sheet,
  static_text,
  image,
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
enum class TTextLayout { tlTop, tlCenter, tlBottom };
enum class TFontCharset { DEFAULT_CHARSET, OEM_CHARSET };

struct TFont {
  std::string Name = "MS Sans Serif";
  int Height = 14;  // character height in pixels
  bool Bold = false;
  TFontCharset Charset = TFontCharset::DEFAULT_CHARSET;
  bool operator==(const TFont&) const = default;
};

// Runs fn as one user event: an Exception raised inside is shown in the error box and
// swallowed. Returns false when that happened.
bool run_event(const std::function<void()>& fn);

// EInvalidOperation: a request the control's state forbids (focusing a hidden control).
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

class TControl : public TObject {
 public:
  TControl(ControlKind kind, std::string name, TWinControl* parent);
  ~TControl() override;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  ControlKind Kind() const { return kind_; }
  const std::string& Name() const { return name_; }
  TWinControl* Parent() const { return parent_; }
  // The form the control sits on (the form itself for a form).
  TForm* Form() const;

  // Position relative to the parent's client area, in pixels.
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and every parent up to the form visible too.
  bool Showing() const;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  // Enabled, and every parent up to the form enabled too.
  bool EffectivelyEnabled() const;

  // Stored text; "&&" reads as a single "&" on screen.
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);

  // The control's own font, or its parent's while it has none of its own.
  const TFont& GetFont() const;
  void SetFont(const TFont& font);
  bool ParentFont() const { return parent_font_; }

  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  TTextLayout Layout() const { return layout_; }
  void SetLayout(TTextLayout l);

  TNotifyEvent OnClick;
  // Runs OnClick, as code calling Click() does (no error box here).
  virtual void Click();
  // The user clicked the control. Ignored while it isn't showing or isn't enabled, as
  // no user can click it then.
  virtual void user_click();

  Peer* GetPeer() const { return peer_.get(); }
  void set_peer(std::unique_ptr<Peer> peer) { peer_ = std::move(peer); }

 protected:
  // Tells the peer (if any) that what changed.
  void notify(Prop what);
  bool can_take_user_input() const { return Showing() && EffectivelyEnabled(); }

 private:
  ControlKind kind_;
  std::string name_;
  TWinControl* parent_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  TFont font_;
  bool parent_font_ = true;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  TTextLayout layout_ = TTextLayout::tlTop;
  std::unique_ptr<Peer> peer_;
};

// A control with a window of its own: it can hold other controls and take the focus.
class TWinControl : public TControl {
 public:
  TWinControl(ControlKind kind, std::string name, TWinControl* parent);

  // Children in the order they were added.
  const std::vector<TControl*>& Controls() const { return controls_; }
  // Windowed children in tab order.
  const std::vector<TWinControl*>& TabList() const { return tab_list_; }
  // Position in the parent's tab order (0 first); moves the control there.
  int TabOrder() const;
  void SetTabOrder(int position);
  bool TabStop() const { return tab_stop_; }
  void SetTabStop(bool v) { tab_stop_ = v; }

  // Showing, enabled up to the form, and a kind that takes the keyboard focus.
  bool CanFocus() const;
  bool Focused() const;
  // Moves the focus here (the edit it leaves runs its OnExit); raises
  // EInvalidOperation when the control can't take it.
  void SetFocus();

 private:
  friend class TControl;
  std::vector<TControl*> controls_;
  std::vector<TWinControl*> tab_list_;
  bool tab_stop_ = false;
};

class TLabel : public TControl {
 public:
  TLabel(std::string name, TWinControl* parent);
};

class TImage : public TControl {
 public:
  // A bitmap by resource name, with its size in pixels.
  struct TPicture {
    std::string resource;
    int width = 0, height = 0;
  };
  TImage(std::string name, TWinControl* parent);
  const TPicture& Picture() const { return picture_; }
  void SetPicture(const TPicture& picture);
  // With auto size the control takes the picture's size.
  void SetAutoSize(bool v);

 private:
  void fit();
  TPicture picture_;
  bool auto_size_ = false;
};

class TButton : public TWinControl {
 public:
  TButton(std::string name, TWinControl* parent);
  // The Esc key presses the button.
  bool Cancel() const { return cancel_; }
  void SetCancel(bool v) { cancel_ = v; }

 private:
  bool cancel_ = false;
};

class TCheckBox : public TWinControl {
 public:
  TCheckBox(std::string name, TWinControl* parent);
  bool Checked() const { return checked_; }
  // Runs OnClick when the state changes.
  void SetChecked(bool v);
  // The user clicked the box: its state flips, which runs OnClick.
  void user_click() override;

 private:
  bool checked_ = false;
};

class TEdit : public TWinControl {
 public:
  TEdit(std::string name, TWinControl* parent);
  const std::string& Text() const { return text_; }
  // Runs OnChange when the text changes.
  void SetText(const std::string& text);
  // The most characters the user may type (0: no limit); text set from code isn't cut.
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int n);

  TNotifyEvent OnChange;
  TNotifyEvent OnExit;  // the focus left the edit

  // The user typed or deleted: the edit now holds text (cut to MaxLength).
  void user_type(const std::string& text);

 private:
  std::string text_;
  int max_length_ = 0;
};

class TComboBox : public TWinControl {
 public:
  TComboBox(std::string name, TWinControl* parent);
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);
  // -1: nothing selected.
  int ItemIndex() const { return item_index_; }
  // Runs no handler; an index with no item leaves nothing selected.
  void SetItemIndex(int index);
  const std::string& Text() const;

  TNotifyEvent OnChange;

  // The user picked item index: it becomes the selection and OnChange runs.
  void user_select(int index);

 private:
  std::vector<std::string> items_;
  int item_index_ = -1;
};

class TGroupBox : public TWinControl {
 public:
  TGroupBox(std::string name, TWinControl* parent);
};

class TStaticText : public TWinControl {
 public:
  TStaticText(std::string name, TWinControl* parent);
};

class TPageControl;

class TTabSheet : public TWinControl {
 public:
  TTabSheet(std::string name, TPageControl* parent);
  TPageControl* PageControl() const;
  bool TabVisible() const { return tab_visible_; }
  void SetTabVisible(bool v);

 private:
  bool tab_visible_ = true;
};

class TPageControl : public TWinControl {
 public:
  TPageControl(std::string name, TWinControl* parent);
  // The sheets, in the order of their tabs.
  std::vector<TTabSheet*> Pages() const;
  TTabSheet* ActivePage() const { return active_page_; }
  void SetActivePage(TTabSheet* page);
  // The user picked a tab.
  void user_select_page(TTabSheet* page);

 private:
  TTabSheet* active_page_ = nullptr;
};

}  // namespace msr
