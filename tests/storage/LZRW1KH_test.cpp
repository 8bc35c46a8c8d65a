#include "LZRW1KH.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

// --- A straightforward codec, step by step with 16-bit arithmetic, to hold the fast one to ----

namespace reference {

bool FindMatch(const uint8_t* in, uint16_t x, uint16_t n, int16_t* table, uint16_t& m,
               uint16_t& p) {
  const uint16_t key = static_cast<uint16_t>(((in[x] << 4 ^ in[x + 1]) << 4) ^ in[x + 2]);
  const uint16_t h = static_cast<uint16_t>((static_cast<uint32_t>(key) * 40543u >> 4) & 0x0FFF);
  const int16_t e = table[h];
  bool found = false;
  if (e != -1 && static_cast<int32_t>(x) - static_cast<int32_t>(e) < 4096) {
    p = static_cast<uint16_t>(e);
    m = 0;
    while (m < 18 && x + m < n && in[x + m] == in[p + m]) ++m;
    found = m >= 3;
  }
  table[h] = static_cast<int16_t>(x);
  return found;
}

TBytes Compress(const TBytes& input) {
  const uint16_t n = static_cast<uint16_t>(input.size());
  const uint8_t* in = input.data();
  TBytes out(n + 6u);
  std::vector<int16_t> table(4096);
  std::memset(table.data(), 0xFF, 8192);
  out[0] = 0x40;
  uint16_t x = 0, y = 3, z = 1, k = 0, c = 0;
  while (x < n && y <= n) {
    if (k == 16) {
      out[z] = static_cast<uint8_t>(c >> 8);
      out[z + 1] = static_cast<uint8_t>(c & 0xFF);
      z = y;
      y += 2;
      k = 0;
    }
    uint16_t l = 1;
    while (l < 4095 && x + l < n && in[x + l] == in[x]) ++l;
    uint16_t m = 0, p = 0;
    if (l >= 16) {
      out[y] = 0;
      out[y + 1] = static_cast<uint8_t>((l - 16) >> 8);
      out[y + 2] = static_cast<uint8_t>((l - 16) & 0xFF);
      out[y + 3] = in[x];
      y += 4;
      x += l;
      c = static_cast<uint16_t>(c * 2 + 1);
    } else if (x + 2 < n && FindMatch(in, x, n, table.data(), m, p)) {
      const uint16_t v = static_cast<uint16_t>((x - p) * 16 + (m - 3));
      out[y] = static_cast<uint8_t>(v >> 8);
      out[y + 1] = static_cast<uint8_t>(v & 0xFF);
      y += 2;
      x += m;
      c = static_cast<uint16_t>(c * 2 + 1);
    } else {
      out[y] = in[x];
      ++y;
      ++x;
      c = static_cast<uint16_t>(c * 2);
    }
    ++k;
  }
  c = static_cast<uint16_t>(c << (16 - k));
  out[z] = static_cast<uint8_t>(c >> 8);
  out[z + 1] = static_cast<uint8_t>(c & 0xFF);
  if (y <= n) {
    out.resize(y);
    return out;
  }
  out[0] = 0x80;
  std::copy(input.begin(), input.end(), out.begin() + 1);
  out.resize(n + 1u);
  return out;
}

// Trusts its input, as the format allows for blocks that the encoder made.
TBytes Decompress(const TBytes& block) {
  const size_t s = block.size();
  TBytes out;
  if (s <= 1) return out;
  if (block[0] == 0x80) return TBytes(block.begin() + 1, block.end());
  if (s <= 3) return out;
  size_t y = 3;
  uint16_t c = static_cast<uint16_t>(block[1] * 256 + block[2]);
  int b = 16;
  while (y < s) {
    if (b == 0) {
      c = static_cast<uint16_t>(block[y] * 256 + block[y + 1]);
      y += 2;
      b = 16;
      // A block may end right after a command word.
      if (y >= s) break;
    }
    if ((c & 0x8000) == 0) {
      out.push_back(block[y]);
      ++y;
    } else {
      const unsigned d = block[y] * 16u + (block[y + 1] >> 4);
      if (d == 0) {
        const unsigned count = block[y + 1] * 256u + block[y + 2] + 16;
        out.insert(out.end(), count, block[y + 3]);
        y += 4;
      } else {
        const unsigned length = (block[y + 1] & 0x0F) + 3u;
        for (unsigned i = 0; i < length; ++i) out.push_back(out[out.size() - d]);
        y += 2;
      }
    }
    c = static_cast<uint16_t>(c << 1);
    --b;
  }
  return out;
}

}  // namespace reference

