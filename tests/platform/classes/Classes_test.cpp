// The component model and the binary form reader and writer, on a small fixture hierarchy
// that uses every kind of published property.
#include "Classes.h"

#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"

namespace {

enum TShade { shLight, shDark, shDeep };
const TIdentMapEntry ShadeNames[] = {{shLight, "shLight"}, {shDark, "shDark"}, {shDeep, "shDeep"}};
const TIdentMapEntry StyleNames[] = {{0, "stBold"}, {1, "stItalic"}, {2, "stUnderline"}};
const TIdentMapEntry ColorNames[] = {{0x000080, "clMaroon"}, {0x800000, "clNavy"}};

// An owned object stored through its own properties ("Look.Size").
class TLook : public TPersistent {
  TAVRIX_CLASS(TLook)
 public:
  int32_t Size() const { return FSize; }
  void SetSize(int32_t v) { FSize = v; }
  std::string Face() const { return FFace; }
  void SetFace(const std::string& v) { FFace = v; }

 private:
  int32_t FSize = 8;
  std::string FFace;
};

const TClassInfo& TLook::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{"TLook",
                               &TPersistent::StaticClassInfo(),
                               nullptr,
                               {IntProp("Size", &TLook::Size, &TLook::SetSize).WithDefault(8),
                                StrProp("Face", &TLook::Face, &TLook::SetFace)},
                               {},
                               {}};
  return info;
}

int GLoadedCalls = 0;
int GCreated = 0;
int GDestroyed = 0;
bool GFailBlob = false;

class TGadget : public TComponent {
  TAVRIX_CLASS(TGadget)
 public:
  explicit TGadget(TComponent* owner) : TComponent(owner) { ++GCreated; }
  ~TGadget() override { ++GDestroyed; }

  int32_t Count() const { return FCount; }
  void SetCount(int32_t v) { FCount = v; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool v) { FEnabled = v; }
  bool Visible() const { return FVisible; }
  void SetVisible(bool v) { FVisible = v; }
  TShade Shade() const { return FShade; }
  void SetShade(TShade v) { FShade = v; }
  int64_t Style() const { return FStyle; }
  void SetStyle(int64_t v) { FStyle = v; }
  int32_t Color() const { return FColor; }
  void SetColor(int32_t v) { FColor = v; }
  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& v) { FCaption = v; }
  long double Ratio() const { return FRatio; }
  void SetRatio(long double v) { FRatio = v; }
  TLook* Look() const { return FLook.get(); }
  TGadget* Buddy() const { return FBuddy; }
  void SetBuddy(TGadget* v) { FBuddy = v; }
  const std::string& Blob() const { return FBlob; }
  void SetBlob(std::string v) { FBlob = std::move(v); }
  int LoadedCalls = 0;
  TNotifyEvent OnClick;

  void Loaded() override {
    TComponent::Loaded();
    ++LoadedCalls;
    ++GLoadedCalls;
  }
  void DefineProperties(TFiler& filer) override {
    TComponent::DefineProperties(filer);
    filer.DefineBinaryProperty(
        "Blob",
        [this](TStream& s) {
          if (GFailBlob) throw EReadError(SysConst::SReadError);
          std::string v(static_cast<std::size_t>(s.Size()), '\0');
          s.ReadBuffer(v.data(), static_cast<int32_t>(v.size()));
          FBlob = v;
        },
        [this](TStream& s) { s.WriteBuffer(FBlob.data(), static_cast<int32_t>(FBlob.size())); },
        !FBlob.empty());
  }

 private:
  int32_t FCount = 0;
  bool FEnabled = true;
  bool FVisible = false;
  TShade FShade = shLight;
  int64_t FStyle = 0;
  int32_t FColor = 0x000080;
  std::string FCaption;
  long double FRatio = 0;
  std::unique_ptr<TLook> FLook = std::make_unique<TLook>();
  TGadget* FBuddy = nullptr;
  std::string FBlob;
};

const TClassInfo& TGadget::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TGadget",
      &TComponent::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TGadget(owner); },
      {IntProp("Count", &TGadget::Count, &TGadget::SetCount).WithDefault(0),
       BoolProp("Enabled", &TGadget::Enabled, &TGadget::SetEnabled).WithDefault(1),
       BoolProp("Visible", &TGadget::Visible, &TGadget::SetVisible),  // no default: always written
       EnumProp("Shade", &TGadget::Shade, &TGadget::SetShade, ShadeNames).WithDefault(shLight),
       SetProp("Style", &TGadget::Style, &TGadget::SetStyle, StyleNames).WithDefault(0),
       IntProp("Color", &TGadget::Color, &TGadget::SetColor)
           .WithIdents(ColorNames)
           .WithDefault(0x000080),
       StrProp("Caption", &TGadget::Caption, &TGadget::SetCaption),
       FloatProp("Ratio", &TGadget::Ratio, &TGadget::SetRatio), ClassProp("Look", &TGadget::Look),
       ComponentProp("Buddy", &TGadget::Buddy, &TGadget::SetBuddy),
       EventProp("OnClick", &TGadget::OnClick)},
      {},
      {}};
  return info;
}

