// The file system as a chapter's image fetcher sees it while the library
// waits for the chapter: the pages that land under their own names are
// flushed to storage in the background, a few megabytes at a time, as the
// next ones download, so that the flush before the chapter is recorded finds
// little left to write. That flush still covers every file; this only moves
// the bulk of the writing to while the job runs, off the job's own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "download/file_system.h"

namespace vexel::runtime {

class WriteBehindFiles final : public download::FileSystem {
 public:
  // `files` does the work, from this object's own thread too, so it must be
  // safe to call from two threads at once (the real one is); it must outlive
  // this object.
  explicit WriteBehindFiles(download::FileSystem& files);
  ~WriteBehindFiles() override;
  WriteBehindFiles(const WriteBehindFiles&) = delete;
  WriteBehindFiles& operator=(const WriteBehindFiles&) = delete;
  WriteBehindFiles(WriteBehindFiles&&) = delete;
  WriteBehindFiles& operator=(WriteBehindFiles&&) = delete;

  // Ends the background writing without waiting for it: the pages not yet
  // handed on are left to the caller's FlushToDisk. Calls after it are only
  // passed on.
  void Stop();

  // Once the pages written since the last flush come to a few megabytes,
  // a file renamed into place (a page the fetcher finished) has the writer
  // flush them; the writer is woken that seldom, not for every page.
  bool Rename(const std::string& from, const std::string& to) override;
  download::FileResult WriteFile(int fd, std::string_view data) override {
    unflushed_.fetch_add(data.size(), std::memory_order_relaxed);
    return files_.WriteFile(fd, data);
  }

  download::FileResult CreateDirectory(const std::string& path) override {
    return files_.CreateDirectory(path);
  }
  bool IsFile(const std::string& path) override { return files_.IsFile(path); }
  bool CreateDirectories(const std::string& path) override {
    return files_.CreateDirectories(path);
  }
  bool Remove(const std::string& path) override { return files_.Remove(path); }
  bool RemoveDirectory(const std::string& path) override { return files_.RemoveDirectory(path); }
  bool IsWritableDirectory(const std::string& path) override {
    return files_.IsWritableDirectory(path);
  }
  download::OpenedFile CreateNewFile(const std::string& path) override {
    return files_.CreateNewFile(path);
  }
  download::FileResult CloseFile(int fd) override { return files_.CloseFile(fd); }
  download::OpenedFile TryLock(const std::string& path) override { return files_.TryLock(path); }
  std::vector<std::string> ListFolder(const std::string& path) override {
    return files_.ListFolder(path);
  }
  std::optional<std::chrono::seconds> AgeOfFile(const std::string& path) override {
    return files_.AgeOfFile(path);
  }
  bool ProcessHasEnded(long pid) override { return files_.ProcessHasEnded(pid); }
  download::EntryKind KindOf(const std::string& path) override { return files_.KindOf(path); }
  download::FileEnds ReadEnds(const std::string& path, std::size_t head,
                              std::size_t tail) override {
    return files_.ReadEnds(path, head, tail);
  }
  download::EntryStat StatOf(const std::string& path) override { return files_.StatOf(path); }
  download::FileResult RenameNoReplace(const std::string& from, const std::string& to) override {
    return files_.RenameNoReplace(from, to);
  }
  download::FileResult FlushToDisk(const std::string& path) override {
    return files_.FlushToDisk(path);
  }

 private:
  void Write(const std::stop_token& stop);

  download::FileSystem& files_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::atomic<std::uint64_t> unflushed_{0};  // bytes written since the last flush was asked for
  std::string flush_path_;                   // a flush asked for, on this file's file system
  bool stopped_ = false;
  // Last: started once the rest exists, and joined before it goes.
  std::jthread writer_;
};

}  // namespace vexel::runtime
