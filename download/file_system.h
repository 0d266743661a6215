// The file operations of the download job and the image fetcher, behind a
// seam so that tests can make any one of them fail. files/ provides the real
// one.
#pragma once

#include <string>

namespace vexel::download {

// The outcome of a file operation: 0, or the errno that made it fail.
struct FileResult {
  int error = 0;
  bool made = false;  // CreateDirectory: the directory did not exist before
  explicit operator bool() const { return error == 0; }
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

 protected:
  FileSystem() = default;
  FileSystem(const FileSystem&) = default;
  FileSystem& operator=(const FileSystem&) = default;
  FileSystem(FileSystem&&) = default;
  FileSystem& operator=(FileSystem&&) = default;
};

}  // namespace vexel::download
