#include "Unit1.h"

#include "FileCtrl.h"
#include "FileServices.h"
#include "FmxUtils.h"
#include "Shell.h"
#include "SystemServices.h"

TForm1* Form1 = nullptr;

const TClassInfo& TForm1::StaticClassInfo() {
  static const TClassInfo info{
      "TForm1",
      &TForm::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TForm1(owner); },
      {},
      {TAVRIX_FIELD(TForm1, Notebook1),    TAVRIX_FIELD(TForm1, Bevel1),
       TAVRIX_FIELD(TForm1, RotateLabel1), TAVRIX_FIELD(TForm1, Image1),
       TAVRIX_FIELD(TForm1, RotateLabel2), TAVRIX_FIELD(TForm1, RotateLabel3),
       TAVRIX_FIELD(TForm1, UrlLabel1),    TAVRIX_FIELD(TForm1, RotateLabel4),
       TAVRIX_FIELD(TForm1, RotateLabel5), TAVRIX_FIELD(TForm1, Bevel2),
       TAVRIX_FIELD(TForm1, Bevel3),       TAVRIX_FIELD(TForm1, RotateLabel6),
       TAVRIX_FIELD(TForm1, Label1),       TAVRIX_FIELD(TForm1, BtnSetup),
       TAVRIX_FIELD(TForm1, BtnExit),      TAVRIX_FIELD(TForm1, Memo1),
       TAVRIX_FIELD(TForm1, Button1),      TAVRIX_FIELD(TForm1, Button2),
       TAVRIX_FIELD(TForm1, RotateLabel7), TAVRIX_FIELD(TForm1, RotateLabel8),
       TAVRIX_FIELD(TForm1, FileSource1),  TAVRIX_FIELD(TForm1, FileSource2)},
      {TAVRIX_METHOD(TForm1, BtnExitClick), TAVRIX_METHOD(TForm1, BtnSetupClick),
       TAVRIX_METHOD(TForm1, Button2Click), TAVRIX_METHOD(TForm1, Button1Click),
       TAVRIX_METHOD(TForm1, FormCreate)}};
  return info;
}

void TForm1::BtnExitClick(TObject* /*sender*/) { Close(); }

void TForm1::BtnSetupClick(TObject* /*sender*/) { Notebook1->SetActivePage(LicencePageCaption); }

void TForm1::Button2Click(TObject* /*sender*/) { Close(); }

void TForm1::Button1Click(TObject* /*sender*/) {
  const std::string folder = MapDrivePath(InstallFolder);
  // Only this one level is made; a folder that cannot be made shows up as a failed move.
  if (!IsExistingDirectory(folder)) CreateDir(folder);
  const std::string source = FileSource1->FileName();
  const std::string target = MapDrivePath(std::string(InstallFolder) + InstalledFileName);
  // The handle makes the move take the very file that was unpacked, whatever stands under its
  // name in the temporary folder by now.
  MoveFileTo(source, target, FileSource1->TempFileHandle());
  ShellExecute(ShellVerb, target);
  Close();
}

void TForm1::FormCreate(TObject* /*sender*/) {
  Memo1->Lines().LoadFromFile(FileSource2->FileName());
}
