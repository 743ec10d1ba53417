#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/qvf_cli.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "store/cabinet_store.h"
#include "zip/zip_errors.h"

namespace qb::cli {

Arguments ParseArguments(const std::string& verb, const std::vector<std::string>& args,
                         const std::set<std::string>& known_flags,
                         const std::set<std::string>& known_values) {
  Arguments parsed;
  parsed.verb = verb;
  bool options_ended = false;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    const bool negative_number = arg.size() >= 2 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9';
    if (options_ended || arg == "-" || arg.size() < 2 || arg[0] != '-' || negative_number) {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    std::string name = arg, value;
    bool has_value = false;
    if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    if (known_flags.count(name)) {
      if (has_value) throw UsageError("option '" + name + "' takes no value");
      parsed.flags.insert(name);
    } else if (known_values.count(name)) {
      if (!has_value) {
        if (k + 1 >= args.size()) throw UsageError("option '" + name + "' needs a value");
        value = args[++k];
      }
      parsed.values[name] = value;
    } else {
      throw UsageError("unknown option '" + name + "'");
    }
  }
  return parsed;
}

void RequirePositional(const Arguments& args, size_t min, size_t max) {
  if (args.positional.size() < min) throw UsageError("missing arguments");
  if (args.positional.size() > max) throw UsageError("too many arguments ('" + args.positional[max] + "')");
}

std::string ItemArgument(const std::string& typed) {
  std::string path = typed;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

long long IntegerArgument(const std::string& what, const std::string& text, long long min, long long max) {
  long long value = 0;
  try {
    value = StrToInt(text);
  } catch (const EConvertError& e) {
    throw UsageError(what + ": " + e.what());
  }
  if (value < min || value > max)
    throw UsageError(what + ": " + text + " is out of range (" + std::to_string(min) + " to " +
                     std::to_string(max) + ")");
  return value;
}

Cabinet::Cabinet(const std::string& path) {
  store::ConfigureCabinetArchive(zip);
  zip.SetInteraction(&interaction);
  zip.SetZipName(path);
}

void OpenExisting(Cabinet& cabinet) {
  const std::string path = cabinet.zip.ZipName();
  cabinet.zip.ReadDirectory();
  std::error_code ec;
  if (!cabinet.zip.DirectoryLoaded() && std::filesystem::file_size(path, ec) > 0 && !ec)
    throw zip::EIncompleteZip();
}

void OpenIfExists(Cabinet& cabinet) {
  std::error_code ec;
  if (std::filesystem::exists(cabinet.zip.ZipName(), ec)) OpenExisting(cabinet);
}

namespace {

void AppendHex(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 15];
}

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// Characters that a terminal takes as commands or that reorder the text around them:
// the C1 controls, the bidirectional marks, embeddings, overrides and isolates, and
// the line and paragraph separators.
bool IsControlCodePoint(char32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// Copies the character at text[i] to out, escaped when it is a control above ASCII
// (\uXXXX) or a byte that is not UTF-8 (\xHH); returns false, leaving i, for an
// ASCII byte, which the caller handles.
bool CopyNonAscii(std::string& out, std::string_view text, size_t& i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return false;
  const size_t start = i;
  const char32_t cp = codepage::NextCodePoint(text, i);
  if (cp == codepage::kNotUtf8) {
    AppendHex(out, c);
    ++i;
  } else if (IsControlCodePoint(cp)) {
    char code[16];
    std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(cp));
    out += code;
  } else {
    out.append(text, start, i - start);
  }
  return true;
}

}  // namespace

std::string ShowPath(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size();) {
    if (CopyNonAscii(out, path, i)) continue;
    const unsigned char c = static_cast<unsigned char>(path[i++]);
    if (IsControl(c))
      AppendHex(out, c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

std::string ShowText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (CopyNonAscii(out, text, i)) continue;
    unsigned char c = static_cast<unsigned char>(text[i++]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r' && i < text.size() && text[i] == '\n') {
      out += "\\n";
      ++i;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (IsControl(c)) {
      AppendHex(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string ShowDosDateTime(uint32_t dos_date_time) {
  const unsigned time = dos_date_time & 0xFFFF, date = dos_date_time >> 16;
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15,
                date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return text;
}

bool WriteOut(const void* data, size_t size) {
  return size == 0 || std::fwrite(data, 1, size, stdout) == size;
}

void Complain(const std::string& message) {
  std::fprintf(stderr, "qvf: %s\n", message.c_str());
}

}  // namespace qb::cli
