// The installer image's services on POSIX systems: the program's own file through /proc, and
// the length of an ELF executable from its header.
#include <unistd.h>

#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "InstallerImage.h"

namespace {

constexpr uint64_t NoExtent = std::numeric_limits<uint64_t>::max();
constexpr uint32_t ShtNobits = 8;    // a section that takes no room in the file (.bss)
constexpr uint16_t PnXnum = 0xFFFF;  // the real number of program headers is elsewhere
constexpr uint8_t ElfClass32 = 1;
constexpr uint8_t ElfClass64 = 2;
constexpr uint8_t ElfDataLsb = 1;
constexpr uint8_t ElfDataMsb = 2;

// Reads the header fields of one ELF file in its own byte order and word size.
class TElfReader {
 public:
  TElfReader(TStream& file, uint64_t fileSize) : FFile(file), FFileSize(fileSize) {}

  // The end of the last byte that the header, the program and section tables and the segments
  // and sections they describe account for; NoExtent when the file is not ELF or its header
  // does not hold together.
  uint64_t Extent() {
    uint8_t ident[16];
    if (FFileSize < sizeof ident || !ReadAt(0, ident, sizeof ident)) return NoExtent;
    if (std::memcmp(ident,
                    "\x7F"
                    "ELF",
                    4) != 0) {
      return NoExtent;
    }
    if (ident[4] != ElfClass32 && ident[4] != ElfClass64) return NoExtent;
    if (ident[5] != ElfDataLsb && ident[5] != ElfDataMsb) return NoExtent;
    F64 = ident[4] == ElfClass64;
    FMsb = ident[5] == ElfDataMsb;

    const std::size_t headerSize = F64 ? 64 : 52;
    std::vector<uint8_t> header(headerSize);
    if (FFileSize < headerSize || !ReadAt(0, header.data(), headerSize)) return NoExtent;
    const uint64_t phoff = Word(header.data(), F64 ? 0x20 : 0x1C);
    const uint64_t shoff = Word(header.data(), F64 ? 0x28 : 0x20);
    const uint64_t phentsize = Get(header.data(), F64 ? 0x36 : 0x2A, 2);
    const uint64_t phnum = Get(header.data(), F64 ? 0x38 : 0x2C, 2);
    const uint64_t shentsize = Get(header.data(), F64 ? 0x3A : 0x2E, 2);
    uint64_t shnum = Get(header.data(), F64 ? 0x3C : 0x30, 2);
    if (phnum == PnXnum) return NoExtent;

    FExtent = headerSize;
    // Program headers: each segment's bytes in the file.
    if (phnum > 0) {
      if (phentsize < (F64 ? 56u : 32u)) return NoExtent;
      std::optional<std::vector<uint8_t>> table = Table(phoff, phentsize, phnum);
      if (!table) return FBroken ? NoExtent : FExtent;
      for (uint64_t i = 0; i < phnum; ++i) {
        const uint8_t* entry = table->data() + i * phentsize;
        const uint64_t offset = Word(entry, F64 ? 8 : 4);
        const uint64_t size = Word(entry, F64 ? 32 : 16);
        if (!Account(offset, size)) return NoExtent;
      }
    }
    // Section headers: each section that takes room in the file, symbols and notes included.
    if (shoff != 0) {
      if (shentsize < (F64 ? 64u : 40u)) return NoExtent;
      if (shnum == 0) {
        // More sections than the header can count: the first section header holds the number.
        std::optional<std::vector<uint8_t>> first = Table(shoff, shentsize, 1);
        if (!first) return FBroken ? NoExtent : FExtent;
        shnum = Word(first->data(), F64 ? 32 : 20);
      }
      std::optional<std::vector<uint8_t>> table = Table(shoff, shentsize, shnum);
      if (!table) return FBroken ? NoExtent : FExtent;
      for (uint64_t i = 0; i < shnum; ++i) {
        const uint8_t* entry = table->data() + i * shentsize;
        if (Get(entry, 4, 4) == ShtNobits) continue;
        const uint64_t offset = Word(entry, F64 ? 24 : 16);
        const uint64_t size = Word(entry, F64 ? 32 : 20);
        if (!Account(offset, size)) return NoExtent;
      }
    }
    return FExtent;
  }

 private:
  bool ReadAt(uint64_t pos, void* buffer, std::size_t count) {
    if (pos > FFileSize || count > FFileSize - pos) return false;
    try {
      if (FFile.Seek(static_cast<int64_t>(pos), TSeekOrigin::soBeginning) !=
          static_cast<int64_t>(pos)) {
        return false;
      }
      FFile.ReadBuffer(buffer, static_cast<int32_t>(count));
      return true;
    } catch (const EReadError&) {
      return false;
    }
  }

  uint64_t Get(const uint8_t* p, std::size_t at, int size) const {
    uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
      const uint8_t byte = p[at + static_cast<std::size_t>(FMsb ? i : size - 1 - i)];
      value = (value << 8) | byte;
    }
    return value;
  }
  uint64_t Word(const uint8_t* p, std::size_t at) const { return Get(p, at, F64 ? 8 : 4); }

  // Counts offset + size into the extent; false when the sum overflows.
  bool Account(uint64_t offset, uint64_t size) {
    if (size > std::numeric_limits<uint64_t>::max() - offset) return false;
    FExtent = std::max(FExtent, offset + size);
    return true;
  }

  // A table of count entries at offset. When it lies past the end of the file it is counted
  // into the extent but not read (nullopt, FBroken false); a table that cannot be read or whose
  // size overflows sets FBroken.
  std::optional<std::vector<uint8_t>> Table(uint64_t offset, uint64_t entrySize, uint64_t count) {
    if (count > std::numeric_limits<uint64_t>::max() / entrySize ||
        !Account(offset, entrySize * count)) {
      FBroken = true;
      return std::nullopt;
    }
    const uint64_t size = entrySize * count;
    if (offset > FFileSize || size > FFileSize - offset) return std::nullopt;
    if (size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      FBroken = true;
      return std::nullopt;
    }
    std::vector<uint8_t> table(static_cast<std::size_t>(size));
    if (!ReadAt(offset, table.data(), table.size())) {
      FBroken = true;
      return std::nullopt;
    }
    return table;
  }

  TStream& FFile;
  uint64_t FFileSize;
  bool F64 = false;
  bool FMsb = false;
  bool FBroken = false;
  uint64_t FExtent = 0;
};

}  // namespace

std::string ExecutableFileName() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    buffer.resize(buffer.size() * 2);  // the name may have been cut: try with more room
  }
}

int64_t ExecutableExtent(TStream& file) {
  const int64_t size = file.Seek(0, TSeekOrigin::soEnd);
  if (size < 0) return -1;
  const uint64_t extent = TElfReader(file, static_cast<uint64_t>(size)).Extent();
  if (extent > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return -1;
  return static_cast<int64_t>(extent);
}
