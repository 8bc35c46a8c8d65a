// Feeds arbitrary bytes to the form text converters. Input that starts with the binary signature
// goes to ObjectBinaryToText, anything else to ObjectTextToBinary. A damaged description must end
// in EReadError (binary) or EParserError (text) and nothing else; whatever converts must survive
// the way back:
//   binary -> text -> binary -> text   gives the same text both times,
//   text -> binary -> text -> binary   gives the same binary both times.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ObjectText.h"

namespace {

std::string Contents(TMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.Memory()),
                     static_cast<std::size_t>(stream.Size()));
}

std::string BinaryToText(const std::string& binary) {
  TMemoryStream input;
  TMemoryStream output;
  input.WriteBuffer(binary.data(), static_cast<int32_t>(binary.size()));
  input.SetPosition(0);
  ObjectBinaryToText(input, output);
  return Contents(output);
}

std::string TextToBinary(const std::string& text) {
  TMemoryStream input;
  TMemoryStream output;
  input.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  input.SetPosition(0);
  ObjectTextToBinary(input, output);
  return Contents(output);
}

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s\n%s\n", what, detail.c_str());
  std::abort();
}

// Converts output of our own; any exception here is a fault.
template <typename F>
std::string MustConvert(F convert, const std::string& input, const char* what) {
  try {
    return convert(input);
  } catch (const Exception& e) {
    Fail(what, std::string(e.ClassName()) + ": " + e.Message() + "\n" + input);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with("TPF0")) {
    std::string text;
    try {
      text = BinaryToText(input);
    } catch (const EReadError&) {
      return 0;  // a damaged description fails cleanly
    }
    std::string binary = MustConvert(TextToBinary, text, "our text does not convert back");
    std::string again = MustConvert(BinaryToText, binary, "converted text does not convert back");
    if (again != text) Fail("the text changed on the way back", text + "\n---\n" + again);
  } else {
    std::string binary;
    try {
      binary = TextToBinary(input);
    } catch (const EParserError&) {
      return 0;  // bad text fails cleanly
    }
    std::string text = MustConvert(BinaryToText, binary, "parsed text does not convert to text");
    std::string again = MustConvert(TextToBinary, text, "our text does not convert back");
    if (again != binary) Fail("the binary changed on the way back", text);
  }
  return 0;
}
