// mksetup run as a program: pack and unpack round trips on real files, dump and convert,
// installer images built with the installer's own form and with a form of the user's, and
// errors reported on standard error with a non-zero status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "FileSrc.h"
#include "InstallerImage.h"
#include "LZRW1KH.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// Runs mksetup with the arguments; TMPDIR names dir so that its temporary files can be checked.
TRun Mksetup(const TTempDir& dir, const std::vector<std::string>& args) {
  std::string cmd = "TMPDIR=" + ShellQuote(dir.Path()) + " " + ShellQuote(MKSETUP_PATH);
  for (const auto& a : args) cmd += " " + ShellQuote(a);
  return RunCommand(dir, cmd);
}

bool NoExtractionFileLeft(const TTempDir& dir) {
  for (const auto& n : dir.Names()) {
    if (n.rfind("~fs", 0) == 0) return false;
  }
  return true;
}

TEST(MksetupTest, PackAndUnpackRoundTripRealFilesInBothLayouts) {
  TTempDir dir;
  for (const std::string& file : {SystemLicenceText(), SystemLargeProgram()}) {
    TBytes original = ReadWholeFile(file);
    for (bool plain : {false, true}) {
      std::vector<std::string> pack = {"pack"}, unpack = {"unpack"};
      if (plain) {
        pack.push_back("--plain");
        unpack.push_back("--plain");
      }
      pack.insert(pack.end(), {file, dir / "value"});
      unpack.insert(unpack.end(), {dir / "value", dir / "copy"});
      TRun packed = Mksetup(dir, pack);
      ASSERT_EQ(packed.Status, 0) << packed.Err;
      TBytes value = ReadWholeFile(dir / "value");
      if (plain) {
        EXPECT_EQ(value.size(), original.size() + 4);
      } else {
        EXPECT_EQ(TBytes(value.begin(), value.begin() + 6), BytesOf("PMCS10"));
        EXPECT_LT(value.size(), original.size());
      }
      TRun unpacked = Mksetup(dir, unpack);
      ASSERT_EQ(unpacked.Status, 0) << unpacked.Err;
      EXPECT_EQ(ReadWholeFile(dir / "copy"), original) << file << " plain=" << plain;
      EXPECT_TRUE(NoExtractionFileLeft(dir));
    }
  }
}

TEST(MksetupTest, PackBestMakesASmallerContainerThatUnpacksAsAnyOther) {
  TTempDir dir;
  for (const std::string& file : {SystemLicenceText(), SystemLargeProgram()}) {
    SCOPED_TRACE(file);
    ASSERT_EQ(Mksetup(dir, {"pack", file, dir / "greedy"}).Status, 0);
    TRun packed = Mksetup(dir, {"pack", "--best", file, dir / "best"});
    ASSERT_EQ(packed.Status, 0) << packed.Err;
    EXPECT_LT(ReadWholeFile(dir / "best").size(), ReadWholeFile(dir / "greedy").size());
    TRun unpacked = Mksetup(dir, {"unpack", dir / "best", dir / "copy"});
    ASSERT_EQ(unpacked.Status, 0) << unpacked.Err;
    EXPECT_EQ(ReadWholeFile(dir / "copy"), ReadWholeFile(file));
  }
}

TEST(MksetupTest, FailuresGoToStandardErrorAndLeaveNoOutput) {
  TTempDir dir;
  WriteWholeFile(dir / "text", BytesOf("not a container at all"));
  const struct {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string err;  // the start of the first line of standard error
  } cases[] = {
      {"missing input",
       {"pack", dir / "nope", dir / "out"},
       1,
       "mksetup: Input cannot store file: " + (dir / "nope") + " (file is missing)"},
      {"wrong layout", {"unpack", dir / "text", dir / "out"}, 1, "mksetup: Wrong file type"},
      {"truncated plain value",
       {"unpack", "--plain", dir / "text", dir / "out"},
       1,
       "mksetup: Stream read error"},
      {"missing value",
       {"unpack", dir / "nope", dir / "out"},
       1,
       "mksetup: Cannot open file " + (dir / "nope")},
      {"not a form",
       {"dump", dir / "text"},
       1,
       "mksetup: " + (dir / "text") +
           " is neither a binary form description nor an installer image"},
      {"neither form", {"convert", dir / "text", dir / "out"}, 1, "mksetup: " + (dir / "text")},
      {"unknown command", {"frobnicate"}, 2, "mksetup: unknown command frobnicate"},
      {"unknown option", {"pack", "--fast", "a", "b"}, 2, "mksetup: unknown option --fast"},
      {"too few arguments", {"pack", "a"}, 2, "mksetup: expected 2 file arguments, got 1"},
      {"--best for a plain value",
       {"pack", "--best", "--plain", "a", dir / "out"},
       2,
       "mksetup: --best packs a container; --plain does not"},
      {"--best for unpacking",
       {"unpack", "--best", "a", dir / "out"},
       2,
       "mksetup: unknown option --best"},
      {"no command", {}, 2, "mksetup: no command given"},
  };
  for (const auto& c : cases) {
    TRun run = Mksetup(dir, c.args);
    EXPECT_EQ(run.Status, c.status) << c.what;
    EXPECT_EQ(run.Err.rfind(c.err, 0), 0u) << c.what << ": " << run.Err;
    EXPECT_TRUE(run.Out.empty()) << c.what;
    EXPECT_FALSE(fs::exists(dir / "out")) << c.what;
    EXPECT_TRUE(NoExtractionFileLeft(dir)) << c.what;
  }
}

