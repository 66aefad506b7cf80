#include "ui/framework/forms.h"

#include <algorithm>

#include "platform/os.h"

namespace msr {
namespace {

void collect_focus_order(const TWinControl* container, std::vector<TWinControl*>& out) {
  for (TWinControl* c : container->TabList()) {
    out.push_back(c);
    collect_focus_order(c, out);
  }
}

}  // namespace

std::vector<TControl*> TForm::StackingOrder(const TWinControl& container) {
  std::vector<TControl*> order;
  for (bool windowed : {true, false}) {
    const auto& controls = container.Controls();
    for (auto c = controls.rbegin(); c != controls.rend(); ++c) {
      if ((dynamic_cast<TWinControl*>(*c) != nullptr) == windowed) order.push_back(*c);
    }
  }
  return order;
}

namespace {

// A control gets its peer once it is on screen, its container's before its own; the
// controls of one container from the top of the stack down.
void make_peers(NativeUi& ui, TControl* control) {
  if (!control->Showing()) return;
  if (control->GetPeer() == nullptr) control->set_peer(ui.create_peer(*control));
  if (auto* container = dynamic_cast<TWinControl*>(control)) {
    for (TControl* c : TForm::StackingOrder(*container)) make_peers(ui, c);
  }
}

}  // namespace

// --- TForm ---

TForm::TForm(std::string name) : TWinControl(ControlKind::form, std::move(name), nullptr) {}

TForm::~TForm() {
  // Children go before their parents, peers with them.
  while (!owned_.empty()) owned_.pop_back();
}

TControl* TForm::FindControl(const std::string& name) const {
  for (const auto& c : owned_) {
    if (c->Name() == name) return c.get();
  }
  return nullptr;
}

std::vector<TControl*> TForm::AllControls() const {
  std::vector<TControl*> all;
  for (const auto& c : owned_) all.push_back(c.get());
  return all;
}

void TForm::SetClientSize(int width, int height) {
  if (width == client_width_ && height == client_height_) return;
  client_width_ = width, client_height_ = height;
  notify(Prop::bounds);
  notify(Prop::scroll_range);
}

TScrollRange TForm::ScrollRange() const {
  TScrollRange r;
  for (const TControl* c : Controls()) {
    if (!c->Visible()) continue;
    r.width = std::max(r.width, c->Left() + c->Width());
    r.height = std::max(r.height, c->Top() + c->Height());
  }
  return r;
}

std::vector<TWinControl*> TForm::FocusOrder() const {
  std::vector<TWinControl*> order;
  collect_focus_order(this, order);
  return order;
}

void TForm::FocusControl(TWinControl* control) {
  if (control == active_) return;
  if (control == nullptr || control->Form() != this || !control->CanFocus()) {
    throw EInvalidOperation("Cannot focus a disabled or invisible window");
  }
  TWinControl* left = active_;
  active_ = control;
  if (control->GetPeer() != nullptr) control->GetPeer()->focus();
  // The window has moved the focus already when the edit hears that it lost it.
  if (left != nullptr && left->Kind() == ControlKind::edit) {
    auto* edit = static_cast<TEdit*>(left);
    if (edit->OnExit) run_event([edit] { edit->OnExit(edit); });
  }
}

void TForm::SelectFirst() {
  for (TWinControl* c : FocusOrder()) {
    if (c->TabStop() && c->CanFocus()) {
      FocusControl(c);
      return;
    }
  }
}

void TForm::DoCreate() {
  run_event([this] {
    if (OnCreate) OnCreate(this);
  });
}

void TForm::HandleNeeded() {
  NativeUi* ui = native_ui();
  if (peers_made_ || ui == nullptr) return;
  peers_made_ = true;
  make_peers(*ui, this);
}

void TForm::came_on_screen(TControl* control) {
  NativeUi* ui = native_ui();
  if (peers_made_ && ui != nullptr) make_peers(*ui, control);
}

void TForm::Show() {
  if (closed_) return;
  HandleNeeded();
  SetVisible(true);
  shown_ = true;
  if (active_ == nullptr) SelectFirst();
  if (NativeUi* ui = native_ui()) ui->show_form(*this);
}

void TForm::Close() {
  if (closed_) return;
  closed_ = true;
  if (NativeUi* ui = native_ui(); ui != nullptr && shown_) ui->close_form(*this);
  if (Application.MainForm() == this) Application.Terminate();
}

void TForm::user_focus(TWinControl* control) {
  if (control == active_ || control == nullptr || !control->CanFocus()) return;
  run_event([this, control] { FocusControl(control); });
}

void TForm::user_tab(bool forward) {
  std::vector<TWinControl*> stops;
  for (TWinControl* c : FocusOrder()) {
    if (c->TabStop() && c->CanFocus()) stops.push_back(c);
  }
  if (stops.empty()) return;
  auto at = std::find(stops.begin(), stops.end(), active_);
  std::size_t next = 0;
  if (at == stops.end()) {
    next = forward ? 0 : stops.size() - 1;
  } else {
    std::size_t i = static_cast<std::size_t>(at - stops.begin());
    next = forward ? (i + 1) % stops.size() : (i + stops.size() - 1) % stops.size();
  }
  user_focus(stops[next]);
}

void TForm::user_escape() {
  for (TWinControl* c : FocusOrder()) {
    if (c->Kind() == ControlKind::button && static_cast<TButton*>(c)->Cancel() && c->CanFocus()) {
      c->user_click();
      return;
    }
  }
}

void TForm::user_close() {
  run_event([this] { Close(); });
}

// --- TApplication ---

TApplication Application;

TApplication::~TApplication() {
  Reset();
}

void TApplication::Initialize() {
  initialized_ = true;
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  if (NativeUi* ui = native_ui()) ui->set_app_title(title_);
}

void TApplication::Run() {
  if (main_form_ == nullptr || main_form_->Closed()) return;
  main_form_->Show();
  NativeUi* ui = native_ui();
  if (ui != nullptr && !terminated_ && !main_form_->Closed()) ui->run_loop(*main_form_);
}

void TApplication::ProcessMessages() {
  if (NativeUi* ui = native_ui()) ui->process_messages();
}

namespace {

Handle dialog_owner() {
  NativeUi* ui = native_ui();
  return ui != nullptr ? ui->dialog_owner() : nullptr;
}

}  // namespace

void TApplication::ShowException(const Exception& e) {
  os().MessageBoxA(dialog_owner(), e.Message().c_str(), title_.c_str(), w32::kMbOk | kMbIconError);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption,
                             std::uint32_t flags) {
  return os().MessageBoxA(dialog_owner(), text.c_str(), caption.c_str(), flags);
}

void TApplication::Reset() {
  for (auto& clear : clear_references_) clear();
  clear_references_.clear();
  main_form_ = nullptr;
  while (!forms_.empty()) forms_.pop_back();
  initialized_ = false;
  title_.clear();
  terminated_ = false;
}

}  // namespace msr
