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

// The real file system, noting what is written out and flushed; a test
// waits on the note rather than on time.
class NotingFiles final : public download::FileSystem {
 public:
  std::vector<std::string> TakeWrittenOut(std::size_t count) {
    std::unique_lock lock(mutex_);
    noted_.wait(lock, [&] { return written_out_.size() >= count; });
    return std::exchange(written_out_, {});
  }
  void WaitForFlushes(std::size_t count) {
    std::unique_lock lock(mutex_);
    noted_.wait(lock, [&] { return flushes_ >= count; });
  }

  download::FileResult StartWriteOut(const std::string& path) override {
    const download::FileResult result = real().StartWriteOut(path);
    const std::lock_guard lock(mutex_);
    written_out_.push_back(path);
    noted_.notify_all();
    return result;
  }
  download::FileResult FlushToDisk(const std::string& path) override {
    const download::FileResult result = real().FlushToDisk(path);
    const std::lock_guard lock(mutex_);
    ++flushes_;
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
  std::vector<std::string> written_out_;
  std::size_t flushes_ = 0;
};

TEST(WriteBehindTest, PagesRenamedIntoPlaceAreWrittenOutUntilStopped) {
  TempDir dir;
  NotingFiles noting;
  WriteBehindFiles files(noting);
  const std::string page = dir / "1.png";
  // 5 MB in one page: past the bytes after which the file system is
  // flushed.
  testing::WriteWholeFile(dir / "1.part", std::string(std::size_t{5} << 20, 'x'));
  ASSERT_TRUE(files.Rename(dir / "1.part", page));
  EXPECT_EQ(noting.TakeWrittenOut(1), std::vector<std::string>{page});
  noting.WaitForFlushes(1);
  EXPECT_EQ(testing::ReadWholeFile(page).size(), std::size_t{5} << 20);

  // A rename that failed hands nothing on; after Stop, a rename still
  // happens but nothing more is written out, and Stop does not wait.
  EXPECT_FALSE(files.Rename(dir / "missing.part", dir / "2.png"));
  files.Stop();
  testing::WriteWholeFile(dir / "3.part", "png");
  EXPECT_TRUE(files.Rename(dir / "3.part", dir / "3.png"));
  EXPECT_TRUE(noting.TakeWrittenOut(0).empty());
}

}  // namespace
}  // namespace vexel::runtime
