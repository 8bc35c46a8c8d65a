#include "LZRW1KH.h"

#include <algorithm>
#include <array>
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

// Each byte with its bits in reverse order.
constexpr auto ReversedByte = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned v = 0; v < 256; ++v) {
    unsigned r = 0;
    for (unsigned bit = 0; bit < 8; ++bit) r |= ((v >> bit) & 1u) << (7 - bit);
    table[v] = static_cast<uint8_t>(r);
  }
  return table;
}();

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
  const uint8_t* ip = source;  // input position
  const uint8_t* const ipEnd = source + n;
  // Up to here a full match length lies ahead of the input position.
  const uint8_t* const ipFastEnd = n >= MaxMatch ? ipEnd - MaxMatch : nullptr;
  uint8_t* op = dest + 3;             // output position
  uint8_t* const opLimit = dest + n;  // coding goes on while the output position is not beyond
  uint8_t* commandAt = dest + 1;
  // The command bits of the current group below a marker bit; the marker reaching bit 16 means
  // that 16 items have been coded.
  uint32_t c = 1;
  dest[0] = CompressedFlag;

  auto startGroupIfFull = [&] {
    if (c >= 0x10000u) {
      commandAt[0] = static_cast<uint8_t>(c >> 8);
      commandAt[1] = static_cast<uint8_t>(c);
      commandAt = op;
      op += 2;
      c = 1;
    }
  };
  auto codeRun = [&](uint32_t length) {
    const uint32_t v = length - MinRun;
    op[0] = 0;
    op[1] = static_cast<uint8_t>(v >> 8);
    op[2] = static_cast<uint8_t>(v);
    op[3] = ip[0];
    op += 4;
    ip += length;
    c = (c << 1) | 1;
  };
  auto codeMatch = [&](uint32_t length, uint32_t distance) {
    const uint32_t v = (distance << 4) | (length - MinMatch);
    op[0] = static_cast<uint8_t>(v >> 8);
    op[1] = static_cast<uint8_t>(v);
    op += 2;
    ip += length;
    c = (c << 1) | 1;
  };
  auto codeLiteral = [&] {
    *op++ = *ip++;
    c <<= 1;
  };

  // While a full match length lies ahead, every item is decided from 8-byte loads with as few
  // unpredictable branches as possible; the decisions are those of RunLength and FindMatchAt.
  while (ip <= ipFastEnd && op <= opLimit) {
    startGroupIfFull();
    const uint64_t here = Load64(ip);
    // Sixteen equal bytes: ip[i] == ip[i + 1] for i = 0 .. 14.
    if (((here ^ Load64(ip + 1)) | (Load64(ip + 7) ^ Load64(ip + 8))) == 0) {
      codeRun(RunLength(ip, static_cast<uint32_t>(ipEnd - ip)));
      continue;
    }
    const uint32_t x = static_cast<uint32_t>(ip - source);
    int16_t& slot = table[HashIndex(HashKey(ip))];
    const uint32_t entry = static_cast<uint16_t>(slot);  // empty and 32,768 up: 32,768 or more
    slot = static_cast<int16_t>(x);
    const bool inWindow = (entry < 0x8000u) & (x - entry <= MaxDistance);
    const uint8_t* from = source + (inWindow ? entry : 0);
    uint32_t m;
    if (const uint64_t d = here ^ Load64(from); d != 0) {
      m = EqualBytes(d);
    } else if (const uint64_t d8 = Load64(ip + 8) ^ Load64(from + 8); d8 != 0) {
      m = 8 + EqualBytes(d8);
    } else {
      m = 16 + (ip[16] == from[16]) + (ip[16] == from[16] && ip[17] == from[17]);
    }
    if (inWindow && m >= MinMatch) {
      codeMatch(m, x - entry);
    } else {
      codeLiteral();
    }
  }
  while (ip < ipEnd && op <= opLimit) {
    startGroupIfFull();
    const uint32_t x = static_cast<uint32_t>(ip - source);
    uint32_t length;
    uint32_t position;
    if ((length = RunLength(ip, n - x)) != 0) {
      codeRun(length);
    } else if (x + 2 < n && FindMatchAt(source, x, n, table, length, position)) {
      codeMatch(length, x - position);
    } else {
      codeLiteral();
    }
  }
  // Shift the bits of the last group up to bit 15 (a group of 0 items leaves 0).
  c <<= 16 - (31 - std::countl_zero(c));
  commandAt[0] = static_cast<uint8_t>(c >> 8);
  commandAt[1] = static_cast<uint8_t>(c);
  if (op <= opLimit) return static_cast<uint16_t>(op - dest);

  dest[0] = CopiedFlag;
  if (n != 0) std::memcpy(dest + 1, source, n);
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
  auto room = [&] { return static_cast<uint32_t>(opEnd - op); };

  // The items of a group: bit i is the kind of item i (0 literal, 1 match or run) and bit 16
  // marks the end of the group; `next` is the index of the next item. Each step takes the
  // stretch of literal items before the next 1 bit (maybe none), then that match or run item.
  uint32_t kinds = 0;
  uint32_t next = 0;
  auto startGroup = [&](const uint8_t* commandWord) {
    kinds = ReversedByte[commandWord[0]] | (ReversedByte[commandWord[1]] << 8) | 0x10000u;
    next = 0;
  };
  startGroup(source + 1);

  // A group with this many bytes left in the block cannot run past its end, with room to read
  // 16 bytes beyond its last item and its next command word. With this much room in the output
  // area, 16 items of up to 18 bytes each, copied in pieces of 16, cannot overflow it.
  constexpr ptrdiff_t FastGroupInput = 2 + 16 * 4 + 16;
  constexpr uint32_t FastGroupOutput = 16 * MaxMatch + 32;

  // The rest of the current group without checks against the end of the block; matches are
  // checked against the start of the output only when NearStart. Fixed-size copies may write
  // beyond the item they restore, never beyond the output area; the items that follow overwrite
  // those bytes. Returns false when a run has left too little room for the rest of the group.
  auto fastGroup = [&]<bool NearStart>() {
    for (;;) {
      // kinds is never 0: bit 16 stays set.
      const uint32_t at = static_cast<uint32_t>(__builtin_ctz(kinds));
      const uint32_t count = at - next;
      Copy16(op, ip);
      op += count;
      ip += count;
      if (at == 16) return true;
      kinds &= kinds - 1;
      next = at + 1;
      const uint32_t v = (static_cast<uint32_t>(ip[0]) << 8) | ip[1];
      const uint32_t distance = v >> 4;
      if (distance == 0) {
        const uint32_t length = ((v << 8) | ip[2]) + MinRun;
        if (length > room()) Damaged("the output does not fit in the output area");
        std::memset(op, ip[3], length);
        op += length;
        ip += 4;
        if (room() < FastGroupOutput) return false;
        continue;
      }
      const uint32_t length = (v & 0x0F) + MinMatch;
      ip += 2;
      if (NearStart && distance > static_cast<uint32_t>(op - dest)) {
        Damaged("a match reaches back before the start of the output");
      }
      const uint8_t* from = op - distance;
      // Each piece reads only bytes written before it.
      if (distance >= 16) {
        Copy16(op, from);
        if (length > 16) Copy16(op + 16, from + 16);
      } else if (distance >= 8) {
        Copy8(op, from);
        Copy8(op + 8, from + 8);
        if (length > 16) Copy8(op + 16, from + 16);
      } else {
        // Byte by byte, so that the last `distance` bytes repeat.
        for (uint32_t i = 0; i < length; ++i) op[i] = from[i];
      }
      op += length;
    }
  };

  for (;;) {
    if (ipEnd - ip >= FastGroupInput && room() >= FastGroupOutput) {
      const bool whole = op - dest >= static_cast<ptrdiff_t>(MaxDistance)
                             ? fastGroup.template operator()<false>()
                             : fastGroup.template operator()<true>();
      if (whole) {
        startGroup(ip);
        ip += 2;
        continue;
      }
    }

    // Every item checked against the end of the block and the end of the output area.
    for (;;) {
      const uint32_t at = static_cast<uint32_t>(std::countr_zero(kinds));
      // The block may end inside a group: the items end with it.
      const uint32_t count = std::min(at - next, static_cast<uint32_t>(ipEnd - ip));
      if (count > room()) Damaged("the output does not fit in the output area");
      if (count != 0) std::memcpy(op, ip, count);
      op += count;
      ip += count;
      if (ip == ipEnd) return static_cast<uint16_t>(op - dest);
      if (at == 16) break;
      kinds &= kinds - 1;
      next = at + 1;
      if (ipEnd - ip < 2) Damaged("an item runs past the end of the block");
      const uint32_t b1 = ip[1];
      const uint32_t distance = (static_cast<uint32_t>(ip[0]) << 4) | (b1 >> 4);
      if (distance == 0) {
        if (ipEnd - ip < 4) Damaged("an item runs past the end of the block");
        const uint32_t length = ((b1 << 8) | ip[2]) + MinRun;
        if (length > room()) Damaged("the output does not fit in the output area");
        std::memset(op, ip[3], length);
        op += length;
        ip += 4;
        continue;
      }
      const uint32_t length = (b1 & 0x0F) + MinMatch;
      ip += 2;
      if (distance > static_cast<uint32_t>(op - dest)) {
        Damaged("a match reaches back before the start of the output");
      }
      if (length > room()) Damaged("the output does not fit in the output area");
      const uint8_t* from = op - distance;
      for (uint32_t i = 0; i < length; ++i) op[i] = from[i];
      op += length;
    }
    if (ipEnd - ip < 2) Damaged("a command word runs past the end of the block");
    startGroup(ip);
    ip += 2;
  }
}
