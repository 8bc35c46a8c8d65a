// mksetup: packs files into "FileData" values and inspects and converts form descriptions.
//
// Every command reads its inputs whole before it writes its output, and an output that could
// not be written completely is removed again, so a failed run leaves nothing half-made behind.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Classes.h"
#include "FileServices.h"
#include "FileSrc.h"
#include "ObjectText.h"
#include "Streams.h"
#include "SysUtils.h"

namespace {

// Binary values longer than this are shown by dump as their size and first bytes.
constexpr int64_t DumpBinaryBytes = 16;

constexpr const char* Usage =
    "Usage: mksetup COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Commands:\n"
    "  pack [--plain] FILE OUT\n"
    "      Write to OUT the \"FileData\" value that carries FILE: a compressed container, or\n"
    "      with --plain the 32-bit little-endian size followed by the bytes unchanged.\n"
    "  unpack [--plain] VALUE OUT\n"
    "      Unpack the file carried by the \"FileData\" value in VALUE into OUT. The value is\n"
    "      taken as a compressed container, or with --plain as a plain value. The file is\n"
    "      unpacked into the temporary folder first, as the setup program does, and that\n"
    "      temporary file is removed afterwards.\n"
    "  dump FORM\n"
    "      Print the binary form description FORM in text form; binary values longer than\n"
    "      16 bytes are shown as their size and first bytes.\n"
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
  std::vector<std::string> Positional;
};

TArgs ParseArgs(const std::vector<std::string>& args, bool allowPlain, std::size_t count) {
  TArgs result;
  for (const std::string& arg : args) {
    if (allowPlain && arg == "--plain") {
      result.Plain = true;
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
  return result;
}

void Pack(const TArgs& args) {
  TFileSource source(nullptr);
  source.SetName("Input");
  source.SetFileName(args.Positional[0]);
  source.SetCompress(!args.Plain);
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

void Dump(const TArgs& args) {
  TMemoryStream form;
  form.LoadFromFile(args.Positional[0]);
  if (TestStreamFormat(form) != TStreamFormat::sfBinary) {
    throw Exception(args.Positional[0] + " is not a binary form description");
  }
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
  if (command == "pack")
    Pack(ParseArgs(rest, true, 2));
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
