// A second encoder for the LZRW1-KH block format (LZRW1KH.h) that makes smaller blocks than the
// greedy CompressBlock, for builds that can spend more time packing.
//
// It writes the same format with the same items: literal bytes, matches of 3 to 18 bytes from
// 1 to 4,095 bytes back, runs of 16 to 4,111 equal bytes (the whole range the decoder reads,
// where the greedy encoder stops at 4,095), grouped under 16-bit command words, and the copied
// form when the compressed one would be larger than the input. Every block it makes is read by
// DecompressBlock as it stands; only the choice of items differs.
//
// The choice: for every position of the block it finds the longest match within the window
// (exactly, through one binary search tree of earlier positions per hash of three bytes, ordered
// by their next 18 bytes), then picks by dynamic programming, from the end of the block back,
// the items that give the fewest bits in all, counting 9 bits for a literal, 17 for a match and
// 33 for a run: each item's bytes and its command bit. Every match costs the same whatever its
// length and distance, so the longest match at a position stands for all shorter ones. The
// only thing this leaves out is the padding of the last command word (fewer than 16 bits), so a
// block is never more than one byte larger than the smallest block the format allows for its
// input. Only where a search tree grows deeper than a fixed bound (which real inputs almost
// never reach) is the oldest part of the tree dropped, and a longest match may be missed.
//
// Memory: about 16 bytes per input byte of the largest block compressed so far (some 512 KiB
// for a container chunk of 32,783 bytes) and a 64 KiB table, owned by the object, allocated on
// first use and reused. An object is not re-entrant: one compression at a time per object.
// Separate objects share nothing and may work at the same time; the greedy encoder's hash
// table is not used.
#pragma once

#include <cstdint>
#include <vector>

class TOptimalEncoder {
 public:
  // The largest input: the copied form of it, one byte longer, still has a 16-bit size.
  static constexpr uint16_t MaxSourceSize = 65534;

  TOptimalEncoder() = default;
  TOptimalEncoder(const TOptimalEncoder&) = delete;
  TOptimalEncoder& operator=(const TOptimalEncoder&) = delete;

  // Compresses sourceSize bytes (at most MaxSourceSize) into one block at dest and returns the
  // block's size, 1 to sourceSize + 1: the compressed form when it is not larger than the
  // input, else the copied form. dest must hold sourceSize + 1 bytes and must not overlap
  // source; nothing is written beyond the returned size, and nothing is read beyond the input.
  // Raises std::bad_alloc when the working memory cannot be had; nothing else.
  uint16_t CompressBlock(const uint8_t* source, uint8_t* dest, uint16_t sourceSize);

 private:
  void Prepare(uint32_t n);
  void FindLongestMatches(uint32_t n);
  void ChooseItems(uint32_t n);
  uint32_t BlockSize(uint32_t n) const;
  void WriteItems(uint32_t n, uint8_t* dest) const;

  // The input, followed by zero bytes so that 8-byte loads near its end stay inside.
  std::vector<uint8_t> FInput;
  // The newest position of each hash of three bytes: the root of its search tree.
  std::vector<uint16_t> FRoots;
  // The two subtrees of each position's node: earlier positions whose next 18 bytes sort
  // before and after its own.
  std::vector<uint16_t> FSmaller;
  std::vector<uint16_t> FLarger;
  // The longest match at each position (0 when below 3) and its distance.
  std::vector<uint8_t> FLongest;
  std::vector<uint16_t> FDistance;
  // The fewest bits that code the input from each position to its end, and the item that
  // starts the best coding there: 1 a literal, 3 to 18 a match, RunItem + count a run.
  std::vector<uint32_t> FCost;
  std::vector<uint16_t> FStep;
  // Positions waiting as the ends of a run, for the sliding minimum over them.
  std::vector<uint16_t> FRunEnds;
};
