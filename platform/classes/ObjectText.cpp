#include "ObjectText.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "FormFormat.h"

// Floats are copied to and from the description as the host's own representation.
static_assert(std::endian::native == std::endian::little, "form descriptions are little-endian");
static_assert(std::numeric_limits<long double>::digits == 64,
              "vaExtended is read and written as the host's 80-bit long double");

namespace {

constexpr int ExtendedSize = 10;
constexpr int BytesPerHexLine = 32;
// A string whose quoted text is longer than this is split into pieces of about this width.
constexpr std::size_t StringPieceWidth = 64;
// Long values are read in pieces of this size, so that nothing is allocated ahead of the data.
constexpr int64_t ReadChunk = 64 * 1024;

// --- Characters and names -----------------------------------------------------------------------

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentChar(char c) { return IsLetter(c) || IsDigit(c) || c == '.'; }
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// What the tokenizer reads as one symbol: a letter or '_', then letters, digits, '_' and '.'.
bool IsIdent(std::string_view s) {
  return !s.empty() && IsLetter(s[0]) && std::all_of(s.begin(), s.end(), IsIdentChar);
}

bool IsIntegerType(TValueType t) {
  return t == TValueType::vaInt8 || t == TValueType::vaInt16 || t == TValueType::vaInt32;
}

std::u16string Latin1ToUnits(std::string_view bytes) {
  std::u16string units(bytes.size(), u'\0');
  std::transform(bytes.begin(), bytes.end(), units.begin(),
                 [](char c) { return static_cast<char16_t>(static_cast<uint8_t>(c)); });
  return units;
}

// Encodes a string for the text form: printable ASCII in quotes, everything else as a #n code,
// so that the text holds no byte above 127. With split, the text is cut into pieces of about
// StringPieceWidth characters, and a piece also ends after a line feed.
std::vector<std::string> EncodeString(const std::u16string& units, bool split) {
  std::vector<std::string> pieces;
  std::string piece;
  bool inQuote = false;
  auto closePiece = [&] {
    if (inQuote) piece += '\'';
    inQuote = false;
    pieces.push_back(std::move(piece));
    piece.clear();
  };
  for (std::size_t i = 0; i < units.size(); ++i) {
    char16_t unit = units[i];
    bool printable = unit >= 32 && unit < 127;
    std::string code = printable ? std::string() : "#" + std::to_string(unit);
    if (split && !piece.empty()) {
      // The piece's length with this character and its closing quote.
      std::size_t grown = piece.size() + (printable ? (unit == u'\'' ? 2 : 1) + (inQuote ? 1 : 2)
                                                    : code.size() + (inQuote ? 1 : 0));
      if (grown > StringPieceWidth) closePiece();
    }
    if (printable) {
      if (!inQuote) piece += '\'';
      inQuote = true;
      piece += static_cast<char>(unit);
      if (unit == u'\'') piece += '\'';
    } else {
      if (inQuote) piece += '\'';
      inQuote = false;
      piece += code;
    }
    if (split && unit == u'\n' && i + 1 < units.size()) closePiece();
  }
  if (piece.empty() && pieces.empty()) piece = "''";
  if (!piece.empty()) closePiece();
  return pieces;
}

// One piece when the quoted text fits in StringPieceWidth, else pieces that the text joins
// with '+'.
std::vector<std::string> QuotedPieces(const std::u16string& units) {
  std::vector<std::string> whole = EncodeString(units, false);
  return whole[0].size() <= StringPieceWidth ? whole : EncodeString(units, true);
}

std::string QuotedString(std::string_view bytes) {
  return EncodeString(Latin1ToUnits(bytes), false)[0];
}

// Decodes strict UTF-8 (no overlong forms, surrogates or code points above U+10FFFF) to UTF-16.
std::u16string Utf8ToUnits(std::string_view bytes) {
  std::u16string units;
  std::size_t i = 0;
  while (i < bytes.size()) {
    auto byteAt = [&](std::size_t k) { return static_cast<uint8_t>(bytes[k]); };
    uint8_t lead = byteAt(i);
    int extra = lead < 0x80                    ? 0
                : lead >= 0xC2 && lead <= 0xDF ? 1
                : (lead & 0xF0) == 0xE0        ? 2
                : lead >= 0xF0 && lead <= 0xF4 ? 3
                                               : -1;
    if (extra < 0 || bytes.size() - i <= static_cast<std::size_t>(extra)) {
      throw EReadError("Invalid UTF-8 string in form description");
    }
    uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      uint8_t next = byteAt(i + k);
      if ((next & 0xC0) != 0x80) throw EReadError("Invalid UTF-8 string in form description");
      code = (code << 6) | (next & 0x3F);
    }
    constexpr uint32_t Smallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < Smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      throw EReadError("Invalid UTF-8 string in form description");
    }
    if (code >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
    i += extra + 1;
  }
  return units;
}

