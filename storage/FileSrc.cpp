#include "FileSrc.h"

#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "FileServices.h"
#include "LZRW1KH.h"
#include "OptimalEncoder.h"
#include "SystemServices.h"

namespace {

void WriteLong(TStream& dest, uint32_t value) {
  uint8_t bytes[4];
  StoreLE32(bytes, value);
  dest.WriteBuffer(bytes, 4);
}

uint32_t ReadLong(TStream& source) {
  uint8_t bytes[4];
  source.ReadBuffer(bytes, 4);
  return LoadLE32(bytes);
}

}  // namespace

TCompressStream::TCompressStream() : FSignature{'P', 'M', 'C', 'S', '1', '0'} {}

void TCompressStream::CompressStream(TStream& source, TStream& dest, int32_t count) {
  dest.WriteBuffer(FSignature, sizeof FSignature);
  const int64_t totalPosition = dest.Position();
  WriteLong(dest, 0);
  int64_t total = 0;
  if (count > 0) {
    const auto chunk = std::make_unique_for_overwrite<uint8_t[]>(ChunkSize);
    // Room for either encoder: the greedy one needs the most.
    const auto block =
        std::make_unique_for_overwrite<uint8_t[]>(ChunkSize + LZRW1KH::CompressSlack);
    const auto optimal =
        FEncoder == TBlockEncoder::beOptimal ? std::make_unique<TOptimalEncoder>() : nullptr;
    while (count > 0) {
      // Always a full chunk: the count only decides how many chunks are read.
      const int32_t got = source.Read(chunk.get(), ChunkSize);
      if (got <= 0) throw EReadError(SysConst::SReadError);
      const auto n = static_cast<uint16_t>(got);
      const uint16_t length = optimal ? optimal->CompressBlock(chunk.get(), block.get(), n)
                                      : CompressBlock(chunk.get(), block.get(), n);
      total += 4 + length;
      if (total > std::numeric_limits<int32_t>::max()) {
        throw EWriteError("Compressed data too large for one container");
      }
      WriteLong(dest, length);
      dest.WriteBuffer(block.get(), length);
      count -= got;
    }
  }
  const int64_t endPosition = dest.Position();
  dest.SetPosition(totalPosition);
  WriteLong(dest, static_cast<uint32_t>(total));
  dest.SetPosition(endPosition);
}

void TCompressStream::DecompressStream(TStream& source, TStream& dest) {
  char signature[sizeof FSignature];
  source.ReadBuffer(signature, sizeof signature);
  if (std::memcmp(signature, FSignature, sizeof signature) != 0) {
    throw Exception("Wrong file type");
  }
  int32_t total = static_cast<int32_t>(ReadLong(source));
  if (total <= 0) return;
  const auto block = std::make_unique_for_overwrite<uint8_t[]>(MaxBlockSize);
  const auto output = std::make_unique_for_overwrite<uint8_t[]>(ChunkSize);
  while (total > 0) {
    const uint32_t length = ReadLong(source);
    if (length > static_cast<uint32_t>(MaxBlockSize)) {
      throw EReadError(Format("Damaged compressed stream: block length %s is larger than %d",
                              {static_cast<unsigned long>(length), MaxBlockSize}));
    }
    source.ReadBuffer(block.get(), static_cast<int32_t>(length));
    const uint16_t n = DecompressBlock(block.get(), output.get(), static_cast<uint16_t>(length),
                                       static_cast<uint16_t>(ChunkSize));
    dest.WriteBuffer(output.get(), n);
    total -= static_cast<int32_t>(length) + 4;
  }
}

// --- TFileSource -------------------------------------------------------------------------------

namespace {

// One registration for readers that meet "TFileSource" without a published field naming it.
const bool GFileSourceRegistered = (RegisterClass(TFileSource::StaticClassInfo()), true);

std::string ExtractExtension(const std::string& fileName) {
  std::size_t at = fileName.find_last_of(std::string(".") + PathDelim);
  if (at == std::string::npos || fileName[at] != '.') return {};
  return fileName.substr(at);
}

}  // namespace

const TClassInfo& TFileSource::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TFileSource",
      &TComponent::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TFileSource(owner); },
      {BoolProp("Compress", &TFileSource::Compress, &TFileSource::SetCompress),
       StrProp("DisplayLabel", &TFileSource::DisplayLabel, &TFileSource::SetDisplayLabel),
       StrProp("Extension", &TFileSource::Extension, &TFileSource::SetExtension),
       StrProp("FileName", &TFileSource::FileName, &TFileSource::SetFileName)
           .StoredIf(&TFileSource::IsFileNameStored),
       BoolProp("Store", &TFileSource::Store, &TFileSource::SetStore)},
      {},
      {}};
  return info;
}

