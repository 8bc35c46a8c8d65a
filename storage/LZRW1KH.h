// The LZRW1-KH block codec: turns one block of input bytes into one compressed block and back.
//
// A block starts with a flag byte. 0x80 is the copied form: the input bytes follow unchanged.
// Any other flag (the encoder writes 0x40) is the compressed form: groups of a 16-bit big-endian
// command word and up to 16 items, one bit per item from bit 15 down, 0 for a literal byte and
// 1 for a match (2 bytes: 12-bit distance, 4-bit length - 3) or a run (4 bytes: 00, 0n nn with
// count - 16, the byte). A 1 item whose 12-bit distance field is 0 is a run. The items end where
// the block ends; the command word of the last group is shifted so its first item is bit 15.
//
// The encoder is a single-pass greedy coder over one hash table of 4,096 signed 16-bit entries
// that belongs to this unit. The table is allocated once when the program starts; if that fails
// the start-up step raises ELzrw1KHCompressor "LZRW1KH : no memory for HASH table".
// CompressBlock therefore is not re-entrant: run one compression at a time. DecompressBlock
// touches only its arguments and may run anywhere. OptimalEncoder.h holds a slower encoder of
// the same format that makes smaller blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SysUtils.h"

TAVRIX_DECLARE_EXCEPTION(ELzrw1KHCompressor, Exception);

namespace LZRW1KH {
inline constexpr int HashTableEntries = 4096;
inline constexpr std::size_t HashTableBytes = HashTableEntries * sizeof(int16_t);
// The encoder may write this many bytes beyond the input size before it sees that the
// compressed form has outgrown the input.
inline constexpr uint16_t CompressSlack = 6;
// An empty hash table entry.
inline constexpr int16_t EmptyEntry = -1;
}  // namespace LZRW1KH

// The hash key of the three bytes at p: b0·256 XOR b1·16 XOR b2.
constexpr uint16_t HashKey(const uint8_t* p) {
  return static_cast<uint16_t>(((((p[0] << 4) ^ p[1]) << 4) ^ p[2]) & 0xFFFF);
}

// The hash table entry of a key: ((key × 40,543) >> 4) AND 0x0FFF, in unsigned 32-bit arithmetic.
constexpr uint16_t HashIndex(uint16_t key) {
  return static_cast<uint16_t>(((static_cast<uint32_t>(key) * 40543u) >> 4) & 0x0FFF);
}

// The unit's start-up step: asks allocate once for HashTableBytes bytes and returns the table.
// When allocate returns nullptr or throws std::bad_alloc, raises ELzrw1KHCompressor
// "LZRW1KH : no memory for HASH table". The program's own table is made by a static initialiser
// with std::malloc and released with std::free when the program ends.
int16_t* AllocateHashTable(void* (*allocate)(std::size_t size));

// Looks up the entry of the three bytes at position x in hashTable, measures the match against
// the position found there (at most 18 bytes, not beyond sourceSize, possibly overlapping x)
// and enters x in the table whatever the outcome. Returns true for a match of 3 or more bytes
// whose source lies fewer than 4,096 bytes back, with its length in matchLength and its position
// in matchPos. Needs x + 2 < sourceSize. Entries read back as signed numbers, so positions of
// 32,768 and above are entered but never serve as a match source.
bool FindMatch(const uint8_t* source, uint16_t x, uint16_t sourceSize, int16_t* hashTable,
               uint16_t& matchLength, uint16_t& matchPos);

// Compresses sourceSize bytes (at most 65,534; the container passes at most 32,783) into one
// block at dest and returns the block's size, 1 to sourceSize + 1. dest must hold
// sourceSize + CompressSlack bytes and must not overlap source; bytes beyond the returned size
// are scratch. Reads nothing beyond the input. Uses and changes the unit's hash table.
uint16_t CompressBlock(const uint8_t* source, uint8_t* dest, uint16_t sourceSize);

// Restores the block of sourceSize bytes at source into dest and returns the number of bytes
// written (0 for a block of 0 or 1 bytes, and for a compressed block of 2 or 3 bytes).
// Never reads outside the block and never writes outside dest[0, destCapacity), whatever the
// block holds: an item that runs past the end of the block, a match that reaches back before
// the start of this block's output, or an output larger than destCapacity raises EReadError
// "Damaged compressed block: ...". dest must not overlap source. Bytes of dest beyond the
// returned size may have been overwritten; on a failure dest holds whatever was restored before
// it.
uint16_t DecompressBlock(const uint8_t* source, uint8_t* dest, uint16_t sourceSize,
                         uint16_t destCapacity);