// --- Numbers ------------------------------------------------------------------------------------

template <typename T>
bool ParseFloat(std::string_view text, T& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// The shortest decimal text that reads back as exactly the same bits. The text always has a
// point or an exponent, so that it is read as a float and not as an integer. A value that cannot
// come back exactly (NaN, infinity, an extended denormal or non-canonical encoding) is refused.
template <typename T>
std::string FloatText(const T& value, std::size_t significantBytes) {
  char buffer[64];
  std::to_chars_result result{buffer, std::errc::invalid_argument};
  if (std::isfinite(value)) result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
  T back{};
  if (text.empty() || !ParseFloat(text, back) ||
      std::memcmp(&back, &value, significantBytes) != 0) {
    throw EReadError("Invalid floating-point value in form description");
  }
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

// A currency value (an integer in ten-thousandths) written exactly, for example "-12.5".
std::string CurrencyText(int64_t value) {
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  while (fraction.size() > 1 && fraction.back() == '0') fraction.pop_back();
  return (value < 0 ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
}

// Reads a decimal number ("-12.5", "1.5e3") exactly as ten-thousandths, rounding half away from
// zero below that; false when it does not fit in 64 bits.
bool ParseCurrency(std::string_view text, int64_t& result) {
  std::size_t i = 0;
  bool negative = !text.empty() && text[0] == '-';
  if (negative) ++i;
  std::string digits;
  int64_t pointAt = -1;
  for (; i < text.size() && (IsDigit(text[i]) || text[i] == '.'); ++i) {
    if (text[i] == '.') {
      pointAt = static_cast<int64_t>(digits.size());
    } else {
      digits += text[i];
    }
  }
  if (pointAt < 0) pointAt = static_cast<int64_t>(digits.size());
  int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negativeExponent = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    // Beyond this every exponent gives zero or an overflow alike.
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      exponent = std::min<int64_t>(exponent * 10 + (text[i] - '0'), 100000);
    }
    if (negativeExponent) exponent = -exponent;
  }
  const int64_t wholeDigits = pointAt + exponent + 4;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  const auto digitCount = static_cast<int64_t>(digits.size());
  uint64_t magnitude = 0;
  for (int64_t k = 0; k < wholeDigits; ++k) {
    unsigned digit = k < digitCount ? static_cast<unsigned>(digits[k] - '0') : 0;
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  if (wholeDigits >= 0 && wholeDigits < digitCount && digits[wholeDigits] >= '5') {
    if (magnitude == limit) return false;
    ++magnitude;
  }
  result = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

// --- Binary input -------------------------------------------------------------------------------

// Reads the binary form with every length checked against what is left of the stream before
// anything is read or allocated for it. A stream that cannot tell its size is read in pieces,
// so that memory grows only with data that actually came.
class TBinaryInput {
 public:
  explicit TBinaryInput(TStream& stream) : FStream(stream) {
    int64_t size = stream.Size();
    int64_t position = stream.Position();
    if (size >= 0 && position >= 0) FRemaining = std::max<int64_t>(size - position, 0);
  }

  void Need(int64_t count) const {
    if (FRemaining != Unknown && count > FRemaining) throw EReadError(SysConst::SReadError);
  }

  void Read(void* buffer, int64_t count) {
    Need(count);
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
      auto piece = static_cast<int32_t>(std::min(count, ReadChunk));
      FStream.ReadBuffer(p, piece);
      p += piece;
      count -= piece;
      if (FRemaining != Unknown) FRemaining -= piece;
    }
  }

  uint8_t ReadByte() {
    uint8_t b = 0;
    Read(&b, 1);
    return b;
  }

  // A little-endian number of 1, 2, 4 or 8 bytes.
  uint64_t ReadUnsigned(int size) {
    uint8_t bytes[8] = {};
    Read(bytes, size);
    return LoadLE64(bytes);
  }

  std::string ReadChars(int64_t count) {
    Need(count);
    std::string text;
    while (count > 0) {
      int64_t piece = std::min(count, ReadChunk);
      std::size_t at = text.size();
      text.resize(at + static_cast<std::size_t>(piece));
      Read(text.data() + at, piece);
      count -= piece;
    }
    return text;
  }

  std::string ReadShortString() { return ReadChars(ReadByte()); }

  void Skip(int64_t count) {
    Need(count);
    uint8_t buffer[4096];
    while (count > 0) {
      int64_t piece = std::min<int64_t>(count, sizeof buffer);
      Read(buffer, piece);
      count -= piece;
    }
  }

 private:
  static constexpr int64_t Unknown = -1;
  TStream& FStream;
  int64_t FRemaining = Unknown;
};

void WriteAll(TStream& output, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    auto piece = static_cast<int32_t>(std::min<std::size_t>(data.size() - done, 1 << 30));
    output.WriteBuffer(data.data() + done, piece);
    done += static_cast<std::size_t>(piece);
  }
}

// --- Binary to text -----------------------------------------------------------------------------

class TBinaryToText {
 public:
  TBinaryToText(TStream& input, const TObjectTextOptions& options)
      : FInput(input), FOptions(options) {}

  std::string Convert() {
    char signature[sizeof FilerSignature];
    FInput.Read(signature, sizeof signature);
    if (std::memcmp(signature, FilerSignature, sizeof signature) != 0) {
      throw EReadError("Invalid stream format");
    }
    ConvertObject(0, FInput.ReadByte());
    return std::move(FText);
  }

 private:
  void Indent(int level) { FText.append(static_cast<std::size_t>(2 * level), ' '); }
  void NewLine(int level) {
    FText += '\n';
    Indent(level);
  }

  void Enter() {
    if (++FDepth > MaxFormNesting) throw EReadError("Form description nested too deeply");
  }
  void Leave() { --FDepth; }

  TValueType ReadValueType() {
    uint8_t b = FInput.ReadByte();
    if (b > MaxValueType)
      throw EReadError(Format("Unknown value type %d in form description", {static_cast<int>(b)}));
    return static_cast<TValueType>(b);
  }

  [[noreturn]] static void Unexpected(TValueType t) {
    throw EReadError(Format("Unexpected value type %d in form description", {static_cast<int>(t)}));
  }

  int64_t ReadInteger(TValueType t) {
    switch (t) {
      case TValueType::vaInt8:
        return static_cast<int8_t>(FInput.ReadUnsigned(1));
      case TValueType::vaInt16:
        return static_cast<int16_t>(FInput.ReadUnsigned(2));
      case TValueType::vaInt32:
        return static_cast<int32_t>(FInput.ReadUnsigned(4));
      case TValueType::vaInt64:
        return static_cast<int64_t>(FInput.ReadUnsigned(8));
      default:
        Unexpected(t);
    }
  }

  // The child position of an object and the order value of a collection item.
  int64_t ReadSmallInteger() {
    TValueType t = ReadValueType();
    if (!IsIntegerType(t)) Unexpected(t);
    return ReadInteger(t);
  }

  static std::string CheckName(std::string name, const char* what) {
    if (!IsIdent(name)) throw EReadError(Format("Invalid %s %s", {what, QuotedString(name)}));
    return name;
  }

  void ConvertObject(int level, uint8_t first) {
    Enter();
    uint8_t flags = 0;
    int64_t position = 0;
    if ((first & 0xF0) == 0xF0) {
      flags = first & 0x0F;
      if (flags & ffChildPos) position = ReadSmallInteger();
      first = FInput.ReadByte();
    }
    std::string className = CheckName(FInput.ReadChars(first), "class name");
    std::string objectName = FInput.ReadShortString();
    if (!objectName.empty()) CheckName(objectName, "object name");

    Indent(level);
    FText += (flags & ffInline) ? "inline " : (flags & ffInherited) ? "inherited " : "object ";
    if (!objectName.empty()) FText += objectName + ": ";
    FText += className;
    if (flags & ffChildPos) FText += " [" + std::to_string(position) + "]";
    FText += '\n';
    ConvertProperties(level + 1);
    for (uint8_t b = FInput.ReadByte(); b != 0; b = FInput.ReadByte()) ConvertObject(level + 1, b);
    Indent(level);
    FText += "end\n";
    Leave();
  }

  void ConvertProperties(int level) {
    for (std::string name = FInput.ReadShortString(); !name.empty();
         name = FInput.ReadShortString()) {
      Indent(level);
      FText += CheckName(std::move(name), "property name");
      FText += " =";
      ConvertValue(ReadValueType(), level, true);
      FText += '\n';
    }
  }

  // Writes a value that starts on a line of the given level: after "Name =" when afterEquals,
  // else at the start of its own line (a list item). Nested lines go one level deeper.
  void ConvertValue(TValueType t, int level, bool afterEquals) {
    if (afterEquals) FText += ' ';
    switch (t) {
      case TValueType::vaList: {
        Enter();
        FText += '(';
        for (TValueType item = ReadValueType(); item != TValueType::vaNull;
             item = ReadValueType()) {
          NewLine(level + 1);
          ConvertValue(item, level + 1, false);
        }
        FText += ')';
        Leave();
        break;
      }
      case TValueType::vaInt8:
      case TValueType::vaInt16:
      case TValueType::vaInt32:
      case TValueType::vaInt64:
        FText += std::to_string(ReadInteger(t));
        break;
      case TValueType::vaExtended: {
        long double value = 0;
        FInput.Read(&value, ExtendedSize);
        FText += FloatText(value, ExtendedSize);
        break;
      }
      case TValueType::vaSingle: {
        float value = 0;
        FInput.Read(&value, sizeof value);
        FText += FloatText(value, sizeof value) + "s";
        break;
      }
      case TValueType::vaDate: {
        double value = 0;
        FInput.Read(&value, sizeof value);
        FText += FloatText(value, sizeof value) + "d";
        break;
      }
      case TValueType::vaCurrency:
        FText += CurrencyText(static_cast<int64_t>(FInput.ReadUnsigned(8))) + "c";
        break;
      case TValueType::vaString:
        ConvertString(Latin1ToUnits(FInput.ReadShortString()), level, afterEquals);
        break;
      case TValueType::vaLString: {
        int64_t length = static_cast<int64_t>(FInput.ReadUnsigned(4));
        ConvertString(Latin1ToUnits(FInput.ReadChars(length)), level, afterEquals);
        break;
      }
      case TValueType::vaWString: {
        int64_t count = static_cast<int64_t>(FInput.ReadUnsigned(4));
        std::string bytes = FInput.ReadChars(2 * count);
        std::u16string units(static_cast<std::size_t>(count), u'\0');
        for (std::size_t i = 0; i < units.size(); ++i) {
          units[i] = static_cast<char16_t>(
              LoadLE16(reinterpret_cast<const uint8_t*>(bytes.data()) + 2 * i));
        }
        ConvertString(units, level, afterEquals);
        break;
      }
      case TValueType::vaUTF8String: {
        int64_t length = static_cast<int64_t>(FInput.ReadUnsigned(4));
        ConvertString(Utf8ToUnits(FInput.ReadChars(length)), level, afterEquals);
        break;
      }
      case TValueType::vaIdent:
        FText += CheckName(FInput.ReadShortString(), "identifier");
        break;
      case TValueType::vaFalse:
        FText += "False";
        break;
      case TValueType::vaTrue:
        FText += "True";
        break;
      case TValueType::vaNil:
        FText += "nil";
        break;
      case TValueType::vaBinary:
        ConvertBinary(level);
        break;
      case TValueType::vaSet: {
        FText += '[';
        const char* separator = "";
        for (std::string name = FInput.ReadShortString(); !name.empty();
             name = FInput.ReadShortString()) {
          FText += separator;
          FText += CheckName(std::move(name), "set element");
          separator = ", ";
        }
        FText += ']';
        break;
      }
      case TValueType::vaCollection:
        ConvertCollection(level);
        break;
      case TValueType::vaNull:
        Unexpected(t);
    }
  }

  void ConvertString(const std::u16string& units, int level, bool afterEquals) {
    std::vector<std::string> pieces = QuotedPieces(units);
    if (pieces.size() == 1) {
      FText += pieces[0];
      return;
    }
    // Continuation pieces of a property value go one level deeper; those of a list item stay
    // on its level.
    if (afterEquals) {
      FText.pop_back();  // the blank after '='
      ++level;
    }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i > 0 || afterEquals) NewLine(level);
      FText += pieces[i];
      if (i + 1 < pieces.size()) FText += " +";
    }
  }

  void ConvertBinary(int level) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    auto appendHex = [&](const std::string& bytes) {
      for (char c : bytes) {
        FText += Digits[static_cast<uint8_t>(c) >> 4];
        FText += Digits[static_cast<uint8_t>(c) & 0x0F];
      }
    };
    int64_t length = static_cast<int64_t>(FInput.ReadUnsigned(4));
    FInput.Need(length);
    if (length > FOptions.MaxBinaryBytes) {
      int64_t shown = std::max<int64_t>(FOptions.MaxBinaryBytes, 0);
      FText += "{ " + std::to_string(length) + " bytes: ";
      appendHex(FInput.ReadChars(shown));
      FText += "... }";
      FInput.Skip(length - shown);
      return;
    }
    FText += '{';
    constexpr int64_t LinesPerPiece = ReadChunk / BytesPerHexLine;
    while (length > 0) {
      std::string piece = FInput.ReadChars(std::min(length, LinesPerPiece * BytesPerHexLine));
      length -= static_cast<int64_t>(piece.size());
      for (std::size_t at = 0; at < piece.size(); at += BytesPerHexLine) {
        NewLine(level + 1);
        appendHex(piece.substr(at, BytesPerHexLine));
      }
    }
    FText += '}';
  }

  void ConvertCollection(int level) {
    Enter();
    FText += '<';
    for (TValueType t = ReadValueType(); t != TValueType::vaNull; t = ReadValueType()) {
      NewLine(level + 1);
      FText += "item";
      if (IsIntegerType(t)) {
        FText += " [" + std::to_string(ReadInteger(t)) + "]";
        t = ReadValueType();
      }
      if (t != TValueType::vaList) Unexpected(t);
      FText += '\n';
      ConvertProperties(level + 2);
      Indent(level + 1);
      FText += "end";
    }
    FText += '>';
    Leave();
  }

  TBinaryInput FInput;
  const TObjectTextOptions& FOptions;
  std::string FText;
  int FDepth = 0;
};

