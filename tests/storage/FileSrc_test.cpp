// TFileSource: its properties, the "FileData" value in both layouts, temporary extraction files,
// and reading and writing it inside a form description laid out as the installer's.
#include "FileSrc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "SystemServices.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// A root that stores the components it owns as its children, with the installer's two fields.
class TSourcesRoot : public TComponent {
  TAVRIX_CLASS(TSourcesRoot)
 public:
  explicit TSourcesRoot(TComponent* owner = nullptr) : TComponent(owner) {}
  TFileSource* FileSource1 = nullptr;
  TFileSource* FileSource2 = nullptr;
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* /*root*/) override {
    for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
  }
};

const TClassInfo& TSourcesRoot::StaticClassInfo() {
  static const TClassInfo info{
      "TSourcesRoot",
      &TComponent::StaticClassInfo(),
      nullptr,
      {},
      {TAVRIX_FIELD(TSourcesRoot, FileSource1), TAVRIX_FIELD(TSourcesRoot, FileSource2)},
      {}};
  return info;
}

// A memory stream holding the bytes, positioned at 0.
class TBytesStream : public TMemoryStream {
 public:
  explicit TBytesStream(const TBytes& bytes) {
    WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    SetPosition(0);
  }
};

TBytes BytesOfStream(TMemoryStream& s) { return TBytes(s.Memory(), s.Memory() + s.Size()); }

TBytes PlainValue(const TBytes& content) {
  auto n = static_cast<uint32_t>(content.size());
  TBytes v = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
              static_cast<uint8_t>(n >> 24)};
  v.insert(v.end(), content.begin(), content.end());
  return v;
}

TBytes ContainerValue(const TBytes& content) {
  TBytesStream in(content);
  TMemoryStream out;
  TCompressStream().CompressStream(in, out, static_cast<int32_t>(content.size()));
  return BytesOfStream(out);
}

// The packed value of a file, made by the component itself.
TBytes ValueOfFile(const std::string& path, bool compress) {
  TFileSource source(nullptr);
  source.SetFileName(path);
  source.SetCompress(compress);
  TMemoryStream value;
  source.WriteFileData(value);
  return BytesOfStream(value);
}

// Unpacks a value through a component and returns what landed in its extraction file.
TBytes UnpackValue(const TBytes& value, bool compress) {
  TFileSource source(nullptr);
  source.SetCompress(compress);
  TBytesStream s(value);
  source.ReadFileData(s);
  return ReadWholeFile(source.FileName());
}

TEST(FileSourceTest, NewComponentAndPropertyCoupling) {
  TTempDir tmp(true);
  {
    TFileSource source(nullptr);
    EXPECT_FALSE(source.Compress());
    EXPECT_FALSE(source.Store());
    EXPECT_EQ(source.DisplayLabel(), "");
    EXPECT_EQ(source.Extension(), "");
    EXPECT_EQ(source.FileName(), "");
    EXPECT_FALSE(source.OwnsTempFile());
    source.SetCompress(true);
    EXPECT_TRUE(source.Store()) << "Compress True stores the content";
    source.SetCompress(false);
    EXPECT_TRUE(source.Store()) << "Compress False leaves Store alone";
    source.SetCompress(true);
    source.SetStore(false);
    EXPECT_TRUE(source.Compress()) << "Store False leaves Compress alone";
  }
  EXPECT_TRUE(tmp.Names().empty());
}

