#include "ObjectText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "FormFormat.h"

// Records the largest single allocation, so a test can show that a declared length is refused
// before anything is allocated for it.
static std::atomic<std::size_t> LargestAllocation{0};

void* operator new(std::size_t size) {
  std::size_t seen = LargestAllocation.load();
  while (size > seen && !LargestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// Out of line, so that the compiler does not pair an inlined free() with a new-expression.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using enum TValueType;

// --- Building descriptions byte by byte --------------------------------------------------------

std::string T(TValueType t) { return std::string(1, static_cast<char>(t)); }
std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}
std::string Short(std::string_view s) { return static_cast<char>(s.size()) + std::string(s); }
std::string U32(uint32_t v) {
  return Bytes({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)});
}
std::string Str(std::string_view s) { return T(vaString) + Short(s); }

// A description of one object "A: T" with one property P of the given value.
std::string OneValue(const std::string& value) {
  return "TPF0" + Short("T") + Short("A") + Short("P") + value + Bytes({0, 0});
}
std::string OneValueText(const std::string& value) {
  return "object A: T\n  P = " + value + "\nend\n";
}

std::string Hex(const std::string& bytes) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string hex;
  for (char c : bytes) {
    hex += Digits[static_cast<uint8_t>(c) >> 4];
    hex += Digits[static_cast<uint8_t>(c) & 15];
    hex += ' ';
  }
  return hex;
}

std::string StreamText(TMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.Memory()),
                     static_cast<std::size_t>(stream.Size()));
}

std::string ToText(const std::string& binary, const TObjectTextOptions& options = {}) {
  TMemoryStream input;
  TMemoryStream output;
  input.WriteBuffer(binary.data(), static_cast<int32_t>(binary.size()));
  input.SetPosition(0);
  ObjectBinaryToText(input, output, options);
  return StreamText(output);
}

std::string ToBinary(const std::string& text) {
  TMemoryStream input;
  TMemoryStream output;
  input.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  input.SetPosition(0);
  ObjectTextToBinary(input, output);
  return StreamText(output);
}

// Holds a whole description but shows only its first Limit bytes; a read that asks for anything
// past them is recorded. Optionally it cannot seek, so its size is unknown.
class TWindowStream : public TStream {
 public:
  TWindowStream(std::string data, int64_t limit, bool seekable = true)
      : FData(std::move(data)), FLimit(limit), FSeekable(seekable) {}

  int32_t Read(void* buffer, int32_t count) override {
    if (FPosition + count > FLimit) FAskedPastEnd = true;
    int64_t n = std::clamp<int64_t>(FLimit - FPosition, 0, count);
    std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return static_cast<int32_t>(n);
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    if (!FSeekable) return -1;
    int64_t base = origin == TSeekOrigin::soBeginning ? 0
                   : origin == TSeekOrigin::soCurrent ? FPosition
                                                      : FLimit;
    FPosition = base + offset;
    return FPosition;
  }

  bool AskedPastEnd() const { return FAskedPastEnd; }

 private:
  std::string FData;
  int64_t FLimit;
  bool FSeekable;
  int64_t FPosition = 0;
  bool FAskedPastEnd = false;
};

// --- The round-trip fixture: every value type but UTF-8, prefixes, unnamed and nested objects --

const std::string A62(62, 'a');