// A root that stores its owned components as children, with published fields and a handler.
class TPanelRoot : public TComponent {
  TAVRIX_CLASS(TPanelRoot)
 public:
  explicit TPanelRoot(TComponent* owner = nullptr) : TComponent(owner) {}
  TGadget* Gadget1 = nullptr;
  TGadget* Gadget2 = nullptr;
  int Clicks = 0;
  void Gadget1Click(TObject* /*sender*/) { ++Clicks; }

  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* /*root*/) override {
    for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
  }
};

const TClassInfo& TPanelRoot::StaticClassInfo() {
  static const TClassInfo info{
      "TPanelRoot",
      &TComponent::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TPanelRoot(owner); },
      {},
      {TAVRIX_FIELD(TPanelRoot, Gadget1), TAVRIX_FIELD(TPanelRoot, Gadget2)},
      {TAVRIX_METHOD(TPanelRoot, Gadget1Click)}};
  return info;
}

TBytes Describe(TComponent& root) {
  TMemoryStream s;
  WriteComponentToStream(s, &root);
  return TBytes(s.Memory(), s.Memory() + s.Size());
}

// How a description reaches the reader: copied into a memory stream, or read in place, in which
// case binary values are handed over in place too.
enum class TSource { Copied, InPlace };
constexpr TSource Sources[] = {TSource::Copied, TSource::InPlace};

void ReadInto(const TBytes& bytes, TComponent& root, TSource source = TSource::Copied) {
  if (source == TSource::InPlace) {
    TReadOnlyMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
    ReadComponentFromStream(s, &root);
    return;
  }
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  s.SetPosition(0);
  ReadComponentFromStream(s, &root);
}

// Builds a populated root: Gadget1 with every property set, Gadget2 left at its defaults.
std::unique_ptr<TPanelRoot> MakeSample() {
  auto root = std::make_unique<TPanelRoot>();
  root->SetName("Panel1");
  auto* g1 = new TGadget(root.get());
  g1->SetName("Gadget1");
  auto* g2 = new TGadget(root.get());
  g2->SetName("Gadget2");
  g1->SetCount(-40000);
  g1->SetEnabled(false);
  g1->SetVisible(true);
  g1->SetShade(shDeep);
  g1->SetStyle(0b101);
  g1->SetColor(0x800000);
  g1->SetCaption(std::string(300, 'c'));
  g1->SetRatio(2.5L);
  g1->Look()->SetSize(12);
  g1->Look()->SetFace("Arial");
  g1->SetBuddy(g2);
  g1->SetBlob(std::string("\x00\x01\xFFxyz", 6));
  g1->SetDesignInfo((48 << 16) | 352);
  g1->OnClick = TNotifyEvent(root.get(), TPanelRoot::StaticClassInfo().FindMethod("Gadget1Click"));
  g2->SetColor(12345);  // no name for it: written as a number
  return root;
}

TEST(ComponentTest, OwnerFreesOwnedComponentsAndFieldsFollowNames) {
  GDestroyed = 0;
  {
    TPanelRoot root;
    auto* g = new TGadget(&root);
    EXPECT_EQ(root.Gadget1, nullptr);
    g->SetName("Gadget1");
    EXPECT_EQ(root.Gadget1, g);
    g->SetName("Other");
    EXPECT_EQ(root.Gadget1, nullptr);
    g->SetName("Gadget2");
    EXPECT_EQ(root.Gadget2, g);
    delete g;
    EXPECT_EQ(root.Gadget2, nullptr) << "a destroyed component must not stay in its field";
    new TGadget(&root);
    new TGadget(&root);
  }
  EXPECT_EQ(GDestroyed, 3);
}

TEST(ComponentTest, NamesMustBeIdentifiersAndUniqueAmongSiblings) {
  TPanelRoot root;
  auto* a = new TGadget(&root);
  auto* b = new TGadget(&root);
  a->SetName("Gadget1");
  try {
    b->SetName("gadget1");
    FAIL() << "duplicate accepted";
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "A component named gadget1 already exists");
  }
  EXPECT_THROW(b->SetName("9lives"), EComponentError);
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  EXPECT_NO_THROW(b->SetName("_ok9"));
}