TEST(FileSourceTest, AssigningFileNameTakesTheExtensionFromIt) {
  const struct {
    const char* name;
    const char* extension;
  } cases[] = {
      {"/pkg/setup.exe", ".exe"},
      {"/dir.d/readme", ""},
      {"a.tar.gz", ".gz"},
      {"name.", "."},
      {"plain", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    TFileSource source(nullptr);
    source.SetExtension(".old");
    source.SetFileName(c.name);
    EXPECT_EQ(source.Extension(), c.extension) << c.name;
    EXPECT_EQ(source.HeldFileName(), c.name);
  }
}

TEST(FileSourceTest, FileNameReadsEmptyForAMissingFileOrAFolderButStaysHeld) {
  TTempDir dir;
  TFileSource source(nullptr);
  source.SetName("FileSource1");
  source.SetFileName(dir / "gone.exe");
  EXPECT_EQ(source.FileName(), "");
  TMemoryStream out;
  try {
    source.WriteFileData(out);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message(),
              "FileSource1 cannot store file: " + (dir / "gone.exe") + " (file is missing)");
  }
  EXPECT_EQ(out.Size(), 0) << "nothing is written for a missing file";

  source.SetFileName(dir.Path());  // a folder does not count as a file
  EXPECT_EQ(source.FileName(), "");
  EXPECT_THROW(source.WriteFileData(out), Exception);

  source.SetFileName("");
  try {
    source.WriteFileData(out);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "FileSource1 cannot store file:  (file is missing)");
  }
}

TEST(FileSourceTest, OwnTemporaryFileGoesWithAssignmentAndDestructionButAUsersFileStays) {
  TTempDir tmp(true);
  TTempDir users;
  WriteWholeFile(users / "keep.txt", BytesOf("mine"));
  {
    TFileSource source(nullptr);
    source.SetFileName(users / "keep.txt");
    EXPECT_FALSE(source.OwnsTempFile());
  }
  EXPECT_TRUE(fs::exists(users / "keep.txt")) << "a file named by the user is never deleted";

  TFileSource source(nullptr);
  TBytesStream value(PlainValue(BytesOf("abc")));
  source.ReadFileData(value);
  std::string temp = source.FileName();
  ASSERT_FALSE(temp.empty());
  EXPECT_TRUE(source.OwnsTempFile());
  source.SetFileName(temp);  // the same name: the own file is deleted all the same
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(source.FileName(), "");
  EXPECT_EQ(source.HeldFileName(), temp);
  EXPECT_FALSE(source.OwnsTempFile());
  EXPECT_TRUE(tmp.Names().empty());
}

TEST(FileSourceTest, ValueLayouts) {
  TTempDir dir(true);
  WriteWholeFile(dir / "empty", {});
  WriteWholeFile(dir / "five", BytesOf("hello"));
  EXPECT_EQ(ValueOfFile(dir / "empty", false), (TBytes{0, 0, 0, 0}));
  EXPECT_EQ(ValueOfFile(dir / "empty", true), BytesOf(std::string("PMCS10\0\0\0\0", 10)));
  EXPECT_EQ(ValueOfFile(dir / "five", false), PlainValue(BytesOf("hello")));
  EXPECT_EQ(UnpackValue({0, 0, 0, 0}, false), TBytes{});
  EXPECT_EQ(UnpackValue(BytesOf(std::string("PMCS10\0\0\0\0", 10)), true), TBytes{});
  // Bytes after the file in a plain value are ignored.
  TBytes trailing = PlainValue(BytesOf("hello"));
  trailing.insert(trailing.end(), {'x', 'y'});
  EXPECT_EQ(UnpackValue(trailing, false), BytesOf("hello"));
  // One list: begin() and end() of two separate calls would walk between two vectors.
  const std::vector<std::string> names = dir.Names();
  EXPECT_TRUE(std::all_of(names.begin(), names.end(), [](const std::string& n) {
    return n.rfind("~fs", 0) != 0;
  })) << "no extraction file outlives its component";
}

TEST(FileSourceTest, RoundTripsRealFilesInBothLayouts) {
  TTempDir tmp(true);
  for (const std::string& path :
       {SystemLicenceText(), SystemLargeProgram(), SystemSmallProgram()}) {
    TBytes original = ReadWholeFile(path);
    for (bool compress : {false, true}) {
      TBytes value = ValueOfFile(path, compress);
      if (compress) {
        EXPECT_LT(value.size(), original.size()) << path << " should shrink";
      } else {
        EXPECT_EQ(value.size(), original.size() + 4) << path;
      }
      EXPECT_EQ(UnpackValue(value, compress), original) << path << " compress=" << compress;
    }
  }
  EXPECT_TRUE(tmp.Names().empty());
}

