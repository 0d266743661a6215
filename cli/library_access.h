// The library as a command line asks for it: the default file, another one
// given with --library FILE, or none with --no-library. Shared by every
// command that reads or writes the library.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "library/library.h"

namespace vexel::cli {

struct CommandLineLibrary {
  std::unique_ptr<library::Library> library;  // empty with --no-library or on failure
  // The file could not be used; one line naming it and the fault has been
  // printed on standard error. A download command goes on without it; a
  // library command exits 1.
  bool failed = false;
};

// `library_file`: the value of --library, nothing for the default file
// (whose folder is created, private to the user, when missing).
// `no_library`: --no-library, which neither reads nor writes one.
CommandLineLibrary OpenLibraryForCommandLine(const std::optional<std::string>& library_file,
                                             bool no_library);

}  // namespace vexel::cli
