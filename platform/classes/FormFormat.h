// The binary form format: its signature and the value-type bytes that precede every value.
//
// A description is the signature "TPF0" and one object. An object is an optional flags prefix
// (0xF0 | flags, followed by a child position when flag 0x02 is set), its class name and its
// object name as short strings (a length byte and that many characters), its properties (each a
// short-string name and a value) ended by an empty name, then its child objects ended by a zero
// byte. All numbers are little-endian.
#pragma once

#include <cstdint>

inline constexpr char FilerSignature[4] = {'T', 'P', 'F', '0'};

enum class TValueType : uint8_t {
  vaNull = 0,      // ends a list
  vaList = 1,      // values up to a vaNull
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,  // 80-bit extended float, 10 bytes
  vaString = 6,    // length byte + characters
  vaIdent = 7,     // length byte + characters
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,   // 32-bit length + bytes
  vaSet = 11,      // short-string names ended by an empty name
  vaLString = 12,  // 32-bit length + characters
  vaNil = 13,
  vaCollection = 14,  // items (vaList, optional order value before it) up to a vaNull
  vaSingle = 15,      // 4-byte float
  vaCurrency = 16,    // 64-bit integer scaled by 10,000
  vaDate = 17,        // 8-byte double
  vaWString = 18,     // 32-bit count of UTF-16 units + units
  vaInt64 = 19,
  vaUTF8String = 20,  // 32-bit length + UTF-8 bytes
};

inline constexpr uint8_t MaxValueType = 20;

// Flags of the optional object prefix.
inline constexpr uint8_t ffInherited = 0x01;
inline constexpr uint8_t ffChildPos = 0x02;
inline constexpr uint8_t ffInline = 0x04;

// Objects and lists nested deeper than this are refused as a damaged description; the readers
// recurse once per level.
inline constexpr int MaxFormNesting = 64;
