// The boundary between the form framework's model and a native window system.
//
// The model (controls.h, forms.h) holds every control's state and runs the handlers; a
// native side mirrors that state in real windows. The Windows build installs one with
// set_native_ui() before the application is initialised; unit tests install none, and
// the model then works on its own (nothing is drawn, message loops return at once).
//
// Peers are created when a form is first shown (TForm::Show, or TForm::HandleNeeded),
// for the form and the controls on screen: the model calls NativeUi::create_peer once per
// control, the form first and then every control before its own contents, each
// container's controls from the top of the stack down (TForm::StackingOrder). A control
// that is not on screen then gets its peer when it comes on screen. A peer reads the
// whole state of its control when it is created; afterwards the model calls
// Peer::changed for every property that changes. User actions come back through the
// model's user_* entry points (click, type, select, focus, Esc, close box), which run
// the handlers exactly as the tests drive them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/os.h"

namespace msr {

class TControl;
class TForm;

// What changed on a control, so its peer can copy just that from the model.
enum class Prop {
  caption,       // Caption() (labels, buttons, check boxes, group box, static text, sheet, form)
  text,          // TEdit::Text()
  checked,       // TCheckBox::Checked()
  enabled,       // Enabled()
  visible,       // Visible()
  bounds,        // Left(), Top(), Width(), Height()
  font,          // GetFont()
  items,         // TComboBox::Items()
  item_index,    // TComboBox::ItemIndex()
  max_length,    // TEdit::MaxLength()
  tab_visible,   // TTabSheet::TabVisible()
  active_page,   // TPageControl::ActivePage()
  picture,       // TImage::Picture()
  alignment,     // Alignment() / Layout() of labels and static texts
  scroll_range,  // TForm::ScrollRange() (only ever sent to the form's peer)
};

// A control's native counterpart.
class Peer {
 public:
  virtual ~Peer() = default;
  // Copy property what from the model into the native control.
  virtual void changed(Prop what) = 0;
  // Give the native control the keyboard focus (the model has already recorded it).
  virtual void focus() = 0;
  // The native window, or nullptr for a control drawn by its parent.
  virtual Handle handle() = 0;
};

class NativeUi {
 public:
  virtual ~NativeUi() = default;

  // The application title changed: the hidden top-level window of class "TApplication"
  // carries it (created on the first call), so that a second start can find us.
  virtual void set_app_title(const std::string& title) = 0;
  // A native counterpart for control (the model keeps it until the control dies).
  virtual std::unique_ptr<Peer> create_peer(TControl& control) = 0;
  // Put the form on screen (its peers exist by now).
  virtual void show_form(TForm& form) = 0;
  // The form was closed by code, a button or its close box: take it off screen; for the
  // main form the message loop ends as well.
  virtual void close_form(TForm& form) = 0;
  // Run the message loop until the main form has closed.
  virtual void run_loop(TForm& main_form) = 0;
  // Dispatch the messages that are waiting, then return.
  virtual void process_messages() = 0;
  // Owner window for message boxes (the active form, else the application window).
  virtual Handle dialog_owner() = 0;
};

// The installed native side, or nullptr.
NativeUi* native_ui();
void set_native_ui(NativeUi* ui);

}  // namespace msr
