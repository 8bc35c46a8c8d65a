// Feeds arbitrary bytes to DecompressStream as a stored container, and the same bytes through a
// CompressStream round trip.
//
// Unpacking may only complete or fail with Exception "Wrong file type" (nothing written) or
// EReadError (a stream that ends early or a damaged block); it never reads past the source.
// Packing the input and unpacking the container must give the input back and consume exactly
// the container.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FileSrc.h"
#include "Streams.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

void Load(TMemoryStream& stream, const uint8_t* data, size_t size) {
  stream.WriteBuffer(data, static_cast<int32_t>(size));
  stream.SetPosition(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return -1;
  {
    TMemoryStream source, dest;
    Load(source, data, size);
    try {
      TCompressStream().DecompressStream(source, dest);
    } catch (const EReadError&) {
    } catch (const Exception& e) {
      if (std::strcmp(e.ClassName(), "Exception") != 0 || e.Message() != "Wrong file type") {
        Fail("unexpected exception");
      }
      if (dest.Size() != 0) Fail("wrong signature, yet something was written");
    }
    if (source.Position() > source.Size()) Fail("read beyond the source");
  }

  TMemoryStream source, packed, restored;
  Load(source, data, size);
  TCompressStream().CompressStream(source, packed, static_cast<int32_t>(size));
  const int64_t packedSize = packed.Size();
  packed.SetPosition(0);
  TCompressStream().DecompressStream(packed, restored);
  if (packed.Position() != packedSize) Fail("container not consumed exactly");
  if (restored.Size() != static_cast<int64_t>(size) ||
      (size != 0 && std::memcmp(restored.Memory(), data, size) != 0)) {
    Fail("round trip lost the input");
  }
  return 0;
}