// --- Text to binary -----------------------------------------------------------------------------

class TTextToBinary {
 public:
  explicit TTextToBinary(TParser& parser) : FParser(parser) {}

  std::string Convert() {
    FData.append(FilerSignature, sizeof FilerSignature);
    ConvertObject();
    FParser.CheckToken(toEOF);
    return std::move(FData);
  }

 private:
  // A keyword stands where a property could: followed by '=' it is the property's name.
  bool AtKeyword(std::string_view keyword) const {
    return FParser.Token() == toSymbol && FParser.TokenSymbolIs(keyword) &&
           !FParser.NextCharIs('=');
  }
  bool AtObjectStart() const {
    return AtKeyword("object") || AtKeyword("inherited") || AtKeyword("inline");
  }

  void Enter() {
    if (++FDepth > MaxFormNesting) FParser.Error("Form description nested too deeply");
  }
  void Leave() { --FDepth; }

  void WriteType(TValueType t) { FData += static_cast<char>(t); }
  // A little-endian number of 1, 2, 4 or 8 bytes.
  void WriteUnsigned(uint64_t value, int size) {
    uint8_t bytes[8];
    StoreLE64(bytes, value);
    FData.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
  }
  void WriteShortString(std::string_view text) {
    if (text.size() > 255) FParser.Error("Identifier too long");
    FData += static_cast<char>(text.size());
    FData += text;
  }
  void WriteInteger(int64_t value) {
    if (value >= INT8_MIN && value <= INT8_MAX) {
      WriteType(TValueType::vaInt8);
      WriteUnsigned(static_cast<uint64_t>(value), 1);
    } else if (value >= INT16_MIN && value <= INT16_MAX) {
      WriteType(TValueType::vaInt16);
      WriteUnsigned(static_cast<uint64_t>(value), 2);
    } else if (value >= INT32_MIN && value <= INT32_MAX) {
      WriteType(TValueType::vaInt32);
      WriteUnsigned(static_cast<uint64_t>(value), 4);
    } else {
      WriteType(TValueType::vaInt64);
      WriteUnsigned(static_cast<uint64_t>(value), 8);
    }
  }

