// The setup window's layout as data: one row per control (its member of TForm1, name,
// container, caption, bounds, font, design state and handlers), containers before their
// contents. TForm1 builds itself from these rows.
#pragma once

#include <array>
#include <cstddef>
#include <variant>

#include "ui/Unit1.h"

namespace msr::form1 {

using Handler = void (TForm1::*)(TObject*);

// Which member a row fills; the member's type decides the kind of control.
using Field =
    std::variant<TLabel * TForm1::*, TButton * TForm1::*, TCheckBox * TForm1::*, TEdit * TForm1::*,
                 TComboBox * TForm1::*, TGroupBox * TForm1::*, TPageControl * TForm1::*,
                 TTabSheet * TForm1::*, TStaticText * TForm1::*, TImage * TForm1::*>;

enum FontId { kFormFont, kSerif19, kSerif17, kBold16, kBold17, kBold15, kSans15, kModernOem15 };

struct FontSpec {
  const char* name;
  int height;
  bool bold;
  TFontCharset charset;
};

inline constexpr FontSpec kFonts[] = {
    {"MS Sans Serif", 14, false, TFontCharset::DEFAULT_CHARSET},
    {"MS Serif", 19, false, TFontCharset::DEFAULT_CHARSET},
    {"MS Serif", 17, false, TFontCharset::DEFAULT_CHARSET},
    {"MS Sans Serif", 16, true, TFontCharset::DEFAULT_CHARSET},
    {"MS Sans Serif", 17, true, TFontCharset::DEFAULT_CHARSET},
    {"MS Sans Serif", 15, true, TFontCharset::DEFAULT_CHARSET},
    {"MS Sans Serif", 15, false, TFontCharset::DEFAULT_CHARSET},
    {"Modern", 15, false, TFontCharset::OEM_CHARSET},
};

inline TFont to_font(const FontSpec& f) {
  return TFont{f.name, f.height, f.bold, f.charset};
}

// The window itself, as designed (creation sets the caption that the reader calls for).
inline constexpr char kCaption[] = " Tavrinel MSR Manager  v1.00";
inline constexpr int kClientWidth = 742;
inline constexpr int kClientHeight = 516;

// Design state of a row.
enum : unsigned {
  kHidden = 1u << 0,
  kDisabled = 1u << 1,
  kChecked = 1u << 2,
  kCentered = 1u << 3,  // text centred across
  kMiddle = 1u << 4,    // text centred top to bottom
  kCancel = 1u << 5,    // the Esc key presses it
  kOneChar = 1u << 6,   // at most one character
  kTwoChars = 1u << 7,  // at most two characters
  kAutoSize = 1u << 8,  // sized to its picture
};

struct Row {
  Field field;
  const char* name;
  const char* parent;   // nullptr: the window itself
  const char* caption;  // caption, edit text, or an image's bitmap resource
  int left, top, width, height;
  FontId font;
  unsigned state;
  Handler click = nullptr;   // OnClick
  Handler change = nullptr;  // OnChange
  Handler exit = nullptr;    // OnExit
};

#define F(member) &TForm1::member, #member

// The window as designed.
inline constexpr Row kLayout[] = {
    {F(Button4), nullptr, "Button4", 25, 72, 108, 70, kSans15, 0, &TForm1::Button4Click},
    {F(StaticText1), nullptr, "Reset to English Defaults", 42, 79, 74, 56, kModernOem15, kCentered,
     &TForm1::StaticText1Click},
    {F(Button5), nullptr, "Button5", 185, 72, 108, 70, kSans15, 0, &TForm1::Button5Click},
    {F(StaticText2), nullptr, "Reset to Non-English Defaults", 202, 79, 74, 56, kModernOem15,
     kCentered, &TForm1::StaticText2Click},
    {F(CheckBox1), nullptr, "Use ALT-num emulation", 313, 56, 217, 30, kSerif17, kChecked,
     &TForm1::CheckBox1Click},
    {F(CheckBox7), nullptr, "Additional CR", 545, 56, 153, 30, kSerif17, 0,
     &TForm1::CheckBox7Click},
    {F(CheckBox6), nullptr, "Send  LRC", 313, 94, 161, 30, kSerif17, 0, &TForm1::CheckBox6Click},
    {F(CheckBox9), nullptr, "Send Ending CR", 545, 94, 161, 30, kSerif17, kChecked,
     &TForm1::CheckBox9Click},
    {F(CheckBox13), nullptr, "virtual COM port interface", 313, 133, 216, 30, kSerif17, kHidden,
     &TForm1::CheckBox13Click},
    {F(Label5), nullptr, "Intercharacter Transmission Delay :", 269, 208, 306, 30, kBold16, kMiddle,
     &TForm1::Label5Click},
    {F(Button16), nullptr, "<--", 607, 208, 30, 30, kBold15, 0, &TForm1::Button16Click},
    {F(Edit6), nullptr, "2", 639, 208, 30, 30, kBold15, kTwoChars, nullptr, &TForm1::Edit6Change,
     &TForm1::Edit6Exit},
    {F(Button17), nullptr, "-->", 674, 208, 30, 30, kBold15, 0, &TForm1::Button17Click},
    {F(Label10), nullptr, "NO USB MSR", 57, 216, 112, 20, kBold16, kHidden},
    {F(GroupBox1), nullptr, "Track settings", 22, 256, 697, 177, kFormFont, 0},
    {F(Label1), nullptr, "MSR Track 1 Leading Code:", 313, 288, 260, 30, kSerif19, 0,
     &TForm1::Label1Click},
    {F(Label2), nullptr, "MSR Track 2 Leading Code:", 313, 328, 260, 31, kSerif19, 0,
     &TForm1::Label2Click},
    {F(Label3), nullptr, "MSR Track 3 Leading Code:", 313, 368, 260, 31, kSerif19, 0,
     &TForm1::Label3Click},
    {F(Label4), nullptr, "MSR  Ending  Code:", 313, 408, 260, 31, kSerif19, 0,
     &TForm1::Label4Click},
    {F(Button2), nullptr, "Save && Exit", 68, 456, 120, 40, kBold15, 0, &TForm1::Button2Click},
    {F(Button3), nullptr, "Cancel && Exit", 292, 456, 120, 40, kSans15, kCancel,
     &TForm1::Button3Click},
    {F(Button1), nullptr, "Help", 508, 456, 120, 40, kFormFont, 0, &TForm1::Button1Click},
    {F(CHK_SendAscii), nullptr, "Send Ascii", 729, 504, 216, 30, kSerif17, kHidden,
     &TForm1::CHK_SendAsciiClick},
    {F(CheckBox11), nullptr, "Use DOS Mode", 729, 506, 161, 30, kSerif17, kHidden,
     &TForm1::CheckBox11Click},
    {F(CheckBox12), nullptr, "Vender Class", 721, 520, 161, 30, kSerif17, kHidden | kDisabled,
     &TForm1::CheckBox12Click},
    {F(PageControl1), nullptr, "", 721, 368, 273, 153, kFormFont, kHidden},
    {F(TabSheet1), "PageControl1", "general", 4, 24, 265, 125, kFormFont, 0},
    {F(TabSheet2), "PageControl1", "kq4410", 4, 24, 265, 125, kFormFont, 0},
    {F(CheckBox8), "TabSheet1", "TAB to end", 64, 44, 124, 30, kSerif19, kHidden,
     &TForm1::CheckBox8Click},
    {F(CheckBox10), "TabSheet2", "Send Num-Lock", 48, 45, 161, 30, kSerif17, kDisabled,
     &TForm1::CheckBox10Click},
    {F(Image1), nullptr, "IMAGE1", 737, 512, 300, 130, kFormFont, kHidden},
    {F(Image2), nullptr, "IMAGE2", 713, 448, 300, 130, kFormFont, kHidden},
    {F(Image3), nullptr, "IMAGE3", 740, 516, 212, 41, kFormFont, kHidden | kAutoSize},
    // The track rows: enable box, label, "<--", code edit, "-->".
    {F(CheckBox2), "GroupBox1", "Enable MSR Track 1", 24, 18, 230, 31, kSerif19, kChecked,
     &TForm1::CheckBox2Click},
    {F(Label6), "GroupBox1", "MSR Track1 Leading Code:", 312, 20, 230, 26, kBold16, 0},
    {F(Button7), "GroupBox1", "<--", 584, 17, 30, 30, kBold15, 0, &TForm1::Button7Click},
    {F(Edit1), "GroupBox1", "%", 616, 17, 30, 30, kBold17, kOneChar, nullptr, &TForm1::Edit1Change},
    {F(Button6), "GroupBox1", "-->", 651, 17, 30, 30, kBold15, 0, &TForm1::Button6Click},
    {F(CheckBox3), "GroupBox1", "Enable MSR Track 2", 24, 56, 230, 31, kSerif19, kChecked,
     &TForm1::CheckBox3Click},
    {F(Label7), "GroupBox1", "MSR Track2 Leading Code:", 312, 59, 230, 26, kBold16, 0},
    {F(Button8), "GroupBox1", "<--", 584, 57, 30, 30, kBold15, 0, &TForm1::Button8Click},
    {F(Edit2), "GroupBox1", ";", 616, 57, 30, 30, kBold17, kOneChar, nullptr, &TForm1::Edit2Change},
    {F(Button9), "GroupBox1", "-->", 651, 57, 30, 30, kBold15, 0, &TForm1::Button9Click},
    {F(CheckBox4), "GroupBox1", "Enable MSR Track 3", 24, 95, 230, 31, kSerif19, kChecked,
     &TForm1::CheckBox4Click},
    {F(Label8), "GroupBox1", "MSR Track3 Leading Code:", 312, 99, 230, 26, kBold16, 0},
    {F(Button10), "GroupBox1", "<--", 584, 97, 30, 30, kBold15, 0, &TForm1::Button10Click},
    {F(Edit3), "GroupBox1", ";", 616, 97, 30, 30, kBold17, kOneChar, nullptr, &TForm1::Edit3Change},
    {F(Button11), "GroupBox1", "-->", 651, 97, 30, 30, kBold15, 0, &TForm1::Button11Click},
    {F(CheckBox5), "GroupBox1", "Send  Leading/Ending  Codes", 24, 134, 265, 31, kSerif19, kChecked,
     &TForm1::CheckBox5Click},
    {F(Label9), "GroupBox1", "MSR Ending Code:", 312, 138, 230, 26, kBold16, 0},
    {F(Button12), "GroupBox1", "<--", 584, 137, 30, 30, kBold15, 0, &TForm1::Button12Click},
    {F(Edit4), "GroupBox1", "?", 616, 137, 30, 30, kBold17, kOneChar, nullptr,
     &TForm1::Edit4Change},
    {F(Button13), "GroupBox1", "-->", 651, 137, 30, 30, kBold15, 0, &TForm1::Button13Click},
    // Below the group box's visible height: never shown.
    {F(LBL_LanguageForOS), "GroupBox1", "Language for OS", 24, 177, 145, 26, kBold16, kHidden},
    {F(CMB_LanguageForOS), "GroupBox1", "", 176, 178, 113, 24, kFormFont, kHidden, nullptr,
     &TForm1::CMB_LanguageForOSChange},
    {F(LBL_LanguageType), "GroupBox1", "Language Type", 312, 178, 145, 26, kBold16, kHidden},
    {F(CMB_LanguageType), "GroupBox1", "", 488, 176, 193, 24, kFormFont, kHidden, nullptr,
     &TForm1::CMB_LanguageTypeChange},
};

#undef F

}  // namespace msr::form1
