// The chapter folder names that one run has used, so that two chapters of
// the run never share a folder or an archive.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace vexel::download {

// Kept by whoever runs a queue of chapters, one for the whole queue; a job
// claims its chapter's name when it has chosen its output directory.
class ClaimedNames {
 public:
  // True when `path` was not claimed before (or only by `owner`, the same
  // chapter run again) and nothing else holds it; it is claimed from now on.
  bool Claim(const std::string& path) {
    if (held_elsewhere && held_elsewhere(path)) {
      return false;
    }
    const auto [claimed, inserted] = paths_.emplace(path, owner);
    return inserted || (!owner.empty() && claimed->second == owner);
  }

  // The chapter (its address) whose job claims names now; empty: none is
  // told apart, and every name is claimed once. A paused chapter that runs
  // again keeps its folder this way.
  std::string owner;

  // True when a folder is taken outside this run (the library records it for
  // another chapter); empty: only the run's own claims count.
  std::function<bool(const std::string& path)> held_elsewhere;

 private:
  std::map<std::string, std::string> paths_;  // path → owner
};

// The name of the folder for the chapter titled `title` (already made safe)
// in `directory`: the title, cut to leave room for the longest name the
// program makes beside the folder. When an earlier chapter of the run
// claimed that name in `directory`, or it is held elsewhere, the name gains
// " (2)", " (3)", … instead,
// the first one not claimed yet. Without `names` (a single chapter) the cut
// title is the name.
std::string ClaimFolderName(ClaimedNames* names, std::string_view directory,
                            std::string_view title);

}  // namespace vexel::download
