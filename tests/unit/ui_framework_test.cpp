// The form framework on its own: the three rules, the error box, focus, Esc, closing,
// scroll ranges, the number conversions, and what a native side is told.
#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/flags.h"
#include "tests/fakes/fake_os.h"
#include "ui/framework/forms.h"

namespace msr {
namespace {

// CreateForm keeps a reference to the pointer it fills until the application is reset.
class Plain;
Plain* g_plain = nullptr;

class Plain : public TForm {
 public:
  Plain() : TForm("Plain") {}
};

class UiFramework : public fake::FakeOsTest {
 protected:
  void SetUp() override {
    FakeOsTest::SetUp();
    Application.SetTitle(kAppTitle);
  }
  TForm form{"Form"};
};

TEST_F(UiFramework, CheckBoxFromCodeRunsItsClickOnlyWhenTheStateChanges) {
  auto* box = form.Add<TCheckBox>("Box", &form);
  int clicks = 0;
  box->OnClick = [&](TObject* sender) {
    EXPECT_EQ(sender, box);
    ++clicks;
  };
  box->SetChecked(false);
  EXPECT_EQ(clicks, 0);
  box->SetChecked(true);
  EXPECT_EQ(clicks, 1);
  box->SetChecked(true);
  EXPECT_EQ(clicks, 1);
  box->user_click();
  EXPECT_FALSE(box->Checked());
  EXPECT_EQ(clicks, 2);
}

TEST_F(UiFramework, EditFromCodeRunsItsChangeOnlyWhenTheTextChanges) {
  auto* edit = form.Add<TEdit>("Edit", &form);
  std::vector<std::string> seen;
  edit->OnChange = [&](TObject*) { seen.push_back(edit->Text()); };
  edit->SetText("");
  edit->SetText("a");
  edit->SetText("a");
  edit->user_type("a");
  edit->user_type("b");
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}

TEST_F(UiFramework, ComboSelectionFromCodeRunsNoHandlerButTheUsersDoes) {
  auto* combo = form.Add<TComboBox>("Combo", &form);
  combo->SetItems({"one", "two"});
  int changes = 0;
  combo->OnChange = [&](TObject*) { ++changes; };
  combo->SetItemIndex(1);
  EXPECT_EQ(combo->ItemIndex(), 1);
  EXPECT_EQ(combo->Text(), "two");
  combo->SetItemIndex(5);  // no such item: nothing selected
  EXPECT_EQ(combo->ItemIndex(), -1);
  EXPECT_EQ(changes, 0);
  combo->user_select(0);
  EXPECT_EQ(combo->ItemIndex(), 0);
  EXPECT_EQ(changes, 1);
}

TEST_F(UiFramework, HandlerErrorIsShownWithTheTitleAndEndsTheEvent) {
  auto* button = form.Add<TButton>("Button", &form);
  std::vector<int> steps;
  button->OnClick = [&](TObject*) {
    steps.push_back(1);
    throw ERangeError();
    steps.push_back(2);
  };
  button->user_click();
  EXPECT_EQ(steps, std::vector<int>{1});
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].text, "Range check error");
  EXPECT_EQ(fos.message_boxes[0].caption, "ZOV ORU VAZ Izove Duro");
  EXPECT_EQ(fos.message_boxes[0].type, w32::kMbOk | kMbIconError);
}

TEST_F(UiFramework, ErrorInANestedHandlerSkipsTheRestOfEveryCaller) {
  auto* outer = form.Add<TCheckBox>("Outer", &form);
  auto* inner = form.Add<TCheckBox>("Inner", &form);
  std::vector<std::string> steps;
  outer->OnClick = [&](TObject*) {
    steps.push_back("outer before");
    inner->SetChecked(true);
    steps.push_back("outer after");
  };
  inner->OnClick = [&](TObject*) {
    steps.push_back("inner");
    throw Exception("bad");
  };
  outer->user_click();
  EXPECT_EQ(steps, (std::vector<std::string>{"outer before", "inner"}));
  EXPECT_TRUE(outer->Checked());
  EXPECT_TRUE(inner->Checked());
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].text, "bad");
}

