#include "LZRW1KH.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

using namespace LZRW1KH;

constexpr uint32_t MaxDistance = 4095;
constexpr uint32_t MinMatch = 3;
constexpr uint32_t MaxMatch = 18;
constexpr uint32_t MinRun = 16;
constexpr uint32_t MaxRun = 4095;
constexpr uint8_t CompressedFlag = 0x40;
constexpr uint8_t CopiedFlag = 0x80;

// The program's one hash table: allocated before main() runs, released after it returns.
struct THashTableHolder {
  int16_t* Table;
  ~THashTableHolder() { std::free(Table); }
};
THashTableHolder HashTable{AllocateHashTable([](std::size_t size) { return std::malloc(size); })};

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void Copy8(uint8_t* dest, const uint8_t* source) { std::memcpy(dest, source, 8); }
inline void Copy16(uint8_t* dest, const uint8_t* source) { std::memcpy(dest, source, 16); }

// The number of equal leading bytes of two 8-byte loads whose XOR is d (d != 0).
inline uint32_t EqualBytes(uint64_t d) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<uint32_t>(std::countr_zero(d)) >> 3;
  } else {
    return static_cast<uint32_t>(std::countl_zero(d)) >> 3;
  }
}

// The number of equal bytes from p on when it is 16 or more (at most MaxRun, not beyond
// `left` bytes), else 0. The exact count below 16 never matters to the encoder, so most
// positions are settled by the first comparison.
inline uint32_t RunLength(const uint8_t* p, uint32_t left) {
  if (left < MinRun || p[1] != p[0]) return 0;
  const uint64_t pattern = 0x0101010101010101ull * p[0];
  if (((Load64(p) ^ pattern) | (Load64(p + 8) ^ pattern)) != 0) return 0;
  const uint32_t limit = std::min(MaxRun, left);
  uint32_t length = MinRun;
  while (length + 8 <= limit) {
    const uint64_t d = Load64(p + length) ^ pattern;
    if (d != 0) return length + EqualBytes(d);
    length += 8;
  }
  while (length < limit && p[length] == p[0]) ++length;
  return length;
}

// FindMatch with 32-bit positions. Storing x first is the same as storing it last: measuring
// the match does not touch the table.
inline bool FindMatchAt(const uint8_t* source, uint32_t x, uint32_t n, int16_t* table,
                        uint32_t& length, uint32_t& position) {
  int16_t& slot = table[HashIndex(HashKey(source + x))];
  const int32_t entry = slot;
  slot = static_cast<int16_t>(x);
  // An entry of 32,768 or more reads back negative and fails the window test like an empty one.
  if (entry == EmptyEntry || static_cast<int32_t>(x) - entry > static_cast<int32_t>(MaxDistance)) {
    return false;
  }
  const uint8_t* a = source + x;
  const uint8_t* b = source + entry;
  uint32_t m;
  if (n - x >= MaxMatch) {
    uint64_t d = Load64(a) ^ Load64(b);
    if (d != 0) {
      m = EqualBytes(d);
    } else if ((d = Load64(a + 8) ^ Load64(b + 8)) != 0) {
      m = 8 + EqualBytes(d);
    } else {
      m = 16 + (a[16] == b[16]) + (a[16] == b[16] && a[17] == b[17]);
    }
  } else {
    const uint32_t limit = n - x;
    m = 0;
    while (m < limit && a[m] == b[m]) ++m;
  }
  if (m < MinMatch) return false;
  length = m;
  position = static_cast<uint32_t>(entry);
  return true;
}

[[noreturn]] void Damaged(const char* what) {
  throw EReadError(std::string("Damaged compressed block: ") + what);
}

}  // namespace

int16_t* AllocateHashTable(void* (*allocate)(std::size_t size)) {
  void* table = nullptr;
  try {
    table = allocate(HashTableBytes);
  } catch (const std::bad_alloc&) {
    table = nullptr;
  }
  if (table == nullptr) throw ELzrw1KHCompressor("LZRW1KH : no memory for HASH table");
  return static_cast<int16_t*>(table);
}

bool FindMatch(const uint8_t* source, uint16_t x, uint16_t sourceSize, int16_t* hashTable,
               uint16_t& matchLength, uint16_t& matchPos) {
  uint32_t length = 0;
  uint32_t position = 0;
  if (!FindMatchAt(source, x, sourceSize, hashTable, length, position)) return false;
  matchLength = static_cast<uint16_t>(length);
  matchPos = static_cast<uint16_t>(position);
  return true;
}