const std::string FixtureText =
    "object Form1: TForm1\n"
    "  Small = 127\n"
    "  Small2 = -128\n"
    "  Word = 128\n"
    "  Word2 = -129\n"
    "  Word3 = 32767\n"
    "  Long = 32768\n"
    "  Long2 = -2147483648\n"
    "  Huge = 2147483648\n"
    "  Ext = 1.5\n"
    "  Tenth = 0.1\n"
    "  Caption = 'It''s'#13#10'caf'#233\n"
    "  Memo =\n"
    "    '" +
    A62 +
    "' +\n"
    "    '" +
    A62 +
    "' +\n"
    "    '" +
    A62 +
    "' +\n"
    "    '" +
    A62 +
    "' +\n"
    "    'aaaaaaaa'\n"
    "  Wide = 'Omega '#937\n"
    "  Color = clWindow\n"
    "  Visible = False\n"
    "  Enabled = True\n"
    "  Next = nil\n"
    "  Data = {\n"
    "    000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F\n"
    "    20212223}\n"
    "  Style = [fsBold, fsItalic]\n"
    "  None = []\n"
    "  Lines = (\n"
    "    1\n"
    "    'two'\n"
    "    (\n"
    "      3)\n"
    "    ())\n"
    "  Items = <\n"
    "    item [2]\n"
    "      Width = 40\n"
    "    end\n"
    "    item\n"
    "    end>\n"
    "  NoItems = <>\n"
    "  Ratio = 1.5s\n"
    "  Price = 12.5c\n"
    "  When = 36526.5d\n"
    "  Empty = ''\n"
    "  EmptyData = {}\n"
    "  object Pages: TNotebook\n"
    "    object TPage\n"
    "      Caption = 'One'\n"
    "    end\n"
    "  end\n"
    "  inherited Panel1: TPanel [3]\n"
    "  end\n"
    "  inline Frame1: TFrame1\n"
    "  end\n"
    "end\n";

std::string FixtureBinary() {
  std::string data;
  for (int i = 0; i < 36; ++i) data += static_cast<char>(i);
  return "TPF0" + Short("TForm1") + Short("Form1") + Short("Small") + T(vaInt8) + Bytes({0x7F}) +
         Short("Small2") + T(vaInt8) + Bytes({0x80}) + Short("Word") + T(vaInt16) +
         Bytes({0x80, 0x00}) + Short("Word2") + T(vaInt16) + Bytes({0x7F, 0xFF}) + Short("Word3") +
         T(vaInt16) + Bytes({0xFF, 0x7F}) + Short("Long") + T(vaInt32) +
         Bytes({0x00, 0x80, 0x00, 0x00}) + Short("Long2") + T(vaInt32) +
         Bytes({0x00, 0x00, 0x00, 0x80}) + Short("Huge") + T(vaInt64) +
         Bytes({0, 0, 0, 0x80, 0, 0, 0, 0}) +
         // 80-bit extended: 64-bit mantissa with explicit integer bit, then sign and exponent.
         Short("Ext") + T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F}) +
         Short("Tenth") + T(vaExtended) +
         Bytes({0xCD, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xFB, 0x3F}) + Short("Caption") +
         Str("It's\r\ncaf\xE9") + Short("Memo") + T(vaLString) + U32(256) + std::string(256, 'a') +
         Short("Wide") + T(vaWString) + U32(7) +
         Bytes({'O', 0, 'm', 0, 'e', 0, 'g', 0, 'a', 0, ' ', 0, 0xA9, 0x03}) + Short("Color") +
         T(vaIdent) + Short("clWindow") + Short("Visible") + T(vaFalse) + Short("Enabled") +
         T(vaTrue) + Short("Next") + T(vaNil) + Short("Data") + T(vaBinary) + U32(36) + data +
         Short("Style") + T(vaSet) + Short("fsBold") + Short("fsItalic") + Bytes({0}) +
         Short("None") + T(vaSet) + Bytes({0}) + Short("Lines") + T(vaList) + T(vaInt8) +
         Bytes({1}) + Str("two") + T(vaList) + T(vaInt8) + Bytes({3}) + T(vaNull) + T(vaList) +
         T(vaNull) + T(vaNull) + Short("Items") + T(vaCollection) + T(vaInt8) + Bytes({2}) +
         T(vaList) + Short("Width") + T(vaInt8) + Bytes({40}) + Bytes({0}) + T(vaList) +
         Bytes({0}) + T(vaNull) + Short("NoItems") + T(vaCollection) + T(vaNull) + Short("Ratio") +
         T(vaSingle) + Bytes({0x00, 0x00, 0xC0, 0x3F}) + Short("Price") + T(vaCurrency) +
         Bytes({0x48, 0xE8, 0x01, 0, 0, 0, 0, 0}) + Short("When") + T(vaDate) +
         Bytes({0, 0, 0, 0, 0xD0, 0xD5, 0xE1, 0x40}) + Short("Empty") + Str("") +
         Short("EmptyData") + T(vaBinary) + U32(0) + Bytes({0}) +  // end of Form1's properties
         Short("TNotebook") + Short("Pages") + Bytes({0}) + Short("TPage") + Short("") +
         Short("Caption") + Str("One") + Bytes({0, 0}) + Bytes({0}) + Bytes({0xF3}) + T(vaInt8) +
         Bytes({3}) + Short("TPanel") + Short("Panel1") + Bytes({0, 0}) + Bytes({0xF4}) +
         Short("TFrame1") + Short("Frame1") + Bytes({0, 0}) +
         Bytes({0});  // end of Form1's children
}

