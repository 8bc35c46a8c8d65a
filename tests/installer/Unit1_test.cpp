// The setup program in-process under Qt's offscreen platform: start-up, the two pages, the
// install procedure and its failures, in a temporary home and a temporary folder of their own.
#include "Unit1.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>

#include "ObjectText.h"
#include "Project1.h"
#include "QtTestEnvironment.h"
#include "Resources.h"
#include "Shell.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

const auto* const GQtEnvironment = ::testing::AddGlobalTestEnvironment(new TQtTestEnvironment);

std::string HexOf(const TBytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 32 == 0) hex += "\n      ";
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  return hex;
}

// The installer's form text with a FileData value added to a file source.
std::string WithFileData(std::string text, const std::string& component, const TBytes& value) {
  std::size_t at = text.find("object " + component + ": TFileSource");
  std::size_t end = text.find("\n  end", at);
  text.insert(end, "\n    FileData = {" + HexOf(value) + "}");
  return text;
}

TBytes PackedValue(const std::string& path) {
  TFileSource source(nullptr);
  source.SetFileName(path);
  source.SetCompress(true);
  TMemoryStream value;
  source.WriteFileData(value);
  return TBytes(value.Memory(), value.Memory() + value.Size());
}

void RegisterForm(const std::string& text) {
  TMemoryStream in, out;
  in.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  in.SetPosition(0);
  ObjectTextToBinary(in, out);
  RegisterResource("TFORM1", std::string(reinterpret_cast<const char*>(out.Memory()),
                                         static_cast<std::size_t>(out.Size())));
}

struct TBox {
  std::string Text;
  std::string Caption;
  uint32_t Flags;
};

class SetupTest : public ::testing::Test {
 protected:
  SetupTest() : FHome(), FTmp(true) {
    FOldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", FHome.Path().c_str(), 1);
    WriteWholeFile(FFiles / "program.exe", ReadWholeFile(SystemSmallProgram()));
    TBytes licence = BytesOf("Licence line one\r\nline two\rline three\nlast line");
    WriteWholeFile(FFiles / "licence.txt", licence);
    std::string text = FormText();
    text = WithFileData(text, "FileSource1", PackedValue(FFiles / "program.exe"));
    text = WithFileData(text, "FileSource2", PackedValue(FFiles / "licence.txt"));
    RegisterForm(text);
    InitApplicationObjects().SetExeName("/opt/tavrix-setup");
    Application->MessageBoxHook = [this](const std::string& t, const std::string& c, uint32_t f) {
      Boxes.push_back({t, c, f});
      return 1;
    };
    SetShellExecuteHook([this](const std::string& verb, const std::string& file) {
      Started.push_back(verb + " " + file);
    });
  }
  ~SetupTest() override {
    DoneApplicationObjects();
    Form1 = nullptr;
    SetShellExecuteHook(nullptr);
    ClearResources();
    setenv("HOME", FOldHome.c_str(), 1);
  }

  static std::string FormText() {
    TBytes text = ReadWholeFile(TAVRIX_FORM_TEXT);
    return std::string(text.begin(), text.end());
  }

  // Builds the main form as the start-up does, without running the message loop.
  TForm1* Build() {
    Application->Initialize();
    Form1 = static_cast<TForm1*>(Application->CreateForm(TForm1::StaticClassInfo()));
    return Form1;
  }

  static QWidget* WidgetOf(const std::string& name) {
    for (QWidget* w : QApplication::allWidgets()) {
      if (w->objectName() == QString::fromStdString(name) && w->isVisible()) return w;
    }
    return nullptr;
  }

  // Clicks a button the way the toolkit does, so that the click goes through the guard.
  static void Click(const std::string& name) {
    auto* button = dynamic_cast<QAbstractButton*>(WidgetOf(name));
    ASSERT_NE(button, nullptr) << name << " is not a visible button";
    button->click();
    QApplication::processEvents();
  }