TEST(FormWriterTest, WritesPublishedThenDefinedPropertiesAndSkipsDefaults) {
  auto root = MakeSample();
  TBytes bytes = Describe(*root);
  // Gadget2 keeps its defaults: only Visible (no default), Color and nothing else.
  const uint8_t gadget2[] = {
      0x07, 'T', 'G', 'a',  'd', 'g', 'e',  't',  0x07, 'G', 'a', 'd',  'g',
      'e',  't', '2', 0x07, 'V', 'i', 's',  'i',  'b',  'l', 'e', 0x08,  // False
      0x05, 'C', 'o', 'l',  'o', 'r', 0x03, 0x39, 0x30,                  // 12345, Int16
      0x00,                                                              // end of props
      0x00,                                                              // no children
  };
  ASSERT_GE(bytes.size(), sizeof gadget2 + 1);  // then the end of the root's children
  EXPECT_EQ(TBytes(bytes.end() - 1 - sizeof gadget2, bytes.end() - 1),
            TBytes(std::begin(gadget2), std::end(gadget2)));
  EXPECT_EQ(TBytes(bytes.begin(), bytes.begin() + 4), BytesOf("TPF0"));

  // In Gadget1, the published properties come in declaration order, then Left, Top, Blob.
  std::string text(bytes.begin(), bytes.end());
  std::vector<std::size_t> at;
  for (const char* name : {"\x05"
                           "Count",
                           "\x07"
                           "Enabled",
                           "\x07"
                           "Visible",
                           "\x05"
                           "Shade",
                           "\x05"
                           "Style",
                           "\x05"
                           "Color",
                           "\x07"
                           "Caption",
                           "\x05"
                           "Ratio",
                           "\x09"
                           "Look.Size",
                           "\x09"
                           "Look.Face",
                           "\x05"
                           "Buddy",
                           "\x07"
                           "OnClick",
                           "\x04"
                           "Left",
                           "\x03"
                           "Top",
                           "\x04"
                           "Blob"}) {
    at.push_back(text.find(name));
    ASSERT_NE(at.back(), std::string::npos) << name + 1;
  }
  EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
  // Integers take the smallest type that holds them: Left 352 is Int16, Top 48 is Int8.
  EXPECT_NE(text.find(std::string("\x04"
                                  "Left\x03\x60\x01",
                                  8)),
            std::string::npos);
  EXPECT_NE(text.find(std::string("\x03"
                                  "Top\x02\x30",
                                  6)),
            std::string::npos);
}

// Reads the sample's description back and checks every value.
void RoundTrip(TSource source) {
  TBytes bytes = Describe(*MakeSample());
  GLoadedCalls = 0;
  TPanelRoot root;
  ReadInto(bytes, root, source);
  ASSERT_NE(root.Gadget1, nullptr);
  ASSERT_NE(root.Gadget2, nullptr);
  EXPECT_EQ(root.Name(), "Panel1");
  TGadget& g = *root.Gadget1;
  EXPECT_EQ(g.Count(), -40000);
  EXPECT_FALSE(g.Enabled());
  EXPECT_TRUE(g.Visible());
  EXPECT_EQ(g.Shade(), shDeep);
  EXPECT_EQ(g.Style(), 0b101);
  EXPECT_EQ(g.Color(), 0x800000);
  EXPECT_EQ(g.Caption(), std::string(300, 'c'));
  EXPECT_EQ(g.Ratio(), 2.5L);
  EXPECT_EQ(g.Look()->Size(), 12);
  EXPECT_EQ(g.Look()->Face(), "Arial");
  EXPECT_EQ(g.Buddy(), root.Gadget2);
  EXPECT_EQ(g.Blob(), std::string("\x00\x01\xFFxyz", 6));
  EXPECT_EQ(g.DesignInfo(), (48 << 16) | 352);
  EXPECT_EQ(root.Gadget2->Color(), 12345);
  g.OnClick(&g);
  EXPECT_EQ(root.Clicks, 1);
  EXPECT_EQ(g.LoadedCalls, 1);
  EXPECT_EQ(GLoadedCalls, 2);
  EXPECT_EQ(g.ComponentState() & (csLoading | csReading), 0u);
  // And what was read writes back to the same bytes.
  EXPECT_EQ(Describe(root), bytes);
}