TEST(ObjectTextTest, BinaryToTextWritesTheUsualLayout) {
  EXPECT_EQ(ToText(FixtureBinary()), FixtureText);
}

TEST(ObjectTextTest, TextToBinaryIsByteIdenticalToTheOriginal) {
  EXPECT_EQ(Hex(ToBinary(FixtureText)), Hex(FixtureBinary()));
}

TEST(ObjectTextTest, ConversionStopsAfterTheTree) {
  std::string binary = FixtureBinary();
  TWindowStream input(binary + "trailing bytes", static_cast<int64_t>(binary.size()) + 14);
  TMemoryStream output;
  ObjectBinaryToText(input, output);
  EXPECT_EQ(input.Position(), static_cast<int64_t>(binary.size()));
}

TEST(ObjectTextTest, TruncationAtEveryByteIsAReadErrorWithoutReadingPastTheEnd) {
  const std::string binary = FixtureBinary();
  for (bool seekable : {true, false}) {
    for (std::size_t limit = 0; limit < binary.size(); ++limit) {
      SCOPED_TRACE("cut at " + std::to_string(limit) + (seekable ? "" : ", size unknown"));
      TWindowStream input(binary, static_cast<int64_t>(limit), seekable);
      TMemoryStream output;
      EXPECT_THROW(ObjectBinaryToText(input, output), EReadError);
      if (seekable) {
        EXPECT_FALSE(input.AskedPastEnd());
      }
      EXPECT_EQ(output.Size(), 0);
    }
  }
  TWindowStream whole(binary, static_cast<int64_t>(binary.size()));
  TMemoryStream output;
  ObjectBinaryToText(whole, output);
  EXPECT_FALSE(whole.AskedPastEnd());
}

TEST(ObjectTextTest, DeclaredLengthBeyondTheInputIsRefusedBeforeAllocating) {
  const std::string cases[] = {
      OneValue(T(vaLString) + U32(0x7FFFFFF0) + "abc"),
      OneValue(T(vaBinary) + U32(0xFFFFFFFF) + "abc"),
      OneValue(T(vaWString) + U32(0x80000000) + "abc"),  // twice the count exceeds 32 bits
      OneValue(T(vaUTF8String) + U32(0x40000000) + "abc"),
  };
  for (const std::string& binary : cases) {
    for (bool seekable : {true, false}) {
      SCOPED_TRACE(Hex(binary) + (seekable ? "" : ", size unknown"));
      TWindowStream input(binary, static_cast<int64_t>(binary.size()), seekable);
      TMemoryStream output;
      LargestAllocation = 0;
      try {
        ObjectBinaryToText(input, output);
        ADD_FAILURE() << "no error";
      } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
      }
      EXPECT_LT(LargestAllocation.load(), std::size_t{1} << 20);
    }
  }
}

