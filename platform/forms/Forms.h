// Forms, the application object and the screen.
//
// The application owns the forms it creates. A form is built from its description, a program
// resource named after its class in capitals (TForm1 -> "TFORM1"): the description's objects
// are created in order, fields and events are bound by name, and OnCreate runs last. Closing the
// main form ends the message loop.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "Controls.h"

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition { poDesigned, poDefault, poScreenCenter };

class TCustomForm : public TWinControl {
  TAVRIX_CLASS(TCustomForm)

 public:
  explicit TCustomForm(TComponent* owner);
  ~TCustomForm() override;

  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle value) { FBorderStyle = value; }
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition value) { FPosition = value; }
  // The client area is the whole form here: the frame belongs to the window system.
  int32_t GetClientWidth() const { return Width(); }
  void SetClientWidth(int32_t value) { SetWidth(value); }
  int32_t GetClientHeight() const { return Height(); }
  void SetClientHeight(int32_t value) { SetHeight(value); }
  int32_t PixelsPerInch() const { return FPixelsPerInch; }
  void SetPixelsPerInch(int32_t value) { FPixelsPerInch = value; }
  int32_t TextHeight() const { return FTextHeight; }
  void SetTextHeight(int32_t value) { FTextHeight = value; }

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;

  // Makes the window and shows it.
  void Show();
  // Hides the form; closing the main form terminates the application.
  void Close();
  bool Closing() const { return FClosing; }

  // Runs OnCreate; an exception from it is reported and the form carries on.
  void DoCreate();

  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;

 protected:
  // A form is a top-level window of its own, with or without a parent.
  std::unique_ptr<TWinControlPeer> CreatePeer(TWidgetSet& widgetSet, TWinControlPeer* parent) final;
  void InitializePeer() override;
  void TextChanged() override;

 private:
  TFormBorderStyle FBorderStyle = bsSizeable;
  TPosition FPosition = poDesigned;
  int32_t FPixelsPerInch = 96;
  int32_t FTextHeight = 13;
  bool FClosing = false;
};

class TForm : public TCustomForm {
  TAVRIX_CLASS(TForm)

 public:
  explicit TForm(TComponent* owner) : TCustomForm(owner) {}
};

class TScreen : public TComponent {
  TAVRIX_CLASS(TScreen)

 public:
  explicit TScreen(TComponent* owner) : TComponent(owner) {}
  // The cursor table: a registered cursor shape by number. Shapes are cursor images (see
  // CursorImage.h); numbers without one use the standard shapes. Storing removes the entry of
  // that number first, then stores the shape unless it is empty.
  void SetCursorShape(TCursor cursor, std::string shape);
  // nullptr when the number has no entry.
  const std::string* CursorShape(TCursor cursor) const;

 private:
  std::map<TCursor, std::string> FCursors;
};

// Exit codes of the program.
inline constexpr int ExitCodeNormal = 0;
inline constexpr int ExitCodeStartFailed = 1;

class TApplication : public TComponent {
  TAVRIX_CLASS(TApplication)

 public:
  explicit TApplication(TComponent* owner);
  ~TApplication() override;

  // The program file's name, and the title: that name up to its first point, the first
  // character unchanged and the rest in lower case.
  const std::string& ExeName() const { return FExeName; }
  void SetExeName(const std::string& path);
  const std::string& Title() const { return FTitle; }

  // Also gives every window the program's icon, the resource MAINICON, when there is one.
  void Initialize();
  // Creates a form of that class, owned by the application, from the resource named after the
  // class, and runs its OnCreate. The first form created becomes the main form. A failure
  // while the description is read destroys the half-built form and propagates.
  TCustomForm* CreateForm(const TClassInfo& formClass);
  // Shows the main form and runs the message loop until Terminate.
  void Run();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  TCustomForm* MainForm() const { return FMainForm; }

  // Reports an exception that escaped an event handler: a box with the message (a "." added
  // when it ends after "."), the title as caption, an OK button and a stop icon.
  void ShowException(const Exception& e);
  // Reports an exception that ended start-up: "Application Error", "Exception %s in module %s
  // at %p." and the message.
  void ShowLastChanceException(const Exception& e);

  // Shows a message box through the backend, or through Hook when one is set (tests).
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags);
  std::function<int(const std::string& text, const std::string& caption, uint32_t flags)>
      MessageBoxHook;

  void Notification(TComponent* component, TOperation operation) override;

 private:
  void LoadIcon();

  std::string FExeName;
  std::string FTitle;
  TCustomForm* FMainForm = nullptr;
  bool FTerminated = false;
};

// The message text of a box: the message with a "." appended when it is not empty and its last
// character sorts after ".".
std::string MessageWithPeriod(const std::string& message);

extern TApplication* Application;
extern TScreen* Screen;

// Makes Application and Screen (once) and returns Application.
TApplication& InitApplicationObjects();
// Destroys them (and every form the application owns).
void DoneApplicationObjects();