TEST(MksetupTest, HelpExplainsEveryCommand) {
  TTempDir dir;
  TRun run = Mksetup(dir, {"--help"});
  EXPECT_EQ(run.Status, 0);
  for (const char* command :
       {"build --program FILE --licence FILE [--form FORM] [--stub SETUP] [--best] -o IMAGE",
        "pack [--plain | --best] FILE OUT", "unpack [--plain] VALUE OUT", "dump FORM", "dump IMAGE",
        "convert IN OUT"}) {
    EXPECT_NE(run.Out.find(command), std::string::npos) << command;
  }
}

TEST(MksetupTest, DumpShowsBinaryValuesShortAndConvertGoesBothWays) {
  TTempDir dir;
  const std::string text =
      "object Form1: TForm1\n"
      "  Caption = 'Tavrix Setup'\n"
      "  object FileSource1: TFileSource\n"
      "    Compress = True\n"
      "    FileData = {\n"
      "      504D43533130000000000102030405060708090A0B0C0D0E0F1011121314}\n"
      "  end\n"
      "end\n";
  WriteWholeFile(dir / "form.txt", BytesOf(text));
  TRun toBinary = Mksetup(dir, {"convert", dir / "form.txt", dir / "form.bin"});
  ASSERT_EQ(toBinary.Status, 0) << toBinary.Err;
  TBytes binary = ReadWholeFile(dir / "form.bin");
  EXPECT_EQ(TBytes(binary.begin(), binary.begin() + 4), BytesOf("TPF0"));

  TRun dump = Mksetup(dir, {"dump", dir / "form.bin"});
  ASSERT_EQ(dump.Status, 0) << dump.Err;
  EXPECT_NE(dump.Out.find("object FileSource1: TFileSource"), std::string::npos) << dump.Out;
  EXPECT_NE(dump.Out.find("30 bytes"), std::string::npos) << dump.Out;
  EXPECT_NE(dump.Out.find("504D4353313000000000010203040506"), std::string::npos) << dump.Out;
  EXPECT_EQ(dump.Out.find("0F1011121314"), std::string::npos) << "the value must not be whole";

  TRun back = Mksetup(dir, {"convert", dir / "form.bin", dir / "again.txt"});
  ASSERT_EQ(back.Status, 0) << back.Err;
  TRun again = Mksetup(dir, {"convert", dir / "again.txt", dir / "again.bin"});
  ASSERT_EQ(again.Status, 0) << again.Err;
  EXPECT_EQ(ReadWholeFile(dir / "again.bin"), binary);
}

// --- build and dump IMAGE ----------------------------------------------------------------------

// What a form description holds for one object: its class, its properties' names in order and
// its "FileData" value if it has one.
struct TSeenObject {
  std::string ClassName;
  std::vector<std::string> Props;
  std::optional<std::string> FileData;
};

void SeeObject(TReader& reader, TStream& stream, std::map<std::string, TSeenObject>& seen) {
  ASSERT_LT(static_cast<uint8_t>(reader.NextValue()), 0xF0) << "no prefixes expected";
  TSeenObject object;
  object.ClassName = reader.ReadStr();
  const std::string name = reader.ReadStr();
  while (!reader.EndOfList()) {
    object.Props.push_back(reader.ReadStr());
    if (object.Props.back() != "FileData") {
      reader.SkipValue();
      continue;
    }
    ASSERT_EQ(reader.ReadValue(), TValueType::vaBinary);
    uint8_t length[4];
    stream.ReadBuffer(length, 4);
    std::string value(LoadLE32(length), '\0');
    stream.ReadBuffer(value.data(), static_cast<int32_t>(value.size()));
    object.FileData = value;
  }
  reader.ReadValue();
  seen[name] = object;
  while (!reader.EndOfList()) SeeObject(reader, stream, seen);
  reader.ReadValue();
}

