// The walker of the form format: a description read as a tree and written back byte for byte,
// damaged descriptions refused as the reader refuses them, and an object's stored properties
// taken into and out of a component of its class.
#include "FormTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ObjectText.h"
#include "TestSupport.h"

namespace {

// A component with one published property and one binary property of its own.
class TCarrier : public TComponent {
  TAVRIX_CLASS(TCarrier)
 public:
  explicit TCarrier(TComponent* owner) : TComponent(owner) {}
  int32_t Count() const { return FCount; }
  void SetCount(int32_t value) { FCount = value; }
  std::string Data;
  int DataReads = 0;

  void DefineProperties(TFiler& filer) override {
    TComponent::DefineProperties(filer);
    filer.DefineBinaryProperty(
        "Data",
        [this](TStream& s) {
          ++DataReads;
          Data.resize(static_cast<std::size_t>(s.Size()));
          s.ReadBuffer(Data.data(), s.Size());
        },
        [this](TStream& s) { s.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size())); },
        !Data.empty());
  }

 private:
  int32_t FCount = 0;
};

const TClassInfo& TCarrier::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{"TCarrier",
                               &TComponent::StaticClassInfo(),
                               [](TComponent* owner) -> TComponent* { return new TCarrier(owner); },
                               {IntProp("Count", &TCarrier::Count, &TCarrier::SetCount)},
                               {},
                               {}};
  return info;
}

TBytes Binary(const std::string& text) {
  TMemoryStream in, out;
  in.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  in.SetPosition(0);
  ObjectTextToBinary(in, out);
  return TBytes(out.Memory(), out.Memory() + out.Size());
}

TFormObject Tree(const TBytes& bytes) {
  TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TFormObject tree = ReadFormTree(in);
  EXPECT_EQ(in.Position(), in.Size()) << "the walk ends where the description does";
  return tree;
}

TBytes Written(const TFormObject& tree) {
  TMemoryStream out;
  WriteFormTree(out, tree);
  return TBytes(out.Memory(), out.Memory() + out.Size());
}

const std::string Sample =
    "object Form1: TForm1\n"
    "  Caption = 'Tavrix'\n"
    "  Items = <\n"
    "    item [2]\n"
    "      Width = 40\n"
    "    end>\n"
    "  object Panel: TPanel\n"
    "    Lines.Strings = (\n"
    "      'one'\n"
    "      'two')\n"
    "    inherited Carrier: TCarrier [3]\n"
    "      Count = 70000\n"
    "      Data = {00010203}\n"
    "    end\n"
    "  end\n"
    "  object TPage\n"
    "  end\n"
    "end\n";

TEST(FormTreeTest, ADescriptionIsWrittenBackByteForByte) {
  const TBytes installerText = ReadWholeFile(TAVRIX_FORM_TEXT);
  const std::string installer(installerText.begin(), installerText.end());
  for (const std::string& text : {Sample, installer}) {
    const TBytes bytes = Binary(text);
    EXPECT_EQ(Written(Tree(bytes)), bytes);
  }
  TFormObject tree = Tree(Binary(Sample));
  ASSERT_EQ(tree.Children.size(), 2u);
  const TFormObject& carrier = tree.Children[0].Children[0];
  EXPECT_EQ(carrier.ClassName, "TCarrier");
  EXPECT_EQ(carrier.Name, "Carrier");
  EXPECT_EQ(carrier.Prefix, std::string("\xF3\x02\x03", 3)) << "inherited, at child position 3";
  ASSERT_EQ(carrier.Properties.size(), 2u);
  EXPECT_EQ(carrier.Properties[1].Name, "Data");
  EXPECT_EQ(carrier.Properties[1].Value, std::string("\x0A\x04\0\0\0\0\x01\x02\x03", 9));
  EXPECT_EQ(tree.Children[1].Name, "") << "an unnamed page";
}

TEST(FormTreeTest, EveryTruncationAndADamagedValueTypeAreRefused) {
  const TBytes bytes = Binary(Sample);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    const TBytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_THROW(Tree(cut), EReadError) << "cut at " << n;
  }
  TBytes damaged = bytes;
  damaged[4 + 1 + 5 + 1 + 6 + 1 + 7] = 99;  // the value type of Caption
  EXPECT_THROW(Tree(damaged), EReadError);
}

TEST(FormTreeTest, PropertiesGoIntoAndComeOutOfAComponentOfTheirClass) {
  TFormObject tree = Tree(Binary(Sample));
  TFormObject& stored = tree.Children[0].Children[0];
  TCarrier carrier(nullptr);
  EXPECT_EQ(BinaryPropertyNames(carrier), std::vector<std::string>{"Data"});
  ReadProperties(stored.Properties, carrier);
  EXPECT_EQ(carrier.Count(), 70000);
  EXPECT_EQ(carrier.Data, std::string("\0\1\2\3", 4));
  carrier.SetCount(5);
  carrier.SetDesignInfo(8);  // Left = 8
  const std::vector<TFormProperty> written = WriteProperties(carrier);
  std::vector<std::string> names;
  for (const TFormProperty& property : written) names.push_back(property.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Count", "Left", "Data"}));
  EXPECT_EQ(written[0].Value, std::string("\x02\x05", 2));

  // A property that the class does not have fails as in a whole description.
  try {
    ReadProperties({{"Colour", std::string("\x02\x01", 2)}}, carrier);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Error reading TCarrier.Colour: Property Colour does not exist");
  }
}

}  // namespace
