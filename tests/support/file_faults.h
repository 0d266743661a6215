// A FileSystem over the real one in which any single operation can be made
// to fail, and which counts what was asked of it. A test may derive from it
// to note more.
#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "download/file_system.h"
#include "files/real_file_system.h"

namespace vexel::testing {

class FaultyFileSystem : public download::FileSystem {
 public:
  int fail_create_directory = 0;  // the errno CreateDirectory fails with; 0: none
  bool fail_rename = false;
  std::string fail_rename_into;  // renames to paths with this prefix fail too
  bool fail_remove = false;
  bool writable = true;  // answer of IsWritableDirectory for existing directories
  int fail_write = 0;    // the errno WriteFile fails with; 0: none
  int fail_flush = 0;    // the errno FlushToDisk fails with; 0: none

  // Set when StatOf (nothing: the real answer) says the change time has
  // settled, or not.
  std::optional<bool> settled;

  std::size_t looks = 0;             // KindOf, ReadEnds and StatOf calls
  std::vector<std::string> created;  // CreateDirectory and CreateDirectories calls
  std::vector<std::string> renamed;  // rename targets
  std::vector<std::string> removed;

  download::FileResult CreateDirectory(const std::string& path) override {
    created.push_back(path);
    if (fail_create_directory != 0) {
      return {fail_create_directory};
    }
    return real().CreateDirectory(path);
  }
  bool CreateDirectories(const std::string& path) override {
    created.push_back(path);
    return fail_create_directory == 0 && real().CreateDirectories(path);
  }
  bool IsFile(const std::string& path) override { return real().IsFile(path); }
  bool Rename(const std::string& from, const std::string& to) override {
    renamed.push_back(to);
    const bool refused =
        fail_rename || (!fail_rename_into.empty() && to.starts_with(fail_rename_into));
    return !refused && real().Rename(from, to);
  }
  bool Remove(const std::string& path) override {
    removed.push_back(path);
    return !fail_remove && real().Remove(path);
  }
  bool RemoveDirectory(const std::string& path) override {
    removed.push_back(path);
    return !fail_remove && real().RemoveDirectory(path);
  }
  bool IsWritableDirectory(const std::string& path) override {
    return writable && real().IsWritableDirectory(path);
  }
  download::OpenedFile CreateNewFile(const std::string& path) override {
    return real().CreateNewFile(path);
  }
  download::FileResult WriteFile(int fd, std::string_view data) override {
    return fail_write != 0 ? download::FileResult{fail_write} : real().WriteFile(fd, data);
  }
  download::FileResult CloseFile(int fd) override { return real().CloseFile(fd); }
  download::OpenedFile TryLock(const std::string& path) override { return real().TryLock(path); }
  std::vector<std::string> ListFolder(const std::string& path) override {
    return real().ListFolder(path);
  }
  std::optional<std::chrono::seconds> AgeOfFile(const std::string& path) override {
    return real().AgeOfFile(path);
  }
  bool ProcessHasEnded(long pid) override { return real().ProcessHasEnded(pid); }

  download::EntryKind KindOf(const std::string& path) override {
    ++looks;
    return real().KindOf(path);
  }
  download::FileEnds ReadEnds(const std::string& path, std::size_t head,
                              std::size_t tail) override {
    ++looks;
    return real().ReadEnds(path, head, tail);
  }
  download::EntryStat StatOf(const std::string& path) override {
    ++looks;
    download::EntryStat entry = real().StatOf(path);
    entry.settled = settled.value_or(entry.settled);
    return entry;
  }
  download::FileResult RenameNoReplace(const std::string& from, const std::string& to) override {
    renamed.push_back(to);
    if (fail_rename) {
      return {EACCES};
    }
    return real().RenameNoReplace(from, to);
  }

  download::FileResult FlushToDisk(const std::string& path) override {
    return fail_flush != 0 ? download::FileResult{fail_flush} : real().FlushToDisk(path);
  }

 private:
  static download::FileSystem& real() { return files::RealFileSystem(); }
};

}  // namespace vexel::testing