TEST(ObjectTextTest, DamagedDescriptionsGiveAClearReadError) {
  struct {
    std::string Binary;
    const char* Message;
  } cases[] = {
      {"TPF1" + Short("T") + Short("A") + Bytes({0, 0}), "Invalid stream format"},
      {OneValue(Bytes({21})), "Unknown value type 21 in form description"},
      {OneValue(T(vaNull)), "Unexpected value type 0 in form description"},
      // An item's order value must be an integer, and an item must be a list.
      {OneValue(T(vaCollection) + Str("x") + T(vaList) + Bytes({0}) + T(vaNull)),
       "Unexpected value type 6 in form description"},
      {OneValue(T(vaCollection) + T(vaInt8) + Bytes({1}) + T(vaInt8)),
       "Unexpected value type 2 in form description"},
      {"TPF0" + Bytes({0xF2}) + Str("x") + Short("T") + Short("A") + Bytes({0, 0}),
       "Unexpected value type 6 in form description"},
      {"TPF0" + Short("T") + Short("A") + Short("1st") + T(vaNil) + Bytes({0, 0}),
       "Invalid property name '1st'"},
      {"TPF0" + Short("T") + Short("A b") + Bytes({0, 0}), "Invalid object name 'A b'"},
      {"TPF0" + Short("") + Short("A") + Bytes({0, 0}), "Invalid class name ''"},
      {OneValue(T(vaIdent) + Short("a\tb")), "Invalid identifier 'a'#9'b'"},
      {OneValue(T(vaSet) + Short("-") + Bytes({0})), "Invalid set element '-'"},
      {OneValue(T(vaUTF8String) + U32(2) + "\xC0\x80"), "Invalid UTF-8 string in form description"},
      {OneValue(T(vaUTF8String) + U32(3) + "\xED\xA0\x80"),
       "Invalid UTF-8 string in form description"},
      {OneValue(T(vaUTF8String) + U32(1) + "\xC3"), "Invalid UTF-8 string in form description"},
      // NaN, infinity, an unnormal (exponent set, integer bit clear) and a pseudo-denormal.
      {OneValue(T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F})),
       "Invalid floating-point value in form description"},
      {OneValue(T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF})),
       "Invalid floating-point value in form description"},
      {OneValue(T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F})),
       "Invalid floating-point value in form description"},
      {OneValue(T(vaExtended) + Bytes({1, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0x00})),
       "Invalid floating-point value in form description"},
      {OneValue(T(vaSingle) + Bytes({0, 0, 0xC0, 0x7F})),
       "Invalid floating-point value in form description"},
      {OneValue(T(vaDate) + Bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x7F})),
       "Invalid floating-point value in form description"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.Binary));
    try {
      ToText(c.Binary);
      ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
  }
}

// Root object, then lists inside lists: the root counts as one level.
std::string NestedListsBinary(int lists) {
  return OneValue(std::string(static_cast<std::size_t>(lists), static_cast<char>(vaList)) +
                  std::string(static_cast<std::size_t>(lists), static_cast<char>(vaNull)));
}
std::string NestedListsText(int lists) {
  return OneValueText(std::string(static_cast<std::size_t>(lists), '(') +
                      std::string(static_cast<std::size_t>(lists), ')'));
}

TEST(ObjectTextTest, NestingIsLimitedAlikeInBothDirections) {
  const int deepest = MaxFormNesting - 1;
  EXPECT_EQ(ToBinary(ToText(NestedListsBinary(deepest))), NestedListsBinary(deepest));
  EXPECT_EQ(ToBinary(NestedListsText(deepest)), NestedListsBinary(deepest));
  EXPECT_THROW(ToText(NestedListsBinary(deepest + 1)), EReadError);
  EXPECT_THROW(ToBinary(NestedListsText(deepest + 1)), EParserError);

  std::string objects;
  for (int i = 0; i <= MaxFormNesting; ++i) objects += Short("T") + Short("") + Bytes({0});
  objects += std::string(MaxFormNesting + 1, '\0');
  EXPECT_THROW(ToText("TPF0" + objects), EReadError);
}

// --- Text features -----------------------------------------------------------------------------

