// Where the window stores chapter folders.
#pragma once

#include "download/download_host.h"

namespace vexel::files {

// The program's directory when it can be written (a program run from its
// build or unpack folder), else the user's download folder (an installed
// program), with the fallback flag set.
download::OutputDirectory ChooseProgramOutputDirectory();

}  // namespace vexel::files
