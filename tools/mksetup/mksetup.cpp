// mksetup: builds installer images, packs files into "FileData" values and inspects and
// converts form descriptions.
//
// Every command reads its inputs whole before it writes its output, and an output that could
// not be written completely is removed again, so a failed run leaves nothing half-made behind.
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Classes.h"
#include "FileServices.h"
#include "FileSrc.h"
#include "InstallerImage.h"
#include "ObjectText.h"
#include "Streams.h"
#include "SysUtils.h"

// The installer's own main form in text form (resources/TFORM1.txt), compiled in by the build.
extern const unsigned char DefaultFormText[];
extern const std::size_t DefaultFormTextSize;

namespace {

// Binary values longer than this are shown by dump as their size and first bytes.
constexpr int64_t DumpBinaryBytes = 16;

constexpr const char* Usage =
    "Usage: mksetup COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Commands:\n"
    "  build --program FILE --licence FILE [--form FORM] [--stub SETUP] [--best] -o IMAGE\n"
    "      Write the installer image IMAGE, executable: a copy of the setup program SETUP\n"
    "      (by default setup-stub in mksetup's own folder) with the resource TFORM1 appended,\n"
    "      the binary form description whose file sources carry their files as \"FileData\".\n"
    "      Without --form it is the installer's own main form, FileSource1 carrying the\n"
    "      program FILE and FileSource2 the licence FILE. With --form it is the form FORM\n"
    "      (text or binary), and each file source whose Store is True carries the file that\n"
    "      its FileName names, a relative name being taken from FORM's folder; --program and\n"
    "      --licence, when given, name the files of FileSource1 and FileSource2 in its place.\n"
    "      Each file is packed as its file source's Compress says and stands as the last\n"
    "      property of that object; the FileName goes. A file source with Store False keeps\n"
    "      its FileName and carries no file. --best packs the compressed files with the\n"
    "      optimal encoder (see pack).\n"
    "  pack [--plain | --best] FILE OUT\n"
    "      Write to OUT the \"FileData\" value that carries FILE: a compressed container, or\n"
    "      with --plain the 32-bit little-endian size followed by the bytes unchanged.\n"
    "      --best packs the container with the optimal encoder instead of the fast greedy\n"
    "      one: about 14% smaller for a program and 23% for a text, but packing at 15 to\n"
    "      20 MB/s instead of 150 MB/s and more. Every setup program unpacks the result\n"
    "      like any other container, about as fast.\n"
    "  unpack [--plain] VALUE OUT\n"
    "      Unpack the file carried by the \"FileData\" value in VALUE into OUT. The value is\n"
    "      taken as a compressed container, or with --plain as a plain value. The file is\n"
    "      unpacked into the temporary folder first, as the setup program does, and that\n"
    "      temporary file is removed afterwards.\n"
    "  dump FORM\n"
    "  dump IMAGE\n"
    "      Print the binary form description FORM, or the TFORM1 that the installer image\n"
    "      IMAGE carries, in text form; binary values longer than 16 bytes are shown as their\n"
    "      size and first bytes. An image is checked first as the setup program checks it, and\n"
    "      a truncated or damaged one is refused with the setup program's message.\n"
    "  convert IN OUT\n"
    "      Convert a form description between its text and binary forms: a binary IN gives\n"
    "      text in OUT, a text IN gives binary.\n"
    "  help, --help\n"
    "      Show this text.\n"
    "\n"
    "Errors are reported on standard error; the exit status is 0 on success, 1 when a\n"
    "command fails and 2 when the command line is wrong.\n";

class TUsageError : public Exception {
 public:
  using Exception::Exception;
};

// Writes the stream's contents to path; on failure the partial file is removed.
void SaveOutput(TMemoryStream& data, const std::string& path) {
  try {
    data.SaveToFile(path);
  } catch (...) {
    DeleteFile(path);
    throw;
  }
}

struct TArgs {
  bool Plain = false;
  bool Best = false;
  std::vector<std::string> Positional;
};

TArgs ParseArgs(const std::vector<std::string>& args, bool allowPlain, std::size_t count,
                bool allowBest = false) {
  TArgs result;
  for (const std::string& arg : args) {
    if (allowPlain && arg == "--plain") {
      result.Plain = true;
    } else if (allowBest && arg == "--best") {
      result.Best = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw TUsageError("unknown option " + arg);
    } else {
      result.Positional.push_back(arg);
    }
  }
  if (result.Positional.size() != count) {
    throw TUsageError("expected " + std::to_string(count) + " file arguments, got " +
                      std::to_string(result.Positional.size()));
  }
  if (result.Plain && result.Best) throw TUsageError("--best packs a container; --plain does not");
  return result;
}

TBlockEncoder EncoderFor(bool best) {
  return best ? TBlockEncoder::beOptimal : TBlockEncoder::beGreedy;
}

// --- build -------------------------------------------------------------------------------------

constexpr const char* FormResource = "TFORM1";
constexpr const char* StubName = "setup-stub";

// The folder part of a path ("" for a bare name, "/" for a name in the root).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind(PathDelim);
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string(1, PathDelim) : path.substr(0, slash);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || (!name.empty() && name.front() == PathDelim)) return name;
  return folder.back() == PathDelim ? folder + name : folder + PathDelim + name;
}