TEST_F(UiFramework, SettersFromCodeLeaveTheErrorToTheirCaller) {
  auto* box = form.Add<TCheckBox>("Box", &form);
  box->OnClick = [](TObject*) { throw EConvertError("x"); };
  EXPECT_THROW(box->SetChecked(true), EConvertError);
  EXPECT_TRUE(fos.message_boxes.empty());
}

TEST_F(UiFramework, OtherExceptionsAreNotTheErrorBoxs) {
  auto* button = form.Add<TButton>("Button", &form);
  button->OnClick = [](TObject*) { throw std::runtime_error("not ours"); };
  EXPECT_THROW(button->user_click(), std::runtime_error);
  EXPECT_TRUE(fos.message_boxes.empty());
}

TEST_F(UiFramework, UsersCantReachHiddenOrDisabledControls) {
  auto* group = form.Add<TGroupBox>("Group", &form);
  auto* in_group = form.Add<TCheckBox>("InGroup", group);
  auto* disabled = form.Add<TButton>("Disabled", &form);
  auto* hidden = form.Add<TEdit>("Hidden", &form);
  int events = 0;
  in_group->OnClick = disabled->OnClick = hidden->OnChange = [&](TObject*) { ++events; };
  disabled->SetEnabled(false);
  hidden->Hide();
  group->SetEnabled(false);
  in_group->user_click();
  disabled->user_click();
  hidden->user_type("x");
  EXPECT_EQ(events, 0);
  EXPECT_FALSE(in_group->Checked());
  EXPECT_EQ(hidden->Text(), "");
  group->SetEnabled(true);
  in_group->user_click();
  EXPECT_EQ(events, 1);
}

TEST_F(UiFramework, TypingStopsAtMaxLengthButCodeDoesnt) {
  auto* edit = form.Add<TEdit>("Edit", &form);
  edit->SetMaxLength(2);
  edit->user_type("123");
  EXPECT_EQ(edit->Text(), "12");
  edit->SetText("12345");
  EXPECT_EQ(edit->Text(), "12345");
}

TEST_F(UiFramework, FocusStartsOnTheFirstTabStopThatCanTakeIt) {
  auto* label = form.Add<TLabel>("Label", &form);
  auto* first = form.Add<TButton>("First", &form);
  auto* second = form.Add<TButton>("Second", &form);
  auto* text = form.Add<TStaticText>("Text", &form);
  (void)label;
  text->SetTabOrder(0);
  second->SetTabOrder(0);  // second, text, first
  second->SetEnabled(false);
  EXPECT_EQ(form.FocusOrder(), (std::vector<TWinControl*>{second, text, first}));
  form.Show();
  EXPECT_EQ(form.ActiveControl(), first);
  EXPECT_TRUE(first->Focused());
}

TEST_F(UiFramework, FocusingAControlThatCantTakeItIsAnError) {
  auto* hidden = form.Add<TEdit>("Hidden", &form);
  hidden->Hide();
  EXPECT_THROW(hidden->SetFocus(), EInvalidOperation);
  EXPECT_EQ(form.ActiveControl(), nullptr);
}

TEST_F(UiFramework, LeavingAnEditRunsItsExitAsAnEventOfItsOwn) {
  auto* edit = form.Add<TEdit>("Edit", &form);
  auto* button = form.Add<TButton>("Button", &form);
  std::vector<std::string> steps;
  edit->OnExit = [&](TObject*) {
    steps.push_back("exit");
    throw Exception("'' is not a valid integer value");
  };
  button->OnClick = [&](TObject*) {
    edit->SetFocus();
    button->SetFocus();  // leaves the edit: its error goes in a box of its own
    steps.push_back("click goes on");
  };
  button->user_click();
  EXPECT_EQ(steps, (std::vector<std::string>{"exit", "click goes on"}));
  EXPECT_EQ(form.ActiveControl(), button);
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].text, "'' is not a valid integer value");
  form.user_focus(edit);
  form.user_focus(button);
  EXPECT_EQ(steps.size(), 3u);
  EXPECT_EQ(fos.message_boxes.size(), 2u);
}

