// The installer image: checksums, the resource block, the checking reader and the writer. The
// two services that depend on the system (the program's own file, the executable header) are in
// InstallerImage_posix.cpp.
#include "InstallerImage.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "FileServices.h"
#include "Resources.h"

namespace {

constexpr char BlockSignature[4] = {'R', 'S', 'R', 'C'};
constexpr std::size_t BlockHeaderSize = 8;
constexpr std::size_t MaxResourceName = 255;
constexpr std::size_t TrailerSize = static_cast<std::size_t>(ImageTrailerSize);
// Trailer fields: where each starts.
constexpr std::size_t AtVersion = 8;
constexpr std::size_t AtReserved = 12;
constexpr std::size_t AtBlockOffset = 16;
constexpr std::size_t AtBlockSize = 24;
constexpr std::size_t AtImageCrc = 32;
constexpr std::size_t AtTrailerCrc = 36;
// rwxr-xr-x: an image is a program that anyone may run.
constexpr std::filesystem::perms ExecutablePermissions =
    std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
    std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
    std::filesystem::perms::others_exec;
// The block is read in pieces of this size, so a read never asks the stream for more than it
// can take in one call.
constexpr int32_t ReadPiece = 1 << 20;

// Tables for taking the checksum sixteen bytes a step ("slicing by 16"): CrcTables[0] is the
// usual table of one byte; CrcTables[k][n] is the checksum of byte n followed by k zero bytes.
// The start-up of an image checks its whole block, so this speed is paid on every start.
using TCrcTables = std::array<std::array<uint32_t, 256>, 16>;

constexpr TCrcTables MakeCrcTables() {
  TCrcTables tables{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n) {
    for (std::size_t k = 1; k < tables.size(); ++k) {
      tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFF];
    }
  }
  return tables;
}

constexpr TCrcTables CrcTables = MakeCrcTables();