uint16_t CompressBlock(const uint8_t* source, uint8_t* dest, uint16_t sourceSize) {
  int16_t* const table = HashTable.Table;
  std::memset(table, 0xFF, HashTableBytes);

  const uint32_t n = sourceSize;
  dest[0] = CompressedFlag;
  uint32_t x = 0;  // input position
  uint32_t y = 3;  // output position
  uint32_t z = 1;  // position of the current command word
  uint32_t k = 0;  // items in the current group
  uint32_t c = 0;  // command bits; only the low 16 are ever stored
  while (x < n && y <= n) {
    if (k == 16) {
      dest[z] = static_cast<uint8_t>(c >> 8);
      dest[z + 1] = static_cast<uint8_t>(c);
      z = y;
      y += 2;
      k = 0;
    }
    uint32_t length;
    uint32_t position;
    if ((length = RunLength(source + x, n - x)) != 0) {
      const uint32_t v = length - MinRun;
      dest[y] = 0;
      dest[y + 1] = static_cast<uint8_t>(v >> 8);
      dest[y + 2] = static_cast<uint8_t>(v);
      dest[y + 3] = source[x];
      y += 4;
      x += length;
      c = (c << 1) | 1;
    } else if (x + 2 < n && FindMatchAt(source, x, n, table, length, position)) {
      const uint32_t v = ((x - position) << 4) | (length - MinMatch);
      dest[y] = static_cast<uint8_t>(v >> 8);
      dest[y + 1] = static_cast<uint8_t>(v);
      y += 2;
      x += length;
      c = (c << 1) | 1;
    } else {
      dest[y++] = source[x++];
      c <<= 1;
    }
    ++k;
  }
  c <<= 16 - k;
  dest[z] = static_cast<uint8_t>(c >> 8);
  dest[z + 1] = static_cast<uint8_t>(c);
  if (y <= n) return static_cast<uint16_t>(y);

  dest[0] = CopiedFlag;
  std::memcpy(dest + 1, source, n);
  return static_cast<uint16_t>(n + 1);
}

uint16_t DecompressBlock(const uint8_t* source, uint8_t* dest, uint16_t sourceSize,
                         uint16_t destCapacity) {
  if (sourceSize <= 1) return 0;
  if (source[0] == CopiedFlag) {
    const uint16_t n = sourceSize - 1;
    if (n > destCapacity) Damaged("the copied bytes do not fit in the output area");
    std::memcpy(dest, source + 1, n);
    return n;
  }
  if (sourceSize <= 3) return 0;

  const uint8_t* ip = source + 3;
  const uint8_t* const ipEnd = source + sourceSize;
  uint8_t* op = dest;
  uint8_t* const opEnd = dest + destCapacity;
  // The command word sits in the top 16 bits, followed by a marker bit: the count of leading
  // zeros is the count of literal items ahead, and the word is used up when only the marker is
  // left at the top.
  constexpr uint32_t Spent = 0x80000000u;
  uint32_t cmd =
      (static_cast<uint32_t>(source[1]) << 24) | (static_cast<uint32_t>(source[2]) << 16) | 0x8000u;
  while (ip < ipEnd) {
    if (cmd == Spent) {
      if (ipEnd - ip < 2) Damaged("a command word runs past the end of the block");
      cmd = (static_cast<uint32_t>(ip[0]) << 24) | (static_cast<uint32_t>(ip[1]) << 16) | 0x8000u;
      ip += 2;
      continue;
    }
    if (static_cast<int32_t>(cmd) >= 0) {
      // A stretch of literal items, up to the next 1 bit or the end of the group.
      uint32_t count = static_cast<uint32_t>(std::countl_zero(cmd));
      if (ipEnd - ip >= 16 && opEnd - op >= 16) {
        Copy16(op, ip);
      } else {
        // The bits of the missing items of the last group are 0: they end with the block.
        count = std::min(count, static_cast<uint32_t>(ipEnd - ip));
        if (count > static_cast<uint32_t>(opEnd - op)) {
          Damaged("the output does not fit in the output area");
        }
        for (uint32_t i = 0; i < count; ++i) op[i] = ip[i];
      }
      op += count;
      ip += count;
      cmd <<= count;
      continue;
    }
    cmd <<= 1;
    if (ipEnd - ip < 2) Damaged("an item runs past the end of the block");
    const uint32_t b1 = ip[1];
    const uint32_t distance = (static_cast<uint32_t>(ip[0]) << 4) | (b1 >> 4);
    if (distance != 0) {
      const uint32_t length = (b1 & 0x0F) + MinMatch;
      ip += 2;
      if (distance > static_cast<uint32_t>(op - dest)) {
        Damaged("a match reaches back before the start of the output");
      }
      const uint8_t* from = op - distance;
      if (opEnd - op >= 32 && distance >= 8) {
        // Fixed-size pieces; each reads only bytes written before it, and any bytes written
        // beyond the match are overwritten by the items that follow.
        if (distance >= 16) {
          Copy16(op, from);
          Copy16(op + 16, from + 16);
        } else {
          Copy8(op, from);
          Copy8(op + 8, from + 8);
          Copy8(op + 16, from + 16);
        }
      } else {
        if (length > static_cast<uint32_t>(opEnd - op)) {
          Damaged("the output does not fit in the output area");
        }
        // Byte by byte, so that a distance shorter than the length repeats the last bytes.
        for (uint32_t i = 0; i < length; ++i) op[i] = from[i];
      }
      op += length;
    } else {
      if (ipEnd - ip < 4) Damaged("an item runs past the end of the block");
      const uint32_t count = ((b1 << 8) | ip[2]) + MinRun;
      const uint8_t value = ip[3];
      ip += 4;
      if (count > static_cast<uint32_t>(opEnd - op)) {
        Damaged("the output does not fit in the output area");
      }
      std::memset(op, value, count);
      op += count;
    }
  }
  return static_cast<uint16_t>(op - dest);
}