// The objects of the TFORM1 that the image at path carries, by name (unnamed ones under "").
std::map<std::string, TSeenObject> ObjectsOfImage(const std::string& path) {
  std::vector<TImageResource> resources;
  const TImageCheck check = ReadImageResources(path, resources);
  EXPECT_TRUE(check.Ok()) << check.Message;
  std::map<std::string, TSeenObject> seen;
  if (resources.size() != 1 || resources[0].Name != "TFORM1") {
    ADD_FAILURE() << "the image must carry TFORM1 alone";
    return seen;
  }
  TMemoryStream form;
  form.WriteBuffer(resources[0].Data.data(), static_cast<int32_t>(resources[0].Data.size()));
  form.SetPosition(0);
  char signature[4];
  form.ReadBuffer(signature, 4);
  EXPECT_EQ(std::string(signature, 4), "TPF0");
  TReader reader(form);
  SeeObject(reader, form, seen);
  EXPECT_EQ(form.Position(), form.Size()) << "nothing may follow the form";
  return seen;
}

// The file that a "FileData" value carries, unpacked through TFileSource.
TBytes Unpacked(const std::string& value, bool compress) {
  TTempDir temp(true);
  TFileSource source(nullptr);
  source.SetCompress(compress);
  TMemoryStream stream;
  stream.WriteBuffer(value.data(), static_cast<int32_t>(value.size()));
  stream.SetPosition(0);
  source.ReadFileData(stream);
  return ReadWholeFile(source.HeldFileName());
}

const std::vector<std::string> AttachedProps = {"Compress", "Extension", "Store",
                                                "Left",     "Top",       "FileData"};

// The installer's own form in text form, which holds every component that the setup program's
// main form needs, so that mksetup build takes it.
std::string OwnForm() {
  const TBytes text = ReadWholeFile(TAVRIX_RESOURCES_DIR "/TFORM1.txt");
  return std::string(text.begin(), text.end());
}

// form with more objects (text, each line indented for the form's children) before its end.
std::string WithObjects(std::string form, const std::string& objects) {
  const std::size_t end = form.rfind("end");
  return form.insert(end, objects);
}

// form with lines added after the properties of the object named (the installer's file sources
// have no children), or the object left out when the lines are nullptr.
std::string WithObjectChanged(std::string form, const std::string& name, const char* lines) {
  const std::size_t at = form.find("  object " + name + ":");
  const std::size_t end = form.find("\n  end\n", at) + 1;
  if (!lines) return form.erase(at, end + 6 - at);
  return form.insert(end, lines);
}

class MksetupBuildTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::copy_file(SystemSmallProgram(), FStub); }

  TTempDir FDir;
  const std::string FStub = FDir / "stub";
  const std::string FImage = FDir / "image";
  const std::string FProgram = SystemLargeProgram();
  const std::string FLicence = TAVRIX_RESOURCES_DIR "/licence.txt";
};

TEST_F(MksetupBuildTest, WithoutFormTheInstallerFormCarriesProgramAndLicence) {
  TRun run = Mksetup(
      FDir, {"build", "--program", FProgram, "--licence", FLicence, "--stub", FStub, "-o", FImage});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(run.Out.empty() && run.Err.empty()) << run.Out << run.Err;
  EXPECT_EQ(FDir.Names(), (std::vector<std::string>{"image", "stub"}));
  EXPECT_EQ(fs::status(FImage).permissions() & fs::perms::all, static_cast<fs::perms>(0755));
  const TBytes stub = ReadWholeFile(FStub);
  const TBytes image = ReadWholeFile(FImage);
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), image.begin())) << "the stub comes first";

  // The dump is the installer's form with one FileData line added to each file source.
  TRun dump = Mksetup(FDir, {"dump", FImage});
  ASSERT_EQ(dump.Status, 0) << dump.Err;
  std::string withoutData;
  int dataLines = 0;
  for (std::size_t at = 0; at < dump.Out.size();) {
    const std::size_t end = dump.Out.find('\n', at) + 1;
    const std::string line = dump.Out.substr(at, end - at);
    if (line.find("    FileData = { ") == 0) {
      ++dataLines;
    } else {
      withoutData += line;
    }
    at = end;
  }
  EXPECT_EQ(dataLines, 2);
  // What is left is the installer's own form, shown the way dump shows it (binary values such
  // as the emblem cut to their size and first bytes).
  TTempDir own;
  ASSERT_EQ(Mksetup(own, {"convert", TAVRIX_RESOURCES_DIR "/TFORM1.txt", own / "form.bin"}).Status,
            0);
  TRun ownDump = Mksetup(own, {"dump", own / "form.bin"});
  ASSERT_EQ(ownDump.Status, 0) << ownDump.Err;
  EXPECT_EQ(withoutData, ownDump.Out);

  std::map<std::string, TSeenObject> objects = ObjectsOfImage(FImage);
  const std::pair<const char*, std::string> carried[] = {{"FileSource1", FProgram},
                                                         {"FileSource2", FLicence}};
  for (const auto& [name, file] : carried) {
    const TSeenObject& source = objects[name];
    EXPECT_EQ(source.Props, AttachedProps) << name;
    ASSERT_TRUE(source.FileData) << name;
    EXPECT_EQ(Unpacked(*source.FileData, true), ReadWholeFile(file)) << name;
  }
}