  std::string ReadIdent() {
    FParser.CheckToken(toSymbol);
    std::string name = FParser.TokenString();
    if (name.size() > 255) FParser.Error("Identifier too long");
    FParser.NextToken();
    return name;
  }

  // "[n]" after an object header or "item": a 32-bit integer.
  int64_t ReadBracketedInteger() {
    FParser.NextToken();
    FParser.CheckToken(toInteger);
    int64_t value = FParser.TokenInt();
    if (value < INT32_MIN || value > INT32_MAX) FParser.Error("Number out of range");
    FParser.NextToken();
    FParser.CheckToken(']');
    FParser.NextToken();
    return value;
  }

  void ConvertObject() {
    Enter();
    uint8_t flags = 0;
    if (AtKeyword("inherited")) {
      flags = ffInherited;
    } else if (AtKeyword("inline")) {
      flags = ffInline;
    } else if (!AtKeyword("object")) {
      FParser.Error("'object' expected");
    }
    FParser.NextToken();
    std::string objectName;
    std::string className = ReadIdent();
    if (FParser.Token() == ':') {
      FParser.NextToken();
      objectName = std::move(className);
      className = ReadIdent();
    }
    int64_t position = 0;
    if (FParser.Token() == '[') {
      position = ReadBracketedInteger();
      flags |= ffChildPos;
    }
    if (flags != 0) {
      FData += static_cast<char>(0xF0 | flags);
      if (flags & ffChildPos) WriteInteger(position);
    }
    WriteShortString(className);
    WriteShortString(objectName);
    while (FParser.Token() == toSymbol && !AtKeyword("end") && !AtObjectStart()) ConvertProperty();
    FData += '\0';
    while (AtObjectStart()) ConvertObject();
    if (FParser.Token() == toSymbol && FParser.NextCharIs('=')) {
      FParser.Error("Properties must come before child objects");
    }
    if (!AtKeyword("end")) FParser.Error("'end' expected");
    FParser.NextToken();
    FData += '\0';
    Leave();
  }

