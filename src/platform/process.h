// Running a helper program of the system (the desktop's database updaters).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qb {

// The full path of the program named name found along $PATH (name itself when it
// holds a "/" and is executable); nothing when there is none.
std::optional<std::string> FindProgram(const std::string& name);

// Runs argv[0] (looked up along $PATH) with the arguments, its input and outputs
// on /dev/null, and waits at most timeout_ms for it; a program that takes longer
// is killed. Returns its exit status, or nothing when it could not be started,
// was killed or ended by a signal. Never throws.
std::optional<int> RunProgram(const std::vector<std::string>& argv, int timeout_ms);

// The full path of the running program.
std::string RunningProgramPath();

}  // namespace qb
