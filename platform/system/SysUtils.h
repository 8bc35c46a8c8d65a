// The root of the exception family, message formatting and a few string helpers.
//
// Every failure in Tavrix is a C++ exception derived from Exception. Each class carries its
// own class name (what the error boxes show) and a message text. Exceptions are thrown by value
// and caught by reference.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

// The root object class. Event senders and plain classes derive from it.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;
};

class Exception : public std::exception {
 public:
  explicit Exception(std::string message, std::string reason = {})
      : FMessage(std::move(message)), FReason(std::move(reason)) {}

  // The name of the most derived exception class, for example "EReadError".
  virtual const char* ClassName() const noexcept { return "Exception"; }

  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }

  // The system's reason for the failure when it is known ("Permission denied"), else empty. It is
  // not part of the message, whose fixed texts the message boxes show as they are; a tool that
  // reports to a person in messages of its own (mksetup) adds it.
  const std::string& Reason() const noexcept { return FReason; }

  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
  std::string FReason;
};

// Declares an exception class that adds nothing but its name to its base.
#define TAVRIX_DECLARE_EXCEPTION(EName, EBase)                         \
  class EName : public EBase {                                         \
   public:                                                             \
    using EBase::EBase;                                                \
    const char* ClassName() const noexcept override { return #EName; } \
  }

TAVRIX_DECLARE_EXCEPTION(EOutOfMemory, Exception);
TAVRIX_DECLARE_EXCEPTION(EInvalidOperation, Exception);
TAVRIX_DECLARE_EXCEPTION(EConvertError, Exception);
TAVRIX_DECLARE_EXCEPTION(EStreamError, Exception);
TAVRIX_DECLARE_EXCEPTION(EFCreateError, EStreamError);
TAVRIX_DECLARE_EXCEPTION(EFOpenError, EStreamError);
TAVRIX_DECLARE_EXCEPTION(EFilerError, EStreamError);
TAVRIX_DECLARE_EXCEPTION(EReadError, EFilerError);
TAVRIX_DECLARE_EXCEPTION(EWriteError, EFilerError);
TAVRIX_DECLARE_EXCEPTION(EClassNotFound, EFilerError);
TAVRIX_DECLARE_EXCEPTION(EParserError, Exception);

// The platform's standard message texts.
namespace SysConst {
inline constexpr const char* SFOpenError = "Cannot open file %s";
inline constexpr const char* SFCreateError = "Cannot create file %s";
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SOutOfMemory = "Out of memory";
}  // namespace SysConst

// One argument of Format: a string or an integer.
class TFormatArg {
 public:
  TFormatArg(const char* s)
      : FIsText(true), FText(s ? s : "") {}  // NOLINT(google-explicit-constructor)
  TFormatArg(std::string_view s)
      : FIsText(true), FText(s) {}  // NOLINT(google-explicit-constructor)
  TFormatArg(const std::string& s)
      : FIsText(true), FText(s) {}      // NOLINT(google-explicit-constructor)
  TFormatArg(long long v) : FInt(v) {}  // NOLINT(google-explicit-constructor)
  TFormatArg(int v) : FInt(v) {}        // NOLINT(google-explicit-constructor)
  TFormatArg(long v) : FInt(v) {}       // NOLINT(google-explicit-constructor)
  TFormatArg(unsigned v) : FInt(v) {}   // NOLINT(google-explicit-constructor)
  TFormatArg(unsigned long v)
      : FInt(static_cast<long long>(v)) {}  // NOLINT(google-explicit-constructor)
  TFormatArg(const void* p)
      : FInt(static_cast<long long>(reinterpret_cast<std::uintptr_t>(p))),
        FIsPointer(true) {}  // NOLINT

  bool IsText() const { return FIsText; }
  bool IsPointer() const { return FIsPointer; }
  const std::string& Text() const { return FText; }
  long long Int() const { return FInt; }

 private:
  bool FIsText = false;
  std::string FText;
  long long FInt = 0;
  bool FIsPointer = false;
};

// Formats a message: %s takes the next argument as text (an integer is written in decimal),
// %d an integer in decimal, %x in upper-case hexadecimal, %p a pointer as eight or more hex
// digits, %% a percent sign. A directive without a matching argument, or an argument of the
// wrong kind for %d/%x, raises EConvertError; nothing is read past the arguments given.
std::string Format(std::string_view format, std::initializer_list<TFormatArg> args);

// Little-endian numbers in byte buffers, as every stored format of the program keeps them. The
// one family for them: a format that needs fewer bytes of a wider number stores the wider one and
// takes its first bytes (the low ones come first).
constexpr uint16_t LoadLE16(const uint8_t* p) {
  return static_cast<uint16_t>(static_cast<uint16_t>(p[0]) | static_cast<uint16_t>(p[1]) << 8);
}
constexpr uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
constexpr uint64_t LoadLE64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadLE32(p)) | static_cast<uint64_t>(LoadLE32(p + 4)) << 32;
}
constexpr void StoreLE16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}
constexpr void StoreLE32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}
constexpr void StoreLE64(uint8_t* p, uint64_t value) {
  StoreLE32(p, static_cast<uint32_t>(value));
  StoreLE32(p + 4, static_cast<uint32_t>(value >> 32));
}

// Case-insensitive comparison of 8-bit strings, as the form reader compares names.
bool SameText(std::string_view a, std::string_view b);