  // Runs the real message loop, doing the steps once it runs; returns its exit code.
  int RunWith(const std::function<void()>& steps) {
    QTimer::singleShot(0, [&] {
      steps();
      // A loop that the steps did not end is ended here, and the test says so.
      if (Application->MainForm() && !Application->Terminated()) {
        ADD_FAILURE() << "the steps left the setup program running";
        Application->Terminate();
      }
    });
    return RunApplication();
  }

  std::vector<std::string> TempNames() const { return FTmp.Names(); }
  std::string Home() const { return FHome.Path(); }
  std::string Target() const { return FHome / "Tavrix/tavrix.exe"; }
  TBytes ProgramBytes() const { return ReadWholeFile(FFiles / "program.exe"); }

  std::vector<TBox> Boxes;
  std::vector<std::string> Started;

 private:
  TTempDir FHome;
  TTempDir FTmp;
  TTempDir FFiles;
  std::string FOldHome;
};

TEST_F(SetupTest, LicenceIsInTheMemoBeforeTheWindowShows) {
  TForm1* form = Build();
  ASSERT_NE(form->Memo1, nullptr);
  EXPECT_FALSE(form->Visible());
  const std::vector<std::string> lines = {"Licence line one", "line two", "line three",
                                          "last line"};
  EXPECT_EQ(form->Memo1->Lines().Items(), lines) << "CR LF, CR and LF all break lines";
  EXPECT_EQ(form->Notebook1->ActivePage(), "Setup");
  EXPECT_EQ(form->Caption(), "Tavrix Setup");
  EXPECT_EQ(form->ClientWidth(), 401);
  EXPECT_EQ(form->ClientHeight(), 245);
  // Both files are unpacked, program first, before the form exists.
  std::vector<std::string> names = TempNames();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(ReadWholeFile(form->FileSource1->FileName()), ProgramBytes());
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(SetupTest, SetupShowsTheLicencePageWithTheFocusInTheMemo) {
  int code = RunWith([&] {
    ASSERT_TRUE(WidgetOf("BtnSetup") != nullptr) << "the splash page shows first";
    EXPECT_EQ(WidgetOf("BtnSetup")->parentWidget()->size(), QSize(401, 245));
    EXPECT_EQ(WidgetOf("Memo1"), nullptr);
    WidgetOf("BtnSetup")->setFocus();
    Click("BtnSetup");
    EXPECT_EQ(Form1->Notebook1->ActivePage(), "License");
    ASSERT_NE(WidgetOf("Memo1"), nullptr);
    EXPECT_EQ(WidgetOf("BtnSetup"), nullptr);
    EXPECT_TRUE(Form1->Memo1->Focused());
    auto* memo = dynamic_cast<QPlainTextEdit*>(WidgetOf("Memo1"));
    ASSERT_NE(memo, nullptr);
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->parentWidget()->size(), QSize(401, 245)) << "the page fills the notebook";
    EXPECT_EQ(memo->geometry(), QRect(8, 32, 385, 169));
    EXPECT_EQ(memo->toPlainText().toStdString(),
              "Licence line one\nline two\nline three\nlast line");
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    Click("Button2");  // Reject
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_TRUE(Started.empty());
}

TEST_F(SetupTest, ExitRejectAndTheCloseBoxEndNormallyLeavingNothing) {
  const std::vector<std::pair<const char*, std::function<void()>>> ways = {
      {"Exit", [] { Click("BtnExit"); }},
      {"Reject",
       [] {
         Click("BtnSetup");
         Click("Button2");
       }},
      {"close box on the splash page", [] { WidgetOf("Form1")->close(); }},
      {"close box on the licence page",
       [] {
         Click("BtnSetup");
         WidgetOf("Form1")->close();
       }},
  };
  for (const auto& [what, steps] : ways) {
    int code = RunWith(steps);
    EXPECT_EQ(code, 0) << what;
    EXPECT_TRUE(Boxes.empty()) << what;
    EXPECT_TRUE(Started.empty()) << what;
    DoneApplicationObjects();
    EXPECT_TRUE(TempNames().empty()) << what << ": temporary files left behind";
    EXPECT_FALSE(fs::exists(Home() + "/Tavrix")) << what;
    InitApplicationObjects().SetExeName("/opt/tavrix-setup");
  }
}

TEST_F(SetupTest, FreshInstallRenamesTheProgramStartsItAndEnds) {
  std::string unpacked;
  int code = RunWith([&] {
    unpacked = Form1->FileSource1->FileName();
    Click("BtnSetup");
    Click("Button1");  // Accept
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(ReadWholeFile(Target()), ProgramBytes());
  EXPECT_FALSE(fs::exists(unpacked)) << "a rename leaves no temporary program file";
  EXPECT_EQ(Started, std::vector<std::string>{"open " + Target()});
  DoneApplicationObjects();
  EXPECT_TRUE(TempNames().empty());
}

TEST_F(SetupTest, SecondInstallCopiesOverTheFirstAndTheTemporaryFileGoesAtExit) {
  fs::create_directory(Home() + "/Tavrix");
  WriteWholeFile(Target(), BytesOf("an older version that is rather longer than the new one"));
  std::string unpacked;
  int code = RunWith([&] {
    unpacked = Form1->FileSource1->FileName();
    Click("BtnSetup");
    Click("Button1");
    EXPECT_TRUE(fs::exists(unpacked)) << "after a copy the temporary file stays until the end";
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadWholeFile(Target()), ProgramBytes());
  EXPECT_EQ(Started, std::vector<std::string>{"open " + Target()});
  DoneApplicationObjects();
  EXPECT_FALSE(fs::exists(unpacked));
  EXPECT_TRUE(TempNames().empty());
}

TEST_F(SetupTest, FailedInstallsShowTheirBoxAndKeepTheLicencePage) {
  struct Case {
    const char* what;
    std::function<void()> prepare;  // before Accept
    std::function<std::string()> message;
  };
  const Case cases[] = {
      {"temporary program file removed", [] { fs::remove(Form1->FileSource1->FileName()); },
       [] { return std::string("Cannot move file "); }},
      {"read-only target",
       [this] {
         fs::create_directory(Home() + "/Tavrix");
         WriteWholeFile(Target(), BytesOf("old"));
         chmod(Target().c_str(), 0444);
       },
       [this] { return "Cannot create file " + Target() + "."; }},
      {"install folder cannot be created",
       [this] { WriteWholeFile(Home() + "/Tavrix", BytesOf("a file in the way")); },
       [this] {
         std::string unpacked = Form1->FileSource1->FileName();
         return "Cannot create file " + Target() + "/" + unpacked.substr(unpacked.rfind('/') + 1) +
                ".";
       }},
  };
  for (const Case& c : cases) {
    Boxes.clear();
    int code = RunWith([&] {
      Click("BtnSetup");
      c.prepare();
      std::string expected = c.message();
      Click("Button1");
      ASSERT_EQ(Boxes.size(), 1u) << c.what;
      EXPECT_EQ(Boxes[0].Text, expected) << c.what;
      EXPECT_EQ(Boxes[0].Caption, "tavrix-setup") << c.what;
      EXPECT_EQ(Boxes[0].Flags, MB_OK | MB_ICONSTOP) << c.what;
      EXPECT_EQ(Form1->Notebook1->ActivePage(), "License") << c.what;
      EXPECT_FALSE(Application->Terminated()) << c.what << ": the window carries on";
      Click("Button2");  // Reject still ends normally
    });
    EXPECT_EQ(code, 0) << c.what;
    EXPECT_TRUE(Started.empty()) << c.what;
    DoneApplicationObjects();
    EXPECT_TRUE(TempNames().empty()) << c.what;
    std::error_code ec;
    fs::permissions(Target(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Home() + "/Tavrix", ec);
    InitApplicationObjects().SetExeName("/opt/tavrix-setup");
    Application->MessageBoxHook = [this](const std::string& t, const std::string& cap, uint32_t f) {
      Boxes.push_back({t, cap, f});
      return 1;
    };
  }
}

// In a temporary folder that others can write, someone may put a file of theirs under the name
// of the unpacked program before "Accept". What was unpacked is installed or nothing is: never
// the other file, which is not deleted either, since the setup program did not make it.
TEST_F(SetupTest, AProgramFileSwappedBeforeAcceptIsNeverInstalled) {
  const TBytes script = BytesOf("#!/bin/sh\necho someone else's script\n");
  const struct {
    const char* how;
    std::function<void(const std::string& unpacked, const std::string& other)> swap;
  } cases[] = {
      {"another file renamed over it",
       [](const std::string& unpacked, const std::string& other) { fs::rename(other, unpacked); }},
      {"a link to another file in its place",
       [](const std::string& unpacked, const std::string& other) {
         fs::remove(unpacked);
         fs::create_symlink(other, unpacked);
       }},
      {"removed, and another file made under its name",
       [&](const std::string& unpacked, const std::string& other) {
         fs::remove(unpacked);
         WriteWholeFile(unpacked, script);
         fs::remove(other);
       }},
  };
  for (const auto& c : cases) {
    Boxes.clear();
    std::string unpacked;
    const std::string other = Home() + "/other.sh";
    int code = RunWith([&] {
      unpacked = Form1->FileSource1->FileName();
      WriteWholeFile(other, script);
      Click("BtnSetup");
      c.swap(unpacked, other);
      Click("Button1");  // Accept
      ASSERT_EQ(Boxes.size(), 1u) << c.how;
      EXPECT_EQ(Boxes[0].Text, "Cannot move file ") << c.how;
      Click("Button2");
    });
    EXPECT_EQ(code, 0) << c.how;
    EXPECT_TRUE(Started.empty()) << c.how;
    EXPECT_FALSE(fs::exists(Target())) << c.how << ": something was installed";
    DoneApplicationObjects();
    EXPECT_TRUE(fs::exists(fs::symlink_status(unpacked))) << c.how << ": another's file went";
    fs::remove(unpacked);
    std::error_code ec;
    fs::remove(other, ec);
    fs::remove_all(Home() + "/Tavrix", ec);
    InitApplicationObjects().SetExeName("/opt/tavrix-setup");
    Application->MessageBoxHook = [this](const std::string& t, const std::string& cap, uint32_t f) {
      Boxes.push_back({t, cap, f});
      return 1;
    };
  }
}

TEST_F(SetupTest, RunningTargetCannotBeOverwritten) {
  fs::create_directory(Home() + "/Tavrix");
  fs::copy_file("/usr/bin/sleep", Target());
  pid_t pid = fork();
  if (pid == 0) {
    execl(Target().c_str(), "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait until the copy is the running image.
  for (int i = 0; i < 200; ++i) {
    std::error_code ec;
    if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec) == Target()) break;
    usleep(10000);
  }
  int code = RunWith([&] {
    Click("BtnSetup");
    Click("Button1");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Cannot create file " + Target() + ".");
    Click("Button2");
  });
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(Started.empty());
}

TEST_F(SetupTest, MissingLicenceFileIsReportedAndTheFormStillShows) {
  // A description whose licence source carries no file: FileName reads empty in FormCreate.
  std::string text = WithFileData(FormText(), "FileSource1", PackedValue(SystemSmallProgram()));
  RegisterForm(text);
  bool shown = false;
  int code = RunWith([&] {
    shown = WidgetOf("Form1") != nullptr;
    EXPECT_EQ(Form1->Memo1->Lines().Count(), 0);
    Click("BtnExit");
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(shown) << "an exception in OnCreate does not stop the form";
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, "Cannot open file ") << "no period after a blank";
  EXPECT_EQ(Boxes[0].Caption, "tavrix-setup");
}

// 8 million line feeds pack into 10.5 KB and used to cost more than a gigabyte in the memo.
TEST_F(SetupTest, ALicenceOfMillionsOfLineFeedsIsRefusedByTheMemo) {
  TTempDir files;
  WriteWholeFile(files / "licence.txt", TBytes(8'000'000, '\n'));
  std::string text = WithFileData(FormText(), "FileSource1", PackedValue(SystemSmallProgram()));
  RegisterForm(WithFileData(text, "FileSource2", PackedValue(files / "licence.txt")));
  int code = RunWith([&] {
    EXPECT_EQ(Form1->Memo1->Lines().Count(), 0);
    Click("BtnExit");
  });
  EXPECT_EQ(code, 0);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, "Text exceeds memo capacity.");
}

TEST_F(SetupTest, AnUnpackableFileEndsStartUpWithTheApplicationErrorBox) {
  const struct {
    const char* what;
    bool programSound;
    const char* text;
  } cases[] = {
      {"program file", false,
       "Exception EReadError in module tavrix-setup at 00000000.\n"
       "Error reading FileSource1.FileData: Wrong file type."},
      // The program file is already unpacked when the licence fails: it must go as well.
      {"licence text", true,
       "Exception EReadError in module tavrix-setup at 00000000.\n"
       "Error reading FileSource2.FileData: Wrong file type."},
  };
  for (const auto& c : cases) {
    Boxes.clear();
    std::string text = FormText();
    TBytes damaged = BytesOf("not a container");
    text = WithFileData(text, "FileSource1",
                        c.programSound ? PackedValue(SystemSmallProgram()) : damaged);
    text = WithFileData(text, "FileSource2",
                        c.programSound ? damaged : PackedValue(SystemLicenceText()));
    RegisterForm(text);
    bool windowShown = false;
    QTimer::singleShot(0, [&] { windowShown = WidgetOf("Form1") != nullptr; });
    int code = RunApplication();
    EXPECT_EQ(code, 1) << c.what;
    EXPECT_FALSE(windowShown) << c.what;
    EXPECT_EQ(Application->MainForm(), nullptr) << c.what;
    EXPECT_EQ(Application->ComponentCount(), 0) << c.what << ": the half-built form is destroyed";
    ASSERT_EQ(Boxes.size(), 1u) << c.what;
    EXPECT_EQ(Boxes[0].Caption, "Application Error") << c.what;
    EXPECT_EQ(Boxes[0].Text, c.text) << c.what;
    EXPECT_EQ(Boxes[0].Flags, MB_OK | MB_ICONSTOP | MB_TASKMODAL) << c.what;
    EXPECT_TRUE(TempNames().empty()) << c.what << ": temporary files outlived the failed start";
  }
}

// A form that mksetup build used to take but that lacks a component of TForm1 crashed the setup
// program, at start or at "Accept". It ends the start-up as a form that cannot be built.
TEST_F(SetupTest, AFormThatLacksAComponentOfTheMainFormEndsStartUp) {
  for (const char* missing : {"FileSource1", "FileSource2", "Memo1"}) {
    Boxes.clear();
    std::string text = FormText();
    text = WithFileData(text, "FileSource1", PackedValue(SystemSmallProgram()));
    text = WithFileData(text, "FileSource2", PackedValue(SystemLicenceText()));
    // The object, from its line to its own "end" at the same indentation.
    const std::size_t at = text.find(std::string("object ") + missing + ":");
    const std::size_t lineStart = text.rfind('\n', at) + 1;
    const std::string indent = text.substr(lineStart, at - lineStart);
    const std::size_t end = text.find("\n" + indent + "end\n", at) + indent.size() + 5;
    text.erase(lineStart, end - lineStart);
    RegisterForm(text);
    bool windowShown = false;
    QTimer::singleShot(0, [&] { windowShown = WidgetOf("Form1") != nullptr; });
    const int code = RunApplication();
    EXPECT_EQ(code, 1) << missing;
    EXPECT_FALSE(windowShown) << missing;
    ASSERT_EQ(Boxes.size(), 1u) << missing;
    EXPECT_EQ(Boxes[0].Caption, "Application Error") << missing;
    EXPECT_EQ(Boxes[0].Text,
              std::string("Exception EReadError in module tavrix-setup at 00000000.\n"
                          "The form description lacks components that TForm1 "
                          "declares: ") +
                  missing + ".")
        << missing;
    EXPECT_EQ(Application->ComponentCount(), 0) << missing;
    EXPECT_TRUE(TempNames().empty()) << missing << ": temporary files outlived the failed start";
  }
}

}  // namespace