TEST_F(UiFramework, TabMovesThroughTheTabStopsAndWraps) {
  auto* a = form.Add<TButton>("A", &form);
  auto* group = form.Add<TGroupBox>("Group", &form);
  auto* b = form.Add<TEdit>("B", group);
  auto* c = form.Add<TCheckBox>("C", &form);
  c->Hide();
  form.Show();
  ASSERT_EQ(form.ActiveControl(), a);
  form.user_tab(true);
  EXPECT_EQ(form.ActiveControl(), b);
  form.user_tab(true);
  EXPECT_EQ(form.ActiveControl(), a);
  form.user_tab(false);
  EXPECT_EQ(form.ActiveControl(), b);
}

TEST_F(UiFramework, EscPressesTheCancelButtonWhileItCanBePressed) {
  auto* ok = form.Add<TButton>("Ok", &form);
  auto* cancel = form.Add<TButton>("Cancel", &form);
  cancel->SetCancel(true);
  int oks = 0, cancels = 0;
  ok->OnClick = [&](TObject*) { ++oks; };
  cancel->OnClick = [&](TObject*) { ++cancels; };
  form.user_escape();
  EXPECT_EQ(cancels, 1);
  cancel->SetEnabled(false);
  form.user_escape();
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(oks, 0);
}

TEST_F(UiFramework, ClosingTheMainFormEndsTheApplication) {
  Application.CreateForm(g_plain);
  ASSERT_NE(g_plain, nullptr);
  EXPECT_EQ(Application.MainForm(), static_cast<TForm*>(g_plain));
  EXPECT_FALSE(Application.Terminated());
  g_plain->user_close();
  EXPECT_TRUE(g_plain->Closed());
  EXPECT_TRUE(Application.Terminated());
  Application.Reset();
  EXPECT_EQ(g_plain, nullptr);
}

TEST_F(UiFramework, ScrollRangesReachTheOutermostVisibleControl) {
  form.SetClientSize(742, 516);
  auto* near = form.Add<TButton>("Near", &form);
  near->SetBounds(68, 456, 120, 40);
  auto* far = form.Add<TImage>("Far", &form);
  far->SetBounds(740, 516, 212, 41);
  far->Hide();
  EXPECT_EQ(form.ScrollRange(), (TScrollRange{188, 496}));
  EXPECT_FALSE(form.HorzScrollBar());
  EXPECT_FALSE(form.VertScrollBar());
  far->Show();
  EXPECT_EQ(form.ScrollRange(), (TScrollRange{952, 557}));
  EXPECT_TRUE(form.HorzScrollBar());
  EXPECT_TRUE(form.VertScrollBar());
}

TEST_F(UiFramework, AutoSizeTakesThePicturesSize) {
  auto* image = form.Add<TImage>("Image", &form);
  image->SetBounds(10, 20, 5, 5);
  image->SetPicture({"IMAGE1", 300, 130});
  EXPECT_EQ(image->Width(), 5);
  image->SetAutoSize(true);
  EXPECT_EQ(image->Left(), 10);
  EXPECT_EQ(image->Width(), 300);
  EXPECT_EQ(image->Height(), 130);
}

TEST_F(UiFramework, OnlyTheActivePageIsOnScreen) {
  auto* pages = form.Add<TPageControl>("Pages", &form);
  auto* one = form.Add<TTabSheet>("One", pages);
  auto* two = form.Add<TTabSheet>("Two", pages);
  auto* box = form.Add<TCheckBox>("Box", two);
  EXPECT_EQ(pages->ActivePage(), one);
  EXPECT_EQ(pages->Pages(), (std::vector<TTabSheet*>{one, two}));
  EXPECT_FALSE(box->Showing());
  box->user_click();
  EXPECT_FALSE(box->Checked());
  pages->user_select_page(two);
  EXPECT_TRUE(box->Showing());
  two->SetTabVisible(false);
  pages->user_select_page(one);
  pages->user_select_page(two);  // its tab is gone
  EXPECT_EQ(pages->ActivePage(), one);
}

TEST_F(UiFramework, ControlsTakeTheirParentsFontUntilGivenTheirOwn) {
  auto* group = form.Add<TGroupBox>("Group", &form);
  auto* inner = form.Add<TLabel>("Inner", group);
  EXPECT_EQ(inner->GetFont(), TFont{});
  TFont bold{"MS Sans Serif", 16, true, TFontCharset::DEFAULT_CHARSET};
  group->SetFont(bold);
  EXPECT_EQ(inner->GetFont(), bold);
  EXPECT_TRUE(inner->ParentFont());
}

