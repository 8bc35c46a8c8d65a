// The setup program's main form: the splash page, the licence page and the install procedure.
#pragma once

#include "ExtCtrls.h"
#include "FileSrc.h"
#include "Forms.h"
#include "RotateLabel.h"
#include "StdCtrls.h"
#include "UrlLabel.h"

class TForm1 : public TForm {
  TAVRIX_CLASS(TForm1)

 public:
  explicit TForm1(TComponent* owner) : TForm(owner) {}

  // Published fields, bound by name to the components of the form description.
  TNotebook* Notebook1 = nullptr;
  TBevel* Bevel1 = nullptr;
  TRotateLabel* RotateLabel1 = nullptr;
  TImage* Image1 = nullptr;
  TRotateLabel* RotateLabel2 = nullptr;
  TRotateLabel* RotateLabel3 = nullptr;
  TUrlLabel* UrlLabel1 = nullptr;
  TRotateLabel* RotateLabel4 = nullptr;
  TRotateLabel* RotateLabel5 = nullptr;
  TBevel* Bevel2 = nullptr;
  TBevel* Bevel3 = nullptr;
  TRotateLabel* RotateLabel6 = nullptr;
  TLabel* Label1 = nullptr;
  TButton* BtnSetup = nullptr;
  TButton* BtnExit = nullptr;
  TMemo* Memo1 = nullptr;
  TButton* Button1 = nullptr;
  TButton* Button2 = nullptr;
  TRotateLabel* RotateLabel7 = nullptr;
  TRotateLabel* RotateLabel8 = nullptr;
  TFileSource* FileSource1 = nullptr;
  TFileSource* FileSource2 = nullptr;

  // Published methods, bound by name to the events of the description.
  void BtnExitClick(TObject* sender);
  void BtnSetupClick(TObject* sender);
  void Button2Click(TObject* sender);
  // Installs: creates the install folder, moves the unpacked program there, starts it, closes.
  void Button1Click(TObject* sender);
  // Loads the licence text into the memo.
  void FormCreate(TObject* sender);
};

// Constants of the install procedure. The folder is a drive path; the platform maps it.
inline constexpr const char* InstallFolder = "c:\\Tavrix";
inline constexpr const char* InstalledFileName = "\\tavrix.exe";
inline constexpr const char* ShellVerb = "open";
inline constexpr const char* LicencePageCaption = "License";

extern TForm1* Form1;
