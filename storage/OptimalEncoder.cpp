#include "OptimalEncoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "SysUtils.h"

namespace {

constexpr uint32_t MinMatch = 3;
constexpr uint32_t MaxMatch = 18;
constexpr uint32_t MaxDistance = 4095;
constexpr uint32_t MinRun = 16;
constexpr uint32_t MaxRun = 4111;  // the 12-bit count field holds count - 16
constexpr uint8_t CompressedFlag = 0x40;
constexpr uint8_t CopiedFlag = 0x80;

// What each item costs: its bytes and its command bit.
constexpr uint32_t LiteralBits = 9;
constexpr uint32_t MatchBits = 17;
constexpr uint32_t RunBits = 33;

// In a step, this bit marks a run; the count is below it.
constexpr uint16_t RunItem = 0x8000;

// No position: an empty tree or subtree. Never a position, as inputs stop at 65,534 bytes.
constexpr uint16_t Nil = 0xFFFF;

constexpr int RootBits = 15;
constexpr std::size_t Roots = std::size_t{1} << RootBits;

// A search stops this many nodes down; what lies below is dropped from the tree. Real inputs
// stay far above it (a tree holds the positions of 4,095 bytes at most, and a node whose next
// 18 bytes repeat is replaced rather than kept), so it only bounds the time on degenerate ones.
constexpr int MaxTreeDepth = 256;

// Zero bytes behind the input: a key of 18 bytes read 8 at a time from the last position that
// is searched (3 bytes before the end) stays inside.
constexpr std::size_t InputPadding = MaxMatch + 8 + 6;

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The number of equal leading bytes of two 8-byte loads whose XOR is d (d != 0).
inline uint32_t EqualBytes(uint64_t d) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<uint32_t>(std::countr_zero(d)) >> 3;
  } else {
    return static_cast<uint32_t>(std::countl_zero(d)) >> 3;
  }
}

// The common length of a and b, at most MaxMatch, knowing that the first `known` bytes agree.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t known) {
  for (uint32_t length = known; length < MaxMatch; length += 8) {
    if (const uint64_t d = Load64(a + length) ^ Load64(b + length); d != 0) {
      return std::min(length + EqualBytes(d), MaxMatch);
    }
  }
  return MaxMatch;
}

inline uint32_t RootOf(const uint8_t* p) {
  const uint32_t three =
      p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
  return (three * 2654435761u) >> (32 - RootBits);
}

}  // namespace

uint16_t TOptimalEncoder::CompressBlock(const uint8_t* source, uint8_t* dest, uint16_t sourceSize) {
  if (sourceSize > MaxSourceSize) {
    throw EInvalidOperation("The optimal encoder takes blocks of at most 65534 bytes");
  }
  const uint32_t n = sourceSize;
  Prepare(n);
  if (n != 0) std::memcpy(FInput.data(), source, n);
  std::fill_n(FInput.begin() + n, InputPadding, uint8_t{0});

  FindLongestMatches(n);
  ChooseItems(n);
  const uint32_t size = BlockSize(n);
  if (size <= n) {
    WriteItems(n, dest);
    return static_cast<uint16_t>(size);
  }
  dest[0] = CopiedFlag;
  if (n != 0) std::memcpy(dest + 1, source, n);
  return static_cast<uint16_t>(n + 1);
}

void TOptimalEncoder::Prepare(uint32_t n) {
  if (FRoots.empty()) FRoots.resize(Roots);
  if (FInput.size() < n + InputPadding) {
    FInput.resize(n + InputPadding);
    FSmaller.resize(n);
    FLarger.resize(n);
    FLongest.resize(n);
    FDistance.resize(n);
    FCost.resize(n + 1);
    FStep.resize(n + 1);
    FRunEnds.resize(n);
  }
}

// Every position with three bytes left goes into the tree of its first three bytes, as its new
// root; the search for its place passes the positions whose next 18 bytes sort next to its own
// on either side, and the longest match of all lies with one of them. The tree is split along
// that path into the new root's two subtrees. A node's descendants are all older than the node,
// so the first one out of the window ends the search with everything below it. A node whose 18
// bytes equal the new key is replaced by the new position, which is nearer for every later one.
void TOptimalEncoder::FindLongestMatches(uint32_t n) {
  std::fill(FRoots.begin(), FRoots.end(), Nil);
  const uint8_t* const s = FInput.data();
  uint32_t i = 0;
  for (; i + MinMatch <= n; ++i) {
    uint16_t& root = FRoots[RootOf(s + i)];
    uint32_t node = root;
    root = static_cast<uint16_t>(i);
    // Where the next node that sorts before (after) the new key hangs, and how many bytes the
    // key shares with the last such node passed: every node below shares at least the fewer.
    uint16_t* smallerLink = &FSmaller[i];
    uint16_t* largerLink = &FLarger[i];
    uint32_t smallerLength = 0;
    uint32_t largerLength = 0;
    uint32_t longest = 0;
    uint32_t distance = 0;
    for (int depth = MaxTreeDepth;; --depth) {
      // Nil and positions more than MaxDistance back both fail: the difference wraps around.
      if (i - node - 1 >= MaxDistance || depth == 0) {
        *smallerLink = Nil;
        *largerLink = Nil;
        break;
      }
      const uint32_t length = CommonLength(s + node, s + i, std::min(smallerLength, largerLength));
      if (length > longest) {
        longest = length;
        distance = i - node;
      }
      if (length == MaxMatch) {
        *smallerLink = FSmaller[node];
        *largerLink = FLarger[node];
        break;
      }
      if (s[node + length] < s[i + length]) {
        *smallerLink = static_cast<uint16_t>(node);
        smallerLink = &FLarger[node];
        smallerLength = length;
        node = *smallerLink;
      } else {
        *largerLink = static_cast<uint16_t>(node);
        largerLink = &FSmaller[node];
        largerLength = length;
        node = *largerLink;
      }
    }
    // The keys run on into the zero bytes behind the input; a match stops at its end.
    longest = std::min(longest, n - i);
    FLongest[i] = static_cast<uint8_t>(longest >= MinMatch ? longest : 0);
    FDistance[i] = static_cast<uint16_t>(distance);
  }
  for (; i < n; ++i) FLongest[i] = 0;
}

