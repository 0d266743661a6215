// The file a page image is received into: created beside the page's file
// under a name of its own, committed by a rename over the page's file once
// the body is whole, and removed on every other path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "download/file_system.h"
#include "files/leftover_sweep.h"

namespace vexel::net {

class PageFile {
 public:
  PageFile() = default;
  // Closes and removes a file not committed.
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;
  PageFile(PageFile&& other) noexcept;
  PageFile& operator=(PageFile&& other) noexcept;

  // Creates ".vexel-<pid>-XXXXXX.part" in the folder of `target` (six
  // letters or digits for the X), so that a later run can tell the files of
  // a process that no longer runs. 0, or the errno that stopped it.
  int Create(download::FileSystem& file_system, const std::string& target);
  // Appends; false once a write has failed, whose errno error() keeps.
  bool Write(std::string_view data);
  // Closes the file and renames it over the target. 0, or the errno; the
  // file is gone on failure.
  int Commit();
  // Closes and removes the file, if there is one.
  void Discard();

  const std::string& name() const { return name_; }
  const std::string& target() const { return target_; }
  int error() const { return error_; }

 private:
  download::FileSystem* file_system_ = nullptr;
  std::string name_;
  std::string target_;
  int fd_ = -1;
  int error_ = 0;
};

// The folder of `path`, with its "/"; "./" for a bare name.
std::string FolderOf(const std::string& path);

// The process that made a page file called `name`, for the sweep of a
// folder's leftovers; nothing for any other name, however close.
std::optional<files::LeftoverOwner> PageFileOwner(std::string_view name);

}  // namespace vexel::net
