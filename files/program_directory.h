// Where the running program lives.
#pragma once

#include <string>

namespace vexel::files {

// The directory of the running program's file (read from /proc/self/exe),
// ending in "/". Empty when the path cannot be read or holds no "/" after its
// first byte.
std::string GetProgramDirectory();

// The directory part of `path`: everything up to and including its last "/",
// found by scanning backwards down to position 1. Empty when `path` is empty
// or holds no "/" after its first byte.
std::string DirectoryPart(const std::string& path);

}  // namespace vexel::files