// From the end of the input back, the cheapest coding from each position on: a literal and the
// best from the next position, a match of any length up to the longest and the best from its
// end, or a run to any end within the stretch of equal bytes and MaxRun. The best over a run's
// possible ends is a minimum over a window that slides back with the position, kept in
// FRunEnds: ends in descending order with ascending costs, so the cheapest is at the front.
void TOptimalEncoder::ChooseItems(uint32_t n) {
  const uint8_t* const s = FInput.data();
  FCost[n] = 0;
  uint32_t equalEnd = n;  // the end of the stretch of equal bytes that holds the position
  uint32_t front = 0;
  uint32_t back = 0;
  for (uint32_t i = n; i-- > 0;) {
    if (i + 1 == n || s[i] != s[i + 1]) {
      equalEnd = i + 1;
      front = back = 0;
    }
    uint32_t best = FCost[i + 1] + LiteralBits;
    uint32_t step = 1;
    for (uint32_t length = FLongest[i]; length >= MinMatch; --length) {
      const uint32_t cost = FCost[i + length] + MatchBits;
      if (cost < best) {
        best = cost;
        step = length;
      }
    }
    if (equalEnd - i >= MinRun) {
      const uint32_t end = i + MinRun;
      while (back > front && FCost[FRunEnds[back - 1]] >= FCost[end]) --back;
      FRunEnds[back++] = static_cast<uint16_t>(end);
      while (FRunEnds[front] > i + MaxRun) ++front;
      const uint32_t cheapestEnd = FRunEnds[front];
      const uint32_t cost = FCost[cheapestEnd] + RunBits;
      if (cost < best) {
        best = cost;
        step = RunItem | (cheapestEnd - i);
      }
    }
    FCost[i] = best;
    FStep[i] = static_cast<uint16_t>(step);
  }
}

// The size of the compressed form that the chosen items make: the flag, the items' bytes and a
// command word for every 16 items (the first one even when there are none).
uint32_t TOptimalEncoder::BlockSize(uint32_t n) const {
  uint32_t items = 0;
  uint32_t itemBytes = 0;
  for (uint32_t i = 0; i < n; ++items) {
    const uint32_t step = FStep[i];
    if (step == 1) {
      itemBytes += 1;
      i += 1;
    } else if (step & RunItem) {
      itemBytes += 4;
      i += step & ~uint32_t{RunItem};
    } else {
      itemBytes += 2;
      i += step;
    }
  }
  return 1 + itemBytes + 2 * std::max<uint32_t>(1, (items + 15) / 16);
}

void TOptimalEncoder::WriteItems(uint32_t n, uint8_t* dest) const {
  const uint8_t* const s = FInput.data();
  dest[0] = CompressedFlag;
  uint8_t* commandAt = dest + 1;
  uint8_t* op = dest + 3;
  uint32_t command = 0;
  uint32_t items = 0;  // in the current group
  for (uint32_t i = 0; i < n;) {
    // A full group gets its command word, and the next one its place, only once another item
    // follows: a block never ends with a command word.
    if (items == 16) {
      commandAt[0] = static_cast<uint8_t>(command >> 8);
      commandAt[1] = static_cast<uint8_t>(command);
      commandAt = op;
      op += 2;
      command = 0;
      items = 0;
    }
    const uint32_t step = FStep[i];
    if (step == 1) {
      *op++ = s[i];
      command <<= 1;
      i += 1;
    } else if (step & RunItem) {
      const uint32_t count = step & ~uint32_t{RunItem};
      const uint32_t v = count - MinRun;
      op[0] = 0;
      op[1] = static_cast<uint8_t>(v >> 8);
      op[2] = static_cast<uint8_t>(v);
      op[3] = s[i];
      op += 4;
      command = (command << 1) | 1;
      i += count;
    } else {
      const uint32_t v = (static_cast<uint32_t>(FDistance[i]) << 4) | (step - MinMatch);
      op[0] = static_cast<uint8_t>(v >> 8);
      op[1] = static_cast<uint8_t>(v);
      op += 2;
      command = (command << 1) | 1;
      i += step;
    }
    ++items;
  }
  // The last group's first item goes to bit 15.
  command <<= 16 - items;
  commandAt[0] = static_cast<uint8_t>(command >> 8);
  commandAt[1] = static_cast<uint8_t>(command);
}
