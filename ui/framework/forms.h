// The form and the application object of the form framework.
//
// A TForm owns its controls (Add<T>), keeps the keyboard focus, the client size and the
// scroll ranges, and closes. TApplication carries the application title, creates the
// forms, runs the message loop through the native side and shows exceptions in the
// error box (os().MessageBoxA, titled with the application title).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/framework/controls.h"

namespace msr {

struct TScrollRange {
  int width = 0, height = 0;
  bool operator==(const TScrollRange&) const = default;
};

class TForm : public TWinControl {
 public:
  explicit TForm(std::string name);
  ~TForm() override;

  // Adds a control owned by the form (parent: the form or one of its containers).
  template <class T, class Parent>
  T* Add(std::string name, Parent* parent) {
    auto control = std::make_unique<T>(std::move(name), parent);
    T* raw = control.get();
    owned_.push_back(std::move(control));
    return raw;
  }
  // The control of that name, or nullptr.
  TControl* FindControl(const std::string& name) const;
  // Every control of the form, in the order they were added.
  std::vector<TControl*> AllControls() const;

  int ClientWidth() const { return client_width_; }
  int ClientHeight() const { return client_height_; }
  void SetClientSize(int width, int height);

  // The window scrolls when a visible control reaches past the client area: the ranges
  // run to the right and bottom edges of the outermost visible control of the form.
  TScrollRange ScrollRange() const;
  bool HorzScrollBar() const { return ScrollRange().width > client_width_; }
  bool VertScrollBar() const { return ScrollRange().height > client_height_; }

  // Every windowed control of the form in tab order, containers before their contents.
  std::vector<TWinControl*> FocusOrder() const;
  TWinControl* ActiveControl() const { return active_; }
  // Moves the focus to control; the edit that loses it then runs its OnExit, as an
  // event of its own (an error there is shown in the error box and goes no further).
  // Raises EInvalidOperation when control can't take the focus.
  void FocusControl(TWinControl* control);
  // The first control in tab order that takes the focus with the Tab key gets it.
  void SelectFirst();

  TNotifyEvent OnCreate;
  // Runs OnCreate; an error raised in it is shown in the error box and ends it.
  void DoCreate();

  // Creates the native peers now (no-op without a native side or when done before):
  // the form's and those of the controls on screen. A control that is not gets its
  // peer when it comes on screen, with all the state it has by then.
  void HandleNeeded();
  // The controls of a container from the top of the stack down: those added later lie
  // over those added earlier, and every windowed control over the labels and pictures.
  static std::vector<TControl*> StackingOrder(const TWinControl& container);
  // Puts the form on screen: peers, initial focus, native show.
  void Show();
  // Closes the form; closing the main form ends the application's message loop.
  void Close();
  bool Closed() const { return closed_; }

  // --- user actions (native peers and tests) ---
  // The focus moved to control (a click or the Tab key); the edit that lost it gets its
  // OnExit first.
  void user_focus(TWinControl* control);
  // Tab / Shift+Tab: the next (or previous) control that takes the focus with Tab.
  void user_tab(bool forward);
  // The Esc key presses the showing, enabled button marked Cancel.
  void user_escape();
  // The close box of the title bar.
  void user_close();

 private:
  friend class TControl;
  // control may have come on screen (shown, or its page made active): peers for it and
  // its contents, if the form has its peers.
  void came_on_screen(TControl* control);
  std::vector<std::unique_ptr<TControl>> owned_;
  int client_width_ = 0, client_height_ = 0;
  TWinControl* active_ = nullptr;
  bool peers_made_ = false;
  bool shown_ = false;
  bool closed_ = false;
};

class TApplication {
 public:
  TApplication() = default;
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  void Initialize();
  bool Initialized() const { return initialized_; }
  const std::string& Title() const { return title_; }
  // Passed on to the native side, whose hidden "TApplication" window carries it.
  void SetTitle(const std::string& title);

  // Creates a form of class F; the first one created is the main form. reference points
  // at the form from before its constructor runs until the application is reset.
  template <class F>
  void CreateForm(F*& reference) {
    reference = nullptr;
    std::unique_ptr<F> form = std::make_unique<F>();
    reference = form.get();
    clear_references_.push_back([&reference] { reference = nullptr; });
    if (main_form_ == nullptr) main_form_ = form.get();
    forms_.push_back(std::move(form));
  }
  TForm* MainForm() const { return main_form_; }

  // Shows the main form and runs the message loop until it closes. Without a native
  // side, or with the main form already closed, returns at once.
  void Run();
  // Lets pending messages through (nothing without a native side).
  void ProcessMessages();
  // The main form closed: the loop ends.
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }

  // The error box: the exception's message, titled with the application title.
  void ShowException(const Exception& e);
  // A message box owned by the active window; returns the button pressed (IDOK...).
  int MessageBox(const std::string& text, const std::string& caption, std::uint32_t flags);

  // Back to a fresh application: forms destroyed, references cleared (tests).
  void Reset();

 private:
  bool initialized_ = false;
  std::string title_;
  std::vector<std::unique_ptr<TForm>> forms_;
  std::vector<std::function<void()>> clear_references_;
  TForm* main_form_ = nullptr;
  bool terminated_ = false;
};

extern TApplication Application;

// MB_ICONERROR, the error box's icon.
inline constexpr std::uint32_t kMbIconError = 0x10u;

}  // namespace msr
