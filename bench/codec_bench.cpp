// Packing and unpacking speed of our container beside established codecs, in one run.
//
// Every codec works on the same inputs cut into chunks of 32,783 bytes, the container's chunk
// size: ours through TCompressStream over memory streams, once with the greedy encoder
// ("container") and once with the optimal one ("container-best"), lz4 (default level), lz4 HC
// at level 9, zlib at level 9, lzo1x_1 (its safe decoder), lzf, and memcpy as the ceiling. The
// inputs are found on the machine when the benchmark starts: a program of 1 to 3 MB, a licence
// text, and about 10 MB of programs, texts and libraries. Each codec's round trip is checked
// once before anything is timed, and the packed sizes are printed then, with the optimal
// encoder's container beside the greedy one's (also for the program's first 600,000 bytes).
//
// Counters: bytes_per_second counts input (unpacked) bytes per second of CPU time; "ratio" is
// packed size / input size.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>
#include <lzf.h>
#include <lzo/lzo1x.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "FileSrc.h"
#include "Streams.h"

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<uint8_t>;

constexpr size_t Chunk = TCompressStream::ChunkSize;

TBytes ReadFile(const fs::path& path, size_t most = SIZE_MAX) {
  std::ifstream in(path, std::ios::binary);
  TBytes bytes;
  bytes.resize(std::min<size_t>(most, fs::file_size(path)));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

bool IsFileOfSize(const fs::path& path, uintmax_t least, uintmax_t most) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec) || fs::is_symlink(path, ec)) return false;
  const uintmax_t size = fs::file_size(path, ec);
  return !ec && size >= least && size <= most;
}

