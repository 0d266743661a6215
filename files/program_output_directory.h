// Where the window stores chapter folders.
#pragma once

#include <string>

#include "download/download_host.h"
#include "download/file_system.h"

namespace vexel::files {

// True when `program_directory` (ending in "/" or not) is a "bin" directory,
// as /usr/bin/, /usr/local/bin/ or ~/.local/bin/: where installed programs
// live.
bool IsInstalledProgramDirectory(const std::string& program_directory);

// Where chapter folders go for a program in `program_directory`:
// - an installed program (its directory is a "bin" directory) uses
//   `download_directory`, created when missing. That is where the user looks
//   for downloads; a writable ~/.local/bin/ is no place for comics. The
//   fallback flag stays clear: the program's directory was never the choice,
//   so the log has nothing to explain. Without a download folder (no home)
//   the rule below applies instead.
// - a program run from its build or unpack folder writes beside itself when
//   that folder can be written, else into `download_directory` with the
//   fallback flag set, so the job says where the chapter went.
// Both directories end in "/".
download::OutputDirectory ChooseOutputDirectoryFor(const std::string& program_directory,
                                                   const std::string& download_directory,
                                                   download::FileSystem& file_system);

// ChooseOutputDirectoryFor() for the running program and the real user.
download::OutputDirectory ChooseProgramOutputDirectory();

// A folder the user chose (`folder`, ending in "/" or not): used, created
// when missing, when it can be written; otherwise `download_directory` with
// the fallback flag set, as for a program directory that cannot be written,
// and chosen_folder_unwritable too, so that the log names the right folder.
// The path returned ends in "/".
download::OutputDirectory ChooseUserOutputDirectory(const std::string& folder,
                                                    const std::string& download_directory,
                                                    download::FileSystem& file_system);

// For the real user: ChooseUserOutputDirectory() for `folder`, or
// ChooseProgramOutputDirectory() when `folder` is empty.
download::OutputDirectory ChooseProgramOutputDirectory(const std::string& folder);

// The directory ChooseProgramOutputDirectory() prefers, found without
// touching the disk: the user's download folder for an installed program,
// else the program's own directory. For showing the default, not for writing.
std::string PreferredProgramOutputDirectory();

}  // namespace vexel::files