  void ConvertProperty() {
    WriteShortString(ReadIdent());
    FParser.CheckToken('=');
    FParser.NextToken();
    ConvertValue();
  }

  void ConvertValue() {
    switch (FParser.Token()) {
      case toInteger:
        WriteInteger(FParser.TokenInt());
        FParser.NextToken();
        break;
      case toFloat:
        ConvertFloat();
        break;
      case toString:
      case toWString:
        ConvertString();
        break;
      case toSymbol:
        if (FParser.TokenSymbolIs("True")) {
          WriteType(TValueType::vaTrue);
        } else if (FParser.TokenSymbolIs("False")) {
          WriteType(TValueType::vaFalse);
        } else if (FParser.TokenSymbolIs("nil")) {
          WriteType(TValueType::vaNil);
        } else {
          WriteType(TValueType::vaIdent);
          WriteShortString(ReadIdent());
          break;
        }
        FParser.NextToken();
        break;
      case '[':
        ConvertSet();
        break;
      case '(': {
        Enter();
        WriteType(TValueType::vaList);
        FParser.NextToken();
        while (FParser.Token() != ')') ConvertValue();
        WriteType(TValueType::vaNull);
        FParser.NextToken();
        Leave();
        break;
      }
      case '{': {
        std::string bytes = FParser.HexToBinary();
        WriteType(TValueType::vaBinary);
        WriteUnsigned(bytes.size(), 4);
        FData += bytes;
        FParser.NextToken();
        break;
      }
      case '<':
        ConvertCollection();
        break;
      default:
        FParser.Error("Property value expected");
    }
  }