TEST_F(MksetupBuildTest, WithFormEachStoredFileSourceCarriesTheFileItNames) {
  fs::create_directories(FDir / "forms/payload");
  WriteWholeFile(FDir / "forms/payload/app.bin", ReadWholeFile(FProgram));
  const std::string form = WithObjects(
      WithObjectChanged(
          WithObjectChanged(OwnForm(), "FileSource1", "    FileName = 'payload/app.bin'\n"),
          "FileSource2", ("    FileName = '" + FLicence + "'\n").c_str()),
      "  object Packed: TFileSource\n"
      "    Compress = True\n"
      "    Extension = '.bin'\n"
      "    FileName = 'payload/app.bin'\n"
      "    Store = True\n"
      "    Left = 8\n"
      "    Top = 8\n"
      "  end\n"
      "  object Panel: TPanel\n"
      "    FileName = 'not a file source'\n"
      "    object Plain: TFileSource\n"
      "      Compress = False\n"
      "      FileName = '" +
          FLicence +
          "'\n"
          "      Store = True\n"
          "    end\n"
          "  end\n"
          "  object NameOnly: TFileSource\n"
          "    Compress = False\n"
          "    FileName = 'payload/app.bin'\n"
          "    Store = False\n"
          "  end\n");
  WriteWholeFile(FDir / "forms/form.txt", BytesOf(form));
  // mksetup runs in the test's own folder, so the relative name works only from the form's.
  TRun run =
      Mksetup(FDir, {"build", "--form", FDir / "forms/form.txt", "--stub", FStub, "-o", FImage});
  ASSERT_EQ(run.Status, 0) << run.Err;

  std::map<std::string, TSeenObject> objects = ObjectsOfImage(FImage);
  EXPECT_EQ(objects["Panel"].Props, std::vector<std::string>{"FileName"}) << "not a file source";
  // The Extension comes out as reading the form leaves it: the form's own, or, after a FileName
  // that sets it, the FileName's.
  for (const char* name : {"Packed", "FileSource1", "FileSource2"}) {
    EXPECT_EQ(objects[name].Props, AttachedProps) << name;
  }
  ASSERT_TRUE(objects["Packed"].FileData);
  EXPECT_EQ(Unpacked(*objects["Packed"].FileData, true), ReadWholeFile(FProgram));
  EXPECT_EQ(Unpacked(*objects["FileSource2"].FileData, true), ReadWholeFile(FLicence));
  EXPECT_EQ(objects["Plain"].Props,
            (std::vector<std::string>{"Compress", "Extension", "Store", "FileData"}));
  ASSERT_TRUE(objects["Plain"].FileData);
  EXPECT_EQ(objects["Plain"].FileData->size(), 4 + fs::file_size(FLicence)) << "plain layout";
  EXPECT_EQ(Unpacked(*objects["Plain"].FileData, false), ReadWholeFile(FLicence));
  EXPECT_EQ(objects["NameOnly"].Props, (std::vector<std::string>{"Compress", "FileName", "Store"}))
      << "Store False keeps the name and carries nothing";

  TRun dump = Mksetup(FDir, {"dump", FImage});
  ASSERT_EQ(dump.Status, 0) << dump.Err;
  EXPECT_NE(dump.Out.find("object Packed: TFileSource"), std::string::npos) << dump.Out;
  EXPECT_NE(dump.Out.find("    FileData = { "), std::string::npos) << dump.Out;
}

// --best changes the compressed "FileData" values alone: smaller, and unpacked as before. A plain
// one stays as it is.
TEST_F(MksetupBuildTest, BestPacksEveryCompressedFileSourceSmaller) {
  fs::create_directories(FDir / "forms");
  // The installer's form with the licence stored plain.
  std::string form = OwnForm();
  const std::string licenceCompressed = "Compress = True\n    Extension = '.txt'";
  const std::size_t at = form.find(licenceCompressed);
  ASSERT_NE(at, std::string::npos);
  form.replace(at, licenceCompressed.size(), "Compress = False\n    Extension = '.txt'");
  WriteWholeFile(FDir / "forms/form.txt", BytesOf(form));
  for (const bool ownForm : {false, true}) {
    SCOPED_TRACE(ownForm ? "a form of its own" : "the installer's form");
    std::vector<std::string> args = {"--program", FProgram, "--licence", FLicence, "--stub", FStub};
    if (ownForm) args.insert(args.end(), {"--form", FDir / "forms/form.txt"});
    std::vector<std::string> greedyArgs = {"build"}, bestArgs = {"build", "--best"};
    greedyArgs.insert(greedyArgs.end(), args.begin(), args.end());
    bestArgs.insert(bestArgs.end(), args.begin(), args.end());
    greedyArgs.insert(greedyArgs.end(), {"-o", FDir / "greedy"});
    bestArgs.insert(bestArgs.end(), {"-o", FImage});
    ASSERT_EQ(Mksetup(FDir, greedyArgs).Status, 0);
    TRun run = Mksetup(FDir, bestArgs);
    ASSERT_EQ(run.Status, 0) << run.Err;

    std::map<std::string, TSeenObject> greedy = ObjectsOfImage(FDir / "greedy");
    std::map<std::string, TSeenObject> best = ObjectsOfImage(FImage);
    ASSERT_EQ(best.size(), greedy.size());
    const std::pair<const char*, std::string> carried[] = {{"FileSource1", FProgram},
                                                           {"FileSource2", FLicence}};
    for (const auto& [name, file] : carried) {
      SCOPED_TRACE(name);
      EXPECT_EQ(best[name].Props, greedy[name].Props);
      ASSERT_TRUE(best[name].FileData && greedy[name].FileData);
      const bool compressed = !ownForm || std::string(name) == "FileSource1";
      if (compressed) {
        EXPECT_LT(best[name].FileData->size(), greedy[name].FileData->size());
      } else {
        EXPECT_EQ(*best[name].FileData, *greedy[name].FileData);
      }
      EXPECT_EQ(Unpacked(*best[name].FileData, compressed), ReadWholeFile(file));
    }
  }
}