// The temporary folder is ours, but the second of the clock is not: these helpers retry when the
// second changed while a test ran, so the expected names can be computed.
template <class Body>
void InOneSecond(Body body) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    unsigned before = GetLocalTime().Second;
    bool done = body(before);
    if (done && GetLocalTime().Second == before) return;
  }
  FAIL() << "the clock's second kept changing";
}

TEST(FileSourceTest, TemporaryNamesFollowSecondAndCounterAndAreCreatedPrivate) {
  InOneSecond([](unsigned second) {
    TTempDir tmp(true);
    TFileSource a(nullptr), b(nullptr), c(nullptr), d(nullptr);
    a.SetExtension(".exe");
    b.SetExtension(".exe");
    c.SetExtension(".txt");
    d.SetExtension("");
    std::string s = std::to_string(second);
    std::string na = a.MakeTempFileName(), nb = b.MakeTempFileName();
    std::string nc = c.MakeTempFileName(), nd = d.MakeTempFileName();
    if (GetLocalTime().Second != second) return false;
    EXPECT_EQ(na, tmp / ("~fs" + s + "0.exe"));
    EXPECT_EQ(nb, tmp / ("~fs" + s + "1.exe"));
    EXPECT_EQ(nc, tmp / ("~fs" + s + "0.txt"));
    EXPECT_EQ(nd, tmp / ("~fs" + s + "0"));
    struct stat st {};
    EXPECT_EQ(lstat(na.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "readable and writable by the user alone";
    // MakeTempFileName alone does not make the component own the file.
    for (const auto& n : {na, nb, nc, nd}) fs::remove(n);
    return true;
  });
}

// Whatever stands under a candidate name, put there by someone else in a temporary folder that
// others can write, is skipped: the component creates its file under the next counter, never
// writes through a link, and deletes nothing but its own file.
TEST(FileSourceTest, EveryTakenNameIsSkippedAndOnlyTheOwnFileIsDeleted) {
  TTempDir tmp(true);
  TTempDir elsewhere;
  fs::create_directory(elsewhere / "folder");
  const struct {
    const char* kind;
    const char* extension;
    std::function<void(const std::string&)> plant;
  } cases[] = {
      {"a file", ".exe", [](const std::string& at) { WriteWholeFile(at, BytesOf("other's")); }},
      // A link to a file that does not exist yet: it must not be created through the link.
      {"a dangling link", ".lnk",
       [&](const std::string& at) { fs::create_symlink(elsewhere / "target", at); }},
      {"a folder", ".dir", [](const std::string& at) { fs::create_directory(at); }},
      // Taken for a folder by an attribute test, it used to end the start-up and be deleted.
      {"a link to a folder", ".dln",
       [&](const std::string& at) { fs::create_directory_symlink(elsewhere / "folder", at); }},
      {"a pipe", ".fifo", [](const std::string& at) { ASSERT_EQ(mkfifo(at.c_str(), 0600), 0); }},
  };
  for (const auto& c : cases) {
    // Whatever the second, counter 0 is taken.
    for (int s = 0; s < 60; ++s) c.plant(tmp / ("~fs" + std::to_string(s) + "0" + c.extension));
    {
      TFileSource source(nullptr);
      source.SetExtension(c.extension);
      TBytesStream value(PlainValue(BytesOf("mine")));
      source.ReadFileData(value);
      const std::string name = source.FileName();
      EXPECT_EQ(name.substr(name.size() - std::string(c.extension).size() - 1),
                std::string("1") + c.extension)
          << c.kind;
      EXPECT_EQ(ReadWholeFile(name), BytesOf("mine")) << c.kind;
    }
    EXPECT_EQ(tmp.Names().size(), 60u * (&c - cases + 1)) << c.kind << ": the planted entries stay";
  }
  EXPECT_EQ(ListFolder(elsewhere.Path()), std::vector<std::string>{"folder"})
      << "nothing was written through a link";
}

// A name that someone else takes after the component made its file (removing the component's
// file, or swapping another in) is no longer the component's: FileName reads empty and the
// destruction leaves the other's entry alone.
TEST(FileSourceTest, ANameTakenOverByAnotherFileIsNotDeleted) {
  TTempDir tmp(true);
  const struct {
    const char* how;
    std::function<void(const std::string&)> swap;
  } cases[] = {
      {"another file renamed over it",
       [&](const std::string& name) {
         WriteWholeFile(tmp / "other", BytesOf("other's"));
         fs::rename(tmp / "other", name);
       }},
      {"removed, then a link put there",
       [](const std::string& name) {
         fs::remove(name);
         fs::create_symlink("/etc/hostname", name);
       }},
  };
  for (const auto& c : cases) {
    std::string name;
    {
      TFileSource source(nullptr);
      TBytesStream value(PlainValue(BytesOf("mine")));
      source.ReadFileData(value);
      name = source.FileName();
      c.swap(name);
      EXPECT_EQ(source.FileName(), "") << c.how;
    }
    EXPECT_TRUE(EntryExists(name)) << c.how << ": another's entry was deleted";
    fs::remove(name);
  }
}

// A temporary folder in memory (tmpfs), where thousands of entries are made in a fraction of a
// second; TMPDIR names it while the object lives.
class TMemoryTempDir {
 public:
  TMemoryTempDir() {
    std::string pattern = "/dev/shm/tavrix-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder in /dev/shm");
    FPath = pattern;
    const char* old = std::getenv("TMPDIR");
    FOld = old ? old : "";
    setenv("TMPDIR", FPath.c_str(), 1);
  }
  ~TMemoryTempDir() {
    setenv("TMPDIR", FOld.c_str(), 1);
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  TMemoryTempDir(const TMemoryTempDir&) = delete;
  TMemoryTempDir& operator=(const TMemoryTempDir&) = delete;

  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  std::vector<std::string> Names() const { return ListFolder(FPath); }

 private:
  std::string FPath;
  std::string FOld;
};

TEST(FileSourceTest, WhenEveryCounterIsTakenTheReadRaisesCreateError) {
  TMemoryTempDir tmp;
  auto taken = [&](unsigned second) { return tmp / ("~fs" + std::to_string(second) + "0.exe"); };
  for (int attempt = 0; attempt < 10; ++attempt) {
    // The names of this second and the next: the component takes its second a moment later.
    const unsigned second = GetLocalTime().Second;
    const unsigned next = (second + 1) % 60;
    for (unsigned s : {second, next}) {
      for (int n = 0; n < TFileSource::MaxTempNameAttempts; ++n) {
        const std::string name = tmp / ("~fs" + std::to_string(s) + std::to_string(n) + ".exe");
        if (!EntryExists(name)) fs::create_symlink("/nonexistent", name);
      }
    }
    if (GetLocalTime().Second != second) continue;  // the planting took too long: again
    const std::size_t planted = tmp.Names().size();
    TFileSource source(nullptr);
    source.SetExtension(".exe");
    TBytesStream value(PlainValue(BytesOf("mine")));
    try {
      source.ReadFileData(value);
      ADD_FAILURE() << "a name that exists was used: " << source.HeldFileName();
    } catch (const EFCreateError& e) {
      EXPECT_TRUE(e.Message() == "Cannot create file " + taken(second) ||
                  e.Message() == "Cannot create file " + taken(next))
          << e.Message();
    }
    EXPECT_EQ(tmp.Names().size(), planted) << "nothing created, nothing deleted";
    return;
  }
  FAIL() << "the clock's second kept changing";
}

TEST(FileSourceTest, ReadingTwiceDeletesTheEarlierFile) {
  TTempDir tmp(true);
  TFileSource source(nullptr);
  source.SetExtension(".txt");
  TBytesStream v1(PlainValue(BytesOf("first")));
  source.ReadFileData(v1);
  TBytesStream v2(PlainValue(BytesOf("second")));
  source.ReadFileData(v2);
  // The freed name may well be taken again; what matters is that only one file is left.
  EXPECT_EQ(ReadWholeFile(source.FileName()), BytesOf("second"));
  EXPECT_EQ(tmp.Names().size(), 1u);
}

// --- Inside a form description -----------------------------------------------------------------

struct TInstallerFiles {
  TBytes Program;
  TBytes Licence;
};

// Writes a description with the installer's two file sources, packed from files on disk.
TBytes DescribeInstaller(const std::string& program, const std::string& licence) {
  TSourcesRoot root;
  root.SetName("Form1");
  auto* fs1 = new TFileSource(&root);
  fs1->SetName("FileSource1");
  fs1->SetFileName(program);
  fs1->SetExtension(".exe");
  fs1->SetCompress(true);
  fs1->SetDesignInfo((8 << 16) | 360);
  auto* fs2 = new TFileSource(&root);
  fs2->SetName("FileSource2");
  fs2->SetFileName(licence);
  fs2->SetExtension(".txt");
  fs2->SetCompress(true);
  fs2->SetDesignInfo((48 << 16) | 352);
  TMemoryStream s;
  WriteComponentToStream(s, &root);
  return BytesOfStream(s);
}

TEST(FileSourceFormTest, InstallerLayoutIsWrittenInOrderAndUnpacksProgramFirst) {
  TTempDir tmp(true);
  std::string program = SystemLargeProgram(), licence = SystemLicenceText();
  TBytes form = DescribeInstaller(program, licence);

  // Compress, Extension, Store, Left, Top, FileData: published first, then defined ones.
  std::string text(form.begin(), form.end());
  std::size_t at = text.find("FileSource1");
  for (const char* prop : {"\x08"
                           "Compress",
                           "\x09"
                           "Extension",
                           "\x05"
                           "Store",
                           "\x04"
                           "Left",
                           "\x03"
                           "Top",
                           "\x08"
                           "FileData",
                           "\x0b"
                           "FileSource2"}) {
    std::size_t next = text.find(prop, at);
    ASSERT_NE(next, std::string::npos) << prop + 1;
    at = next;
  }
  EXPECT_EQ(text.find("FileName"), std::string::npos) << "a stored file does not store its name";

  InOneSecond([&](unsigned second) {
    std::string s = std::to_string(second);
    std::string name1, name2;
    {
      TSourcesRoot root;
      TBytesStream in(form);
      ReadComponentFromStream(in, &root);
      if (GetLocalTime().Second != second) return false;
      if (!root.FileSource1 || !root.FileSource2) {
        ADD_FAILURE() << "the file sources are not bound to their fields";
        return true;
      }
      name1 = root.FileSource1->FileName();
      name2 = root.FileSource2->FileName();
      EXPECT_EQ(name1, tmp / ("~fs" + s + "0.exe"));
      EXPECT_EQ(name2, tmp / ("~fs" + s + "0.txt"));
      EXPECT_EQ(ReadWholeFile(name1), ReadWholeFile(program));
      EXPECT_EQ(ReadWholeFile(name2), ReadWholeFile(licence));
      struct stat st1 {
      }, st2{};
      stat(name1.c_str(), &st1);
      stat(name2.c_str(), &st2);
      EXPECT_LE(st1.st_mtim.tv_sec * 1000000000LL + st1.st_mtim.tv_nsec,
                st2.st_mtim.tv_sec * 1000000000LL + st2.st_mtim.tv_nsec)
          << "the program file is unpacked first";
      EXPECT_EQ(root.FileSource1->DesignInfo(), (8 << 16) | 360);
      EXPECT_TRUE(root.FileSource1->Compress());
      EXPECT_EQ(root.FileSource2->Extension(), ".txt");
    }
    EXPECT_TRUE(tmp.Names().empty()) << "both files go with their components";
    return true;
  });
}

TEST(FileSourceFormTest, StoreFalseWritesTheNameAndAStoredValueIsUnpackedAnyway) {
  TTempDir tmp(true);
  TTempDir files;
  WriteWholeFile(files / "app.exe", BytesOf("program"));
  TSourcesRoot root;
  auto* fs1 = new TFileSource(&root);
  fs1->SetName("FileSource1");
  fs1->SetFileName(files / "app.exe");
  TMemoryStream s;
  WriteComponentToStream(s, &root);
  std::string text(s.Memory(), s.Memory() + s.Size());
  EXPECT_NE(text.find(files / "app.exe"), std::string::npos);
  EXPECT_EQ(text.find("FileData"), std::string::npos);

  // A description holding "FileData" with Store False still unpacks it.
  TBytes form = DescribeInstaller(files / "app.exe", files / "app.exe");
  std::string described(form.begin(), form.end());
  std::size_t store = described.find(
      "\x05"
      "Store");
  ASSERT_NE(store, std::string::npos);
  form[store + 6] = 0x08;  // vaTrue -> vaFalse
  TSourcesRoot loaded;
  TBytesStream in(form);
  ReadComponentFromStream(in, &loaded);
  EXPECT_FALSE(loaded.FileSource1->Store());
  EXPECT_EQ(ReadWholeFile(loaded.FileSource1->FileName()), BytesOf("program"));
}

// Replaces FileSource1's "FileData" value in a description with another one.
TBytes WithFileData(const TBytes& form, const TBytes& value, bool compress) {
  std::string text(form.begin(), form.end());
  std::size_t at = text.find(
      "\x08"
      "FileData");
  std::size_t len = form[at + 10] | (form[at + 11] << 8) | (form[at + 12] << 16) |
                    (static_cast<std::size_t>(form[at + 13]) << 24);
  TBytes out(form.begin(), form.begin() + static_cast<std::ptrdiff_t>(at + 10));
  auto n = static_cast<uint32_t>(value.size());
  out.insert(out.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                         static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)});
  out.insert(out.end(), value.begin(), value.end());
  out.insert(out.end(), form.begin() + static_cast<std::ptrdiff_t>(at + 14 + len), form.end());
  if (!compress) {
    std::size_t c = text.find(
        "\x08"
        "Compress");
    out[c + 9] = 0x08;  // Compress False
  }
  return out;
}

