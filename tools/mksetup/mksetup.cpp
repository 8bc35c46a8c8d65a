// mksetup: builds installer images, packs files into "FileData" values and inspects and
// converts form descriptions.
//
// Every output is written to a new file beside it and takes its name only when complete
// (TReplacingFileStream), so a failed or interrupted run leaves whatever stood under that name as
// it was and nothing half-made behind; an output that is anything but a regular file (a link, a
// pipe, a device), or one of the command's own inputs, is refused before anything is written.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Classes.h"
#include "FileServices.h"
#include "FileSrc.h"
#include "FormTree.h"
#include "InstallerImage.h"
#include "ObjectText.h"
#include "Streams.h"
#include "SysUtils.h"
#include "TempFiles.h"

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
    "      its FileName and carries no file. A FORM that lacks a component of the setup\n"
    "      program's main form is refused with the names that are missing. --best packs the\n"
    "      compressed files with the optimal encoder (see pack).\n"
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
    "      temporary file is removed afterwards. Neither the value nor the file is held\n"
    "      whole in memory.\n"
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
    "Files named as inputs may be symbolic links; anything else that is not a regular\n"
    "file is refused. An output is written beside its name and takes that name only once\n"
    "complete, so a failed run leaves an earlier file as it was; an output that is a link,\n"
    "a pipe, a device, a folder, read-only, or one of the command's inputs is refused.\n"
    "\n"
    "Errors are reported on standard error, with the system's reason where there is one;\n"
    "the exit status is 0 on success, 1 when a command fails and 2 when the command line\n"
    "is wrong.\n";

class TUsageError : public Exception {
 public:
  using Exception::Exception;
};

// Refuses an output that is one of the inputs, under whatever name: writing it would destroy the
// very file that the command reads.
void RefuseOutputOntoInputs(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs) {
    if (SameFile(input, output)) {
      throw Exception("The output " + output + " is the input " + input + " itself");
    }
  }
}