TEST(FormReaderTest, RoundTripRestoresEveryKindOfValueAndBindsByName) {
  for (TSource source : Sources) {
    SCOPED_TRACE(source == TSource::InPlace ? "read in place" : "read from a copy");
    RoundTrip(source);
  }
}

TEST(FormWriterTest, UnnamedComponentOfAnotherOwnerIsWrittenAsItsOwnersNameAndAPoint) {
  TPanelRoot root;
  root.SetName("Panel1");
  auto* g1 = new TGadget(&root);
  g1->SetName("Gadget1");
  auto* own = new TGadget(g1);  // unnamed, owned by Gadget1 rather than by the root
  g1->SetBuddy(own);
  auto* loose = new TGadget(&root);  // unnamed and owned by the root: nothing to name it by
  loose->SetName("Gadget2");
  auto* unnamedOfRoot = new TGadget(&root);
  loose->SetBuddy(unnamedOfRoot);

  TBytes bytes = Describe(root);
  std::string text(bytes.begin(), bytes.end());
  const std::string reference = std::string(
      "\x05"
      "Buddy\x07\x08"
      "Gadget1.");
  EXPECT_EQ(text.find(reference), text.rfind(reference));
  EXPECT_NE(text.find(reference), std::string::npos);
  // The root's own unnamed component is not written as a reference at all.
  std::size_t gadget2 = text.find("\x07Gadget2");
  ASSERT_NE(gadget2, std::string::npos);
  EXPECT_EQ(text.find("Buddy", gadget2), std::string::npos);

  // Reading "Gadget1." back finds no component and leaves the property as the gadget set it.
  TPanelRoot back;
  ReadInto(bytes, back);
  ASSERT_NE(back.Gadget1, nullptr);
  EXPECT_EQ(back.Gadget1->Buddy(), nullptr);
}

// A watcher that forgets its reference when the watched component goes.
class TWatcher : public TComponent {
 public:
  explicit TWatcher(TComponent* owner) : TComponent(owner) {}
  TComponent* Watched = nullptr;
  int Removals = 0;
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == Watched) {
      Watched = nullptr;
      ++Removals;
    }
  }
};

TEST(ComponentTest, FreeNotificationTellsWatchersOfOtherOwnersOnceAndGoesBothWays) {
  TComponent ownerA(nullptr);
  TComponent ownerB(nullptr);
  auto* watcher = new TWatcher(&ownerA);
  auto* watched = new TComponent(&ownerB);
  watcher->Watched = watched;
  watched->FreeNotification(watcher);
  watched->FreeNotification(watcher);  // asking twice still tells once
  delete watched;
  EXPECT_EQ(watcher->Watched, nullptr);
  EXPECT_EQ(watcher->Removals, 1);

  // The watcher going first drops the link: the watched one's end tells nobody.
  auto* watched2 = new TComponent(&ownerB);
  watcher->Watched = watched2;
  watched2->FreeNotification(watcher);
  delete watcher;
  delete watched2;  // would reach the destroyed watcher if the link had stayed

  // A removed link is not followed.
  auto* watcher3 = new TWatcher(&ownerA);
  auto* watched3 = new TComponent(&ownerB);
  watcher3->Watched = watched3;
  watched3->FreeNotification(watcher3);
  watched3->RemoveFreeNotification(watcher3);
  delete watched3;
  EXPECT_EQ(watcher3->Removals, 0);
}

