#include "OptimalEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "LZRW1KH.h"
#include "TestSupport.h"

namespace {

constexpr size_t Chunk = 32783;
constexpr uint8_t Canary = 0xA5;
constexpr size_t CanaryBytes = 64;

TBytes Repeat(uint8_t byte, size_t count) { return TBytes(count, byte); }

TBytes operator+(TBytes a, const TBytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TBytes Ascending(uint8_t first, size_t count) {
  TBytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

TBytes RandomBytes(size_t count, unsigned alphabet, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng() % alphabet);
  return bytes;
}

TBytes Slice(const TBytes& bytes, size_t from, size_t count) {
  from = std::min(from, bytes.size());
  count = std::min(count, bytes.size() - from);
  return TBytes(bytes.begin() + static_cast<ptrdiff_t>(from),
                bytes.begin() + static_cast<ptrdiff_t>(from + count));
}

// Compresses into an area of exactly the promised n + 1 bytes, followed by canary bytes that
// must survive, and checks that nothing beyond the returned size was touched.
TBytes CompressOptimal(TOptimalEncoder& encoder, const TBytes& input) {
  const size_t n = input.size();
  TBytes area(n + 1 + CanaryBytes, Canary);
  const uint16_t size = encoder.CompressBlock(input.data(), area.data(), static_cast<uint16_t>(n));
  EXPECT_GE(size, 1u);
  EXPECT_LE(size, n + 1);
  EXPECT_TRUE(std::all_of(area.begin() + size, area.end(), [](uint8_t b) { return b == Canary; }))
      << "wrote beyond the block";
  area.resize(size);
  return area;
}

TBytes CompressOptimal(const TBytes& input) {
  TOptimalEncoder encoder;
  return CompressOptimal(encoder, input);
}

size_t GreedySize(const TBytes& input) {
  TBytes out(input.size() + LZRW1KH::CompressSlack);
  return CompressBlock(input.data(), out.data(), static_cast<uint16_t>(input.size()));
}

// Decodes with today's decoder into an area of exactly the input's size.
TBytes Decompress(const TBytes& block, size_t capacity) {
  TBytes area(capacity);
  const uint16_t n = DecompressBlock(block.data(), area.data(), static_cast<uint16_t>(block.size()),
                                     static_cast<uint16_t>(capacity));
  area.resize(n);
  return area;
}

// --- The smallest block, by exhaustive search ------------------------------------------------

namespace exhaustive {

// The size of the smallest block the format allows for the input: every match at every
// distance is tried, every run count, and the command words are counted exactly (a new one
// for every 16th item), by dynamic programming over (position, items so far modulo 16).
// Slow: for inputs of a few thousand bytes.
size_t SmallestBlock(const TBytes& in) {
  const size_t n = in.size();
  std::vector<size_t> longest(n, 0);
  for (size_t i = 0; i < n; ++i) {
    for (size_t d = 1; d <= std::min<size_t>(i, 4095); ++d) {
      size_t l = 0;
      while (l < 18 && i + l < n && in[i + l] == in[i + l - d]) ++l;
      longest[i] = std::max(longest[i], l);
    }
  }
  constexpr uint32_t None = std::numeric_limits<uint32_t>::max();
  // bytes[i][k]: the fewest item and command word bytes for the first i input bytes, coded in
  // a number of items that is k modulo 16.
  std::vector<std::array<uint32_t, 16>> bytes(n + 1);
  for (auto& row : bytes) row.fill(None);
  bytes[0][0] = 0;
  for (size_t i = 0; i < n; ++i) {
    size_t equal = 1;
    while (i + equal < n && in[i + equal] == in[i] && equal < 4111) ++equal;
    for (unsigned k = 0; k < 16; ++k) {
      if (bytes[i][k] == None) continue;
      const uint32_t here = bytes[i][k] + (k == 0 ? 2 : 0);  // a new group's command word
      auto add = [&](size_t to, uint32_t itemBytes) {
        uint32_t& slot = bytes[to][(k + 1) % 16];
        slot = std::min(slot, here + itemBytes);
      };
      add(i + 1, 1);
      for (size_t l = 3; l <= longest[i]; ++l) add(i + l, 2);
      for (size_t c = 16; c <= equal; ++c) add(i + c, 4);
    }
  }
  const uint32_t compressed = 1 + *std::min_element(bytes[n].begin(), bytes[n].end());
  return n == 0 ? 1 : std::min<size_t>(compressed, n + 1);
}

}  // namespace exhaustive

// --- Known blocks ----------------------------------------------------------------------------

TEST(OptimalEncoder, ProducesTheSmallestKnownBlocks) {
  const TBytes xyz{0x58, 0x59, 0x5A};
  struct {
    const char* name;
    TBytes input;
    TBytes block;  // empty: several blocks of the same size are smallest; size says which size
    size_t size;
  } const cases[] = {
      {"empty", {}, {0x80}, 1},
      {"one byte", {0x37}, {0x80, 0x37}, 2},
      {"two bytes", {0x61, 0x61}, {0x80, 0x61, 0x61}, 3},
      // A literal and a match of 4 take 6 bytes: the copied form is smaller.
      {"five equal bytes", Repeat(0x61, 5), {0x80, 0x61, 0x61, 0x61, 0x61, 0x61}, 6},
      // As long as its input: still the compressed form.
      {"6 x 61", Repeat(0x61, 6), {0x40, 0x40, 0x00, 0x61, 0x00, 0x12}, 6},
      // A literal and a match of 15 (26 bits) beat a run item (33 bits).
      {"16 x 61", Repeat(0x61, 16), {0x40, 0x40, 0x00, 0x61, 0x00, 0x1C}, 6},
      {"19 x 61", Repeat(0x61, 19), {0x40, 0x40, 0x00, 0x61, 0x00, 0x1F}, 6},
      {"20 x 61 is a run", Repeat(0x61, 20), {0x40, 0x80, 0x00, 0x00, 0x00, 0x04, 0x61}, 7},
      {"run of 4,095", Repeat(0x61, 4095), {0x40, 0x80, 0x00, 0x00, 0x0F, 0xEF, 0x61}, 7},
      // The longest run the decoder reads, where the greedy encoder stops at 4,095.
      {"run of 4,111", Repeat(0x61, 4111), {0x40, 0x80, 0x00, 0x00, 0x0F, 0xFF, 0x61}, 7},
      {"run of 4,112: a run and a literal", Repeat(0x61, 4112), {}, 8},
      {"run of 5,000: two runs", Repeat(0x61, 5000), {}, 11},
      // 8 runs of up to 4,111 where the greedy encoder needs 9 of up to 4,095.
      {"a full chunk of one byte", Repeat(0x61, Chunk), {}, 35},
      {"window 4,095 back",
       xyz + Repeat(0, 4092) + xyz,
       {0x40, 0x18, 0x00, 0x58, 0x59, 0x5A, 0x00, 0x0F, 0xEC, 0x00, 0xFF, 0xF0},
       12},
      {"window 4,096 back is too far",
       xyz + Repeat(0, 4093) + xyz,
       {0x40, 0x10, 0x00, 0x58, 0x59, 0x5A, 0x00, 0x0F, 0xED, 0x00, 0x58, 0x59, 0x5A},
       13},
      {"longest matches", Ascending(0x64, 40) + Ascending(0x64, 40), {}, 53},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TBytes block = CompressOptimal(c.input);
    EXPECT_EQ(block.size(), c.size);
    if (!c.block.empty()) {
      EXPECT_EQ(block, c.block);
    }
    EXPECT_EQ(Decompress(block, c.input.size()), c.input);
  }
}

TEST(OptimalEncoder, IncompressibleChunkBecomesCopiedForm) {
  const TBytes input = RandomBytes(Chunk, 256, 7);
  const TBytes block = CompressOptimal(input);
  ASSERT_EQ(block.size(), Chunk + 1);
  EXPECT_EQ(block[0], 0x80);
  EXPECT_EQ(Slice(block, 1, Chunk), input);
}

// --- Against the smallest block --------------------------------------------------------------

TBytes Mixed(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes mixed;
  while (mixed.size() < size) {
    switch (rng() % 4) {
      case 0:
        mixed = mixed + Repeat(static_cast<uint8_t>(rng()), 10 + rng() % 40);
        break;
      case 1:
        mixed = mixed + RandomBytes(1 + rng() % 40, 256, rng());
        break;
      case 2: {
        const TBytes unit = RandomBytes(1 + rng() % 19, 256, rng());
        for (unsigned i = 0, reps = 2 + rng() % 8; i < reps; ++i) mixed = mixed + unit;
        break;
      }
      default:
        mixed = mixed + RandomBytes(1 + rng() % 200, 3, rng());
        break;
    }
  }
  return Slice(mixed, 0, size);
}

TEST(OptimalEncoder, BlocksAreAtMostOneByteLargerThanTheSmallest) {
  std::vector<std::pair<std::string, TBytes>> inputs;
  for (unsigned alphabet : {1u, 2u, 3u, 4u, 16u, 256u}) {
    for (size_t n : {3u, 4u, 7u, 16u, 17u, 18u, 19u, 21u, 35u, 36u, 37u, 100u, 1000u}) {
      inputs.emplace_back("random " + std::to_string(alphabet) + "/" + std::to_string(n),
                          RandomBytes(n, alphabet, static_cast<uint32_t>(n * 7 + alphabet)));
    }
  }
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    inputs.emplace_back("mixed " + std::to_string(seed), Mixed(600 + seed * 500, seed));
  }
  // Repeats just inside and just outside the window, among stretches of three letters.
  const TBytes text = RandomBytes(60, 256, 11);
  inputs.emplace_back("repeat 4,095 back", text + RandomBytes(4035, 3, 12) + text);
  inputs.emplace_back("repeat 4,096 back", text + RandomBytes(4036, 3, 12) + text);
  const TBytes licence = ReadWholeFile(SystemLicenceText());
  const TBytes program = ReadWholeFile(SystemLargeProgram());
  inputs.emplace_back("licence text", Slice(licence, 0, 3000));
  inputs.emplace_back("program", Slice(program, program.size() / 2, 3000));

  TOptimalEncoder encoder;
  for (const auto& [name, input] : inputs) {
    SCOPED_TRACE(name);
    const TBytes block = CompressOptimal(encoder, input);
    ASSERT_EQ(Decompress(block, input.size()), input);
    const size_t smallest = exhaustive::SmallestBlock(input);
    EXPECT_GE(block.size(), smallest);
    EXPECT_LE(block.size(), smallest + 1);
  }
}

// --- Sizes, real files and reuse -------------------------------------------------------------

TEST(OptimalEncoder, RealFilesRoundTripChunkByChunkAndNeverLoseToTheGreedyEncoder) {
  TOptimalEncoder encoder;
  for (const std::string& path :
       {SystemLicenceText(), SystemLargeProgram(), SystemSmallProgram()}) {
    const TBytes file = ReadWholeFile(path);
    size_t optimal = 0;
    size_t greedy = 0;
    for (size_t from = 0; from < file.size(); from += Chunk) {
      SCOPED_TRACE(path + " @" + std::to_string(from));
      const TBytes chunk = Slice(file, from, Chunk);
      const TBytes block = CompressOptimal(encoder, chunk);
      ASSERT_EQ(Decompress(block, chunk.size()), chunk);
      // The greedy encoder's items are one of the codings the optimal one weighs.
      const size_t greedySize = GreedySize(chunk);
      EXPECT_LE(block.size(), greedySize + 1);
      optimal += block.size();
      greedy += greedySize;
    }
    EXPECT_LT(optimal, greedy) << path;
  }
}

TEST(OptimalEncoder, BoundarySizesRoundTrip) {
  const TBytes program = ReadWholeFile(SystemLargeProgram());
  ASSERT_GE(program.size(), 65534u);
  TOptimalEncoder encoder;
  for (size_t n : {0u, 1u, 2u, 3u, 4u, 17u, 18u, 19u, 4095u, 4096u, 4097u, 32782u, 32783u, 32784u,
                   65533u, 65534u}) {
    for (const TBytes& input : {Slice(program, 0, n), Repeat(0, n), RandomBytes(n, 2, 3)}) {
      SCOPED_TRACE(n);
      ASSERT_EQ(input.size(), n);
      ASSERT_EQ(Decompress(CompressOptimal(encoder, input), n), input);
    }
  }
}

TEST(OptimalEncoder, RefusesBlocksLongerThan65534Bytes) {
  const TBytes input(65535, 0);
  TBytes out(65536);
  TOptimalEncoder encoder;
  EXPECT_THROW(encoder.CompressBlock(input.data(), out.data(), 65535), EInvalidOperation);
}

// One encoder serves block after block; nothing of an earlier, larger block may leak into a
// later one (the trees, the bytes behind a shorter input).
TEST(OptimalEncoder, ReusedEncoderGivesTheBlocksOfAFreshOne) {
  const TBytes program = ReadWholeFile(SystemLargeProgram());
  const std::vector<TBytes> inputs = {
      Slice(program, 0, Chunk),        Slice(program, 100, 5000),    Repeat(0, 30),
      Slice(program, 3 * Chunk, 999),  RandomBytes(65534, 4, 9),     Slice(program, 70000, 20),
      Repeat(0x61, 20) + Repeat(0, 3), Slice(program, 40000, Chunk),
  };
  TOptimalEncoder reused;
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    TOptimalEncoder fresh;
    EXPECT_EQ(CompressOptimal(reused, inputs[i]), CompressOptimal(fresh, inputs[i]));
  }
}

}  // namespace