TEST_F(MksetupBuildTest, FailuresLeaveNoImageBehind) {
  fs::create_directories(FDir / "forms");
  WriteWholeFile(
      FDir / "forms/missing.txt",
      BytesOf(WithObjectChanged(OwnForm(), "FileSource1", "    FileName = 'payload/gone.exe'\n")));
  WriteWholeFile(FDir / "forms/nameonly.txt",
                 BytesOf(WithObjectChanged(OwnForm(), "FileSource1",
                                           "    FileName = 'x'\n    Store = False\n")));
  WriteWholeFile(FDir / "forms/nolicence.txt",
                 BytesOf(WithObjectChanged(OwnForm(), "FileSource2", nullptr)));
  WriteWholeFile(FDir / "forms/bad.txt", BytesOf("object Box: TDataModule\n  Left = \nend\n"));
  ASSERT_EQ(Mksetup(FDir, {"build", "--program", FStub, "--licence", FLicence, "--stub", FStub,
                           "-o", FDir / "image1"})
                .Status,
            0);
  const std::vector<std::string> stubAndImage = {"--stub", FStub, "-o", FImage};
  auto build = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "build");
    if (args.size() > 1 && args[1] != "--stub") {
      args.insert(args.end(), stubAndImage.begin(), stubAndImage.end());
    }
    return args;
  };
  const std::string defaults[] = {"--program", FProgram, "--licence", FLicence};
  const struct {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string err;  // the start of standard error
  } cases[] = {
      {"a FileName that is missing",
       build({"--form", FDir / "forms/missing.txt", "--licence", FLicence}), 1,
       "mksetup: FileSource1 cannot store file: " + (FDir / "forms/payload/gone.exe") +
           " (file is missing)\n"},
      {"a program that is missing", build({"--program", FDir / "gone", "--licence", FLicence}), 1,
       "mksetup: FileSource1 cannot store file: " + (FDir / "gone") + " (file is missing)\n"},
      {"a form that is missing", build({"--form", FDir / "forms/gone.txt"}), 1,
       "mksetup: Cannot open file " + (FDir / "forms/gone.txt") + ": No such file or directory\n"},
      {"a form that does not parse", build({"--form", FDir / "forms/bad.txt"}), 1,
       "mksetup: " + (FDir / "forms/bad.txt") + ": "},
      {"a form without FileSource2",
       build(
           {"--form", FDir / "forms/nolicence.txt", "--program", FProgram, "--licence", FLicence}),
       1,
       "mksetup: " + (FDir / "forms/nolicence.txt") +
           " lacks components that the setup program's main form needs: FileSource2\n"},
      {"a program for a file source that stores none",
       build({"--form", FDir / "forms/nameonly.txt", "--program", FProgram, "--licence", FLicence}),
       1, "mksetup: FileSource1 has Store False and cannot carry the file " + FProgram + "\n"},
      {"a missing stub",
       {"build", defaults[0], defaults[1], defaults[2], defaults[3], "--stub", FDir / "gone", "-o",
        FImage},
       1,
       "mksetup: Cannot open file " + (FDir / "gone")},
      {"a stub that is an image",
       {"build", defaults[0], defaults[1], defaults[2], defaults[3], "--stub", FDir / "image1",
        "-o", FImage},
       1,
       "mksetup: The stub " + (FDir / "image1") + " already carries an installer"},
      {"a missing output folder",
       {"build", defaults[0], defaults[1], defaults[2], defaults[3], "--stub", FStub, "-o",
        FDir / "no/image"},
       1,
       "mksetup: Cannot create file " + (FDir / "no/image") + ": No such file or directory\n"},
      {"no output",
       {"build", defaults[0], defaults[1], defaults[2], defaults[3]},
       2,
       "mksetup: no image named (-o IMAGE)"},
      {"no licence without a form", build({"--program", FProgram}), 2,
       "mksetup: without --form, both --program and --licence are needed"},
      {"an option without its file",
       {"build", "--program"},
       2,
       "mksetup: option --program needs a file name"},
      {"an option twice", build({"--program", FProgram, "--program", FProgram}), 2,
       "mksetup: option --program is given twice"},
      {"an unknown option", build({"--fast"}), 2, "mksetup: unknown option --fast"},
      {"a stray argument", build({"extra"}), 2, "mksetup: unexpected argument extra"},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> before = FDir.Names();
    TRun run = Mksetup(FDir, c.args);
    EXPECT_EQ(run.Status, c.status) << c.what << ": " << run.Err;
    EXPECT_EQ(run.Err.rfind(c.err, 0), 0u) << c.what << ": " << run.Err;
    EXPECT_TRUE(run.Out.empty()) << c.what;
    EXPECT_EQ(FDir.Names(), before) << c.what << ": no image and no temporary file";
  }
}