struct TBuildArgs {
  std::string Program;
  std::string Licence;
  std::string Form;
  std::string Stub;
  std::string Output;
  bool Best = false;
};

TBuildArgs ParseBuildArgs(const std::vector<std::string>& args) {
  TBuildArgs result;
  const std::pair<const char*, std::string*> options[] = {
      {"--program", &result.Program}, {"--licence", &result.Licence}, {"--form", &result.Form},
      {"--stub", &result.Stub},       {"-o", &result.Output},
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--best") {
      result.Best = true;
      continue;
    }
    std::string* value = nullptr;
    for (const auto& [name, target] : options) {
      if (args[i] == name) value = target;
    }
    if (!value) {
      if (args[i].size() > 1 && args[i][0] == '-') throw TUsageError("unknown option " + args[i]);
      throw TUsageError("unexpected argument " + args[i]);
    }
    if (i + 1 == args.size() || args[i + 1].empty()) {
      throw TUsageError("option " + args[i] + " needs a file name");
    }
    if (!value->empty()) throw TUsageError("option " + args[i] + " is given twice");
    *value = args[++i];
  }
  if (result.Output.empty()) throw TUsageError("no image named (-o IMAGE)");
  if (result.Form.empty() && (result.Program.empty() || result.Licence.empty())) {
    throw TUsageError("without --form, both --program and --licence are needed");
  }
  return result;
}

// Copies a binary form description value by value and attaches files to its TFileSource
// objects, as the form writer would write them: the "FileData" value made by
// TFileSource::WriteFileData stands as the object's last property, and a "FileName" property
// goes. No class information is needed: the walk reads value types alone.
class TFileAttacher {
 public:
  // files: the file of a file source by object name, in place of its FileName; baseFolder: the
  // folder against which relative FileName values are taken; encoder: what packs the
  // compressed ones.
  TFileAttacher(std::map<std::string, std::string> files, std::string baseFolder,
                TBlockEncoder encoder)
      : FFiles(std::move(files)),
        FBaseFolder(std::move(baseFolder)),
        FEncoder(encoder),
        FReader(FInput) {}

  std::string Attach(const std::string& binary) {
    FInput.WriteBuffer(binary.data(), static_cast<int32_t>(binary.size()));
    FInput.SetPosition(0);
    char signature[sizeof FilerSignature];
    FInput.ReadBuffer(signature, sizeof signature);
    if (std::memcmp(signature, FilerSignature, sizeof signature) != 0) {
      throw EReadError(SysConst::SInvalidImage);
    }
    FOutput.assign(signature, sizeof signature);
    CopyObject(0);
    for (const auto& [name, file] : FFiles) {
      if (!FUsed.contains(name)) throw Exception("The form has no file source named " + name);
    }
    return FOutput;
  }

 private:
  struct TProp {
    std::string Name;
    std::string Raw;  // the name and the value as they stand in the description
    std::size_t ValueAt = 0;
  };

  std::string RawFrom(int64_t start) {
    const int64_t end = FInput.Position();
    return std::string(reinterpret_cast<const char*>(FInput.Memory()) + start,
                       static_cast<std::size_t>(end - start));
  }

  void CopyObject(int depth) {
    if (depth > MaxFormNesting) throw EReadError(SysConst::SNestedTooDeeply);
    const int64_t start = FInput.Position();
    if (static_cast<uint8_t>(FReader.NextValue()) >= 0xF0) {
      uint8_t prefix = 0;
      FInput.ReadBuffer(&prefix, 1);
      if (prefix & ffChildPos) FReader.ReadInteger();
    }
    const std::string className = FReader.ReadStr();
    const std::string objectName = FReader.ReadStr();
    FOutput += RawFrom(start);

    std::vector<TProp> props;
    while (FReader.NextValue() != TValueType::vaNull) {
      const int64_t at = FInput.Position();
      TProp prop;
      prop.Name = FReader.ReadStr();
      prop.ValueAt = static_cast<std::size_t>(FInput.Position() - at);
      FReader.SkipValue();
      prop.Raw = RawFrom(at);
      props.push_back(std::move(prop));
    }
    FReader.ReadValue();
    if (SameText(className, "TFileSource")) AttachFile(objectName, props);
    for (const TProp& prop : props) FOutput += prop.Raw;
    FOutput += '\0';

    while (FReader.NextValue() != TValueType::vaNull) CopyObject(depth + 1);
    FReader.ReadValue();
    FOutput += '\0';
  }

