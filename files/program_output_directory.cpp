#include "files/program_output_directory.h"

#include "download/output_directory.h"
#include "files/program_directory.h"
#include "files/real_file_system.h"
#include "files/user_directories.h"

namespace vexel::files {

download::OutputDirectory ChooseProgramOutputDirectory() {
  return download::ChooseOutputDirectory(GetProgramDirectory(), UserDownloadDirectory(),
                                         RealFileSystem());
}

}  // namespace vexel::files