// Writes the stream's contents to path, in its place once complete.
void SaveOutput(TMemoryStream& data, const std::string& path) {
  TReplacingFileStream output(path);
  output.WriteBuffer(data.Memory(), data.Size());
  output.Commit();
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

// Attaches files to the file sources of a form description, as the form writer would store them.
// Each object whose class is TFileSource or derives from it is read into a component of its class
// with the reader's own rules (so a FileName sets the Extension as reading the form does), given
// its file, and written back with the writer's: its "FileData" stands as its last property and
// its FileName goes. The other objects are left byte for byte as they are.
class TFileAttacher {
 public:
  // files: the file of a file source by object name, in place of its FileName; baseFolder: the
  // folder against which relative FileName values are taken; encoder: what packs the
  // compressed ones.
  TFileAttacher(std::map<std::string, std::string> files, std::string baseFolder,
                TBlockEncoder encoder)
      : FFiles(std::move(files)), FBaseFolder(std::move(baseFolder)), FEncoder(encoder) {}

  // Finds the file that each file source of form is to carry. Raises when a file given by name
  // has no file source to go to, or goes to one whose Store is False, and as the reader raises
  // for a property that the component refuses.
  void Prepare(TFormObject& form) {
    ForEachObject(form, [this](TFormObject& object) { PrepareObject(object); });
    for (const auto& [name, file] : FFiles) {
      if (!FUsed.contains(name)) throw Exception("The form has no file source named " + name);
    }
  }

  // The files that Prepare found: the inputs that the files come from.
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const TAttachment& attachment : FAttachments)
      files.push_back(attachment.Source->HeldFileName());
    return files;
  }

  // Packs each file into its file source's object. Raises what TFileSource::WriteFileData raises
  // (a file that is missing names the file source).
  void Attach() {
    for (TAttachment& attachment : FAttachments) {
      attachment.Object->Properties = WriteProperties(*attachment.Source);
    }
  }

 private:
  struct TAttachment {
    TFormObject* Object;
    std::unique_ptr<TFileSource> Source;
  };

  const std::string* GivenFile(const std::string& objectName) {
    for (const auto& [name, file] : FFiles) {
      if (SameText(name, objectName)) {
        FUsed.insert(name);
        return &file;
      }
    }
    return nullptr;
  }

  void PrepareObject(TFormObject& object) {
    const TClassInfo* info = GetClass(object.ClassName);
    if (!info || !info->Create || !info->InheritsFrom(TFileSource::StaticClassInfo())) return;
    std::unique_ptr<TFileSource> source(static_cast<TFileSource*>(info->Create(nullptr)));
    if (IsValidIdent(object.Name)) source->SetName(object.Name);
    // The component's own binary properties carry its file; they are not read, since reading one
    // would unpack it.
    const std::vector<std::string> carried = BinaryPropertyNames(*source);
    std::vector<TFormProperty> settings;
    bool hasFile = false;
    for (const TFormProperty& property : object.Properties) {
      const bool isCarried = std::any_of(carried.begin(), carried.end(), [&](const std::string& n) {
        return SameText(n, property.Name);
      });
      if (isCarried) {
        hasFile = true;
      } else {
        settings.push_back(property);
      }
    }
    ReadProperties(settings, *source);

    const std::string* given = GivenFile(object.Name);
    if (!source->Store()) {
      // The form writer stores only the name of such a file; so does this.
      if (given) {
        throw Exception(object.Name + " has Store False and cannot carry the file " + *given);
      }
      return;
    }
    std::string file;
    if (given) {
      file = *given;
    } else if (!source->HeldFileName().empty()) {
      file = JoinPath(FBaseFolder, source->HeldFileName());
    } else if (hasFile) {
      return;  // it carries its file already and is not given another
    }
    // With no file at all, WriteFileData fails with the component's own message. The Extension
    // stays as reading the form left it.
    const std::string extension = source->Extension();
    source->SetFileName(file);
    source->SetExtension(extension);
    source->SetEncoder(FEncoder);
    FAttachments.push_back({&object, std::move(source)});
  }

  std::map<std::string, std::string> FFiles;
  std::string FBaseFolder;
  TBlockEncoder FEncoder;
  std::set<std::string> FUsed;
  std::vector<TAttachment> FAttachments;
};

// The installer's own main form, compiled in.
TFormObject DefaultForm() {
  TMemoryStream text;
  text.WriteBuffer(DefaultFormText, static_cast<int64_t>(DefaultFormTextSize));
  text.SetPosition(0);
  TMemoryStream binary;
  ObjectTextToBinary(text, binary);
  binary.SetPosition(0);
  return ReadFormTree(binary);
}

// Refuses a form that lacks a component that the setup program's main form needs: every named
// component of the installer's own form stands for a published field of the main form's class,
// and the setup program refuses a description that lacks one.
void RefuseMissingComponents(TFormObject& form, const std::string& formPath) {
  std::vector<std::string> present;
  for (TFormObject& child : form.Children) {
    ForEachObject(child, [&](TFormObject& object) { present.push_back(object.Name); });
  }
  std::string missing;
  TFormObject own = DefaultForm();
  for (TFormObject& child : own.Children) {
    ForEachObject(child, [&](TFormObject& object) {
      if (object.Name.empty()) return;
      for (const std::string& name : present) {
        if (SameText(name, object.Name)) return;
      }
      missing += (missing.empty() ? "" : ", ") + object.Name;
    });
  }
  if (!missing.empty()) {
    throw Exception(formPath +
                    " lacks components that the setup program's main form needs: " + missing);
  }
}

// The form description that the image carries, files not yet attached, and the folder against
// which its FileName values are taken.
TFormObject LoadForm(const TBuildArgs& args, std::string& baseFolder) {
  TMemoryStream input;
  if (args.Form.empty()) {
    input.WriteBuffer(DefaultFormText, static_cast<int64_t>(DefaultFormTextSize));
    input.SetPosition(0);
  } else {
    input.LoadFromFile(args.Form);
    baseFolder = FolderOf(args.Form);
  }
  try {
    switch (TestStreamFormat(input)) {
      case TStreamFormat::sfBinary:
        return ReadFormTree(input);
      case TStreamFormat::sfText: {
        TMemoryStream binary;
        ObjectTextToBinary(input, binary);
        binary.SetPosition(0);
        return ReadFormTree(binary);
      }
      default:
        throw Exception("neither a binary nor a text form description");
    }
  } catch (Exception& e) {
    if (!args.Form.empty()) e.SetMessage(args.Form + ": " + e.Message());
    throw;
  }
}