// Appends the low size bytes of value, little-endian.
void PutLE(std::string& out, uint64_t value, int size) {
  uint8_t bytes[8];
  StoreLE64(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

// The little-endian number of size bytes (1 to 8) at bytes[at].
uint64_t GetLE(std::string_view bytes, std::size_t at, int size) {
  uint8_t number[8] = {};
  std::memcpy(number, bytes.data() + at, static_cast<std::size_t>(size));
  return LoadLE64(number);
}

std::string Num(uint64_t value) { return std::to_string(value); }

bool IsValidResourceName(std::string_view name) {
  if (name.empty() || name.size() > MaxResourceName) return false;
  for (char c : name) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

TImageCheck Fail(TImageStatus status, std::string message) { return {status, std::move(message)}; }

TImageCheck Truncated(const std::string& why) {
  return Fail(TImageStatus::isTruncated, "The installer image is truncated: " + why + ".");
}
TImageCheck Damaged(const std::string& why) {
  return Fail(TImageStatus::isDamaged, "The installer image is damaged: " + why + ".");
}
TImageCheck Malformed(const std::string& why) {
  return Fail(TImageStatus::isMalformed, "The installer image is malformed: " + why + ".");
}

// Reads count bytes at pos into bytes; EReadError when the file gives fewer.
void ReadAt(TStream& file, int64_t pos, std::size_t count, std::string& bytes) {
  bytes.resize(count);
  if (file.Seek(pos, TSeekOrigin::soBeginning) != pos) throw EReadError(SysConst::SReadError);
  file.ReadBuffer(bytes.data(), static_cast<int64_t>(count));
}

std::string ReadAt(TStream& file, int64_t pos, std::size_t count) {
  std::string bytes;
  ReadAt(file, pos, count, bytes);
  return bytes;
}

// Splits a block of the current version into its resources; an empty result is success, any
// other text says what does not hold together.
// A resource of a block, its bytes left where they are.
struct TResourceView {
  std::string Name;
  std::string_view Data;
};

std::string ParseBlock(std::string_view block, std::vector<TResourceView>& resources) {
  if (block.size() < BlockHeaderSize) return "the resource block is too short for its header";
  if (std::memcmp(block.data(), BlockSignature, sizeof BlockSignature) != 0) {
    return "the resource block does not begin with its signature";
  }
  const uint64_t count = GetLE(block, 4, 4);
  std::size_t pos = BlockHeaderSize;
  // Each resource is checked against what is left of the block before it is taken, so a count
  // or a length that the block cannot hold fails here and allocates nothing.
  for (uint64_t i = 1; i <= count; ++i) {
    if (pos == block.size()) {
      return "the resource block ends after " + Num(i - 1) + " of its " + Num(count) + " resources";
    }
    const std::size_t nameLength = static_cast<uint8_t>(block[pos++]);
    if (nameLength == 0) return "resource " + Num(i) + " has an empty name";
    if (nameLength > block.size() - pos) {
      return "the resource block ends inside the name of resource " + Num(i);
    }
    std::string name(block.substr(pos, nameLength));
    pos += nameLength;
    if (!IsValidResourceName(name)) {
      return "resource " + Num(i) + " has a name that is not printable ASCII without blanks";
    }
    if (block.size() - pos < 4) return "the resource block ends inside the length of " + name;
    const uint64_t length = GetLE(block, pos, 4);
    pos += 4;
    if (length > block.size() - pos) {
      return "resource " + name + " claims " + Num(length) + " bytes, but the block holds only " +
             Num(block.size() - pos) + " more";
    }
    for (const TResourceView& earlier : resources) {
      if (SameText(earlier.Name, name)) return "resource " + name + " appears twice";
    }
    resources.push_back({std::move(name), block.substr(pos, length)});
    pos += length;
  }
  if (pos != block.size()) {
    return Num(block.size() - pos) + " stray bytes follow the last resource in the block";
  }
  return {};
}

// Whether the trailer's own checksum holds and its block ends where the trailer begins (at pos).
bool IsSoundTrailer(std::string_view trailer, uint64_t pos) {
  const uint64_t offset = GetLE(trailer, AtBlockOffset, 8);
  return Crc32(trailer.data() + AtVersion, AtTrailerCrc - AtVersion) ==
             GetLE(trailer, AtTrailerCrc, 4) &&
         offset <= pos && GetLE(trailer, AtBlockSize, 8) == pos - offset;
}

// The position of a sound trailer that lies at or after from and ends before the end of the file,
// or -1. Only a file that does not end in a trailer is searched, so its cost falls on a damaged
// image alone.
int64_t FindEarlierTrailer(TStream& file, int64_t size, int64_t from) {
  const std::string_view magic(ImageMagic, sizeof ImageMagic);
  for (int64_t at = from; at + ImageTrailerSize < size; at += ReadPiece) {
    // Each piece overlaps the next by a magic less one byte, so no magic is cut in two.
    const auto count = static_cast<std::size_t>(
        std::min<int64_t>(ReadPiece + static_cast<int64_t>(magic.size()) - 1, size - at));
    const std::string piece = ReadAt(file, at, count);
    for (std::size_t i = piece.find(magic); i != std::string::npos; i = piece.find(magic, i + 1)) {
      const int64_t pos = at + static_cast<int64_t>(i);
      if (pos + ImageTrailerSize >= size) break;
      if (IsSoundTrailer(ReadAt(file, pos, TrailerSize), static_cast<uint64_t>(pos))) return pos;
    }
  }
  return -1;
}

// The file ends without the magic of a trailer: tell a bare program from an image that lost its
// end or the magic of its trailer, or one with bytes appended.
TImageCheck CheckWithoutTrailer(TStream& file, int64_t size) {
  if (size == 0) return Truncated("the file is empty");
  const auto fileSize = static_cast<uint64_t>(size);
  if (fileSize >= TrailerSize) {
    // Sound fields that place the block right before them: a trailer whose magic is damaged.
    const std::string trailer = ReadAt(file, size - ImageTrailerSize, TrailerSize);
    if (IsSoundTrailer(trailer, fileSize - TrailerSize)) {
      return Damaged("the magic of its trailer is wrong");
    }
  }
  // A trailer cut short leaves its magic less than a trailer's length before the end.
  const std::size_t tailSize = std::min<std::size_t>(fileSize, 2 * TrailerSize - 1);
  const std::string tail = ReadAt(file, size - static_cast<int64_t>(tailSize), tailSize);
  for (std::size_t at = tailSize > TrailerSize ? tailSize - TrailerSize + 1 : 0;
       at + sizeof ImageMagic <= tailSize; ++at) {
    if (std::memcmp(tail.data() + at, ImageMagic, sizeof ImageMagic) == 0) {
      return Truncated("its trailer is cut short");
    }
  }
  const int64_t extent = ExecutableExtent(file);
  // A whole image with bytes appended after it: a sound trailer that is not at the end.
  if (const int64_t at = FindEarlierTrailer(file, size, extent >= 0 && extent < size ? extent : 0);
      at >= 0) {
    return Damaged(Num(static_cast<uint64_t>(size - at - ImageTrailerSize)) +
                   " bytes were appended after its trailer");
  }
  if (extent >= 0 && extent < size) {
    return Truncated(Num(static_cast<uint64_t>(size - extent)) +
                     " bytes follow the program, but the trailer that should end them is missing");
  }
  if (extent > size) {
    return Truncated("the program itself should be " + Num(static_cast<uint64_t>(extent)) +
                     " bytes long, but the file holds only " + Num(fileSize));
  }
  return Fail(TImageStatus::isNoInstaller, "This setup program carries no installer.");
}

// Checks the image in file. mapped, when given, is the whole file mapped into memory: the block
// is then checked and used in place (no copy of megabytes on every start), and the resources
// found point into it; else they point into storage, which receives the block. The program's
// part is read in pieces either way: reading copies it from the system's cache faster than
// first touches of its mapped pages would bring it in.
TImageCheck CheckImage(TStream& file, const char* mapped, std::string& storage,
                       std::vector<TResourceView>& resources) {
  const int64_t size = file.Seek(0, TSeekOrigin::soEnd);
  if (size < 0) throw EReadError(SysConst::SReadError);
  if (size < ImageTrailerSize) return CheckWithoutTrailer(file, size);
  const std::string trailer = ReadAt(file, size - ImageTrailerSize, TrailerSize);
  if (std::memcmp(trailer.data(), ImageMagic, sizeof ImageMagic) != 0) {
    return CheckWithoutTrailer(file, size);
  }
  if (Crc32(trailer.data() + AtVersion, AtTrailerCrc - AtVersion) !=
      GetLE(trailer, AtTrailerCrc, 4)) {
    return Damaged("its trailer fails its checksum");
  }
  const uint64_t version = GetLE(trailer, AtVersion, 4);
  if (version != ImageFormatVersion) {
    return Fail(TImageStatus::isUnknownVersion,
                "The installer image has format version " + Num(version) +
                    ", but this setup program reads only version " + Num(ImageFormatVersion) + ".");
  }
  if (GetLE(trailer, AtReserved, 4) != 0) return Malformed("its trailer's reserved field is set");

  const uint64_t offset = GetLE(trailer, AtBlockOffset, 8);
  const uint64_t blockSize = GetLE(trailer, AtBlockSize, 8);
  const auto room = static_cast<uint64_t>(size - ImageTrailerSize);  // bytes before the trailer
  // Both numbers come from the file: their sum is checked before it is formed.
  if (offset > std::numeric_limits<uint64_t>::max() - TrailerSize ||
      blockSize > std::numeric_limits<uint64_t>::max() - TrailerSize - offset) {
    return Malformed("its trailer places the resource block beyond any file");
  }
  if (offset > room || blockSize > room - offset) {
    return Truncated("its trailer says the image is " + Num(offset + blockSize + TrailerSize) +
                     " bytes long, but the file holds only " + Num(static_cast<uint64_t>(size)));
  }
  if (offset + blockSize != room) {
    return Malformed(Num(room - offset - blockSize) +
                     " stray bytes lie between the resource block and the trailer");
  }
  if (blockSize > static_cast<uint64_t>(MaxImageBlockSize)) {
    return Malformed("the resource block is larger than " + Num(MaxImageBlockSize) + " bytes");
  }
  // The sizes are now known to be no more than the file holds. The checksum covers every byte
  // before the trailer: the program's own and the block's.
  uint32_t crc = 0;
  std::string piece;
  for (uint64_t at = 0; at < offset; at += ReadPiece) {
    const auto count = static_cast<std::size_t>(std::min<uint64_t>(ReadPiece, offset - at));
    ReadAt(file, static_cast<int64_t>(at), count, piece);
    crc = Crc32(piece.data(), piece.size(), crc);
  }
  std::string_view block;
  if (mapped) {
    block = std::string_view(mapped + offset, static_cast<std::size_t>(blockSize));
  } else {
    ReadAt(file, static_cast<int64_t>(offset), blockSize, storage);
    block = storage;
  }
  crc = Crc32(block.data(), block.size(), crc);
  if (crc != GetLE(trailer, AtImageCrc, 4)) {
    return Damaged("its program or its resource block fails the image's checksum");
  }
  std::vector<TResourceView> parsed;
  if (std::string why = ParseBlock(block, parsed); !why.empty()) return Malformed(why);
  resources = std::move(parsed);
  return {};
}

TImageCheck Unreadable(const std::string& path, const std::string& why) {
  return Fail(TImageStatus::isUnreadable,
              "The setup program file " + path + " cannot be read: " + why);
}

}  // namespace

uint32_t Crc32(const void* data, std::size_t size, uint32_t crc) {
  const auto* p = static_cast<const uint8_t*>(data);
  const TCrcTables& t = CrcTables;
  crc = ~crc;
  for (; size >= 16; p += 16, size -= 16) {
    const uint32_t a = LoadLE32(p) ^ crc;
    const uint32_t b = LoadLE32(p + 4);
    const uint32_t c = LoadLE32(p + 8);
    const uint32_t d = LoadLE32(p + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
  }
  for (; size > 0; ++p, --size) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

TImageCheck ReadImageResources(const std::string& path, std::vector<TImageResource>& resources) {
  resources.clear();
  try {
    TFileStream file(path, TFileStream::fmOpenRead);
    std::string storage;
    std::vector<TResourceView> views;
    TImageCheck check = CheckImage(file, nullptr, storage, views);
    for (const TResourceView& view : views) {
      resources.push_back({view.Name, std::string(view.Data)});
    }
    return check;
  } catch (const Exception& e) {
    resources.clear();
    return Unreadable(path, e.Message());
  }
}

TImageCheck LoadImageResources(const std::string& exePath) {
  std::vector<TImageResource> resources;
  // The program's own file is mapped, so the resources are used where they lie; where it cannot
  // be mapped, they are read and copied.
  std::shared_ptr<const TFileMapping> mapping = TFileMapping::Map(exePath);
  if (!mapping) {
    TImageCheck check = ReadImageResources(exePath, resources);
    if (check.Ok()) {
      for (TImageResource& resource : resources) {
        RegisterResource(resource.Name, std::move(resource.Data));
      }
    }
    return check;
  }
  try {
    TFileStream file(exePath, TFileStream::fmOpenRead);
    if (file.Seek(0, TSeekOrigin::soEnd) != mapping->Size()) {
      return Unreadable(exePath, "the file changed while it was being read");
    }
    std::string storage;
    std::vector<TResourceView> views;
    TImageCheck check =
        CheckImage(file, reinterpret_cast<const char*>(mapping->Data()), storage, views);
    if (check.Ok()) {
      for (const TResourceView& view : views) RegisterResourceView(view.Name, view.Data, mapping);
    }
    return check;
  } catch (const Exception& e) {
    return Unreadable(exePath, e.Message());
  }
}

std::string MakeResourceBlock(const std::vector<TImageResource>& resources) {
  uint64_t total = BlockHeaderSize;
  for (std::size_t i = 0; i < resources.size(); ++i) {
    const std::string& name = resources[i].Name;
    if (!IsValidResourceName(name)) {
      throw EImageError("The resource name '" + name +
                        "' is not 1 to 255 printable ASCII characters without blanks");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (SameText(resources[j].Name, name)) {
        throw EImageError("The resource " + name + " is given twice");
      }
    }
    total += 1 + name.size() + 4 + resources[i].Data.size();
    if (total > static_cast<uint64_t>(MaxImageBlockSize)) {
      throw EImageError("The resources do not fit in one block of " + Num(MaxImageBlockSize) +
                        " bytes");
    }
  }
  std::string block;
  block.reserve(static_cast<std::size_t>(total));
  block.append(BlockSignature, sizeof BlockSignature);
  PutLE(block, resources.size(), 4);
  for (const TImageResource& resource : resources) {
    PutLE(block, resource.Name.size(), 1);
    block += resource.Name;
    PutLE(block, resource.Data.size(), 4);
    block += resource.Data;
  }
  return block;
}

std::string MakeImageTrailer(uint32_t programCrc, uint64_t blockOffset, std::string_view block,
                             uint32_t version) {
  std::string trailer(ImageMagic, sizeof ImageMagic);
  PutLE(trailer, version, 4);
  PutLE(trailer, 0, 4);
  PutLE(trailer, blockOffset, 8);
  PutLE(trailer, block.size(), 8);
  PutLE(trailer, Crc32(block.data(), block.size(), programCrc), 4);
  PutLE(trailer, Crc32(trailer.data() + AtVersion, trailer.size() - AtVersion), 4);
  return trailer;
}

void WriteInstallerImage(const std::string& imagePath, const std::string& stubPath,
                         const std::vector<TImageResource>& resources) {
  const std::string block = MakeResourceBlock(resources);
  TFileStream stub(stubPath, TFileStream::fmOpenRead);
  {
    std::vector<TImageResource> carried;
    TImageCheck check = ReadImageResources(stubPath, carried);
    if (check.Ok()) throw EImageError("The stub " + stubPath + " already carries an installer");
    if (check.Status != TImageStatus::isNoInstaller) {
      throw EImageError("The stub " + stubPath + " is not a bare setup program: " + check.Message);
    }
  }
  const int64_t stubSize = stub.Seek(0, TSeekOrigin::soEnd);
  if (stubSize < 0) throw EReadError(SysConst::SReadError);

  TReplacingFileStream image(imagePath);
  // The program is copied in pieces, and its checksum taken on the way.
  uint32_t programCrc = 0;
  std::string piece(ReadPiece, '\0');
  stub.SetPosition(0);
  for (int64_t done = 0; done < stubSize;) {
    const auto count = static_cast<int32_t>(std::min<int64_t>(stubSize - done, ReadPiece));
    stub.ReadBuffer(piece.data(), count);
    programCrc = Crc32(piece.data(), static_cast<std::size_t>(count), programCrc);
    image.WriteBuffer(piece.data(), count);
    done += count;
  }
  const std::string trailer = MakeImageTrailer(programCrc, static_cast<uint64_t>(stubSize), block);
  image.WriteBuffer(block.data(), static_cast<int64_t>(block.size()));
  image.WriteBuffer(trailer.data(), static_cast<int64_t>(trailer.size()));
  std::error_code error;
  std::filesystem::permissions(image.FileName(), ExecutablePermissions,
                               std::filesystem::perm_options::replace, error);
  if (error) throw EFCreateError(Format(SysConst::SFCreateError, {imagePath}), error.message());
  image.Commit();
}