TEST_F(MksetupBuildTest, DumpChecksAnImageAsTheSetupProgramDoes) {
  ASSERT_EQ(Mksetup(FDir, {"build", "--program", FStub, "--licence", FLicence, "--stub", FStub,
                           "-o", FImage})
                .Status,
            0);
  const TBytes image = ReadWholeFile(FImage);
  TBytes damaged = image;
  damaged[ReadWholeFile(FStub).size() + 100] ^= 1;
  WriteWholeFile(FDir / "damaged", damaged);
  WriteWholeFile(FDir / "cut", TBytes(image.begin(), image.end() - 1));
  const struct {
    std::string file;
    std::string err;
  } cases[] = {
      {FDir / "damaged", "mksetup: " + (FDir / "damaged") +
                             ": The installer image is damaged: its program or its resource "
                             "block fails the image's checksum.\n"},
      {FDir / "cut", "mksetup: " + (FDir / "cut") +
                         ": The installer image is truncated: its trailer is cut short.\n"},
      {FStub,
       "mksetup: " + FStub + " is neither a binary form description nor an installer image\n"},
  };
  for (const auto& c : cases) {
    TRun run = Mksetup(FDir, {"dump", c.file});
    EXPECT_EQ(run.Status, 1) << c.file;
    EXPECT_EQ(run.Err, c.err);
    EXPECT_TRUE(run.Out.empty()) << c.file;
  }
}

// --- What mksetup touches ------------------------------------------------------------------------

// Every command once, with inputs made in dir and the output out. A command that reads a form
// description gets the installer's own form in text form.
class MksetupFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(SystemSmallProgram(), FDir / "stub");
    WriteWholeFile(FDir / "licence.txt", ReadWholeFile(TAVRIX_RESOURCES_DIR "/licence.txt"));
    WriteWholeFile(FDir / "form.txt", BytesOf(OwnForm()));
    ASSERT_EQ(Mksetup(FDir, {"pack", FDir / "licence.txt", FDir / "value"}).Status, 0);
  }

  struct TCommand {
    const char* Name;
    std::vector<std::string> Args;
  };
  std::vector<TCommand> Commands(const std::string& out) const {
    return {
        {"pack", {"pack", FDir / "licence.txt", out}},
        {"unpack", {"unpack", FDir / "value", out}},
        {"convert", {"convert", FDir / "form.txt", out}},
        {"build",
         {"build", "--program", FDir / "stub", "--licence", FDir / "licence.txt", "--stub",
          FDir / "stub", "-o", out}},
    };
  }

  TTempDir FDir;
};

// An output that stood there as anything but a regular file that may be written (a read-only
// file, a link, a pipe, a device, a folder) used to be reported and then removed, and build
// replaced it by rename: as root, "mksetup pack F /dev/null" removed /dev/null.
TEST_F(MksetupFilesTest, AnOutputThatIsNoWritableRegularFileIsRefusedAndLeftAlone) {
  int n = 0;
  for (const TForeignEntry& foreign : ForeignEntries()) {
    for (std::size_t i = 0; i < Commands("").size(); ++i) {
      const std::string out = FDir / ("out" + std::to_string(n++));
      if (!foreign.Make(out)) {
        std::cout << "skipped: this machine cannot make " << foreign.Kind << "\n";
        break;
      }
      const TCommand command = Commands(out)[i];
      const TEntryState before = EntryState(out);
      const std::vector<std::string> names = FDir.Names();
      const TRun run = Mksetup(FDir, command.Args);
      const std::string what = std::string(command.Name) + " onto " + foreign.Kind;
      EXPECT_EQ(run.Status, 1) << what;
      EXPECT_EQ(run.Err.rfind("mksetup: Cannot create file " + out + ": ", 0), 0u)
          << what << ": " << run.Err;
      EXPECT_EQ(EntryState(out), before) << what;
      EXPECT_EQ(FDir.Names(), names) << what << ": nothing made, nothing removed";
    }
  }
}