  // Reads a property's value with a reader of its own.
  template <class F>
  static auto ValueOf(const TProp& prop, F read) {
    TMemoryStream value;
    value.WriteBuffer(prop.Raw.data() + prop.ValueAt,
                      static_cast<int32_t>(prop.Raw.size() - prop.ValueAt));
    value.SetPosition(0);
    TReader reader(value);
    return read(reader);
  }

  const std::string* GivenFile(const std::string& objectName) {
    for (const auto& [name, file] : FFiles) {
      if (SameText(name, objectName)) {
        FUsed.insert(name);
        return &file;
      }
    }
    return nullptr;
  }

  void AttachFile(const std::string& objectName, std::vector<TProp>& props) {
    // Compress and Store as the reader would leave them: Compress True sets Store too.
    bool compress = false;
    bool store = false;
    std::optional<std::string> fileName;
    bool hasData = false;
    for (const TProp& prop : props) {
      if (SameText(prop.Name, "Compress")) {
        compress = ValueOf(prop, [](TReader& r) { return r.ReadBoolean(); });
        store = store || compress;
      } else if (SameText(prop.Name, "Store")) {
        store = ValueOf(prop, [](TReader& r) { return r.ReadBoolean(); });
      } else if (SameText(prop.Name, "FileName")) {
        fileName = ValueOf(prop, [](TReader& r) { return r.ReadString(); });
      } else if (SameText(prop.Name, "FileData")) {
        hasData = true;
      }
    }
    const std::string* given = GivenFile(objectName);
    if (!store) {
      // The form writer stores only the name of such a file; so does this.
      if (given) {
        throw Exception(objectName + " has Store False and cannot carry the file " + *given);
      }
      return;
    }
    std::string file;
    if (given) {
      file = *given;
    } else if (fileName) {
      file = JoinPath(FBaseFolder, *fileName);
    } else if (hasData) {
      return;  // it carries its file already and is not given another
    }
    // With no file at all, WriteFileData fails with the component's own message.
    TFileSource source(nullptr);
    if (IsValidIdent(objectName)) source.SetName(objectName);
    source.SetFileName(file);
    source.SetCompress(compress);
    source.SetEncoder(FEncoder);
    TMemoryStream value;
    source.WriteFileData(value);
    if (value.Size() > std::numeric_limits<int32_t>::max()) {
      throw Exception(objectName + ": " + file + " is too large for a form description");
    }

    std::erase_if(props, [](const TProp& prop) {
      return SameText(prop.Name, "FileName") || SameText(prop.Name, "FileData");
    });
    const std::string name = "FileData";
    TProp data;
    data.Name = name;
    data.Raw = static_cast<char>(name.size()) + name;
    data.ValueAt = data.Raw.size();
    data.Raw += static_cast<char>(TValueType::vaBinary);
    const auto length = static_cast<uint32_t>(value.Size());
    for (int i = 0; i < 4; ++i) data.Raw += static_cast<char>((length >> (8 * i)) & 0xFF);
    data.Raw.append(reinterpret_cast<const char*>(value.Memory()), length);
    props.push_back(std::move(data));
  }

  std::map<std::string, std::string> FFiles;
  std::string FBaseFolder;
  TBlockEncoder FEncoder;
  std::set<std::string> FUsed;
  TMemoryStream FInput;
  TReader FReader;
  std::string FOutput;
};

// The binary form description that the image carries, files not yet attached, and the folder
// against which its FileName values are taken.
std::string LoadForm(const TBuildArgs& args, std::string& baseFolder) {
  TMemoryStream input;
  if (args.Form.empty()) {
    input.WriteBuffer(DefaultFormText, static_cast<int32_t>(DefaultFormTextSize));
    input.SetPosition(0);
  } else {
    input.LoadFromFile(args.Form);
    baseFolder = FolderOf(args.Form);
  }
  TMemoryStream binary;
  try {
    switch (TestStreamFormat(input)) {
      case TStreamFormat::sfBinary:
        binary.CopyFrom(input, input.Size());
        break;
      case TStreamFormat::sfText:
        ObjectTextToBinary(input, binary);
        break;
      default:
        throw Exception("neither a binary nor a text form description");
    }
  } catch (Exception& e) {
    if (!args.Form.empty()) e.SetMessage(args.Form + ": " + e.Message());
    throw;
  }
  return std::string(reinterpret_cast<const char*>(binary.Memory()),
                     static_cast<std::size_t>(binary.Size()));
}