// The encoder is no property: a description written with the optimal one differs only in the
// "FileData" value, which the same reader unpacks.
TEST(FileSourceFormTest, OptimalEncoderChangesNothingButTheFileDataValue) {
  TTempDir tmp(true);
  const std::string program = SystemLargeProgram();
  const TBytes content = ReadWholeFile(program);
  auto describe = [&](TBlockEncoder encoder) {
    TSourcesRoot root;
    root.SetName("Form1");
    auto* source = new TFileSource(&root);
    source->SetName("FileSource1");
    source->SetFileName(program);
    source->SetCompress(true);
    source->SetEncoder(encoder);
    (new TFileSource(&root))->SetName("FileSource2");  // a root lacking it is not read back
    TMemoryStream s;
    WriteComponentToStream(s, &root);
    return BytesOfStream(s);
  };
  TBytesStream in(content);
  TMemoryStream out;
  TCompressStream container;
  container.SetEncoder(TBlockEncoder::beOptimal);
  container.CompressStream(in, out, static_cast<int32_t>(content.size()));
  const TBytes optimalValue = BytesOfStream(out);

  const TBytes greedy = describe(TBlockEncoder::beGreedy);
  const TBytes optimal = describe(TBlockEncoder::beOptimal);
  EXPECT_EQ(optimal, WithFileData(greedy, optimalValue, true));
  EXPECT_LT(optimal.size(), greedy.size());

  TSourcesRoot loaded;
  TBytesStream described(optimal);
  ReadComponentFromStream(described, &loaded);
  ASSERT_NE(loaded.FileSource1, nullptr);
  EXPECT_EQ(ReadWholeFile(loaded.FileSource1->FileName()), content);
}

