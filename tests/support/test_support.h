// Shared test tools: temporary folders, whole-file I/O, running peer tools.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qbtest {

namespace fs = std::filesystem;

// A fresh folder under the system temporary folder, removed with everything in it
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::vector<uint8_t> ReadFileBytes(const fs::path& path);
std::string ReadFileText(const fs::path& path);
void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes);
void WriteFileText(const fs::path& path, const std::string& text);

struct CommandResult {
  int exit_code = -1;
  std::string output;  // standard output
  std::string errors;  // standard error
};
// Runs a shell command line with an optional standard input; captures both outputs.
CommandResult RunCommand(const std::string& command_line, const std::string& input = {});
// Quotes a string for the shell.
std::string ShellQuote(const std::string& text);

// Deterministic pseudo-random bytes for tests (xorshift).
std::vector<uint8_t> RandomBytes(size_t count, uint64_t seed);
// Text-like data: words from a small vocabulary, line breaks, some digits.
std::vector<uint8_t> TextLikeBytes(size_t count, uint64_t seed);

// The third-party ZIP archives the tests read (tests/data/zip in the repository).
fs::path CorpusDir();
// The qvf program built alongside the tests.
std::string QvfPath();

}  // namespace qbtest