// --- Helpers ---------------------------------------------------------------------------------

TBytes Compress(const TBytes& input) {
  TBytes out(input.size() + LZRW1KH::CompressSlack);
  const uint16_t size =
      CompressBlock(input.data(), out.data(), static_cast<uint16_t>(input.size()));
  out.resize(size);
  return out;
}

constexpr uint8_t Canary = 0xA5;
constexpr size_t CanaryBytes = 64;

// Decodes into an output area of exactly `capacity` bytes followed by canary bytes, and checks
// that the canaries survive whatever happens.
TBytes Decompress(const TBytes& block, size_t capacity) {
  TBytes area(capacity + CanaryBytes, Canary);
  uint16_t n = 0;
  try {
    n = DecompressBlock(block.data(), area.data(), static_cast<uint16_t>(block.size()),
                        static_cast<uint16_t>(capacity));
  } catch (...) {
    EXPECT_TRUE(std::all_of(area.begin() + static_cast<ptrdiff_t>(capacity), area.end(),
                            [](uint8_t b) { return b == Canary; }))
        << "wrote beyond the output area";
    throw;
  }
  EXPECT_TRUE(std::all_of(area.begin() + static_cast<ptrdiff_t>(capacity), area.end(),
                          [](uint8_t b) { return b == Canary; }))
      << "wrote beyond the output area";
  EXPECT_LE(n, capacity);
  area.resize(n);
  return area;
}

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

// The 8 runs of 4,095 zeros that start both signed-entry inputs.
TBytes FullRuns(int count, uint8_t byte) {
  TBytes bytes;
  for (int i = 0; i < count; ++i) bytes = bytes + TBytes{0x00, 0x0F, 0xEF, byte};
  return bytes;
}

// --- Hash ------------------------------------------------------------------------------------