struct ConvertCase {
  const char* text;
  bool ok;
  std::int32_t value;
};
class UiConversions : public ::testing::TestWithParam<ConvertCase> {};
TEST_P(UiConversions, ReadTextAsTheRuntimeDoes) {
  const ConvertCase& c = GetParam();
  if (c.ok) {
    EXPECT_EQ(StrToInt(c.text), c.value);
  } else {
    try {
      StrToInt(c.text);
      ADD_FAILURE() << "no error for '" << c.text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + c.text + "' is not a valid integer value");
    }
  }
  EXPECT_EQ(StrToIntDef(c.text, -77), c.ok ? c.value : -77);
}
INSTANTIATE_TEST_SUITE_P(Texts, UiConversions,
                         ::testing::Values(ConvertCase{"7", true, 7}, ConvertCase{"07", true, 7},
                                           ConvertCase{"99", true, 99}, ConvertCase{"-5", true, -5},
                                           ConvertCase{"+3", true, 3}, ConvertCase{" 5", true, 5},
                                           ConvertCase{"$1F", true, 31},
                                           ConvertCase{"0x10", true, 16},
                                           ConvertCase{"-2147483648", true, INT32_MIN},
                                           ConvertCase{"2147483647", true, INT32_MAX},
                                           ConvertCase{"2147483648", false, 0},
                                           ConvertCase{"", false, 0}, ConvertCase{"-", false, 0},
                                           ConvertCase{"a", false, 0}, ConvertCase{"5 ", false, 0},
                                           ConvertCase{"1a", false, 0}, ConvertCase{"$", false, 0},
                                           ConvertCase{"$G", false, 0}));

// A native side that records what the model tells it.
class RecordingUi : public NativeUi {
 public:
  struct RecordingPeer : Peer {
    RecordingPeer(RecordingUi& ui, TControl& c) : ui(ui), control(c) {}
    void changed(Prop what) override { ui.changes.push_back({control.Name(), what}); }
    void focus() override { ui.focused.push_back(control.Name()); }
    Handle handle() override { return &control; }
    RecordingUi& ui;
    TControl& control;
  };
  void set_app_title(const std::string& title) override { titles.push_back(title); }
  std::unique_ptr<Peer> create_peer(TControl& control) override {
    created.push_back(control.Name());
    // What a native control is made with.
    made_with[control.Name()] = {control.Caption(), control.Visible(), control.Enabled(),
                                 control.GetFont().Bold};
    return std::make_unique<RecordingPeer>(*this, control);
  }
  void show_form(TForm& form) override { shown.push_back(form.Name()); }
  void close_form(TForm& form) override { closed.push_back(form.Name()); }
  void run_loop(TForm& form) override {
    loops.push_back(form.Name());
    if (during_loop) during_loop();
  }
  void process_messages() override { ++processed; }
  Handle dialog_owner() override { return owner; }

  std::vector<std::string> titles, created, shown, closed, loops, focused;
  std::vector<std::pair<std::string, Prop>> changes;
  std::map<std::string, std::tuple<std::string, bool, bool, bool>> made_with;
  std::function<void()> during_loop;
  int processed = 0;
  Handle owner = reinterpret_cast<Handle>(0x1234);
};

class UiNativeSide : public UiFramework {
 protected:
  void SetUp() override {
    UiFramework::SetUp();
    set_native_ui(&ui);
  }
  void TearDown() override {
    Application.Reset();
    set_native_ui(nullptr);
    UiFramework::TearDown();
  }
  RecordingUi ui;
};

class MainForm : public TForm {
 public:
  MainForm() : TForm("Main") {
    group = Add<TGroupBox>("Group", this);
    label = Add<TLabel>("Label", this);
    inner = Add<TEdit>("Inner", group);
    button = Add<TButton>("Button", this);
    button->SetTabOrder(0);
  }
  TGroupBox* group;
  TLabel* label;
  TEdit* inner;
  TButton* button;
};
MainForm* g_main = nullptr;

TEST_F(UiNativeSide, TitleGoesToTheApplicationWindow) {
  Application.SetTitle("Title");
  EXPECT_EQ(ui.titles.back(), "Title");
}

