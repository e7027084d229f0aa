#pragma once

#include <cstdio>
#include <optional>

namespace mizong {

// The options a user of a Linux program expects, answered before any Qt
// object exists and so without a display: `--help` (`-h`) and `--version`.
// Returns the exit code when the program should end at once; every other
// argument is left to Qt.
std::optional<int> answerCommandLine(int argc, const char* const argv[], std::FILE* out);

} // namespace mizong