std::string DefaultStub() {
  const std::string self = ExecutableFileName();
  if (self.empty()) throw Exception("mksetup cannot find its own folder; name SETUP with --stub");
  return JoinPath(FolderOf(self), StubName);
}

void Build(const TBuildArgs& args) {
  const std::string stub = args.Stub.empty() ? DefaultStub() : args.Stub;
  std::vector<std::string> inputs = {stub};
  for (const std::string* input : {&args.Form, &args.Program, &args.Licence}) {
    if (!input->empty()) inputs.push_back(*input);
  }
  RefuseOutputOntoInputs(args.Output, inputs);

  std::string baseFolder;
  TFormObject form = LoadForm(args, baseFolder);
  if (!args.Form.empty()) RefuseMissingComponents(form, args.Form);
  std::map<std::string, std::string> files;
  if (!args.Program.empty()) files["FileSource1"] = args.Program;
  if (!args.Licence.empty()) files["FileSource2"] = args.Licence;
  TFileAttacher attacher(std::move(files), baseFolder, EncoderFor(args.Best));
  attacher.Prepare(form);
  RefuseOutputOntoInputs(args.Output, attacher.Files());
  attacher.Attach();

  TMemoryStream binary;
  WriteFormTree(binary, form);
  WriteInstallerImage(args.Output, stub,
                      {{FormResource, std::string(reinterpret_cast<const char*>(binary.Memory()),
                                                  static_cast<std::size_t>(binary.Size()))}});
}

// --- pack, unpack, dump, convert ---------------------------------------------------------------

void Pack(const TArgs& args) {
  const std::string& input = args.Positional[0];
  const std::string& output = args.Positional[1];
  RefuseOutputOntoInputs(output, {input});
  TFileSource source(nullptr);
  source.SetName("Input");
  source.SetFileName(input);
  source.SetCompress(!args.Plain);
  source.SetEncoder(EncoderFor(args.Best));
  TReplacingFileStream value(output);
  source.WriteFileData(value);
  value.Commit();
}

void Unpack(const TArgs& args) {
  const std::string& input = args.Positional[0];
  const std::string& output = args.Positional[1];
  RefuseOutputOntoInputs(output, {input});
  // Read from the file and copied on in pieces: neither the value nor the unpacked file is ever
  // held whole in memory, whatever their sizes.
  TFileStream value(input, TFileStream::fmOpenRead);
  TFileSource source(nullptr);
  source.SetCompress(!args.Plain);
  source.ReadFileData(value);
  THandleStream unpacked(source.TempFileHandle());
  unpacked.SetPosition(0);
  TReplacingFileStream file(output);
  file.CopyFrom(unpacked, unpacked.Size());
  file.Commit();
}  // the temporary extraction file goes with the component

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
      form.WriteBuffer(resource.Data.data(), static_cast<int64_t>(resource.Data.size()));
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
  RefuseOutputOntoInputs(args.Positional[1], {args.Positional[0]});
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
  // An interrupted run takes its temporary files with it.
  DeleteTempFilesOnTermination();
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return Run(args);
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "mksetup: %s\nTry 'mksetup --help' for more information.\n",
                 e.Message().c_str());
    return 2;
  } catch (const Exception& e) {
    // The system's reason, where there is one, after the message.
    const std::string reason = e.Reason().empty() ? std::string() : ": " + e.Reason();
    std::fprintf(stderr, "mksetup: %s%s\n", e.Message().c_str(), reason.c_str());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "mksetup: %s\n", SysConst::SOutOfMemory);
    return 1;
  }
}
