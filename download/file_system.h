// The file operations of the download job and the image fetcher, behind a
// seam so that tests can make any one of them fail. files/ provides the real
// one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexel::download {

// The outcome of a file operation: 0, or the errno that made it fail.
struct FileResult {
  int error = 0;
  bool made = false;  // CreateDirectory: the directory did not exist before
  explicit operator bool() const { return error == 0; }
};

// A descriptor opened through the seam, or the errno that stopped it.
struct OpenedFile {
  int fd = -1;
  int error = 0;
  explicit operator bool() const { return fd >= 0; }
};

// What is at a path, the path itself, never what a link points to.
enum class EntryKind { None, File, Directory, Other };

// The first and last bytes of a file, for telling a whole image from a
// broken one without reading it all.
struct FileEnds {
  int error = 0;         // errno when it could not be opened or read
  bool regular = false;  // a regular file, opened without following a link
  std::uint64_t size = 0;
  std::string head;  // the first bytes asked for, or the whole file
  std::string tail;  // the last bytes asked for, or the whole file
};

// What lstat() tells of a path (a link is Other, never followed).
struct EntryStat {
  EntryKind kind = EntryKind::None;
  int error = 0;  // errno when nothing could be read
  std::uint64_t size = 0;
  // The inode's last status change (st_ctime) in ns since the epoch: an entry
  // added to, removed from or renamed in a folder moves its folder's, and,
  // unlike the modification time, no program can set it back.
  std::int64_t changed_ns = 0;
  std::uint64_t inode = 0;
  // The file system's clock has moved past `changed_ns`, so any change made
  // from now on gives a later one. Timestamps come from a clock that ticks
  // every few ms, so a change made in the same tick as the one read would
  // not show.
  bool settled = false;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Creates one directory level. Succeeds when the directory was created or
  // already existed as a directory.
  virtual FileResult CreateDirectory(const std::string& path) = 0;
  // True when a regular file (or a link to one) is at `path`.
  virtual bool IsFile(const std::string& path) = 0;
  // Creates every missing level of `path`. True when it exists afterwards.
  virtual bool CreateDirectories(const std::string& path) = 0;
  // Renames `from` to `to`, replacing a file at `to` in one step.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // Removes a file.
  virtual bool Remove(const std::string& path) = 0;
  // Removes a directory when it is empty.
  virtual bool RemoveDirectory(const std::string& path) = 0;
  // True when `path` is a directory in which this process can create files.
  virtual bool IsWritableDirectory(const std::string& path) = 0;

  // Temporary files, locks, and the sweep of what a killed run left behind.
  //
  // Opens a new file for writing; EEXIST when something is at `path`. Its
  // permissions are 0666 less the user's umask, as for any file the user's
  // programs make, so that a media server of another user can read pages.
  virtual OpenedFile CreateNewFile(const std::string& path) = 0;
  // Writes all of `data` to `fd`.
  virtual FileResult WriteFile(int fd, std::string_view data) = 0;
  // Closes `fd`; a failed close can mean lost data.
  virtual FileResult CloseFile(int fd) = 0;
  // Takes an exclusive lock on the file or folder at `path` without waiting:
  // the descriptor that holds it until CloseFile, or EWOULDBLOCK while
  // another open descriptor (of any process) holds it.
  virtual OpenedFile TryLock(const std::string& path) = 0;
  // The names in a folder, "." and ".." left out; none when it cannot be read.
  virtual std::vector<std::string> ListFolder(const std::string& path) = 0;
  // How long ago the regular file at `path` (not a link) last changed;
  // nothing when no regular file is there.
  virtual std::optional<std::chrono::seconds> AgeOfFile(const std::string& path) = 0;
  // True only when process `pid` is known to have ended.
  virtual bool ProcessHasEnded(long pid) = 0;

  // Files that were there before the job: checked before they are trusted,
  // and set aside rather than overwritten.
  //
  // What is at `path`, without following a link (a link is Other).
  virtual EntryKind KindOf(const std::string& path) = 0;
  // Opens `path` without following a link and reads up to `head` bytes from
  // its start and `tail` from its end; a link, a device or a pipe is read
  // not at all and comes back not regular.
  virtual FileEnds ReadEnds(const std::string& path, std::size_t head, std::size_t tail) = 0;
  // What is at `path`, without following a link, with its size, change
  // time and inode.
  virtual EntryStat StatOf(const std::string& path) = 0;
  // Renames `from` to `to` only when nothing is at `to` (EEXIST otherwise).
  virtual FileResult RenameNoReplace(const std::string& from, const std::string& to) = 0;

  // Writes every file of the file system that holds `path` to stable
  // storage, so that what is recorded as done cannot come back empty after
  // a power loss.
  virtual FileResult FlushToDisk(const std::string& path) = 0;

 protected:
  FileSystem() = default;
  FileSystem(const FileSystem&) = default;
  FileSystem& operator=(const FileSystem&) = default;
  FileSystem(FileSystem&&) = default;
  FileSystem& operator=(FileSystem&&) = default;
};

}  // namespace vexel::download