TEST_F(UiNativeSide, RunShowsTheMainFormWithItsPeersAndLoops) {
  Application.CreateForm(g_main);
  EXPECT_TRUE(ui.created.empty());  // nothing native before the form is shown
  ui.during_loop = [&] {
    g_main->button->SetCaption("x");
    g_main->button->user_click();
    g_main->Close();
  };
  Application.Run();
  // From the top of the stack down: later controls over earlier ones, windowed over labels.
  EXPECT_EQ(ui.created, (std::vector<std::string>{"Main", "Button", "Group", "Inner", "Label"}));
  EXPECT_EQ(ui.shown, std::vector<std::string>{"Main"});
  EXPECT_EQ(ui.loops, std::vector<std::string>{"Main"});
  EXPECT_EQ(ui.focused, std::vector<std::string>{"Button"});
  EXPECT_EQ(ui.closed, std::vector<std::string>{"Main"});
  EXPECT_TRUE(Application.Terminated());
  std::vector<std::pair<std::string, Prop>> caption{{"Button", Prop::caption}};
  EXPECT_EQ(std::count(ui.changes.begin(), ui.changes.end(), caption[0]), 1);
}

TEST_F(UiNativeSide, AControlOffScreenGetsItsPeerOnceOnScreenWithTheStateItHasThen) {
  Application.CreateForm(g_main);
  g_main->group->Hide();
  g_main->HandleNeeded();
  EXPECT_EQ(ui.created, (std::vector<std::string>{"Main", "Button", "Label"}));
  g_main->inner->SetCaption("late");
  g_main->inner->SetEnabled(false);
  g_main->group->SetFont({"MS Sans Serif", 14, true});
  g_main->group->Show();
  EXPECT_EQ(ui.created, (std::vector<std::string>{"Main", "Button", "Label", "Group", "Inner"}));
  EXPECT_EQ(ui.made_with["Inner"], std::make_tuple(std::string("late"), true, false, true));
  g_main->group->Hide();
  g_main->group->Show();
  EXPECT_EQ(ui.created.size(), 5u);  // once only
}

TEST_F(UiNativeSide, ControlsOfAPageGetTheirPeersWhenThePageIsActivated) {
  Application.CreateForm(g_main);
  auto* pages = g_main->Add<TPageControl>("Pages", g_main);
  auto* first = g_main->Add<TTabSheet>("First", pages);
  auto* second = g_main->Add<TTabSheet>("Second", pages);
  g_main->Add<TCheckBox>("OnSecond", second);
  g_main->HandleNeeded();
  EXPECT_EQ(std::count(ui.created.begin(), ui.created.end(), "OnSecond"), 0);
  EXPECT_EQ(pages->ActivePage(), first);
  pages->user_select_page(second);
  EXPECT_EQ(ui.created.back(), "OnSecond");
}

TEST_F(UiNativeSide, PeersHearOfEveryChangeAndTheFormOfItsScrollRange) {
  Application.CreateForm(g_main);
  g_main->HandleNeeded();
  ui.changes.clear();
  g_main->inner->SetText("a");
  g_main->inner->SetText("a");
  g_main->button->Hide();
  g_main->inner->SetBounds(1, 2, 3, 4);
  EXPECT_EQ(ui.changes, (std::vector<std::pair<std::string, Prop>>{{"Inner", Prop::text},
                                                                   {"Button", Prop::visible},
                                                                   {"Main", Prop::scroll_range},
                                                                   {"Inner", Prop::bounds}}));
}

TEST_F(UiNativeSide, MessageBoxesAreOwnedByTheNativeSidesWindow) {
  Application.MessageBox("text", "caption", w32::kMbOkCancel);
  Application.ProcessMessages();
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].owner, ui.owner);
  EXPECT_EQ(fos.message_boxes[0].type, w32::kMbOkCancel);
  EXPECT_EQ(ui.processed, 1);
}

TEST_F(UiNativeSide, AClosedMainFormRunsNoLoop) {
  Application.CreateForm(g_main);
  g_main->Close();
  Application.Run();
  EXPECT_TRUE(ui.loops.empty());
  EXPECT_TRUE(ui.closed.empty());  // never shown, so nothing to take off screen
}

}  // namespace
}  // namespace msr
