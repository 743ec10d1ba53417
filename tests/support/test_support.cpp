#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace qbtest {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate =
        fs::temp_directory_path() / ("qbtest-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(counter++) + "-" + std::to_string(rd() % 100000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything writable again first, in case a test took permissions away.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadFileText(const fs::path& path) {
  auto bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteFileText(const fs::path& path, const std::string& text) {
  WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

CommandResult RunCommand(const std::string& command_line, const std::string& input) {
  TempDir dir;
  std::string in_path = dir / "stdin", out_path = dir / "stdout", err_path = dir / "stderr";
  WriteFileText(in_path, input);
  std::string full = "( " + command_line + " ) <" + ShellQuote(in_path) + " >" + ShellQuote(out_path) +
                     " 2>" + ShellQuote(err_path);
  int status = std::system(full.c_str());
  CommandResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.output = ReadFileText(out_path);
  result.errors = ReadFileText(err_path);
  return result;
}

std::vector<uint8_t> RandomBytes(size_t count, uint64_t seed) {
  std::vector<uint8_t> bytes(count);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

std::vector<uint8_t> TextLikeBytes(size_t count, uint64_t seed) {
  static const char* const kWords[] = {"the",   "cabinet", "drawer", "item",  "clip",   "int", "return",
                                       "while", "for",     "value",  "(x);",  "{",      "}",   "=",
                                       "const", "struct",  "note",   "glyph", "format", "0x8C"};
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(count + 16);
  while (out.size() < count) {
    const char* w = kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    switch (rng() % 12) {
      case 0:
        out.push_back('\n');
        break;
      case 1:
        out.push_back(static_cast<uint8_t>('0' + rng() % 10));
        break;
      default:
        out.push_back(' ');
    }
  }
  out.resize(count);
  return out;
}

fs::path CorpusDir() {
  return fs::path(QB_CORPUS_DIR) / "zip";
}
std::string QvfPath() {
  return QB_QVF_PATH;
}

}  // namespace qbtest