TEST(FileSourceFormTest, FailuresNameTheComponentAndLeaveNoTemporaryFile) {
  TTempDir tmp(true);
  TTempDir files;
  TBytes content = ReadWholeFile(SystemLicenceText());
  WriteWholeFile(files / "app.exe", content);
  WriteWholeFile(files / "licence.txt", BytesOf("licence"));
  TBytes form = DescribeInstaller(files / "app.exe", files / "licence.txt");
  TBytes container = ContainerValue(content);
  TBytes plain = PlainValue(content);
  TBytes damaged = container;
  damaged[14] = 0x40;  // the first block in compressed form, whose first command word ...
  damaged[15] = 0xFF;  // ... turns the text into match items reaching before the start
  damaged[16] = 0xFF;
  TBytes tooLong = container;  // a block length above the largest block
  tooLong[10] = 0x11;
  tooLong[11] = 0x80;

  const struct {
    const char* what;
    TBytes value;
    bool compress;
    std::string message;  // after "Error reading FileSource1.FileData: "
  } cases[] = {
      {"plain value read as a container", plain, true, "Wrong file type"},
      {"container read as plain", container, false, "Stream read error"},
      {"container cut short", TBytes(container.begin(), container.end() - 1), true,
       "Stream read error"},
      {"plain value cut short", TBytes(plain.begin(), plain.end() - 1), false, "Stream read error"},
      {"plain count of 2 GiB", {0x00, 0x00, 0x00, 0x80, 'x'}, false, "Stream read error"},
      {"plain value shorter than its count",
       {0x10, 0x00, 0x00, 0x00, 'x'},
       false,
       "Stream read error"},
      {"damaged block", damaged, true, ""},
      {"block longer than any block", tooLong, true, ""},
  };
  for (const auto& c : cases) {
    {
      TSourcesRoot root;
      TBytesStream in(WithFileData(form, c.value, c.compress));
      try {
        ReadComponentFromStream(in, &root);
        ADD_FAILURE() << c.what << ": no exception";
      } catch (const EReadError& e) {
        const std::string prefix = "Error reading FileSource1.FileData: ";
        EXPECT_EQ(e.Message().substr(0, prefix.size()), prefix) << c.what;
        if (!c.message.empty()) {
          EXPECT_EQ(e.Message(), prefix + c.message) << c.what;
        } else {
          EXPECT_GT(e.Message().size(), prefix.size()) << c.what;
        }
      }
      EXPECT_EQ(root.FileSource1, nullptr) << c.what;
    }
    EXPECT_TRUE(tmp.Names().empty()) << c.what << ": a temporary file was left behind";
  }
}

