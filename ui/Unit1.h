// The setup window: class TForm1 with its controls, its creation (reader detection),
// ShowSettings and every handler. Its one instance is Form1.
#pragma once

#include "transport/transports.h"
#include "ui/framework/forms.h"

namespace msr {

class TForm1 : public TForm {
 public:
  // Builds the controls, runs FormCreate, then logs the Windows version.
  TForm1();

  // Window layout: every control, by the name the handlers use.
  TButton* Button4;
  TStaticText* StaticText1;
  TButton* Button5;
  TStaticText* StaticText2;
  TCheckBox* CheckBox1;
  TCheckBox* CheckBox7;
  TCheckBox* CheckBox6;
  TCheckBox* CheckBox9;
  TCheckBox* CheckBox13;
  TLabel* Label5;
  TButton* Button16;
  TEdit* Edit6;
  TButton* Button17;
  TLabel* Label10;
  TGroupBox* GroupBox1;
  TLabel* Label1;
  TLabel* Label2;
  TLabel* Label3;
  TLabel* Label4;
  TButton* Button2;
  TButton* Button3;
  TButton* Button1;
  TCheckBox* CHK_SendAscii;
  TCheckBox* CheckBox11;
  TCheckBox* CheckBox12;
  TPageControl* PageControl1;
  TTabSheet* TabSheet1;
  TTabSheet* TabSheet2;
  TCheckBox* CheckBox8;
  TCheckBox* CheckBox10;
  TImage* Image1;
  TImage* Image2;
  TImage* Image3;
  // Inside GroupBox1: the four track rows.
  TCheckBox* CheckBox2;
  TCheckBox* CheckBox3;
  TCheckBox* CheckBox4;
  TCheckBox* CheckBox5;
  TLabel* Label6;
  TLabel* Label7;
  TLabel* Label8;
  TLabel* Label9;
  TButton* Button7;
  TButton* Button6;
  TButton* Button8;
  TButton* Button9;
  TButton* Button10;
  TButton* Button11;
  TButton* Button12;
  TButton* Button13;
  TEdit* Edit1;
  TEdit* Edit2;
  TEdit* Edit3;
  TEdit* Edit4;
  TLabel* LBL_LanguageForOS;
  TComboBox* CMB_LanguageForOS;
  TLabel* LBL_LanguageType;
  TComboBox* CMB_LanguageType;

  void FormCreate(TObject* Sender);
  void ShowSettings();

  void CheckBox1Click(TObject* Sender);
  void CheckBox2Click(TObject* Sender);
  void CheckBox3Click(TObject* Sender);
  void CheckBox4Click(TObject* Sender);
  void CheckBox5Click(TObject* Sender);
  void CheckBox6Click(TObject* Sender);
  void CheckBox7Click(TObject* Sender);
  void CheckBox8Click(TObject* Sender);
  void CheckBox9Click(TObject* Sender);
  void CheckBox10Click(TObject* Sender);
  void CheckBox11Click(TObject* Sender);
  void CheckBox12Click(TObject* Sender);
  void CheckBox13Click(TObject* Sender);
  void CHK_SendAsciiClick(TObject* Sender);

  void Edit1Change(TObject* Sender);
  void Edit2Change(TObject* Sender);
  void Edit3Change(TObject* Sender);
  void Edit4Change(TObject* Sender);
  void Button6Click(TObject* Sender);
  void Button7Click(TObject* Sender);
  void Button8Click(TObject* Sender);
  void Button9Click(TObject* Sender);
  void Button10Click(TObject* Sender);
  void Button11Click(TObject* Sender);
  void Button12Click(TObject* Sender);
  void Button13Click(TObject* Sender);

  void Edit6Change(TObject* Sender);
  void Edit6Exit(TObject* Sender);
  void Button16Click(TObject* Sender);
  void Button17Click(TObject* Sender);

  void Label1Click(TObject* Sender);
  void Label2Click(TObject* Sender);
  void Label3Click(TObject* Sender);
  void Label4Click(TObject* Sender);
  void Label5Click(TObject* Sender);

  void Button4Click(TObject* Sender);
  void Button5Click(TObject* Sender);
  void StaticText1Click(TObject* Sender);
  void StaticText2Click(TObject* Sender);

  void Button2Click(TObject* Sender);
  void Button3Click(TObject* Sender);
  void Button1Click(TObject* Sender);
  void CMB_LanguageTypeChange(TObject* Sender);
  void CMB_LanguageForOSChange(TObject* Sender);

 private:
  void build_layout();
  void apply_jis2_layout();
  void log_windows_version();
};

// The window's one instance, made by Application.CreateForm(Form1).
inline TForm1* Form1 = nullptr;

}  // namespace msr
