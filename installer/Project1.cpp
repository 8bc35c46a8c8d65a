#include "Project1.h"

#include "Forms.h"
#include "InstallerImage.h"
#include "ProgramResources.h"
#include "QtWidgetSet.h"
#include "TempFiles.h"
#include "Unit1.h"

int RunApplication() {
  try {
    Application->Initialize();
    Form1 = static_cast<TForm1*>(Application->CreateForm(TForm1::StaticClassInfo()));
    Application->Run();
  } catch (const Exception& e) {
    Form1 = nullptr;
    Application->ShowLastChanceException(e);
    return ExitCodeStartFailed;
  } catch (const std::bad_alloc&) {
    Form1 = nullptr;
    Application->ShowLastChanceException(EOutOfMemory(SysConst::SOutOfMemory));
    return ExitCodeStartFailed;
  }
  return ExitCodeNormal;
}

int RunSetup(int& argc, char** argv) {
  // Before anything is unpacked: a signal that ends the program takes the temporary files along.
  DeleteTempFilesOnTermination();
  TQtWidgetSet widgetSet(argc, argv);
  TApplication& application = InitApplicationObjects();
  const std::string exePath = ExecutableFileName();
  application.SetExeName(exePath.empty() && argc > 0 ? argv[0] : exePath);

  int exitCode = ExitCodeNormal;
  // The resources compiled into the program first ("HAND"), then those the image carries.
  RegisterProgramResources();
  TImageCheck image = LoadImageResources(exePath);
  if (!image.Ok()) {
    // Nothing has been unpacked: the image is checked before anything is read from it.
    application.MessageBox(image.Message, application.Title(), MB_OK | MB_ICONSTOP);
    exitCode = ExitCodeBadImage;
  } else {
    exitCode = RunApplication();
  }
  // The forms go with the application: each file source deletes its temporary file.
  DoneApplicationObjects();
  Form1 = nullptr;
  return exitCode;
}
