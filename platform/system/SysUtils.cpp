#include "SysUtils.h"

#include <cctype>
#include <cstdio>

namespace {

const TFormatArg& NextArg(std::initializer_list<TFormatArg> args, std::size_t& next,
                          std::string_view format) {
  if (next >= args.size()) {
    throw EConvertError("Format '" + std::string(format) +
                        "' invalid or incompatible with argument");
  }
  return *(args.begin() + next++);
}

std::string Hex(unsigned long long value, int minDigits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", minDigits, value);
  return buf;
}

}  // namespace

std::string Format(std::string_view format, std::initializer_list<TFormatArg> args) {
  std::string out;
  out.reserve(format.size() + 32);
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 >= format.size()) {
      throw EConvertError("Format '" + std::string(format) +
                          "' invalid or incompatible with argument");
    }
    char directive = format[++i];
    switch (directive) {
      case '%':
        out += '%';
        break;
      case 's': {
        const TFormatArg& arg = NextArg(args, next, format);
        out += arg.IsText() ? arg.Text() : std::to_string(arg.Int());
        break;
      }
      case 'd': {
        const TFormatArg& arg = NextArg(args, next, format);
        if (arg.IsText()) {
          throw EConvertError("Format '" + std::string(format) +
                              "' invalid or incompatible with argument");
        }
        out += std::to_string(arg.Int());
        break;
      }
      case 'x':
      case 'p': {
        const TFormatArg& arg = NextArg(args, next, format);
        if (arg.IsText()) {
          throw EConvertError("Format '" + std::string(format) +
                              "' invalid or incompatible with argument");
        }
        out += Hex(static_cast<unsigned long long>(arg.Int()), directive == 'p' ? 8 : 1);
        break;
      }
      default:
        throw EConvertError("Format '" + std::string(format) +
                            "' invalid or incompatible with argument");
    }
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}