  void ConvertFloat() {
    std::string text = FParser.TokenString();
    switch (FParser.FloatType()) {
      case 's': {
        float value = 0;
        if (!ParseFloat(text, value)) FParser.Error("Number out of range");
        WriteType(TValueType::vaSingle);
        FData.append(reinterpret_cast<const char*>(&value), sizeof value);
        break;
      }
      case 'd': {
        double value = 0;
        if (!ParseFloat(text, value)) FParser.Error("Number out of range");
        WriteType(TValueType::vaDate);
        FData.append(reinterpret_cast<const char*>(&value), sizeof value);
        break;
      }
      case 'c': {
        int64_t value = 0;
        if (!ParseCurrency(text, value)) FParser.Error("Number out of range");
        WriteType(TValueType::vaCurrency);
        WriteUnsigned(static_cast<uint64_t>(value), 8);
        break;
      }
      default: {
        long double value = FParser.TokenFloat();
        WriteType(TValueType::vaExtended);
        FData.append(reinterpret_cast<const char*>(&value), ExtendedSize);
        break;
      }
    }
    FParser.NextToken();
  }

  // Strings joined with '+' make one value; it is wide when any part has a code above 255.
  void ConvertString() {
    std::u16string units = FParser.TokenWideString();
    bool wide = FParser.Token() == toWString;
    FParser.NextToken();
    while (FParser.Token() == '+') {
      FParser.NextToken();
      if (FParser.Token() != toString && FParser.Token() != toWString) {
        FParser.Error("String expected");
      }
      units += FParser.TokenWideString();
      wide = wide || FParser.Token() == toWString;
      FParser.NextToken();
    }
    if (units.size() > INT32_MAX) FParser.Error("String too long");
    if (wide) {
      WriteType(TValueType::vaWString);
      WriteUnsigned(units.size(), 4);
      for (char16_t unit : units) WriteUnsigned(unit, 2);
      return;
    }
    if (units.size() <= 255) {
      WriteType(TValueType::vaString);
      WriteUnsigned(units.size(), 1);
    } else {
      WriteType(TValueType::vaLString);
      WriteUnsigned(units.size(), 4);
    }
    for (char16_t unit : units) FData += static_cast<char>(unit);
  }

  void ConvertSet() {
    WriteType(TValueType::vaSet);
    FParser.NextToken();
    if (FParser.Token() != ']') {
      for (;;) {
        WriteShortString(ReadIdent());
        if (FParser.Token() == ']') break;
        FParser.CheckToken(',');
        FParser.NextToken();
      }
    }
    FData += '\0';
    FParser.NextToken();
  }

  void ConvertCollection() {
    Enter();
    WriteType(TValueType::vaCollection);
    FParser.NextToken();
    while (FParser.Token() != '>') {
      FParser.CheckTokenSymbol("item");
      FParser.NextToken();
      if (FParser.Token() == '[') WriteInteger(ReadBracketedInteger());
      WriteType(TValueType::vaList);
      while (!AtKeyword("end")) ConvertProperty();
      FData += '\0';
      FParser.NextToken();
    }
    WriteType(TValueType::vaNull);
    FParser.NextToken();
    Leave();
  }

  TParser& FParser;
  std::string FData;
  int FDepth = 0;
};

}  // namespace

// --- TParser ------------------------------------------------------------------------------------