TEST(LZRW1KHHash, KeyAndIndexOfKnownTriples) {
  struct {
    TBytes bytes;
    uint16_t key;
    uint16_t index;
  } const cases[] = {
      {{0x61, 0x61, 0x61}, 0x6771, 0x20E},
      {{0x58, 0x59, 0x5A}, 0x5DCA, 0x79F},
      {{0xFF, 0xFF, 0xFF}, 0xF00F, 0x579},
      {{0x00, 0x00, 0x00}, 0x0000, 0x000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(HashKey(c.bytes.data()), c.key);
    EXPECT_EQ(HashIndex(c.key), c.index);
  }
}

// --- Hash table start-up ---------------------------------------------------------------------

TEST(LZRW1KHHashTable, FailedAllocationRaisesELzrw1KHCompressor) {
  void* (*const failures[])(std::size_t) = {
      [](std::size_t) -> void* { return nullptr; },
      [](std::size_t) -> void* { throw std::bad_alloc(); },
  };
  for (auto allocate : failures) {
    try {
      AllocateHashTable(allocate);
      ADD_FAILURE() << "no exception";
    } catch (const ELzrw1KHCompressor& e) {
      EXPECT_EQ(e.Message(), "LZRW1KH : no memory for HASH table");
      EXPECT_STREQ(e.ClassName(), "ELzrw1KHCompressor");
    }
  }
}

TEST(LZRW1KHHashTable, AsksOnceFor8192Bytes) {
  static std::vector<std::size_t> requests;
  requests.clear();
  int16_t* table = AllocateHashTable([](std::size_t size) {
    requests.push_back(size);
    return std::malloc(size);
  });
  ASSERT_NE(table, nullptr);
  std::free(table);
  EXPECT_EQ(requests, std::vector<std::size_t>{8192});
}

// --- FindMatch -------------------------------------------------------------------------------

class FindMatchTest : public testing::Test {
 protected:
  FindMatchTest() : FTable(LZRW1KH::HashTableEntries, LZRW1KH::EmptyEntry) {}
  int16_t& Entry(const TBytes& input, uint16_t x) {
    return FTable[HashIndex(HashKey(input.data() + x))];
  }
  std::vector<int16_t> FTable;
  uint16_t FLength = 0;
  uint16_t FPos = 0;
};

TEST_F(FindMatchTest, EmptyEntryFindsNothingButEntersPosition) {
  const TBytes input = BytesOf("abcdef");
  EXPECT_FALSE(FindMatch(input.data(), 2, 6, FTable.data(), FLength, FPos));
  EXPECT_EQ(Entry(input, 2), 2);
}

TEST_F(FindMatchTest, MeasuresMatchFromTheEntry) {
  struct {
    const char* name;
    TBytes input;
    uint16_t earlier;  // position entered before the lookup
    uint16_t x;
    uint16_t size;  // the input size passed
    bool found;
    uint16_t length;
  } const cases[] = {
      {"overlapping, distance 1", Repeat('a', 8), 0, 1, 8, true, 7},
      {"capped at 18", Repeat('a', 40), 0, 1, 40, true, 18},
      {"stops at the input size", Repeat('a', 40), 0, 1, 10, true, 9},
      {"longest match found 8 bytes at a time", BytesOf("0123456789ABCDEFGH!0123456789ABCDEFGH?"),
       0, 19, 38, true, 18},
      {"differs in the 17th byte", BytesOf("0123456789ABCDEF!H!0123456789ABCDEF?H?"), 0, 19, 38,
       true, 16},
      {"differs in the 10th byte", BytesOf("0123456789ABCDEFGH!012345678?ABCDEFGH?"), 0, 19, 38,
       true, 9},
      {"three bytes", BytesOf("xyz-xyz+"), 0, 4, 8, true, 3},
      {"five bytes with more input ahead", BytesOf("abcde1------------abcde2------------"), 0, 18,
       36, true, 5},
      {"window of 4,095 back", Repeat('q', 1) + Repeat(0, 4094) + TBytes{'q', 0, 0}, 0, 4095, 4098,
       true, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::fill(FTable.begin(), FTable.end(), LZRW1KH::EmptyEntry);
    Entry(c.input, c.earlier) = static_cast<int16_t>(c.earlier);
    EXPECT_EQ(FindMatch(c.input.data(), c.x, c.size, FTable.data(), FLength, FPos), c.found);
    if (c.found) {
      EXPECT_EQ(FLength, c.length);
      EXPECT_EQ(FPos, c.earlier);
    }
    EXPECT_EQ(Entry(c.input, c.x), static_cast<int16_t>(c.x));
  }
}

TEST_F(FindMatchTest, EntriesOutOfTheWindowFindNothing) {
  const TBytes input = Repeat(0, 40000);
  struct {
    const char* name;
    int16_t entry;
    uint16_t x;
  } const cases[] = {
      {"4,096 back", 0, 4096},
      {"position 32,768 reads back negative", static_cast<int16_t>(32768u), 32770},
      {"position 32,782 reads back negative", static_cast<int16_t>(32782u), 32783},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Entry(input, c.x) = c.entry;
    EXPECT_FALSE(FindMatch(input.data(), c.x, 40000, FTable.data(), FLength, FPos));
    EXPECT_EQ(Entry(input, c.x), static_cast<int16_t>(c.x));
  }
}

TEST_F(FindMatchTest, HashCollisionShorterThanThreeIsNoMatch) {
  // Find two different triples that share an entry.
  TBytes a{'a', 'b', 'c'};
  TBytes b;
  for (int v = 0; v < 65536 && b.empty(); ++v) {
    TBytes t{'a', static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    if (t != a && HashIndex(HashKey(t.data())) == HashIndex(HashKey(a.data()))) b = t;
  }
  ASSERT_FALSE(b.empty());
  const TBytes input = a + b;
  Entry(input, 0) = 0;
  EXPECT_FALSE(FindMatch(input.data(), 3, 6, FTable.data(), FLength, FPos));
  EXPECT_EQ(Entry(input, 3), 3);
}

// --- CompressBlock: the worked encodings -----------------------------------------------------

struct TEncodingCase {
  const char* name;
  TBytes input;
  TBytes block;
};

std::vector<TEncodingCase> EncodingCases() {
  const TBytes xyz{0x58, 0x59, 0x5A};
  const TBytes tail{0x50, 0x51, 0x52, 0x61, 0x62, 0x63, 0x64, 0x50,
                    0x51, 0x52, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC};
  const TBytes letters = BytesOf("abcdefghijklmnopqrstuvwxyz");
  return {
      {"empty", {}, {0x80}},
      {"one byte", {0x37}, {0x80, 0x37}},
      {"two bytes", {0x61, 0x61}, {0x80, 0x61, 0x61}},
      {"three equal bytes", Repeat(0x61, 3), {0x80, 0x61, 0x61, 0x61}},
      {"four equal bytes", Repeat(0x61, 4), {0x80, 0x61, 0x61, 0x61, 0x61}},
      // A compressed form exactly as long as its input is kept.
      {"6 x 61", Repeat(0x61, 6), {0x40, 0x40, 0x00, 0x61, 0x00, 0x12}},
      {"15 x 61", Repeat(0x61, 15), {0x40, 0x40, 0x00, 0x61, 0x00, 0x1B}},
      {"16 x 61", Repeat(0x61, 16), {0x40, 0x80, 0x00, 0x00, 0x00, 0x00, 0x61}},
      {"17 x 61", Repeat(0x61, 17), {0x40, 0x80, 0x00, 0x00, 0x00, 0x01, 0x61}},
      {"run cap 4,095", Repeat(0x61, 4095), {0x40, 0x80, 0x00, 0x00, 0x0F, 0xEF, 0x61}},
      {"run cap 4,096", Repeat(0x61, 4096), {0x40, 0x80, 0x00, 0x00, 0x0F, 0xEF, 0x61, 0x61}},
      {"run cap 4,111",
       Repeat(0x61, 4111),
       {0x40, 0xC0, 0x00, 0x00, 0x0F, 0xEF, 0x61, 0x00, 0x00, 0x00, 0x61}},
      {"run cap 5,000",
       Repeat(0x61, 5000),
       {0x40, 0xC0, 0x00, 0x00, 0x0F, 0xEF, 0x61, 0x00, 0x03, 0x79, 0x61}},
      {"window 4,095 back",
       xyz + Repeat(0, 4092) + xyz,
       {0x40, 0x18, 0x00, 0x58, 0x59, 0x5A, 0x00, 0x0F, 0xEC, 0x00, 0xFF, 0xF0}},
      {"window 4,096 back is too far",
       xyz + Repeat(0, 4093) + xyz,
       {0x40, 0x10, 0x00, 0x58, 0x59, 0x5A, 0x00, 0x0F, 0xED, 0x00, 0x58, 0x59, 0x5A}},
      {"longest matches", Ascending(0x64, 40) + Ascending(0x64, 40),
       TBytes{0x40, 0x00, 0x00} + Ascending(0x64, 16) + TBytes{0x00, 0x00} + Ascending(0x74, 16) +
           TBytes{0x00, 0xE0} + Ascending(0x84, 8) + TBytes{0x02, 0x8F, 0x02, 0x8F, 0x02, 0x81}},
      {"group boundary", letters + letters,
       TBytes{0x40, 0x00, 0x00} + Slice(letters, 0, 16) + TBytes{0x00, 0x30} +
           Slice(letters, 16, 10) + TBytes{0x01, 0xAF, 0x01, 0xA5}},
      // Positions from 32,768 on read back negative from the table and are never a source.
      {"signed entries behind 32,768 zeros", Repeat(0, 32768) + tail,
       TBytes{0x40, 0xFF, 0x40} + FullRuns(8, 0x00) + TBytes{0x00, 0x00, 0x14} + Slice(tail, 0, 6) +
           TBytes{0x00, 0x00} + Slice(tail, 6, 9)},
      {"the same bytes behind 32,000 zeros", Repeat(0, 32000) + tail,
       TBytes{0x40, 0xFF, 0x01} + FullRuns(7, 0x00) + TBytes{0x00, 0x0C, 0xF7, 0x00} +
           Slice(tail, 0, 7) + TBytes{0x00, 0x70, 0x00, 0x00} + Slice(tail, 10, 5)},
      {"9 runs fill a full chunk", Repeat(0x61, 32783),
       TBytes{0x40, 0xFF, 0x80} + FullRuns(8, 0x61) + TBytes{0x00, 0x00, 0x07, 0x61}},
  };
}

TEST(CompressBlock, ProducesTheKnownEncodings) {
  for (const auto& c : EncodingCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Compress(c.input), c.block);
    EXPECT_EQ(Decompress(c.block, c.input.size()), c.input);
  }
}

TEST(CompressBlock, IncompressibleChunkBecomesCopiedForm) {
  const TBytes input = RandomBytes(32783, 256, 7);
  const TBytes block = Compress(input);
  ASSERT_EQ(block.size(), 32784u);
  EXPECT_EQ(block[0], 0x80);
  EXPECT_TRUE(std::equal(input.begin(), input.end(), block.begin() + 1));
  EXPECT_EQ(Decompress(block, 32783), input);
}

TEST(CompressBlock, WritesNothingBeyondSizePlusSix) {
  // The encoder runs past the input size before it gives up; furthest when its output reaches
  // the input size just as a group is full and a run item follows. Inputs that end in a run
  // after a stretch of literals and matches of every length reach that case.
  std::vector<TBytes> inputs;
  for (size_t n : {0u, 1u, 5u, 17u, 100u, 4096u, 32783u}) {
    inputs.push_back(RandomBytes(n, 256, static_cast<uint32_t>(n)));
  }
  std::mt19937 rng(5);
  for (int i = 0; i < 2000; ++i) {
    const unsigned alphabet = rng() % 2 ? 256 : 2 + rng() % 6;
    inputs.push_back(RandomBytes(10 + rng() % 200, alphabet, rng()) + Repeat(0xEE, 16 + rng() % 4));
  }
  for (const TBytes& input : inputs) {
    const size_t n = input.size();
    TBytes out(n + LZRW1KH::CompressSlack + CanaryBytes, Canary);
    CompressBlock(input.data(), out.data(), static_cast<uint16_t>(n));
    ASSERT_TRUE(std::all_of(out.begin() + static_cast<ptrdiff_t>(n + LZRW1KH::CompressSlack),
                            out.end(), [](uint8_t b) { return b == Canary; }))
        << testing::PrintToString(input);
  }
}

// --- CompressBlock against the step-by-step codec --------------------------------------------

std::vector<std::pair<std::string, TBytes>> VariedInputs() {
  std::vector<std::pair<std::string, TBytes>> inputs;
  for (unsigned alphabet : {1u, 2u, 3u, 4u, 16u, 256u}) {
    for (size_t n : {0u, 1u, 2u, 3u, 7u, 18u, 19u, 100u, 4095u, 4097u, 32783u}) {
      inputs.emplace_back("random " + std::to_string(alphabet) + "/" + std::to_string(n),
                          RandomBytes(n, alphabet, static_cast<uint32_t>(n * 31 + alphabet)));
    }
  }
  // Runs of every length near the thresholds between random stretches, and short repeats at
  // every distance below 20, which the decoder copies in overlapping pieces.
  std::mt19937 rng(42);
  TBytes mixed;
  while (mixed.size() < 32783) {
    switch (rng() % 4) {
      case 0:
        mixed = mixed + Repeat(static_cast<uint8_t>(rng()), 10 + rng() % 30);
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
  inputs.emplace_back("mixed", Slice(mixed, 0, 32783));
  // Inputs longer than a chunk reach positions whose entries read back negative.
  inputs.emplace_back("random 4/65534", RandomBytes(65534, 4, 99));
  inputs.emplace_back("mixed twice", Slice(mixed + mixed, 0, 65534));

  const std::pair<const char*, std::string> files[] = {
      {"licence", SystemLicenceText()},
      {"large program", SystemLargeProgram()},
      {"small program", SystemSmallProgram()},
  };
  for (const auto& [name, path] : files) {
    const TBytes bytes = ReadWholeFile(path);
    for (size_t from = 0; from < bytes.size(); from += 32783) {
      inputs.emplace_back(std::string(name) + " @" + std::to_string(from),
                          Slice(bytes, from, 32783));
    }
  }
  return inputs;
}

TEST(CompressBlock, MatchesStepByStepEncoderAndRoundTrips) {
  for (const auto& [name, input] : VariedInputs()) {
    SCOPED_TRACE(name);
    const TBytes block = Compress(input);
    ASSERT_EQ(block, reference::Compress(input));
    // An output area of exactly the input's size is enough, and one byte less is refused.
    ASSERT_EQ(Decompress(block, input.size()), input);
    if (!input.empty()) {
      ASSERT_THROW(Decompress(block, input.size() - 1), EReadError);
    }
    // Room to spare takes the decoder's fast paths to the end of the block.
    ASSERT_EQ(Decompress(block, 65535), input);
  }
}

// --- DecompressBlock -------------------------------------------------------------------------

TEST(DecompressBlock, SpecialBlockSizesAndFlags) {
  struct {
    const char* name;
    TBytes block;
    TBytes output;
  } const cases[] = {
      {"no bytes", {}, {}},
      {"a flag alone", {0x80}, {}},
      {"a compressed flag alone", {0x40}, {}},
      {"copied form", {0x80, 1, 2, 3}, {1, 2, 3}},
      {"two-byte compressed form", {0x40, 0x00}, {}},
      {"three-byte compressed form", {0x40, 0x00, 0x00}, {}},
      {"any other flag is the compressed form", {0x00, 0x40, 0x00, 7, 0x00, 0x12}, Repeat(7, 6)},
      {"a flag of 0x41 too", {0x41, 0x00, 0x00, 1, 2}, {1, 2}},
      {"match back to the first byte",
       {0x40, 0x08, 0x00, 1, 2, 3, 4, 0x00, 0x42},
       {1, 2, 3, 4, 1, 2, 3, 4, 1}},
      // Literals of the last group end with the block, whatever the zero bits say.
      {"short last group", {0x40, 0x00, 0x00, 9}, {9}},
      // A block that ends right after a command word restores the items before it.
      {"ends with a command word", TBytes{0x40, 0x00, 0x00} + Ascending(1, 16) + TBytes{0xFF, 0xFF},
       Ascending(1, 16)},
      {"longest run", {0x40, 0x80, 0x00, 0x00, 0x0F, 0xFF, 0x33}, Repeat(0x33, 4111)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decompress(c.block, 5000), c.output);
    EXPECT_EQ(Decompress(c.block, c.output.size()), c.output);
    EXPECT_EQ(reference::Decompress(c.block), c.output);
  }
}

// Builds a valid compressed block from random items, biased towards the cases a fast decoder
// gets wrong: short distances, matches that overlap their own output, long literal stretches.
TBytes RandomValidBlock(std::mt19937& rng, size_t outputLimit) {
  TBytes block{0x40};
  size_t written = 0;
  size_t commandAt = 0;
  unsigned items = 16;
  uint16_t command = 0;
  auto closeGroup = [&] {
    if (commandAt != 0) {
      command = static_cast<uint16_t>(command << (16 - items));
      block[commandAt] = static_cast<uint8_t>(command >> 8);
      block[commandAt + 1] = static_cast<uint8_t>(command);
    }
  };
  const unsigned literalBias = rng() % 8;
  while (written + 4111 < outputLimit && rng() % 4000 != 0) {
    if (items == 16) {
      closeGroup();
      commandAt = block.size();
      block.push_back(0);
      block.push_back(0);
      items = 0;
      command = 0;
    }
    const unsigned kind = rng() % 10;
    if (written == 0 || kind < literalBias) {
      block.push_back(static_cast<uint8_t>(rng()));
      command = static_cast<uint16_t>(command << 1);
      ++written;
    } else if (kind == 9 && rng() % 4 == 0) {
      const unsigned v = rng() % 4096;
      block.push_back(0x00);
      block.push_back(static_cast<uint8_t>(v >> 8));
      block.push_back(static_cast<uint8_t>(v));
      block.push_back(static_cast<uint8_t>(rng()));
      command = static_cast<uint16_t>(command << 1 | 1);
      written += v + 16;
    } else {
      const size_t most = std::min<size_t>(written, 4095);
      const size_t distance = 1 + (rng() % 2 ? rng() % std::min<size_t>(most, 20) : rng() % most);
      const unsigned length = 3 + rng() % 16;
      const unsigned v = static_cast<unsigned>(distance << 4 | (length - 3));
      block.push_back(static_cast<uint8_t>(v >> 8));
      block.push_back(static_cast<uint8_t>(v));
      command = static_cast<uint16_t>(command << 1 | 1);
      written += length;
    }
    ++items;
  }
  closeGroup();
  if (commandAt == 0) block = {0x40, 0x00, 0x00};
  return block;
}

TEST(DecompressBlock, MatchesStepByStepDecoderOnRandomValidBlocks) {
  std::mt19937 rng(2024);
  for (int i = 0; i < 400; ++i) {
    SCOPED_TRACE(i);
    const TBytes block = RandomValidBlock(rng, 32783);
    const TBytes expected = reference::Decompress(block);
    ASSERT_EQ(Decompress(block, expected.size()), expected);
    ASSERT_EQ(Decompress(block, 32783), expected);
  }
}

// Sixteen literals, sixteen matches of 18 bytes from 16 back (288 bytes), then three groups of
// sixteen literals: the matches end 304 bytes into the output.
TBytes LongMatchesThenLiterals() {
  TBytes block = TBytes{0x40, 0x00, 0x00} + Ascending(1, 16) + TBytes{0xFF, 0xFF};
  for (int i = 0; i < 16; ++i) block = block + TBytes{0x01, 0x0F};
  for (int i = 0; i < 3; ++i) block = block + TBytes{0x00, 0x00} + Ascending(100, 16);
  return block;
}

TEST(DecompressBlock, DamagedBlocksFailWithinBounds) {
  struct {
    const char* name;
    TBytes block;
    size_t capacity;
    const char* message;
  } const cases[] = {
      {"match cut after one byte", {0x40, 0x40, 0x00, 7, 0x00}, 100, "runs past the end"},
      {"run cut after three bytes", {0x40, 0x80, 0x00, 0x00, 0x00, 0x05}, 100, "runs past the end"},
      {"command word cut after one byte",
       TBytes{0x40, 0x00, 0x00} + Ascending(1, 16) + TBytes{0x80}, 100,
       "command word runs past the end"},
      {"match before any output", {0x40, 0x80, 0x00, 0x00, 0x12}, 100, "reaches back"},
      // The same at the start of a long block, where whole groups are decoded at once.
      {"match before any output, long block", TBytes{0x40, 0x80, 0x00, 0x00, 0x12} + Repeat(7, 200),
       1000, "reaches back"},
      // Four literals, then a match of distance 5.
      {"match one byte too far back",
       {0x40, 0x08, 0x00, 1, 2, 3, 4, 0x00, 0x52},
       100,
       "reaches back"},
      {"copied form one byte too large", {0x80, 1, 2, 3}, 2, "fit in the output area"},
      {"run one byte too large",
       {0x40, 0x80, 0x00, 0x00, 0x00, 0x04, 0x55},
       19,
       "fit in the output area"},
      {"literals one byte too many", {0x40, 0x00, 0x00, 1, 2, 3}, 2, "fit in the output area"},
      // Room for the literal and 17 bytes of a match of 18: the last byte overflows.
      {"match one byte too long", {0x40, 0x40, 0x00, 7, 0x00, 0x1F}, 18, "fit in the output area"},
      // The long matches fit, with less room to spare than 16-byte pieces would need.
      {"literals after long matches", LongMatchesThenLiterals(), 316, "fit in the output area"},
      {"long match with room for half",
       TBytes{0x40, 0x00, 0x01} + Ascending(1, 15) + TBytes{0x00, 0xFF}, 20,
       "fit in the output area"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      Decompress(c.block, c.capacity);
      ADD_FAILURE() << "no exception";
    } catch (const EReadError& e) {
      EXPECT_NE(e.Message().find("Damaged compressed block"), std::string::npos) << e.Message();
      EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
    }
  }
}

}  // namespace