TEST(ObjectTextTest, TextValuesBecomeTheExpectedBinary) {
  struct {
    const char* Text;
    std::string Binary;
  } cases[] = {
      // Integers take the smallest type that holds them.
      {"127", T(vaInt8) + Bytes({0x7F})},
      {"128", T(vaInt16) + Bytes({0x80, 0})},
      {"-128", T(vaInt8) + Bytes({0x80})},
      {"-129", T(vaInt16) + Bytes({0x7F, 0xFF})},
      {"32767", T(vaInt16) + Bytes({0xFF, 0x7F})},
      {"32768", T(vaInt32) + Bytes({0, 0x80, 0, 0})},
      {"-32768", T(vaInt16) + Bytes({0, 0x80})},
      {"-32769", T(vaInt32) + Bytes({0xFF, 0x7F, 0xFF, 0xFF})},
      {"2147483647", T(vaInt32) + Bytes({0xFF, 0xFF, 0xFF, 0x7F})},
      {"2147483648", T(vaInt64) + Bytes({0, 0, 0, 0x80, 0, 0, 0, 0})},
      {"-2147483648", T(vaInt32) + Bytes({0, 0, 0, 0x80})},
      {"-2147483649", T(vaInt64) + Bytes({0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"9223372036854775807", T(vaInt64) + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F})},
      {"-9223372036854775808", T(vaInt64) + Bytes({0, 0, 0, 0, 0, 0, 0, 0x80})},
      {"$FF", T(vaInt16) + Bytes({0xFF, 0})},
      {"$7f", T(vaInt8) + Bytes({0x7F})},
      {"$FFFFFFFFFFFFFFFF", T(vaInt8) + Bytes({0xFF})},  // 64 bits, read as -1
      // Strings: '' for a quote, #n and #$n codes, '+' joins across lines.
      {"'It''s'", Str("It's")},
      {"'a'#13#10'b'", Str("a\r\nb")},
      {"#$41#66'c'", Str("ABc")},
      {"#255", Str("\xFF")},
      {"'ab' +\n    'cd' + #33", Str("abcd!")},
      {"'x' + #937", T(vaWString) + U32(2) + Bytes({'x', 0, 0xA9, 0x03})},
      {"''", Str("")},
      // Identifiers and the three keywords, without regard to case.
      {"clWindow", T(vaIdent) + Short("clWindow")},
      {"Form1.Button1Click", T(vaIdent) + Short("Form1.Button1Click")},
      {"TRUE", T(vaTrue)},
      {"false", T(vaFalse)},
      {"Nil", T(vaNil)},
      {"[a,b , c]", T(vaSet) + Short("a") + Short("b") + Short("c") + Bytes({0})},
      {"(1 'x' ())",
       T(vaList) + T(vaInt8) + Bytes({1}) + Str("x") + T(vaList) + T(vaNull) + T(vaNull)},
      {"<item [300] A = 1 end item B = 2 end>",
       T(vaCollection) + T(vaInt16) + Bytes({0x2C, 0x01}) + T(vaList) + Short("A") + T(vaInt8) +
           Bytes({1, 0}) + T(vaList) + Short("B") + T(vaInt8) + Bytes({2, 0}) + T(vaNull)},
      {"{0a 0B\n  0c}", T(vaBinary) + U32(3) + Bytes({0x0A, 0x0B, 0x0C})},
      // Floats: no suffix is extended, s single, d date, c currency (read exactly).
      {"-1.5", T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0xBF})},
      {"15e-1", T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F})},
      {"1.5S", T(vaSingle) + Bytes({0, 0, 0xC0, 0x3F})},
      {"36526.5d", T(vaDate) + Bytes({0, 0, 0, 0, 0xD0, 0xD5, 0xE1, 0x40})},
      {"12.5c", T(vaCurrency) + Bytes({0x48, 0xE8, 0x01, 0, 0, 0, 0, 0})},
      {"1e2c", T(vaCurrency) + Bytes({0x40, 0x42, 0x0F, 0, 0, 0, 0, 0})},
      {"0.00005c", T(vaCurrency) + Bytes({1, 0, 0, 0, 0, 0, 0, 0})},  // half rounds away from 0
      {"-0.00005c", T(vaCurrency) + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"0.00004c", T(vaCurrency) + Bytes({0, 0, 0, 0, 0, 0, 0, 0})},
      {"-922337203685477.5808c", T(vaCurrency) + Bytes({0, 0, 0, 0, 0, 0, 0, 0x80})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(Hex(ToBinary(OneValueText(c.Text))), Hex(OneValue(c.Binary)));
  }
}

