// The installer image: the setup program's executable with a block of named resources appended
// and a fixed-size trailer at the very end that says where the block is and guards it.
//
// Layout of an image, every number little-endian:
//
//   [ the setup program, unchanged ][ resource block ][ trailer, ImageTrailerSize bytes ]
//
// The trailer (the last 40 bytes of the file), format version 2:
//
//   offset size  field
//        0    8  ImageMagic, "TVXIMAGE"
//        8    4  format version, ImageFormatVersion (2)
//       12    4  reserved, 0
//       16    8  offset of the resource block from the start of the file
//       24    8  size of the resource block
//       32    4  CRC-32 of every byte before the trailer: the setup program and the resource block
//       36    4  CRC-32 of trailer bytes 8 to 35
//
// Every format version keeps this trailer's size, its magic, the version and both checksums in
// their places; the version decides how the other fields and the block are read. The trailer's
// own checksum leaves the magic out, so that a trailer whose magic alone is damaged is still
// recognised as a damaged trailer rather than taken for a program without one. Version 1 had the
// same layout, but its checksum at 32 covered the resource block alone, so a damaged program
// passed; its images are refused as of an unknown version.
//
// The checksum of the whole file is paid on every start. CRC-32 sixteen bytes a step (slicing by
// 16) over the program read in pieces and the block mapped in place takes about 1.3 ms for an
// image of 2 MB and 5 ms for one of 11 MB on the build machine.
//
// The resource block:
//
//   offset size  field
//        0    4  "RSRC"
//        4    4  number of resources
//        8       the resources, one after another, filling the block exactly:
//                   1  length of the name, 1 to 255
//                   n  the name: printable ASCII without blanks, unique without regard to case
//                   4  length of the data, L
//                   L  the data
//
// The block must end where the trailer begins, and it holds at most 2,147,483,647 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Streams.h"
#include "SysUtils.h"

// A resource block or image that cannot be made as asked (a bad resource name, a stub that is
// not a bare setup program).
TAVRIX_DECLARE_EXCEPTION(EImageError, Exception);

inline constexpr char ImageMagic[8] = {'T', 'V', 'X', 'I', 'M', 'A', 'G', 'E'};
inline constexpr uint32_t ImageFormatVersion = 2;
inline constexpr int64_t ImageTrailerSize = 40;
inline constexpr int64_t MaxImageBlockSize = 0x7FFFFFFF;

// The exit code of a setup program whose image carries no installer or a damaged one; 0 is a
// normal close and 1 a main form that could not be built.
inline constexpr int ExitCodeBadImage = 3;

// The CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, as zip and PNG use it). Pass the
// result of one call as crc to the next to checksum data that comes in pieces.
uint32_t Crc32(const void* data, std::size_t size, uint32_t crc = 0);

struct TImageResource {
  std::string Name;
  std::string Data;

  bool operator==(const TImageResource&) const = default;
};

// What checking an image found.
enum class TImageStatus {
  isOk,
  isNoInstaller,     // a setup program with nothing appended
  isTruncated,       // the file ends before the image does
  isDamaged,         // a checksum does not match, the trailer's magic is damaged, or bytes
                     // were appended after the trailer
  isUnknownVersion,  // a sound trailer of a format version that this code does not read
  isMalformed,       // sound checksums around a layout that does not hold together
  isUnreadable,      // the file cannot be opened or read
};

struct TImageCheck {
  TImageStatus Status = TImageStatus::isOk;
  // A sentence for the user that names the problem; empty when Status is isOk.
  std::string Message;

  bool Ok() const { return Status == TImageStatus::isOk; }
};

// Checks the image in the file at path and, when it is sound, returns its resources in block
// order in resources (which is cleared first and stays empty on failure).
//
// The trailer, its checksum and the checksum of the whole image are checked before anything of
// the block is used, and every length is checked against what the file and the block hold
// before anything is allocated for it, so nothing is read past the file and no more is
// allocated than it holds. When the file ends without a trailer, a sound trailer earlier in it
// tells an image with bytes appended (isDamaged), and the executable header tells a bare setup
// program (isNoInstaller) from one whose appended data lost its end (isTruncated); a file that
// is not an executable of this system counts as bare. Never throws, except std::bad_alloc.
TImageCheck ReadImageResources(const std::string& path, std::vector<TImageResource>& resources);

// ReadImageResources, then registers every resource with RegisterResource. On failure nothing
// is registered. The setup program calls it at start-up with ExecutableFileName(), and on
// failure shows the message and ends with ExitCodeBadImage.
TImageCheck LoadImageResources(const std::string& exePath);

// A resource block of the current version that holds the resources in the order given.
// Raises EImageError for an empty name, a name longer than 255 characters or with a character
// outside printable ASCII or a blank, two names that differ only in case, or a block larger
// than MaxImageBlockSize.
std::string MakeResourceBlock(const std::vector<TImageResource>& resources);

// The trailer for a block of the given bytes placed at blockOffset, after a program of
// blockOffset bytes whose CRC-32 is programCrc. The version is a parameter so that tests can
// make images of other versions.
std::string MakeImageTrailer(uint32_t programCrc, uint64_t blockOffset, std::string_view block,
                             uint32_t version = ImageFormatVersion);

// Writes an image: the bytes of the setup program at stubPath, then the resource block and the
// trailer. The image is written to a new file beside imagePath, made executable (rwxr-xr-x) and
// then put in place of imagePath (TReplacingFileStream), so a failure leaves neither a partial
// image nor a temporary file behind and an earlier file at imagePath untouched; anything but a
// regular file that may be written at imagePath is refused.
//
// Raises EImageError for bad resources (see MakeResourceBlock) and for a stub that is not a
// bare setup program (it already carries an image, or its own check finds it truncated or
// damaged), EFOpenError when the stub cannot be opened, EFCreateError "Cannot create file %s"
// with imagePath when the image cannot be made, EReadError and EWriteError when a transfer
// falls short; each with the system's reason where there is one.
void WriteInstallerImage(const std::string& imagePath, const std::string& stubPath,
                         const std::vector<TImageResource>& resources);

// --- Provided per system (InstallerImage_posix.cpp) ---------------------------------------------

// The full path of the running program's own file; empty when the system cannot say.
std::string ExecutableFileName();

// How many bytes of the file the system's executable format accounts for (headers, segments,
// sections and their tables), read from the file's header; -1 when the file is not an
// executable of that format or its header does not hold together. A setup program with nothing
// appended is exactly that long.
int64_t ExecutableExtent(TStream& file);
