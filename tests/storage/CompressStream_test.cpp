#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "FileSrc.h"
#include "LZRW1KH.h"
#include "Streams.h"
#include "TestSupport.h"

namespace {

constexpr size_t Chunk = 32783;

TBytes operator+(TBytes a, const TBytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TBytes Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

const TBytes Signature = BytesOf("PMCS10");

TBytes RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

TBytes Slice(const TBytes& bytes, size_t from, size_t count) {
  return TBytes(bytes.begin() + static_cast<ptrdiff_t>(from),
                bytes.begin() + static_cast<ptrdiff_t>(from + count));
}

void Load(TMemoryStream& stream, const TBytes& bytes) {
  stream.Clear();
  stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  stream.SetPosition(0);
}

// A stream over a byte vector that can hand out short reads and refuse writes after a limit.
class TFakeStream : public TStream {
 public:
  explicit TFakeStream(TBytes data = {}) : FData(std::move(data)) {}

  int32_t Read(void* buffer, int32_t count) override {
    const int64_t left = static_cast<int64_t>(FData.size()) - FPosition;
    const int32_t n = static_cast<int32_t>(
        std::clamp<int64_t>(std::min<int64_t>(count, ReadPiece), 0, std::max<int64_t>(left, 0)));
    std::copy_n(FData.begin() + FPosition, n, static_cast<uint8_t*>(buffer));
    FPosition += n;
    return n;
  }
  int32_t Write(const void* buffer, int32_t count) override {
    const int32_t n = static_cast<int32_t>(std::clamp<int64_t>(count, 0, WriteLimit - FWritten));
    FWritten += n;
    if (FData.size() < static_cast<size_t>(FPosition + n)) FData.resize(FPosition + n);
    std::copy_n(static_cast<const uint8_t*>(buffer), n, FData.begin() + FPosition);
    FPosition += n;
    return n;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? FPosition
                                                            : static_cast<int64_t>(FData.size());
    FPosition = base + offset;
    return FPosition;
  }

  int32_t ReadPiece = std::numeric_limits<int32_t>::max();   // most bytes one read delivers
  int64_t WriteLimit = std::numeric_limits<int64_t>::max();  // bytes it takes before it is full

 private:
  TBytes FData;
  int64_t FPosition = 0;
  int64_t FWritten = 0;
};

TBytes Pack(const TBytes& input, int32_t count) {
  TMemoryStream source, dest;
  Load(source, input);
  TCompressStream().CompressStream(source, dest, count);
  EXPECT_EQ(dest.Position(), dest.Size()) << "destination not left at the container's end";
  return dest.Bytes();
}

TBytes Pack(const TBytes& input) { return Pack(input, static_cast<int32_t>(input.size())); }

struct TUnpacked {
  TBytes output;
  int64_t sourcePosition;
};

TUnpacked Unpack(const TBytes& stored) {
  TMemoryStream source, dest;
  Load(source, stored);
  TCompressStream().DecompressStream(source, dest);
  EXPECT_EQ(dest.Position(), dest.Size());
  return {dest.Bytes(), source.Position()};
}

// The block lengths of a container, checking that its total covers exactly its blocks.
std::vector<uint32_t> BlockLengths(const TBytes& container) {
  std::vector<uint32_t> lengths;
  size_t at = 10;
  while (at + 4 <= container.size()) {
    const uint32_t length = container[at] | container[at + 1] << 8 | container[at + 2] << 16 |
                            static_cast<uint32_t>(container[at + 3]) << 24;
    lengths.push_back(length);
    at += 4 + length;
  }
  EXPECT_EQ(at, container.size());
  EXPECT_EQ(Slice(container, 6, 4), Le32(static_cast<uint32_t>(container.size() - 10)));
  return lengths;
}

template <typename E>
void ExpectFailure(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no exception";
  } catch (const E& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

// --- The container's layout ------------------------------------------------------------------

TEST(CompressStream, ProducesTheKnownContainers) {
  // Nine run items under the command word FF 80: eight of 4,095 bytes and one of 23.
  TBytes runs{0x40, 0xFF, 0x80};
  for (int i = 0; i < 8; ++i) runs = runs + TBytes{0x00, 0x0F, 0xEF, 0x61};
  runs = runs + TBytes{0x00, 0x00, 0x07, 0x61};
  struct {
    const char* name;
    TBytes input;
    TBytes container;
  } const cases[] = {
      {"empty", {}, Signature + Le32(0)},
      {"one byte", {0x41}, Signature + Le32(6) + Le32(2) + TBytes{0x80, 0x41}},
      {"one full chunk", TBytes(Chunk, 0x61), Signature + Le32(43) + Le32(39) + runs},
      {"one byte more than a chunk", TBytes(Chunk + 1, 0x61),
       Signature + Le32(49) + Le32(39) + runs + Le32(2) + TBytes{0x80, 0x61}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Pack(c.input), c.container);
    // Bytes stored after the container stay unread.
    const TUnpacked unpacked = Unpack(c.container + BytesOf("tail"));
    EXPECT_EQ(unpacked.output, c.input);
    EXPECT_EQ(unpacked.sourcePosition, static_cast<int64_t>(c.container.size()));
  }
}

TEST(CompressStream, IncompressibleChunkIsOneCopiedBlock) {
  const TBytes input = RandomBytes(Chunk, 1);
  const TBytes container = Pack(input);
  ASSERT_EQ(container.size(), 10 + 4 + Chunk + 1);
  const TBytes lengthField{0x10, 0x80, 0x00, 0x00};
  EXPECT_EQ(Slice(container, 6, 4), Le32(32788));
  EXPECT_EQ(Slice(container, 10, 4), lengthField);
  EXPECT_EQ(container[14], 0x80);
  EXPECT_EQ(Unpack(container).output, input);
}

TEST(CompressStream, ChunksRealDataAt32783Bytes) {
  const TBytes program = ReadWholeFile(SystemLargeProgram());
  ASSERT_GE(program.size(), 2 * Chunk + 1);
  struct {
    size_t size;
    size_t blocks;
  } const cases[] = {
      {Chunk - 1, 1}, {Chunk, 1}, {Chunk + 1, 2}, {2 * Chunk, 2}, {2 * Chunk + 1, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const TBytes input = Slice(program, 0, c.size);
    const TBytes container = Pack(input);
    EXPECT_EQ(BlockLengths(container).size(), c.blocks);
    EXPECT_EQ(Unpack(container).output, input);
  }
}

TEST(CompressStream, RoundTripsRealFilesFromFileStreams) {
  for (const std::string& path :
       {SystemLicenceText(), SystemLargeProgram(), SystemSmallProgram()}) {
    SCOPED_TRACE(path);
    TFileStream file(path, TFileStream::fmOpenRead);
    const int64_t size = file.Size();
    TMemoryStream packed;
    TCompressStream().CompressStream(file, packed, static_cast<int32_t>(size));
    EXPECT_EQ(file.Position(), size);
    EXPECT_EQ(BlockLengths(packed.Bytes()).size(), (static_cast<size_t>(size) + Chunk - 1) / Chunk);
    EXPECT_EQ(Unpack(packed.Bytes()).output, ReadWholeFile(path));
  }
}

// The optimal encoder changes only the blocks: the same chunks, a block for each, read by the
// same reader, and none more than a byte larger than the greedy encoder's.
TEST(CompressStream, OptimalEncoderKeepsTheChunksAndShrinksTheBlocks) {
  const TBytes program = ReadWholeFile(SystemLargeProgram());
  ASSERT_GE(program.size(), 3 * Chunk + 100);
  const TBytes input = Slice(program, 0, 3 * Chunk + 100);
  TMemoryStream source, packed;
  Load(source, input);
  TCompressStream container;
  container.SetEncoder(TBlockEncoder::beOptimal);
  container.CompressStream(source, packed, static_cast<int32_t>(input.size()));
  EXPECT_EQ(source.Position(), source.Size());
  const TBytes optimal = packed.Bytes();
  const TBytes greedy = Pack(input);

  const std::vector<uint32_t> optimalLengths = BlockLengths(optimal);
  const std::vector<uint32_t> greedyLengths = BlockLengths(greedy);
  ASSERT_EQ(optimalLengths.size(), greedyLengths.size());
  size_t at = 10;
  for (size_t k = 0; k < optimalLengths.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_LE(optimalLengths[k], greedyLengths[k] + 1);
    TBytes chunk(Chunk);
    const uint16_t n = DecompressBlock(optimal.data() + at + 4, chunk.data(),
                                       static_cast<uint16_t>(optimalLengths[k]), Chunk);
    chunk.resize(n);
    EXPECT_EQ(chunk, Slice(input, k * Chunk, std::min(Chunk, input.size() - k * Chunk)));
    at += 4 + optimalLengths[k];
  }
  EXPECT_LT(optimal.size(), greedy.size());
  EXPECT_EQ(Unpack(optimal).output, input);
}

TEST(CompressStream, WritesFromTheDestinationsPosition) {
  TMemoryStream source, dest;
  Load(source, {0x41});
  Load(dest, BytesOf("XYZ"));
  dest.SetPosition(3);
  TCompressStream().CompressStream(source, dest, 1);
  EXPECT_EQ(dest.Position(), 3 + 16);
  EXPECT_EQ(dest.Bytes(), BytesOf("XYZ") + Signature + Le32(6) + Le32(2) +
                              BytesOf("\x80"
                                      "A"));
}

// --- What CompressStream reads ---------------------------------------------------------------

TEST(CompressStream, CountDecidesHowManyFullChunksAreRead) {
  const TBytes input = RandomBytes(40000, 2);
  struct {
    int32_t count;
    std::vector<uint32_t> blockInputs;  // bytes packed per block
  } const cases[] = {
      {0, {}},
      {-5, {}},
      // The one read asks for a full chunk and packs all that it gets.
      {10, {Chunk}},
      {static_cast<int32_t>(Chunk), {Chunk}},
      {static_cast<int32_t>(Chunk + 1), {Chunk, 40000 - Chunk}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    TMemoryStream source, dest;
    Load(source, input);
    TCompressStream().CompressStream(source, dest, c.count);
    std::vector<uint32_t> blockInputs;
    for (uint32_t length : BlockLengths(dest.Bytes())) blockInputs.push_back(length - 1);
    EXPECT_EQ(blockInputs, c.blockInputs);  // random input: every block is copied
    size_t read = 0;
    for (uint32_t n : c.blockInputs) read += n;
    EXPECT_EQ(source.Position(), static_cast<int64_t>(read));
  }
}

TEST(CompressStream, ShortReadsGiveShortChunks) {
  const TBytes input = ReadWholeFile(SystemLicenceText());
  TFakeStream source(input);
  source.ReadPiece = 1000;
  TMemoryStream dest;
  TCompressStream().CompressStream(source, dest, static_cast<int32_t>(input.size()));
  EXPECT_EQ(BlockLengths(dest.Bytes()).size(), (input.size() + 999) / 1000);
  EXPECT_EQ(Unpack(dest.Bytes()).output, input);
}

TEST(CompressStream, SourceShorterThanCountIsReadError) {
  struct {
    size_t available;
    int32_t count;
  } const cases[] = {{0, 1}, {100, 101}, {Chunk, static_cast<int32_t>(Chunk + 1)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    TMemoryStream source, dest;
    Load(source, RandomBytes(c.available, 3));
    ExpectFailure<EReadError>([&] { TCompressStream().CompressStream(source, dest, c.count); },
                              "Stream read error");
  }
}

TEST(CompressStream, DestinationThatRefusesWritesIsWriteError) {
  const TBytes input(100, 0x61);
  const size_t containerSize = Pack(input).size();
  // Limits inside the signature, the total, the block length and the block; then a destination
  // that takes the whole container but not the total patched in at the end.
  for (int64_t limit : {0, 3, 6, 9, 10, 13, 14, 15, static_cast<int>(containerSize)}) {
    SCOPED_TRACE(limit);
    TMemoryStream source;
    Load(source, input);
    TFakeStream dest;
    dest.WriteLimit = limit;
    ExpectFailure<EWriteError>(
        [&] { TCompressStream().CompressStream(source, dest, static_cast<int32_t>(input.size())); },
        "Stream write error");
  }
}

// --- DecompressStream ------------------------------------------------------------------------

TEST(DecompressStream, WrongSignatureWritesNothing) {
  const TBytes plainLayout = Le32(1) + TBytes{0x41};
  for (const TBytes& stored : {BytesOf("PMCS11") + Le32(0), BytesOf("pmcs10") + Le32(0),
                               BytesOf("XMCS10") + Le32(0), plainLayout + Le32(0)}) {
    SCOPED_TRACE(testing::PrintToString(stored));
    TMemoryStream source, dest;
    Load(source, stored);
    try {
      TCompressStream().DecompressStream(source, dest);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), "Exception");
      EXPECT_EQ(e.Message(), "Wrong file type");
    }
    EXPECT_EQ(dest.Size(), 0);
    EXPECT_EQ(source.Position(), 6);
  }
}

TEST(DecompressStream, TotalDecidesHowManyBlocksAreRead) {
  const TBytes first = Le32(2) + TBytes{0x80, 0x41};
  const TBytes second = Le32(3) + TBytes{0x80, 0x42, 0x43};
  const TBytes blocks = first + second;
  struct {
    const char* name;
    int32_t total;
    TBytes output;
    size_t consumed;  // source bytes read
  } const cases[] = {
      {"exact", 13, BytesOf("ABC"), 10 + 13},
      {"zero", 0, {}, 10},
      {"negative", -1, {}, 10},
      // The block during which the total drops to 0 or below is still read whole.
      {"smaller than the first block", 1, BytesOf("A"), 10 + 6},
      {"exactly the first block", 6, BytesOf("A"), 10 + 6},
      {"one byte into the second block", 7, BytesOf("ABC"), 10 + 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TUnpacked unpacked = Unpack(Signature + Le32(static_cast<uint32_t>(c.total)) + blocks);
    EXPECT_EQ(unpacked.output, c.output);
    EXPECT_EQ(unpacked.sourcePosition, static_cast<int64_t>(c.consumed));
  }
}

TEST(DecompressStream, BlockLengthZeroGivesNothing) {
  const TBytes stored = Signature + Le32(10) + Le32(0) + Le32(2) + TBytes{0x80, 0x41};
  const TUnpacked unpacked = Unpack(stored);
  EXPECT_EQ(unpacked.output, BytesOf("A"));
  EXPECT_EQ(unpacked.sourcePosition, static_cast<int64_t>(stored.size()));
}

TEST(DecompressStream, BackToBackContainersTakeOneCallEach) {
  const TBytes a = ReadWholeFile(SystemLicenceText());
  const TBytes b = BytesOf("second");
  const TBytes packedA = Pack(a);
  TMemoryStream source, destA, destB;
  Load(source, packedA + Pack(b));
  TCompressStream codec;
  codec.DecompressStream(source, destA);
  EXPECT_EQ(source.Position(), static_cast<int64_t>(packedA.size()));
  codec.DecompressStream(source, destB);
  EXPECT_EQ(source.Position(), source.Size());
  EXPECT_EQ(destA.Bytes(), a);
  EXPECT_EQ(destB.Bytes(), b);
}

TEST(DecompressStream, TruncationAnywhereIsReadErrorAndKeepsEarlierBlocks) {
  // Two blocks: 39 bytes for a full chunk of one byte value, then a short copied block.
  const TBytes input = TBytes(Chunk, 0x61) + BytesOf("hello");
  const TBytes container = Pack(input);
  const size_t firstBlockEnd = 10 + 4 + 39;
  ASSERT_EQ(container.size(), firstBlockEnd + 4 + 6);
  // Also a total that promises more than the blocks that follow.
  TBytes promising = container;
  promising[6] += 1;
  for (size_t size = 0; size <= container.size(); ++size) {
    const TBytes stored = size < container.size() ? Slice(container, 0, size) : promising;
    SCOPED_TRACE(size);
    TMemoryStream source, dest;
    Load(source, stored);
    ExpectFailure<EReadError>([&] { TCompressStream().DecompressStream(source, dest); },
                              "Stream read error");
    const size_t kept = size == container.size() ? input.size() : size >= firstBlockEnd ? Chunk : 0;
    EXPECT_EQ(dest.Size(), static_cast<int64_t>(kept));
  }
}

TEST(DecompressStream, DamagedBlocksAreReadErrors) {
  // Nine runs of 4,111 bytes: more than one chunk can hold.
  TBytes tooLong{0x40, 0xFF, 0x80};
  for (int i = 0; i < 9; ++i) tooLong = tooLong + TBytes{0x00, 0x0F, 0xFF, 0x61};
  struct {
    const char* name;
    TBytes blocks;
    const char* message;
  } const cases[] = {
      {"block length 32,785", Le32(32785) + TBytes(32785, 0x80),
       "Damaged compressed stream: block length 32785 is larger than 32784"},
      {"block length 0xFFFFFFFF", Le32(0xFFFFFFFF),
       "Damaged compressed stream: block length 4294967295 is larger than 32784"},
      {"output larger than a chunk", Le32(static_cast<uint32_t>(tooLong.size())) + tooLong,
       "Damaged compressed block: the output does not fit in the output area"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream source, dest;
    Load(source, Signature + Le32(static_cast<uint32_t>(c.blocks.size())) + c.blocks);
    ExpectFailure<EReadError>([&] { TCompressStream().DecompressStream(source, dest); }, c.message);
    EXPECT_EQ(dest.Size(), 0);
  }
}

TEST(DecompressStream, DestinationThatRefusesWritesIsWriteError) {
  TMemoryStream source;
  Load(source, Pack(BytesOf("some bytes")));
  TFakeStream dest;
  dest.WriteLimit = 4;
  ExpectFailure<EWriteError>([&] { TCompressStream().DecompressStream(source, dest); },
                             "Stream write error");
}

}  // namespace