TEST(ObjectTextTest, StringsChooseTheirTypeByLengthAndCodes) {
  std::string longest = "'" + std::string(255, 'x') + "'";
  EXPECT_EQ(ToBinary(OneValueText(longest)), OneValue(Str(std::string(255, 'x'))));
  std::string joined = longest + " + 'y'";
  EXPECT_EQ(ToBinary(OneValueText(joined)),
            OneValue(T(vaLString) + U32(256) + std::string(255, 'x') + "y"));
}

TEST(ObjectTextTest, KeywordsFollowedByEqualsArePropertyNames) {
  const std::string text =
      "object A: T\n"
      "  end = 1\n"
      "  Object = end\n"
      "  Items = <\n"
      "    item\n"
      "      end = 2\n"
      "    end>\n"
      "  object B: T\n"
      "  end\n"
      "end\n";
  std::string binary = ToBinary(text);
  EXPECT_EQ(Hex(binary),
            Hex("TPF0" + Short("T") + Short("A") + Short("end") + T(vaInt8) + Bytes({1}) +
                Short("Object") + T(vaIdent) + Short("end") + Short("Items") + T(vaCollection) +
                T(vaList) + Short("end") + T(vaInt8) + Bytes({2, 0}) + T(vaNull) + Bytes({0}) +
                Short("T") + Short("B") + Bytes({0, 0}) + Bytes({0})));
  EXPECT_EQ(ToText(binary), text);
}

TEST(ObjectTextTest, LongStringsWrapIntoAsciiPiecesAndComeBackWhole) {
  std::string mixed;
  for (int i = 0; i < 200; ++i)
    mixed += static_cast<char>(i % 3 == 0 ? '\'' : i % 7 == 0 ? 200 : 'a' + i % 26);
  const std::string cases[] = {
      std::string(62, 'q'),      // fits on the line, quotes included
      std::string(63, 'q'),      // one more and it wraps
      std::string(300, '\''),    // doubled quotes never split
      std::string(100, '\x01'),  // all codes
      mixed,
      "first line\r\nsecond line\r\n" + std::string(60, 'z'),
  };
  for (const std::string& value : cases) {
    SCOPED_TRACE(value);
    std::string binary = OneValue(
        value.size() <= 255 ? Str(value)
                            : T(vaLString) + U32(static_cast<uint32_t>(value.size())) + value);
    std::string text = ToText(binary);
    EXPECT_EQ(Hex(ToBinary(text)), Hex(binary));
    EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                            [](char c) { return c == '\n' || (c >= 32 && c < 127); }));
    std::size_t longestLine = 0;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
      end = text.find('\n', start);
      longestLine = std::max(longestLine, end - start);
    }
    EXPECT_LE(longestLine, 4u + 64u + 2u);  // indent, piece, " +"
  }
  EXPECT_EQ(ToText(OneValue(Str("line\nnext"))), OneValueText("'line'#10'next'"));
  // A long value breaks after each line feed.
  EXPECT_EQ(ToText(OneValue(Str("first line\n" + std::string(60, 'z')))),
            "object A: T\n  P =\n    'first line'#10 +\n    '" + std::string(60, 'z') + "'\nend\n");
  // In a list, continuation pieces stay on the item's level.
  EXPECT_EQ(ToText(OneValue(T(vaList) + Str(std::string(70, 'z')) + T(vaNull))),
            "object A: T\n  P = (\n    '" + std::string(62, 'z') + "' +\n    'zzzzzzzz')\nend\n");
}

