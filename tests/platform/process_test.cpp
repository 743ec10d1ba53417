#include "platform/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Sets $PATH and the working folder for one test, and puts both back.
class PathScope {
 public:
  PathScope(const char* path, const std::string& folder) : folder_(std::filesystem::current_path()) {
    if (const char* old = std::getenv("PATH")) old_path_ = old, had_path_ = true;
    ::setenv("PATH", path, 1);
    std::filesystem::current_path(folder);
  }
  ~PathScope() {
    if (had_path_)
      ::setenv("PATH", old_path_.c_str(), 1);
    else
      ::unsetenv("PATH");
    std::filesystem::current_path(folder_);
  }

 private:
  std::filesystem::path folder_;
  std::string old_path_;
  bool had_path_ = false;
};

TEST(FindProgram, FollowsPathAndTakesAnEmptyEntryAsTheCurrentFolder) {
  {
    PathScope scope("/nonexistent::/bin", "/");
    EXPECT_EQ(qb::FindProgram("sh"), std::optional<std::string>("/bin/sh"));
  }
  {
    PathScope scope("/nonexistent::/usr/bin", "/bin");
    EXPECT_EQ(qb::FindProgram("sh"), std::optional<std::string>("./sh"));
  }
  {
    PathScope scope("", "/bin");
    EXPECT_EQ(qb::FindProgram("sh"), std::optional<std::string>("./sh"));
  }
  PathScope scope("/bin", "/");
  EXPECT_EQ(qb::FindProgram("no-such-program-here"), std::nullopt);
  EXPECT_EQ(qb::FindProgram("/bin/sh"), std::optional<std::string>("/bin/sh"));
  EXPECT_EQ(qb::FindProgram(""), std::nullopt);
  EXPECT_EQ(qb::FindProgram(std::string("sh\0x", 4)), std::nullopt);
}

}  // namespace