TFileSource::TFileSource(TComponent* owner) : TComponent(owner) {}

TFileSource::~TFileSource() { DeleteTempFile(); }

void TFileSource::SetCompress(bool value) {
  FCompress = value;
  if (value) FStore = true;
}

std::string TFileSource::FileName() const {
  if (FOwnsTempFile) {
    return FTempFile.Valid() && SameFile(FTempFile.Get(), FFileName) ? FFileName : std::string();
  }
  return FileExists(FFileName) ? FFileName : std::string();
}

void TFileSource::SetFileName(const std::string& value) {
  DeleteTempFile();
  FFileName = value;
  FOwnsTempFile = false;
  FExtension = ExtractExtension(value);
}

void TFileSource::DeleteTempFile() {
  if (!FOwnsTempFile) return;
  FTempListed.Reset();
  if (FTempFile.Valid()) DeleteFileIfSame(FFileName, FTempFile.Get());
  FTempFile.Close();
}

std::string TFileSource::MakeTempFile(TFileHandle& file) {
  const unsigned second = GetLocalTime().Second;
  std::string folder = GetTempPath();
  if (!folder.empty() && IsPathDelimiter(folder.back())) folder.pop_back();
  const std::string base = folder + PathDelim + "~fs" + std::to_string(second);
  for (int n = 0; n < MaxTempNameAttempts; ++n) {
    const std::string candidate = base + std::to_string(n) + FExtension;
    // Creating only where no entry exists skips whatever stands under a name, a folder or a link
    // included, and never creates anything through a link.
    file = TFileHandle(FileCreateNew(candidate));
    if (file.Valid() || !LastErrorWasEntryTaken()) return candidate;
  }
  throw EFCreateError(Format(SysConst::SFCreateError, {base + "0" + FExtension}),
                      "the first " + std::to_string(MaxTempNameAttempts) + " names are all taken");
}

std::string TFileSource::MakeTempFileName() {
  TFileHandle file;
  return MakeTempFile(file);
}

void TFileSource::ReadFileData(TStream& source) {
  // A description that gives "FileData" twice would otherwise leave the first file behind.
  DeleteTempFile();
  TFileHandle file;
  FFileName = MakeTempFile(file);
  FOwnsTempFile = true;
  FTempFile = std::move(file);
  if (!FTempFile.Valid()) {
    throw EFOpenError(Format(SysConst::SFOpenError, {FFileName}), LastOsErrorText());
  }
  FTempListed = TTempFileRegistration(FFileName, FTempFile.Get());
  // Written through the handle of its creation, so that the bytes land in this very file.
  THandleStream out(FTempFile.Get());
  if (FCompress) {
    TCompressStream container;
    container.DecompressStream(source, out);
  } else {
    uint32_t n = ReadLong(source);
    if (n > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
      throw EReadError(SysConst::SReadError);
    }
    out.CopyFrom(source, n);
  }
  // Held for reading only from here on: a file that a process holds open for writing cannot be
  // started as a program. Where the name no longer leads to the file, the writing handle stays.
  TFileHandle reader(ReopenForReading(FFileName, FTempFile.Get()));
  if (reader.Valid()) {
    FTempListed = TTempFileRegistration(FFileName, reader.Get());
    FTempFile = std::move(reader);
  }
}

void TFileSource::WriteFileData(TStream& dest) {
  if (FileName().empty()) {
    throw Exception(Name() + " cannot store file: " + FFileName + " (file is missing)");
  }
  TFileStream file(FFileName, TFileStream::fmOpenRead);
  int64_t size = file.Size();
  if (size < 0 || size > std::numeric_limits<int32_t>::max()) {
    throw EStreamError(Name() + " cannot store file: " + FFileName + " (file is 2 GiB or larger)");
  }
  file.SetPosition(0);
  auto n = static_cast<int32_t>(size);
  if (FCompress) {
    TCompressStream container;
    container.SetEncoder(FEncoder);
    container.CompressStream(file, dest, n);
  } else {
    WriteLong(dest, static_cast<uint32_t>(n));
    dest.CopyFrom(file, n);
  }
}

void TFileSource::DefineProperties(TFiler& filer) {
  TComponent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "FileData", [this](TStream& source) { ReadFileData(source); },
      [this](TStream& dest) { WriteFileData(dest); }, FStore);
}