TEST(ObjectTextTest, FloatsComeBackBitExact) {
  struct {
    std::string Value;
    const char* Text;
  } cases[] = {
      {T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}), "1.0"},
      {T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}), "-0.0"},
      {T(vaExtended) + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x7F}),
       "1.189731495357231765e+4932"},
      {T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x00}),
       "3.3621031431120935063e-4932"},
      {T(vaExtended) + Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0x3E, 0x40}), "9223372036854775808.0"},
      {T(vaSingle) + Bytes({1, 0, 0, 0}), "1e-45s"},  // the smallest denormal
      {T(vaSingle) + Bytes({0xCD, 0xCC, 0xCC, 0x3D}), "0.1s"},
      {T(vaDate) + Bytes({0, 0, 0, 0, 0, 0, 0, 0}), "0.0d"},
      {T(vaDate) + Bytes({0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}), "0.1d"},
      {T(vaCurrency) + Bytes({0, 0, 0, 0, 0, 0, 0, 0}), "0.0c"},
      {T(vaCurrency) + Bytes({1, 0, 0, 0, 0, 0, 0, 0}), "0.0001c"},
      {T(vaCurrency) + Bytes({0xB8, 0x17, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "-12.5c"},
      {T(vaCurrency) + Bytes({0, 0, 0, 0, 0, 0, 0, 0x80}), "-922337203685477.5808c"},
      {T(vaCurrency) + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}),
       "922337203685477.5807c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    std::string text = ToText(OneValue(c.Value));
    EXPECT_EQ(text, OneValueText(c.Text));
    EXPECT_EQ(Hex(ToBinary(text)), Hex(OneValue(c.Value)));
  }
}

