#include "runtime/write_behind.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/file_faults.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::runtime {
namespace {

using testing::TempDir;

// The real file system (through the fault-free test one), noting the paths
// it is asked to flush; a test waits on the note rather than on time.
class NotingFiles final : public testing::FaultyFileSystem {
 public:
  std::vector<std::string> TakeFlushes(std::size_t count) {
    std::unique_lock lock(mutex_);
    noted_.wait(lock, [&] { return flushed_.size() >= count; });
    return std::exchange(flushed_, {});
  }

  download::FileResult FlushToDisk(const std::string& path) override {
    const download::FileResult result = FaultyFileSystem::FlushToDisk(path);
    const std::lock_guard lock(mutex_);
    flushed_.push_back(path);
    noted_.notify_all();
    return result;
  }

 private:
  std::mutex mutex_;
  std::condition_variable noted_;
  std::vector<std::string> flushed_;
};

// A page written through `files` as the fetcher writes one: into a part
// file, then renamed into place.
bool WritePage(download::FileSystem& files, const std::string& part, const std::string& page,
               std::size_t bytes) {
  const download::OpenedFile file = files.CreateNewFile(part);
  return file && !files.WriteFile(file.fd, std::string(bytes, 'x')).error &&
         !files.CloseFile(file.fd).error && files.Rename(part, page);
}

TEST(WriteBehindTest, WrittenPagesAreFlushedAFewMegabytesAtATimeUntilStopped) {
  TempDir dir;
  NotingFiles noting;
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  {
    WriteBehindFiles files(noting);
    // 1 MB, then 1.5 MB: the second page takes what was written past the
    // bytes after which the file system is flushed, and the flush names it.
    ASSERT_TRUE(WritePage(files, dir / "1.part", dir / "1.png", kMiB));
    ASSERT_TRUE(WritePage(files, dir / "2.part", dir / "2.png", kMiB + kMiB / 2));
    EXPECT_EQ(noting.TakeFlushes(1), std::vector<std::string>{dir / "2.png"});
    EXPECT_EQ(testing::ReadWholeFile(dir / "2.png").size(), kMiB + kMiB / 2);

    // A rename that failed asks for nothing; after Stop, pages are still
    // written and renamed but ask for no flush.
    EXPECT_FALSE(files.Rename(dir / "missing.part", dir / "3.png"));
    files.Stop();
    ASSERT_TRUE(WritePage(files, dir / "4.part", dir / "4.png", 3 * kMiB));
    EXPECT_EQ(testing::ReadWholeFile(dir / "4.png").size(), 3 * kMiB);
  }
  // The writer has ended: a flush it had been asked for would be noted by now.
  EXPECT_TRUE(noting.TakeFlushes(0).empty());
}

}  // namespace
}  // namespace vexel::runtime