TParser::TParser(TStream& stream) {
  char buffer[16384];
  for (int32_t got = stream.Read(buffer, sizeof buffer); got > 0;
       got = stream.Read(buffer, sizeof buffer)) {
    FText.append(buffer, static_cast<std::size_t>(got));
  }
  if (FText.starts_with("\xEF\xBB\xBF")) FPos = 3;  // a UTF-8 byte-order mark
  NextToken();
}

void TParser::SkipBlanks() {
  while (FPos < FText.size() && IsBlank(FText[FPos])) {
    if (FText[FPos] == '\n') ++FLine;
    ++FPos;
  }
}

char TParser::NextToken() {
  SkipBlanks();
  FTokenLine = FLine;
  FTokenText.clear();
  FWideString.clear();
  FTokenInt = 0;
  FFloatType = 0;
  if (FPos >= FText.size()) return FToken = toEOF;
  char c = FText[FPos];
  if (IsLetter(c)) {
    std::size_t start = FPos;
    while (FPos < FText.size() && IsIdentChar(FText[FPos])) ++FPos;
    FTokenText = FText.substr(start, FPos - start);
    return FToken = toSymbol;
  }
  if (c == '\'' || c == '#') {
    ScanString();
    return FToken;
  }
  if (IsDigit(c) || c == '$' || (c == '-' && FPos + 1 < FText.size() && IsDigit(FText[FPos + 1]))) {
    ScanNumber();
    return FToken;
  }
  if (c < 32 || c > 126) {
    ErrorAt(Format("Invalid character #%d", {static_cast<uint8_t>(c)}), FLine);
  }
  ++FPos;
  FTokenText = c;
  return FToken = c;
}

void TParser::ScanString() {
  bool wide = false;
  for (;;) {
    if (FPos < FText.size() && FText[FPos] == '\'') {
      ++FPos;
      for (;;) {
        if (FPos >= FText.size() || FText[FPos] == '\n' || FText[FPos] == '\r') {
          ErrorAt("Unterminated string", FLine);
        }
        char ch = FText[FPos++];
        if (ch == '\'') {
          if (FPos >= FText.size() || FText[FPos] != '\'') break;
          ++FPos;
        }
        FWideString += static_cast<char16_t>(static_cast<uint8_t>(ch));
      }
    } else if (FPos < FText.size() && FText[FPos] == '#') {
      ++FPos;
      int base = 10;
      if (FPos < FText.size() && FText[FPos] == '$') {
        base = 16;
        ++FPos;
      }
      uint32_t code = 0;
      std::size_t start = FPos;
      for (int digit; FPos < FText.size() && (digit = HexValue(FText[FPos])) >= 0 && digit < base;
           ++FPos) {
        code = code * base + digit;
        if (code > 0xFFFF) ErrorAt("Invalid character code", FLine);
      }
      if (FPos == start) ErrorAt("Invalid character code", FLine);
      wide = wide || code > 255;
      FWideString += static_cast<char16_t>(code);
    } else {
      break;
    }
  }
  FToken = wide ? toWString : toString;
}