TEST(ObjectTextTest, Utf8StringsComeBackAsEightBitOrWideStrings) {
  struct {
    std::string Utf8;
    const char* Text;
    std::string Binary;  // what the text converts back to
  } cases[] = {
      {"plain", "'plain'", Str("plain")},
      {"", "''", Str("")},
      // Characters below 256 come back as 8-bit strings (Latin-1).
      {"caf\xC3\xA9", "'caf'#233", Str("caf\xE9")},
      {"\xE2\x82\xAC", "#8364", T(vaWString) + U32(1) + Bytes({0xAC, 0x20})},
      // Beyond the 16-bit range as a surrogate pair.
      {"\xF0\x9F\x98\x80", "#55357#56832", T(vaWString) + U32(2) + Bytes({0x3D, 0xD8, 0x00, 0xDE})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    std::string text =
        ToText(OneValue(T(vaUTF8String) + U32(static_cast<uint32_t>(c.Utf8.size())) + c.Utf8));
    EXPECT_EQ(text, OneValueText(c.Text));
    EXPECT_EQ(Hex(ToBinary(text)), Hex(OneValue(c.Binary)));
  }
}

TEST(ObjectTextTest, MaxBinaryBytesShowsSizeAndFirstBytes) {
  std::string data;
  for (int i = 0; i < 40; ++i) data += static_cast<char>(0xA0 + i);
  std::string binary = "TPF0" + Short("T") + Short("A") + Short("Data") + T(vaBinary) + U32(40) +
                       data + Short("Next") + T(vaInt8) + Bytes({7}) + Bytes({0, 0});
  std::string shortened = ToText(binary, {.MaxBinaryBytes = 4});
  EXPECT_EQ(shortened, "object A: T\n  Data = { 40 bytes: A0A1A2A3... }\n  Next = 7\nend\n");
  EXPECT_THROW(ToBinary(shortened), EParserError);
  EXPECT_EQ(ToText(binary, {.MaxBinaryBytes = 0}),
            "object A: T\n  Data = { 40 bytes: ... }\n  Next = 7\nend\n");
  // At the limit the value is written whole.
  EXPECT_EQ(ToBinary(ToText(binary, {.MaxBinaryBytes = 40})), binary);
  // The bytes that are skipped must be there all the same.
  std::string cut = binary.substr(0, binary.size() - 20);
  EXPECT_THROW(ToText(cut, {.MaxBinaryBytes = 4}), EReadError);
}

TEST(ObjectTextTest, ParserErrorsNameTheLine) {
  struct {
    std::string Text;
    const char* Message;
  } cases[] = {
      {"thing A: T\nend", "'object' expected on line 1"},
      {"object : TForm1\nend", "Identifier expected on line 1"},
      {"object A: T\n  Left 5\nend", "'=' expected on line 2"},
      {"object A: T\n  Left = )\nend", "Property value expected on line 2"},
      {"object A: T\n\n  Caption = 'abc\nend", "Unterminated string on line 3"},
      {"object A: T\n  C = 'a'#70000\nend", "Invalid character code on line 2"},
      {"object A: T\n  C = 'a' +\n\n  5\nend", "String expected on line 4"},
      {"object A: T\n  N = 12abc\nend", "Invalid number on line 2"},
      {"object A: T\n  N = 1.2.3\nend", "Invalid number on line 2"},
      {"object A: T\n  N = 9223372036854775808\nend", "Number out of range on line 2"},
      {"object A: T\n  N = $10000000000000000\nend", "Number out of range on line 2"},
      {"object A: T\n  N = 1e39s\nend", "Number out of range on line 2"},
      {"object A: T\n  N = 1e5000\nend", "Number out of range on line 2"},
      {"object A: T\n  N = 922337203685477.5808c\nend", "Number out of range on line 2"},
      {"object A: T\n  S = [a b]\nend", "',' expected on line 2"},
      {"object A: T\n  S = [a, 1]\nend", "Identifier expected on line 2"},
      {"object A: T\n  D = {0A0}\nend", "Invalid binary value on line 2"},
      {"object A: T\n  D = {\n    0A\n    0G}\nend", "Invalid binary value on line 4"},
      {"object A: T\n  D = {0A", "Invalid binary value on line 2"},
      {"object A: T\n  I = <\n    thing\n  >\nend", "'item' expected on line 3"},
      {"object A: T\n  I = <item [x] end>\nend", "Integer expected on line 2"},
      {"object A: T [2147483648]\nend", "Number out of range on line 1"},
      {"object A: T\n  object B: T\n  end\n  X = 1\nend",
       "Properties must come before child objects on line 4"},
      {"object A: T\n  X = 1\n", "'end' expected on line 3"},
      {"object A: T\nend\nobject B: T\nend", "End of text expected on line 3"},
      {"object A: T\n  X = 1\x01\nend", "Invalid character #1 on line 2"},
      {"object A: T\n  X = \xC3\xA9\nend", "Invalid character #195 on line 2"},
      {"object A: " + std::string(256, 'T') + "\nend", "Identifier too long on line 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    try {
      ToBinary(c.Text);
      ADD_FAILURE() << "no error";
    } catch (const EParserError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
  }
}

TEST(ObjectTextTest, TestStreamFormatTellsBinaryFromTextWithoutMoving) {
  struct {
    std::string Head;
    TStreamFormat Format;
  } cases[] = {
      {"TPF0" + Short("T"), TStreamFormat::sfBinary},
      {"object Form1: TForm1\nend\n", TStreamFormat::sfText},
      {"\xEF\xBB\xBF\r\n  INHERITED Form1: TForm1", TStreamFormat::sfText},
      {"inline\tF: T", TStreamFormat::sfText},
      {"objects", TStreamFormat::sfUnknown},
      {"TPF", TStreamFormat::sfUnknown},
      {"", TStreamFormat::sfUnknown},
      {"MZ\x90", TStreamFormat::sfUnknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Head);
    TMemoryStream stream;
    std::string data = "xx" + c.Head;
    stream.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    stream.SetPosition(2);
    EXPECT_EQ(TestStreamFormat(stream), c.Format);
    EXPECT_EQ(stream.Position(), 2);
  }
}

}  // namespace
