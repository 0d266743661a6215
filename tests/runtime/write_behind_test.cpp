#include "runtime/write_behind.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "files/real_file_system.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::runtime {
namespace {

using testing::TempDir;

// The real file system, noting the paths it is asked to flush; a test waits
// on the note rather than on time.
class NotingFiles final : public download::FileSystem {
 public:
  std::vector<std::string> TakeFlushes(std::size_t count) {
    std::unique_lock lock(mutex_);
    noted_.wait(lock, [&] { return flushed_.size() >= count; });
    return std::exchange(flushed_, {});
  }

  download::FileResult FlushToDisk(const std::string& path) override {
    const download::FileResult result = real().FlushToDisk(path);
    const std::lock_guard lock(mutex_);
    flushed_.push_back(path);
    noted_.notify_all();
    return result;
  }

  download::FileResult CreateDirectory(const std::string& p) override {
    return real().CreateDirectory(p);
  }
  bool IsFile(const std::string& p) override { return real().IsFile(p); }
  bool CreateDirectories(const std::string& p) override { return real().CreateDirectories(p); }
  bool Rename(const std::string& from, const std::string& to) override {
    return real().Rename(from, to);
  }
  bool Remove(const std::string& p) override { return real().Remove(p); }
  bool RemoveDirectory(const std::string& p) override { return real().RemoveDirectory(p); }
  bool IsWritableDirectory(const std::string& p) override { return real().IsWritableDirectory(p); }
  download::OpenedFile CreateNewFile(const std::string& p) override {
    return real().CreateNewFile(p);
  }
  download::FileResult WriteFile(int fd, std::string_view data) override {
    return real().WriteFile(fd, data);
  }
  download::FileResult CloseFile(int fd) override { return real().CloseFile(fd); }
  download::OpenedFile TryLock(const std::string& p) override { return real().TryLock(p); }
  std::vector<std::string> ListFolder(const std::string& p) override {
    return real().ListFolder(p);
  }
  std::optional<std::chrono::seconds> AgeOfFile(const std::string& p) override {
    return real().AgeOfFile(p);
  }
  bool ProcessHasEnded(long pid) override { return real().ProcessHasEnded(pid); }
  download::EntryKind KindOf(const std::string& p) override { return real().KindOf(p); }
  download::FileEnds ReadEnds(const std::string& p, std::size_t head, std::size_t tail) override {
    return real().ReadEnds(p, head, tail);
  }
  download::EntryStat StatOf(const std::string& p) override { return real().StatOf(p); }
  download::FileResult RenameNoReplace(const std::string& from, const std::string& to) override {
    return real().RenameNoReplace(from, to);
  }

 private:
  static download::FileSystem& real() { return files::RealFileSystem(); }
  std::mutex mutex_;
  std::condition_variable noted_;
  std::vector<std::string> flushed_;
};

TEST(WriteBehindTest, LandedPagesAreFlushedAFewMegabytesAtATimeUntilStopped) {
  TempDir dir;
  NotingFiles noting;
  {
    WriteBehindFiles files(noting);
    // 1 MB, then 1.5 MB: the second page takes the pages past the bytes
    // after which the file system is flushed, and the flush names it.
    testing::WriteWholeFile(dir / "1.part", std::string(std::size_t{1} << 20, 'x'));
    testing::WriteWholeFile(dir / "2.part", std::string(std::size_t{3} << 19, 'x'));
    ASSERT_TRUE(files.Rename(dir / "1.part", dir / "1.png"));
    ASSERT_TRUE(files.Rename(dir / "2.part", dir / "2.png"));
    EXPECT_EQ(noting.TakeFlushes(1), std::vector<std::string>{dir / "2.png"});
    EXPECT_EQ(testing::ReadWholeFile(dir / "2.png").size(), std::size_t{3} << 19);

    // A rename that failed hands nothing on; after Stop, a rename still
    // happens but counts towards no flush.
    EXPECT_FALSE(files.Rename(dir / "missing.part", dir / "3.png"));
    files.Stop();
    testing::WriteWholeFile(dir / "4.part", std::string(std::size_t{3} << 20, 'x'));
    EXPECT_TRUE(files.Rename(dir / "4.part", dir / "4.png"));
    EXPECT_TRUE(testing::ReadWholeFile(dir / "4.png").size() == std::size_t{3} << 20);
  }
  // The writer has ended: a flush it had been handed would be noted by now.
  EXPECT_TRUE(noting.TakeFlushes(0).empty());
}

}  // namespace
}  // namespace vexel::runtime
