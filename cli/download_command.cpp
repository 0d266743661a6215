#include <cstdio>

#include "cli/commands.h"

namespace vexel::cli {

int RunDownloadCommand(std::span<const std::string_view> /*args*/) {
  std::fputs("vexel-dl: not built yet\n", stderr);
  return 2;
}

}  // namespace vexel::cli
