// The readable text form of form descriptions, and conversion between it and the binary form.
//
// The conversion works on value types alone and needs no class information. The text form:
//
//   object Form1: TForm1            an object: name and class; "object TPage" when unnamed;
//     Left = 192                    "inherited" or "inline" in place of "object" for those
//     Caption = 'Tavrix'#13#10      prefix flags, and a trailing "[n]" for a child position
//     Font.Style = [fsBold]         sets
//     Lines.Strings = (             lists
//       'one'
//       'two')
//     Items = <                     collections; "item [n]" carries an item's order value
//       item
//         Width = 40
//       end>
//     FileData = {                  binary values, 32 bytes (64 hex digits) a line
//       0A0B0C}
//     object Button1: TButton       children follow the properties
//     end
//   end
//
// Integers are decimal ("$FF" is read as hexadecimal too); floats carry a suffix s, c or d for
// single, currency and date, none for extended; identifiers (including True, False and nil) are
// bare; strings are quoted, with '' for a quote and #n codes for control characters and for
// characters from 128 up, so the text is pure ASCII; long strings are split into pieces joined
// with "+". Keywords and True/False/nil are matched without regard to case.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "Streams.h"

struct TObjectTextOptions {
  static constexpr int64_t NoBinaryLimit = std::numeric_limits<int64_t>::max();

  // Binary values longer than this are not written whole but as one line naming their size and
  // showing their first MaxBinaryBytes bytes in hexadecimal, "{ 1646466 bytes: 504D4353... }",
  // which does not convert back. Values of this size or less, and all values under the
  // default, are written whole.
  int64_t MaxBinaryBytes = NoBinaryLimit;
};

// Reads one binary description (signature "TPF0" and one object tree) from input's position and
// writes its text form to output. Input is left just after the tree; nothing beyond it is read.
//
// A damaged description raises EReadError: "Stream read error" when it ends early or declares a
// length larger than what is left of the input (refused before anything is allocated for it),
// "Invalid stream format" for a wrong signature, and messages of their own for an unknown or
// misplaced value type, nesting deeper than MaxFormNesting, a name that is no identifier, a
// float that is not a finite number the text can reproduce exactly, and a UTF-8 string that is
// not valid UTF-8. Output is written only when the whole tree converted, in one piece.
//
// The text converts back to a description that holds the same values. It is byte-identical to
// the input when the input was written in the canonical way: integers in their smallest type,
// strings of up to 255 characters as vaString and longer as vaLString, wide strings only when a
// character needs more than 8 bits, no object prefix without flags. UTF-8 strings are written as
// the characters they encode and come back as 8-bit strings when every character is below 256
// (taken as Latin-1), else as wide strings.
void ObjectBinaryToText(TStream& input, TStream& output, const TObjectTextOptions& options = {});

// Parses a text description (all of input from its position) and writes the binary form,
// signature included, to output. Integers take the smallest of vaInt8, vaInt16, vaInt32 that
// holds them and vaInt64 beyond; strings become vaString up to 255 characters, vaLString beyond,
// and vaWString when a #n code is above 255. Bad text raises EParserError with the line, for
// example "Identifier expected on line 12"; output is written only on success.
void ObjectTextToBinary(TStream& input, TStream& output);

enum class TStreamFormat { sfUnknown, sfBinary, sfText };

// Tells a binary description (it starts with "TPF0") from a text one (its first word is
// "object", "inherited" or "inline") without moving the stream's position.
TStreamFormat TestStreamFormat(TStream& stream);

// Token kinds of TParser; any other token is the single character itself ('=', ':', '[' ...).
inline constexpr char toEOF = 0;
inline constexpr char toSymbol = 1;   // an identifier, dots allowed after the first character
inline constexpr char toString = 2;   // quoted pieces and #n codes, every code below 256
inline constexpr char toInteger = 3;  // decimal with optional '-', or '$' and hex digits
inline constexpr char toFloat = 4;    // digits with '.', an exponent or a suffix s/c/d
inline constexpr char toWString = 5;  // a string with a #n code above 255

// The tokenizer of the text form. It reads all of its stream from the current position when it
// is made and stands on the first token. Errors raise EParserError "<what> on line <n>".
class TParser {
 public:
  explicit TParser(TStream& stream);

  char Token() const { return FToken; }
  // Moves to the next token and returns its kind.
  char NextToken();
  // The line (from 1) on which the current token starts.
  int SourceLine() const { return FTokenLine; }

  // The symbol's text, the number as written (without a float's suffix), or the string's
  // characters as 8-bit bytes (for a wide string, each unit cut to its low byte).
  std::string TokenString() const;
  // The string's characters as UTF-16 units (8-bit characters map to the unit of equal value).
  const std::u16string& TokenWideString() const { return FWideString; }
  int64_t TokenInt() const { return FTokenInt; }
  // The float token's value as extended; raises EParserError when it is out of range.
  long double TokenFloat() const;
  // The float's suffix in lower case: 's', 'c', 'd', or 0 for none.
  char FloatType() const { return FFloatType; }
  // Whether the current token is the symbol name, compared without regard to case.
  bool TokenSymbolIs(std::string_view name) const;
  // Whether the token after the current one starts with c; the position does not move.
  bool NextCharIs(char c) const;

  // Raise EParserError unless the current token is the one named.
  void CheckToken(char token) const;
  void CheckTokenSymbol(std::string_view name) const;
  // With '{' as the current token: reads hex digits (whitespace between them is allowed) up to
  // the closing '}', which becomes the current token, and returns the bytes they spell.
  std::string HexToBinary();

  // Raises EParserError "<message> on line <current token's line>".
  [[noreturn]] void Error(std::string_view message) const;

 private:
  [[noreturn]] void ErrorAt(std::string_view message, int line) const;
  void SkipBlanks();
  void ScanString();
  void ScanNumber();

  std::string FText;
  std::size_t FPos = 0;
  int FLine = 1;
  char FToken = toEOF;
  int FTokenLine = 1;
  std::string FTokenText;
  std::u16string FWideString;
  int64_t FTokenInt = 0;
  char FFloatType = 0;
};