std::string DefaultStub() {
  const std::string self = ExecutableFileName();
  if (self.empty()) throw Exception("mksetup cannot find its own folder; name SETUP with --stub");
  return JoinPath(FolderOf(self), StubName);
}

void Build(const TBuildArgs& args) {
  std::string baseFolder;
  const std::string form = LoadForm(args, baseFolder);
  std::map<std::string, std::string> files;
  if (!args.Program.empty()) files["FileSource1"] = args.Program;
  if (!args.Licence.empty()) files["FileSource2"] = args.Licence;
  const std::string attached =
      TFileAttacher(std::move(files), baseFolder, EncoderFor(args.Best)).Attach(form);
  WriteInstallerImage(args.Output, args.Stub.empty() ? DefaultStub() : args.Stub,
                      {{FormResource, attached}});
}

// --- pack, unpack, dump, convert ---------------------------------------------------------------

void Pack(const TArgs& args) {
  TFileSource source(nullptr);
  source.SetName("Input");
  source.SetFileName(args.Positional[0]);
  source.SetCompress(!args.Plain);
  source.SetEncoder(EncoderFor(args.Best));
  TMemoryStream value;
  source.WriteFileData(value);
  SaveOutput(value, args.Positional[1]);
}

void Unpack(const TArgs& args) {
  TMemoryStream value;
  value.LoadFromFile(args.Positional[0]);
  TMemoryStream file;
  {
    TFileSource source(nullptr);
    source.SetCompress(!args.Plain);
    source.ReadFileData(value);
    file.LoadFromFile(source.HeldFileName());
  }  // the temporary extraction file goes with the component
  SaveOutput(file, args.Positional[1]);
}

// A binary form description as it stands in the file, or the TFORM1 of an installer image
// after the image's checks.
void LoadDumpedForm(const std::string& path, TMemoryStream& form) {
  {
    TFileStream file(path, TFileStream::fmOpenRead);
    if (TestStreamFormat(file) == TStreamFormat::sfBinary) {
      form.CopyFrom(file, file.Size());
      form.SetPosition(0);
      return;
    }
  }
  std::vector<TImageResource> resources;
  const TImageCheck check = ReadImageResources(path, resources);
  if (check.Status == TImageStatus::isNoInstaller) {
    throw Exception(path + " is neither a binary form description nor an installer image");
  }
  if (!check.Ok()) throw Exception(path + ": " + check.Message);
  for (const TImageResource& resource : resources) {
    if (SameText(resource.Name, FormResource)) {
      form.WriteBuffer(resource.Data.data(), static_cast<int32_t>(resource.Data.size()));
      form.SetPosition(0);
      return;
    }
  }
  throw Exception(path + ": the image carries no " + FormResource);
}

void Dump(const TArgs& args) {
  TMemoryStream form;
  LoadDumpedForm(args.Positional[0], form);
  TMemoryStream text;
  TObjectTextOptions options;
  options.MaxBinaryBytes = DumpBinaryBytes;
  ObjectBinaryToText(form, text, options);
  std::fwrite(text.Memory(), 1, static_cast<std::size_t>(text.Size()), stdout);
  if (std::fflush(stdout) != 0) throw EWriteError(SysConst::SWriteError);
}

void Convert(const TArgs& args) {
  TMemoryStream input;
  input.LoadFromFile(args.Positional[0]);
  TMemoryStream output;
  switch (TestStreamFormat(input)) {
    case TStreamFormat::sfBinary:
      ObjectBinaryToText(input, output);
      break;
    case TStreamFormat::sfText:
      ObjectTextToBinary(input, output);
      break;
    default:
      throw Exception(args.Positional[0] + " is neither a binary nor a text form description");
  }
  SaveOutput(output, args.Positional[1]);
}

int Run(const std::vector<std::string>& argv) {
  if (argv.empty()) throw TUsageError("no command given");
  const std::string& command = argv[0];
  std::vector<std::string> rest(argv.begin() + 1, argv.end());
  if (command == "help" || command == "--help" || command == "-h") {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (command == "build")
    Build(ParseBuildArgs(rest));
  else if (command == "pack")
    Pack(ParseArgs(rest, true, 2, true));
  else if (command == "unpack")
    Unpack(ParseArgs(rest, true, 2));
  else if (command == "dump")
    Dump(ParseArgs(rest, false, 1));
  else if (command == "convert")
    Convert(ParseArgs(rest, false, 2));
  else
    throw TUsageError("unknown command " + command);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return Run(args);
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "mksetup: %s\nTry 'mksetup --help' for more information.\n",
                 e.Message().c_str());
    return 2;
  } catch (const Exception& e) {
    std::fprintf(stderr, "mksetup: %s\n", e.Message().c_str());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "mksetup: %s\n", SysConst::SOutOfMemory);
    return 1;
  }
}