// Writing an output onto an existing file on a full medium used to leave it truncated or gone.
TEST_F(MksetupFilesTest, AnOutputThatCannotBeWrittenWholeLeavesTheEarlierFile) {
  WriteWholeFile(FDir / "big", ReadWholeFile(SystemLargeProgram()));
  ASSERT_EQ(Mksetup(FDir, {"pack", "--plain", FDir / "big", FDir / "bigvalue"}).Status, 0);
  const std::string out = FDir / "out";
  const std::vector<std::vector<std::string>> commands = {
      {"pack", "--plain", FDir / "big", out},
      {"unpack", "--plain", FDir / "bigvalue", out},
      {"build", "--program", FDir / "big", "--licence", FDir / "licence.txt", "--stub",
       FDir / "stub", "-o", out},
  };
  for (const auto& args : commands) {
    WriteWholeFile(out, BytesOf("the earlier output"));
    const std::vector<std::string> names = FDir.Names();
    // Room for 16 KiB more in any file; the signal of a file grown too large is ignored, so
    // the write fails as on a full medium.
    std::string command = "trap '' XFSZ; ulimit -f 32; TMPDIR=" + ShellQuote(FDir.Path()) +
                          " exec " + ShellQuote(MKSETUP_PATH);
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    const TRun run = RunCommand(FDir, command);
    EXPECT_EQ(run.Status, 1) << args[0];
    EXPECT_EQ(run.Err.rfind("mksetup: Stream write error", 0), 0u) << args[0] << ": " << run.Err;
    EXPECT_EQ(ReadWholeFile(out), BytesOf("the earlier output")) << args[0];
    EXPECT_EQ(FDir.Names(), names) << args[0];
  }
}

// An output that is one of the command's inputs, under any name, used to be overwritten.
TEST_F(MksetupFilesTest, AnOutputThatIsAnInputIsRefused) {
  fs::create_directory(FDir / "forms");
  WriteWholeFile(FDir / "forms/app.bin", BytesOf("the program"));
  WriteWholeFile(FDir / "forms/form.txt", BytesOf(WithObjectChanged(OwnForm(), "FileSource1",
                                                                    "    FileName = 'app.bin'\n")));
  ASSERT_EQ(link((FDir / "licence.txt").c_str(), (FDir / "hardlink").c_str()), 0);
  const std::string licence = FDir / "licence.txt", value = FDir / "value";
  const std::string form = FDir / "form.txt", stub = FDir / "stub";
  auto build = [&](const std::string& out) {
    return std::vector<std::string>{"build",  "--program", stub, "--licence", licence,
                                    "--stub", stub,        "-o", out};
  };
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string out, in;
  } cases[] = {
      {"pack onto its file", {"pack", licence, licence}, licence, licence},
      {"pack onto its file under another name",
       {"pack", licence, FDir / "hardlink"},
       FDir / "hardlink",
       licence},
      {"unpack onto its value", {"unpack", value, value}, value, value},
      {"convert onto its input", {"convert", form, form}, form, form},
      {"build onto its stub", build(stub), stub, stub},
      {"build onto its licence", build(licence), licence, licence},
      {"build onto its form",
       {"build", "--form", FDir / "forms/form.txt", "--licence", licence, "--stub", stub, "-o",
        FDir / "forms/form.txt"},
       FDir / "forms/form.txt",
       FDir / "forms/form.txt"},
      {"build onto a file that its form names",
       {"build", "--form", FDir / "forms/form.txt", "--licence", licence, "--stub", stub, "-o",
        FDir / "forms/app.bin"},
       FDir / "forms/app.bin",
       FDir / "forms/app.bin"},
  };
  for (const auto& c : cases) {
    const TEntryState before = EntryState(c.out);
    const TRun run = Mksetup(FDir, c.args);
    EXPECT_EQ(run.Status, 1) << c.what;
    EXPECT_EQ(run.Err, "mksetup: The output " + c.out + " is the input " + c.in + " itself\n")
        << c.what;
    EXPECT_EQ(EntryState(c.out), before) << c.what;
  }
}

// The files that a user names may be symbolic links (mksetup pack /usr/bin/awk OUT).
TEST_F(MksetupFilesTest, InputsNamedThroughLinksAreRead) {
  for (const char* name : {"licence.txt", "value", "form.txt", "stub"}) {
    fs::create_symlink(FDir / name, FDir / (std::string("link-") + name));
  }
  const auto link = [&](const char* name) { return FDir / (std::string("link-") + name); };
  const std::vector<std::vector<std::string>> commands = {
      {"pack", link("licence.txt"), FDir / "out"},
      {"unpack", link("value"), FDir / "out"},
      {"convert", link("form.txt"), FDir / "out"},
      {"dump", link("value")},
      {"build", "--form", link("form.txt"), "--program", link("stub"), "--licence",
       link("licence.txt"), "--stub", link("stub"), "-o", FDir / "out"},
  };
  for (const auto& args : commands) {
    const TRun run = Mksetup(FDir, args);
    if (args[0] == "dump") {
      // A value is no form: the point is that the link was opened and its file read.
      EXPECT_EQ(run.Err, "mksetup: " + args[1] +
                             " is neither a binary form description nor an installer image\n");
      continue;
    }
    EXPECT_EQ(run.Status, 0) << args[0] << ": " << run.Err;
    fs::remove(FDir / "out");
  }
}