// Hand-made descriptions for the failure cases: Panel1 with one gadget and one property.
TBytes OneProperty(const std::string& className, const std::string& propName, const TBytes& value,
                   const std::string& gadgetName = "Gadget1") {
  TBytes b = BytesOf("TPF0");
  auto str = [&](const std::string& s) {
    b.push_back(static_cast<uint8_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
  };
  str("TPanelRoot");
  str("Panel1");
  b.push_back(0);
  str(className);
  str(gadgetName);
  str(propName);
  b.insert(b.end(), value.begin(), value.end());
  b.insert(b.end(), {0, 0, 0, 0});
  return b;
}

TEST(FormReaderTest, FailuresAreWrappedWithComponentAndPropertyName) {
  struct Case {
    const char* what;
    std::string prop;
    TBytes value;
    std::string message;
    bool failBlob = false;
    std::string gadgetName = "Gadget1";
  } cases[] = {
      {"string for an integer",
       "Count",
       {0x06, 0x01, 'x'},
       "Error reading Gadget1.Count: Invalid property value"},
      {"unknown enumeration name",
       "Shade",
       {0x07, 0x02, 'z', 'z'},
       "Error reading Gadget1.Shade: Invalid property value"},
      {"unknown property",
       "Nope",
       {0x02, 0x01},
       "Error reading Gadget1.Nope: Property Nope does not exist"},
      {"unknown nested property",
       "Look.Nope",
       {0x02, 0x01},
       "Error reading Gadget1.Look.Nope: Property Look.Nope does not exist"},
      {"handler that is not published",
       "OnClick",
       {0x07, 0x03, 'F', 'o', 'o'},
       "Error reading Gadget1.OnClick: Invalid property value"},
      {"binary property given as integer",
       "Blob",
       {0x02, 0x01},
       "Error reading Gadget1.Blob: Invalid property value"},
      {"binary length past the end",
       "Blob",
       {0x0A, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2},
       "Error reading Gadget1.Blob: Stream read error"},
      {"binary property name in other case",
       "bLOB",
       {0x0A, 0x01, 0, 0, 0, 'x'},
       "Error reading Gadget1.bLOB: Stream read error",
       true},
      {"unnamed component",
       "Count",
       {0x06, 0x00},
       "Error reading TGadget.Count: Invalid property value",
       false,
       ""},
  };
  for (const Case& c : cases) {
    for (TSource source : Sources) {
      GDestroyed = 0;
      GFailBlob = c.failBlob;
      TPanelRoot root;
      try {
        ReadInto(OneProperty("TGadget", c.prop, c.value, c.gadgetName), root, source);
        ADD_FAILURE() << c.what << ": no exception";
      } catch (const EReadError& e) {
        EXPECT_STREQ(e.ClassName(), "EReadError") << c.what;
        EXPECT_EQ(e.Message(), c.message) << c.what;
      }
      GFailBlob = false;
      EXPECT_EQ(GDestroyed, 1) << c.what << ": the half-read component must be destroyed";
      EXPECT_EQ(root.Gadget1, nullptr) << c.what;
      EXPECT_EQ(root.ComponentCount(), 0) << c.what;
    }
  }
}

TEST(FormReaderTest, UnknownClassAndBadSignatureAreReadErrors) {
  TPanelRoot root;
  EXPECT_THROW(ReadInto(OneProperty("TMissing", "Count", {0x02, 0x01}), root), EClassNotFound);
  TBytes bad = OneProperty("TGadget", "Count", {0x02, 0x01});
  bad[3] = '1';
  try {
    ReadInto(bad, root);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Invalid stream format");
  }
}

// The class's code relies on every component that it declares a field for; a description
// without one is refused rather than leaving the field empty.
TEST(FormReaderTest, ADescriptionThatLacksAComponentOfAFieldIsRefused) {
  for (const char* left : {"Gadget1", "Gadget2"}) {
    auto sample = MakeSample();
    sample->Gadget1->SetBuddy(nullptr);  // a reference that would outlive Gadget2
    delete sample->FindComponent(left);
    const TBytes bytes = Describe(*sample);
    GCreated = GDestroyed = 0;
    {
      TPanelRoot root;
      try {
        ReadInto(bytes, root);
        ADD_FAILURE() << "read without " << left;
      } catch (const EReadError& e) {
        EXPECT_EQ(
            e.Message(),
            std::string("The form description lacks components that TPanelRoot declares: ") + left);
      }
    }
    EXPECT_EQ(GDestroyed, GCreated) << left;
  }
}

TEST(FormReaderTest, EveryTruncationFailsCleanlyAndLeavesNothingBehind) {
  TBytes bytes = Describe(*MakeSample());
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    for (TSource source : Sources) {
      GCreated = GDestroyed = 0;
      {
        TPanelRoot root;
        TBytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_THROW(ReadInto(cut, root, source), EFilerError) << "cut at " << n;
      }
      EXPECT_EQ(GDestroyed, GCreated) << "cut at " << n;
    }
  }
}

TEST(FormReaderTest, DeepNestingIsRefused) {
  // Gadgets nested 200 levels deep, each the only child of the one before.
  TPanelRoot root;
  TBytes deep = BytesOf("TPF0");
  auto str = [&](const std::string& s) {
    deep.push_back(static_cast<uint8_t>(s.size()));
    deep.insert(deep.end(), s.begin(), s.end());
  };
  str("TPanelRoot");
  str("Panel1");
  deep.push_back(0);
  for (int i = 0; i < 200; ++i) {
    str("TGadget");
    str("");
    deep.push_back(0);
  }
  try {
    ReadInto(deep, root);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Form description is nested too deeply");
  }
  EXPECT_EQ(root.ComponentCount(), 0);
}

}  // namespace
