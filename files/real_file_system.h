// The operating system's file system behind the download job's seam.
#pragma once

#include "download/file_system.h"

namespace vexel::files {

// POSIX calls. Stateless; safe to share between threads.
download::FileSystem& RealFileSystem();

}  // namespace vexel::files