TEST(FileSourceFormTest, SecondSourceFailingStillRemovesTheFirstOnesFile) {
  TTempDir tmp(true);
  TTempDir files;
  WriteWholeFile(files / "app.exe", BytesOf("program"));
  WriteWholeFile(files / "licence.txt", BytesOf("licence"));
  TBytes form = DescribeInstaller(files / "app.exe", files / "licence.txt");
  form.resize(form.size() - 12);  // cut inside FileSource2's value
  {
    TSourcesRoot root;
    TBytesStream in(form);
    try {
      ReadComponentFromStream(in, &root);
      FAIL();
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), "Error reading FileSource2.FileData: Stream read error");
    }
    ASSERT_NE(root.FileSource1, nullptr);
    EXPECT_EQ(ReadWholeFile(root.FileSource1->FileName()), BytesOf("program"));
  }
  EXPECT_TRUE(tmp.Names().empty());
}

TEST(FileSourceFormTest, TemporaryFolderThatCannotTakeTheFileFailsTheRead) {
  TTempDir files;
  WriteWholeFile(files / "app.exe", BytesOf("program"));
  WriteWholeFile(files / "licence.txt", BytesOf("licence"));
  TBytes form = DescribeInstaller(files / "app.exe", files / "licence.txt");
  // A folder in which not even the superuser can make a file.
  TTempDir tmp(true);
  setenv("TMPDIR", "/proc", 1);
  {
    TSourcesRoot root;
    TBytesStream in(form);
    try {
      ReadComponentFromStream(in, &root);
      FAIL();
    } catch (const EReadError& e) {
      EXPECT_EQ(
          e.Message().rfind("Error reading FileSource1.FileData: Cannot open file /proc/~fs", 0),
          0u)
          << e.Message();
    }
  }
  setenv("TMPDIR", tmp.Path().c_str(), 1);
}

}  // namespace