void TParser::ScanNumber() {
  std::size_t start = FPos;
  auto at = [&](std::size_t i) { return i < FText.size() ? FText[i] : '\0'; };
  auto endCheck = [&] {
    if (IsIdentChar(at(FPos))) ErrorAt("Invalid number", FLine);
  };
  if (at(FPos) == '$') {
    ++FPos;
    uint64_t value = 0;
    int digits = 0;
    for (int digit; (digit = HexValue(at(FPos))) >= 0; ++FPos, ++digits) {
      if (digits == 16) ErrorAt("Number out of range", FLine);
      value = value * 16 + static_cast<unsigned>(digit);
    }
    if (digits == 0) ErrorAt("Invalid number", FLine);
    endCheck();
    FTokenText = FText.substr(start, FPos - start);
    FTokenInt = static_cast<int64_t>(value);
    FToken = toInteger;
    return;
  }
  bool negative = at(FPos) == '-';
  if (negative) ++FPos;
  bool isFloat = false;
  while (IsDigit(at(FPos))) ++FPos;
  std::size_t integerEnd = FPos;
  if (at(FPos) == '.' && IsDigit(at(FPos + 1))) {
    isFloat = true;
    ++FPos;
    while (IsDigit(at(FPos))) ++FPos;
  }
  if ((at(FPos) == 'e' || at(FPos) == 'E') &&
      (IsDigit(at(FPos + 1)) ||
       ((at(FPos + 1) == '+' || at(FPos + 1) == '-') && IsDigit(at(FPos + 2))))) {
    isFloat = true;
    FPos += 2;
    while (IsDigit(at(FPos))) ++FPos;
  }
  FTokenText = FText.substr(start, FPos - start);
  char suffix = static_cast<char>(at(FPos) | 0x20);
  if ((suffix == 's' || suffix == 'c' || suffix == 'd') && !IsIdentChar(at(FPos + 1))) {
    isFloat = true;
    FFloatType = suffix;
    ++FPos;
  }
  endCheck();
  if (isFloat) {
    FToken = toFloat;
    return;
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t magnitude = 0;
  for (std::size_t i = start + (negative ? 1 : 0); i < integerEnd; ++i) {
    auto digit = static_cast<unsigned>(FText[i] - '0');
    if (magnitude > (limit - digit) / 10) ErrorAt("Number out of range", FLine);
    magnitude = magnitude * 10 + digit;
  }
  FTokenInt = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  FToken = toInteger;
}

std::string TParser::TokenString() const {
  if (FToken != toString && FToken != toWString) return FTokenText;
  std::string bytes(FWideString.size(), '\0');
  std::transform(FWideString.begin(), FWideString.end(), bytes.begin(),
                 [](char16_t unit) { return static_cast<char>(unit & 0xFF); });
  return bytes;
}

long double TParser::TokenFloat() const {
  long double value = 0;
  if (!ParseFloat(FTokenText, value)) Error("Number out of range");
  return value;
}

bool TParser::TokenSymbolIs(std::string_view name) const {
  return FToken == toSymbol && SameText(FTokenText, name);
}

bool TParser::NextCharIs(char c) const {
  std::size_t p = FPos;
  while (p < FText.size() && IsBlank(FText[p])) ++p;
  return p < FText.size() && FText[p] == c;
}

void TParser::CheckToken(char token) const {
  if (FToken == token) return;
  switch (token) {
    case toEOF:
      Error("End of text expected");
    case toSymbol:
      Error("Identifier expected");
    case toString:
    case toWString:
      Error("String expected");
    case toInteger:
      Error("Integer expected");
    case toFloat:
      Error("Number expected");
    default:
      Error(Format("'%s' expected", {std::string(1, token)}));
  }
}

void TParser::CheckTokenSymbol(std::string_view name) const {
  if (!TokenSymbolIs(name)) Error(Format("'%s' expected", {name}));
}

std::string TParser::HexToBinary() {
  CheckToken('{');
  std::string bytes;
  int high = -1;
  for (;;) {
    if (FPos >= FText.size()) ErrorAt("Invalid binary value", FLine);
    char c = FText[FPos];
    if (c == '}') break;
    if (IsBlank(c)) {
      if (c == '\n') ++FLine;
      ++FPos;
      continue;
    }
    int digit = HexValue(c);
    if (digit < 0) ErrorAt("Invalid binary value", FLine);
    ++FPos;
    if (high < 0) {
      high = digit;
    } else {
      bytes += static_cast<char>(high << 4 | digit);
      high = -1;
    }
  }
  if (high >= 0) ErrorAt("Invalid binary value", FLine);
  ++FPos;
  FToken = '}';
  FTokenText = "}";
  FTokenLine = FLine;
  return bytes;
}

void TParser::Error(std::string_view message) const { ErrorAt(message, FTokenLine); }

void TParser::ErrorAt(std::string_view message, int line) const {
  throw EParserError(Format("%s on line %d", {message, line}));
}

// --- Entry points -------------------------------------------------------------------------------

void ObjectBinaryToText(TStream& input, TStream& output, const TObjectTextOptions& options) {
  TBinaryToText converter(input, options);
  WriteAll(output, converter.Convert());
}

void ObjectTextToBinary(TStream& input, TStream& output) {
  TParser parser(input);
  TTextToBinary converter(parser);
  WriteAll(output, converter.Convert());
}

TStreamFormat TestStreamFormat(TStream& stream) {
  int64_t position = stream.Position();
  char buffer[64];
  int32_t count = 0;
  while (count < static_cast<int32_t>(sizeof buffer)) {
    int32_t got = stream.Read(buffer + count, static_cast<int32_t>(sizeof buffer) - count);
    if (got <= 0) break;
    count += got;
  }
  stream.SetPosition(position);
  std::string_view head(buffer, static_cast<std::size_t>(count));
  if (head.starts_with(std::string_view(FilerSignature, sizeof FilerSignature))) {
    return TStreamFormat::sfBinary;
  }
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  while (!head.empty() && IsBlank(head.front())) head.remove_prefix(1);
  std::size_t wordLength = 0;
  while (wordLength < head.size() && IsLetter(head[wordLength])) ++wordLength;
  std::string_view word = head.substr(0, wordLength);
  bool wordEnds = wordLength < head.size() && IsBlank(head[wordLength]);
  if (wordEnds &&
      (SameText(word, "object") || SameText(word, "inherited") || SameText(word, "inline"))) {
    return TStreamFormat::sfText;
  }
  return TStreamFormat::sfUnknown;
}