// The regular files of the folders, sorted, whose size lies in [least, most].
std::vector<fs::path> FilesIn(std::initializer_list<const char*> folders, uintmax_t least,
                              uintmax_t most) {
  std::vector<fs::path> files;
  for (const char* folder : folders) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      if (IsFileOfSize(entry.path(), least, most)) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

struct TInput {
  std::string name;
  TBytes data;
};

std::vector<TInput> FindInputs() {
  std::vector<TInput> inputs;
  constexpr uintmax_t MB = 1000 * 1000;

  fs::path program;
  for (const char* candidate : {"/usr/bin/bash", "/bin/bash", "/usr/bin/perl"}) {
    if (IsFileOfSize(candidate, MB, 3 * MB)) {
      program = candidate;
      break;
    }
  }
  if (program.empty()) {
    const auto programs = FilesIn({"/usr/bin"}, MB, 3 * MB);
    if (!programs.empty()) program = programs.front();
  }
  if (!program.empty()) inputs.push_back({"program", ReadFile(program)});
  std::printf("program: %s\n", program.c_str());

  for (const char* candidate :
       {"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/GPL-2"}) {
    if (IsFileOfSize(candidate, 10000, MB)) {
      inputs.push_back({"licence", ReadFile(candidate)});
      std::printf("licence: %s\n", candidate);
      break;
    }
  }

  // About a third each of programs, texts and libraries, whole files in name order; a group that
  // falls short leaves its share to the next.
  const std::vector<fs::path> groups[] = {
      FilesIn({"/usr/bin"}, 64 * 1024, 2 * MB),
      FilesIn({"/usr/share/common-licenses", "/usr/include", "/usr/include/linux"}, 8 * 1024, MB),
      FilesIn({"/usr/lib/x86_64-linux-gnu", "/usr/lib64", "/usr/lib"}, 64 * 1024, 2 * MB),
  };
  constexpr size_t MixedSize = 10 * 1000 * 1000;
  TBytes mixed;
  size_t files = 0;
  for (size_t g = 0; g < std::size(groups); ++g) {
    const size_t budget = MixedSize * (g + 1) / std::size(groups);
    for (const auto& path : groups[g]) {
      if (mixed.size() >= budget) break;
      const TBytes bytes = ReadFile(path, budget - mixed.size());
      mixed.insert(mixed.end(), bytes.begin(), bytes.end());
      ++files;
    }
  }
  if (!mixed.empty()) inputs.push_back({"mixed", std::move(mixed)});
  std::printf("mixed: %zu files\n", files);
  for (const auto& input : inputs)
    std::printf("  %-8s %zu bytes\n", input.name.c_str(), input.data.size());
  return inputs;
}

// --- The codecs ------------------------------------------------------------------------------

// One codec set up for one input: Pack packs the whole input and keeps the packed form, Unpack
// restores the packed form of the last Pack.
class TCodec {
 public:
  explicit TCodec(const TBytes& input) : FInput(input) {}
  TCodec(const TCodec&) = delete;
  TCodec& operator=(const TCodec&) = delete;
  virtual ~TCodec() = default;

  // Returns the packed size.
  virtual size_t Pack() = 0;
  // Returns the unpacked bytes and their number.
  virtual const uint8_t* Unpack(size_t& size) = 0;

 protected:
  const TBytes& FInput;
};

// Ours, through the container over memory streams. The streams live across iterations, so
// only the first call grows them.
class TContainerCodec : public TCodec {
 public:
  TContainerCodec(const TBytes& input, TBlockEncoder encoder) : TCodec(input), FEncoder(encoder) {
    FSource.WriteBuffer(input.data(), static_cast<int32_t>(input.size()));
  }
  size_t Pack() override {
    FSource.SetPosition(0);
    FPacked.SetPosition(0);
    TCompressStream container;
    container.SetEncoder(FEncoder);
    container.CompressStream(FSource, FPacked, static_cast<int32_t>(FInput.size()));
    FPacked.SetSize(FPacked.Position());
    return static_cast<size_t>(FPacked.Size());
  }
  const uint8_t* Unpack(size_t& size) override {
    FPacked.SetPosition(0);
    FOutput.SetPosition(0);
    TCompressStream().DecompressStream(FPacked, FOutput);
    size = static_cast<size_t>(FOutput.Position());
    return FOutput.Memory();
  }

 private:
  TBlockEncoder FEncoder;
  TMemoryStream FSource, FPacked, FOutput;
};

using TChunkCoder = size_t (*)(const uint8_t* in, size_t n, uint8_t* out, size_t room, void* work);

// The others, chunk by chunk into flat buffers; each chunk is stored as a 4-byte length and
// its packed bytes, so that the unpacking side finds the chunks as ours does.
class TChunkedCodec : public TCodec {
 public:
  TChunkedCodec(const TBytes& input, TChunkCoder pack, TChunkCoder unpack, size_t workSize)
      : TCodec(input),
        FPackChunk(pack),
        FUnpackChunk(unpack),
        FWork(workSize),
        FPacked(input.size() + input.size() / 8 + (input.size() / Chunk + 1) * 80),
        FOutput(input.size()) {}

  size_t Pack() override {
    size_t at = 0;
    for (size_t from = 0; from < FInput.size(); from += Chunk) {
      const size_t n = std::min(Chunk, FInput.size() - from);
      const uint32_t size = static_cast<uint32_t>(FPackChunk(
          FInput.data() + from, n, FPacked.data() + at + 4, FPacked.size() - at - 4, FWork.data()));
      std::memcpy(FPacked.data() + at, &size, 4);
      at += 4 + size;
    }
    FPackedSize = at;
    return at;
  }
  const uint8_t* Unpack(size_t& size) override {
    size_t at = 0;
    size_t out = 0;
    while (at < FPackedSize) {
      uint32_t n;
      std::memcpy(&n, FPacked.data() + at, 4);
      out += FUnpackChunk(FPacked.data() + at + 4, n, FOutput.data() + out,
                          std::min(Chunk, FOutput.size() - out), nullptr);
      at += 4 + n;
    }
    size = out;
    return FOutput.data();
  }

 private:
  TChunkCoder FPackChunk;
  TChunkCoder FUnpackChunk;
  TBytes FWork;
  TBytes FPacked;
  size_t FPackedSize = 0;
  TBytes FOutput;
};

size_t Lz4Pack(const uint8_t* in, size_t n, uint8_t* out, size_t room, void*) {
  return static_cast<size_t>(LZ4_compress_default(reinterpret_cast<const char*>(in),
                                                  reinterpret_cast<char*>(out), static_cast<int>(n),
                                                  static_cast<int>(room)));
}
size_t Lz4Unpack(const uint8_t* in, size_t n, uint8_t* out, size_t room, void*) {
  const int size =
      LZ4_decompress_safe(reinterpret_cast<const char*>(in), reinterpret_cast<char*>(out),
                          static_cast<int>(n), static_cast<int>(room));
  return size < 0 ? 0 : static_cast<size_t>(size);
}
size_t Lz4HcPack(const uint8_t* in, size_t n, uint8_t* out, size_t room, void* work) {
  return static_cast<size_t>(LZ4_compress_HC_extStateHC(
      work, reinterpret_cast<const char*>(in), reinterpret_cast<char*>(out), static_cast<int>(n),
      static_cast<int>(room), 9));
}
// zlib's one-call functions; each call sets up and frees its own stream state.
size_t ZlibPack(const uint8_t* in, size_t n, uint8_t* out, size_t room, void*) {
  uLongf size = room;
  return compress2(out, &size, in, n, 9) == Z_OK ? size : 0;
}
size_t ZlibUnpack(const uint8_t* in, size_t n, uint8_t* out, size_t room, void*) {
  uLongf size = room;
  return uncompress(out, &size, in, n) == Z_OK ? size : 0;
}
size_t LzoPack(const uint8_t* in, size_t n, uint8_t* out, size_t, void* work) {
  lzo_uint size = 0;
  lzo1x_1_compress(in, n, out, &size, work);
  return size;
}
size_t LzoUnpack(const uint8_t* in, size_t n, uint8_t* out, size_t room, void*) {
  lzo_uint size = room;
  return lzo1x_decompress_safe(in, n, out, &size, nullptr) == LZO_E_OK ? size : 0;
}
size_t LzfPack(const uint8_t* in, size_t n, uint8_t* out, size_t room, void*) {
  return lzf_compress(in, static_cast<unsigned>(n), out, static_cast<unsigned>(room));
}
size_t LzfUnpack(const uint8_t* in, size_t n, uint8_t* out, size_t room, void*) {
  return lzf_decompress(in, static_cast<unsigned>(n), out, static_cast<unsigned>(room));
}
size_t Copy(const uint8_t* in, size_t n, uint8_t* out, size_t, void*) {
  std::memcpy(out, in, n);
  return n;
}

struct TCodecKind {
  const char* name;
  std::function<std::unique_ptr<TCodec>(const TBytes&)> make;
};

const TCodecKind CodecKinds[] = {
    {"container",
     [](const TBytes& in) {
       return std::make_unique<TContainerCodec>(in, TBlockEncoder::beGreedy);
     }},
    {"container-best",
     [](const TBytes& in) {
       return std::make_unique<TContainerCodec>(in, TBlockEncoder::beOptimal);
     }},
    {"lz4",
     [](const TBytes& in) { return std::make_unique<TChunkedCodec>(in, Lz4Pack, Lz4Unpack, 0); }},
    {"lz4hc-9",
     [](const TBytes& in) {
       return std::make_unique<TChunkedCodec>(in, Lz4HcPack, Lz4Unpack,
                                              static_cast<size_t>(LZ4_sizeofStateHC()));
     }},
    {"zlib-9",
     [](const TBytes& in) { return std::make_unique<TChunkedCodec>(in, ZlibPack, ZlibUnpack, 0); }},
    {"lzo1x_1",
     [](const TBytes& in) {
       return std::make_unique<TChunkedCodec>(in, LzoPack, LzoUnpack, LZO1X_1_MEM_COMPRESS);
     }},
    {"lzf",
     [](const TBytes& in) { return std::make_unique<TChunkedCodec>(in, LzfPack, LzfUnpack, 0); }},
    {"memcpy", [](const TBytes& in) { return std::make_unique<TChunkedCodec>(in, Copy, Copy, 0); }},
};

// The optimal encoder's container size as a share of the greedy one's, for each input and for
// the program's first 600,000 bytes.
void PrintOptimalGain(const std::vector<TInput>& inputs) {
  std::vector<TInput> measured = inputs;
  constexpr size_t ProgramPrefix = 600000;
  if (inputs.front().name == "program" && inputs.front().data.size() > ProgramPrefix) {
    const TBytes& program = inputs.front().data;
    measured.push_back(
        {"program, first 600,000 bytes", TBytes(program.begin(), program.begin() + ProgramPrefix)});
  }
  std::printf("\ncontainer-best / container (size):\n");
  for (const TInput& input : measured) {
    TContainerCodec greedy(input.data, TBlockEncoder::beGreedy);
    TContainerCodec optimal(input.data, TBlockEncoder::beOptimal);
    const size_t greedySize = greedy.Pack();
    const size_t optimalSize = optimal.Pack();
    std::printf("  %-30s %10zu / %10zu = %.4f\n", input.name.c_str(), optimalSize, greedySize,
                static_cast<double>(optimalSize) / static_cast<double>(greedySize));
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (lzo_init() != LZO_E_OK) {
    std::fprintf(stderr, "lzo_init failed\n");
    return 1;
  }
  static const std::vector<TInput> inputs = FindInputs();
  if (inputs.size() != 3) {
    std::fprintf(stderr, "could not find all three inputs on this machine\n");
    return 1;
  }

  // Every codec packs every input once and must give it back exactly before anything is timed.
  static std::vector<std::unique_ptr<TCodec>> codecs;
  std::printf("\npacked sizes (ratio = packed / input):\n");
  for (const TCodecKind& kind : CodecKinds) {
    for (const TInput& input : inputs) {
      auto codec = kind.make(input.data);
      const size_t packedSize = codec->Pack();
      size_t size = 0;
      const uint8_t* output = codec->Unpack(size);
      if (size != input.data.size() || !std::equal(input.data.begin(), input.data.end(), output)) {
        std::fprintf(stderr, "%s does not round-trip %s\n", kind.name, input.name.c_str());
        return 1;
      }
      const double ratio = static_cast<double>(packedSize) / static_cast<double>(input.data.size());
      std::printf("  %-15s %-8s %10zu bytes  ratio %.4f\n", kind.name, input.name.c_str(),
                  packedSize, ratio);
      TCodec* c = codec.get();
      codecs.push_back(std::move(codec));
      const int64_t bytes = static_cast<int64_t>(input.data.size());
      benchmark::RegisterBenchmark((std::string("pack/") + kind.name + "/" + input.name).c_str(),
                                   [c, bytes, ratio](benchmark::State& state) {
                                     for (auto _ : state) benchmark::DoNotOptimize(c->Pack());
                                     state.SetBytesProcessed(state.iterations() * bytes);
                                     state.counters["ratio"] = ratio;
                                   })
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark((std::string("unpack/") + kind.name + "/" + input.name).c_str(),
                                   [c, bytes, ratio](benchmark::State& state) {
                                     for (auto _ : state) {
                                       size_t unpacked = 0;
                                       benchmark::DoNotOptimize(c->Unpack(unpacked));
                                       benchmark::ClobberMemory();
                                     }
                                     state.SetBytesProcessed(state.iterations() * bytes);
                                     state.counters["ratio"] = ratio;
                                   })
          ->Unit(benchmark::kMillisecond);
    }
  }
  PrintOptimalGain(inputs);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
