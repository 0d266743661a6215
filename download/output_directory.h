// Where the window stores chapter folders.
#pragma once

#include <string>

#include "download/download_host.h"
#include "download/file_system.h"

namespace vexel::download {

// `preferred` when it is a directory this process can write; otherwise
// `fallback_directory` (created when missing) with `fallback` set, so the job
// can say where the chapter went. Both paths end in "/".
OutputDirectory ChooseOutputDirectory(const std::string& preferred,
                                      const std::string& fallback_directory,
                                      download::FileSystem& file_system);

}  // namespace vexel::download
