#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

extern char** environ;

namespace qb {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

long long NowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

std::optional<std::string> FindProgram(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  if (name.find('/') != std::string::npos) {
    if (IsExecutableFile(name)) return name;
    return std::nullopt;
  }
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const size_t colon = dirs.find(':');
    // An empty entry of PATH stands for the current folder.
    const std::string_view dir = colon == 0 || dirs.empty() ? std::string_view(".") : dirs.substr(0, colon);
    std::string candidate;
    candidate.reserve(dir.size() + 1 + name.size());
    candidate.append(dir).append("/").append(name);
    if (IsExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

std::optional<int> RunProgram(const std::vector<std::string>& argv, int timeout_ms) {
  if (argv.empty()) return std::nullopt;
  const std::optional<std::string> program = FindProgram(argv[0]);
  if (!program) return std::nullopt;
  std::vector<char*> args;
  for (const std::string& a : argv) {
    if (a.find('\0') != std::string::npos) return std::nullopt;
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return std::nullopt;
  for (int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program->c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;

  const long long deadline = NowMs() + timeout_ms;
  int status = 0;
  while (true) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (NowMs() >= deadline) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return std::nullopt;
    }
    ::usleep(5000);
  }
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

std::string RunningProgramPath() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.string();
}

}  // namespace qb