// A pipe named as an input used to hold mksetup for good (and a file source with it).
TEST_F(MksetupFilesTest, APipeNamedAsAnInputIsRefusedAtOnce) {
  ASSERT_EQ(mkfifo((FDir / "pipe").c_str(), 0600), 0);
  const std::string pipe = FDir / "pipe";
  const std::vector<std::vector<std::string>> commands = {
      {"pack", pipe, FDir / "out"},
      {"unpack", pipe, FDir / "out"},
      {"convert", pipe, FDir / "out"},
      {"dump", pipe},
      {"build", "--program", pipe, "--licence", FDir / "licence.txt", "--stub", FDir / "stub", "-o",
       FDir / "out"},
      {"build", "--form", pipe, "--program", FDir / "stub", "--licence", FDir / "licence.txt",
       "--stub", FDir / "stub", "-o", FDir / "out"},
  };
  for (const auto& args : commands) {
    std::string command =
        "TMPDIR=" + ShellQuote(FDir.Path()) + " timeout 20 " + ShellQuote(MKSETUP_PATH);
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    const TRun run = RunCommand(FDir, command);
    EXPECT_EQ(run.Status, 1) << args[0] << " " << args[1] << ": " << run.Err;
    EXPECT_NE(run.Err.find(pipe + ": not a regular file\n"), std::string::npos)
        << args[0] << " " << args[1] << ": " << run.Err;
    EXPECT_FALSE(fs::exists(FDir / "out"));
  }
}

// unpack used to hold the whole unpacked file in memory: a value of a few hundred kilobytes that
// unpacks to gigabytes took as much memory. It now takes little whatever the size; here it
// unpacks 128 MiB within 64 MiB of address space.
TEST_F(MksetupFilesTest, UnpackHoldsNeitherTheValueNorTheFileWholeInMemory) {
  constexpr int Blocks = 4096;  // of 32,783 zero bytes each: 128 MiB
  std::vector<uint8_t> chunk(TCompressStream::ChunkSize, 0);
  std::vector<uint8_t> block(TCompressStream::ChunkSize + LZRW1KH::CompressSlack);
  const uint16_t length =
      CompressBlock(chunk.data(), block.data(), static_cast<uint16_t>(chunk.size()));
  TBytes value = BytesOf("PMCS10");
  auto put32 = [&value](uint32_t n) {
    uint8_t bytes[4];
    StoreLE32(bytes, n);
    value.insert(value.end(), bytes, bytes + 4);
  };
  put32(static_cast<uint32_t>(Blocks * (4 + length)));
  for (int i = 0; i < Blocks; ++i) {
    put32(length);
    value.insert(value.end(), block.begin(), block.begin() + length);
  }
  WriteWholeFile(FDir / "zeros.value", value);
  const TRun run = RunCommand(
      FDir, "ulimit -v 65536; TMPDIR=" + ShellQuote(FDir.Path()) + " " + ShellQuote(MKSETUP_PATH) +
                " unpack " + ShellQuote(FDir / "zeros.value") + " " + ShellQuote(FDir / "zeros"));
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(fs::file_size(FDir / "zeros"), static_cast<uintmax_t>(Blocks) * chunk.size());
  EXPECT_TRUE(NoExtractionFileLeft(FDir));
}

#ifdef TAVRIX_SETUP_IMAGE
// The build's own demo image: the setup program with the demo program and the demo licence.
TEST(MksetupDemoImageTest, TheBuildsImageCarriesTheDemoProgramAndLicence) {
  const TBytes stub = ReadWholeFile(TAVRIX_SETUP_STUB);
  const TBytes image = ReadWholeFile(TAVRIX_SETUP_IMAGE);
  ASSERT_GT(image.size(), stub.size());
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), image.begin()));
  std::map<std::string, TSeenObject> objects = ObjectsOfImage(TAVRIX_SETUP_IMAGE);
  ASSERT_TRUE(objects["FileSource1"].FileData && objects["FileSource2"].FileData);
  EXPECT_EQ(Unpacked(*objects["FileSource1"].FileData, true), ReadWholeFile(TAVRIX_DEMO_PATH));
  EXPECT_EQ(Unpacked(*objects["FileSource2"].FileData, true),
            ReadWholeFile(TAVRIX_RESOURCES_DIR "/licence.txt"));
}
#endif

}  // namespace
