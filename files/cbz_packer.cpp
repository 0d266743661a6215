#include "files/cbz_packer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "files/leftover_sweep.h"

namespace vexel::files {
namespace {

struct ZipDiscarder {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using UniqueZip = std::unique_ptr<zip_t, ZipDiscarder>;
struct ZipFileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using UniqueZipFile = std::unique_ptr<zip_file_t, ZipFileCloser>;

download::PackResult Failure(const std::string& what, zip_error_t* error) {
  download::PackResult result;
  result.reason = what + ": " + zip_error_strerror(error);
  if (zip_error_system_type(error) == ZIP_ET_SYS) {
    result.system_error = zip_error_code_system(error);
  }
  return result;
}

download::PackResult Failure(const std::string& what, int system_error = 0) {
  download::PackResult result;
  result.reason = what;
  result.system_error = system_error;
  return result;
}

download::PackResult Write(const download::PackRequest& request, const std::string& path) {
  int code = 0;
  UniqueZip archive(zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code));
  if (!archive) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    download::PackResult failed = Failure("cannot create " + path, &error);
    zip_error_fini(&error);
    return failed;
  }
  zip_source_t* info =
      zip_source_buffer(archive.get(), request.comic_info.data(), request.comic_info.size(), 0);
  if (info == nullptr || zip_file_add(archive.get(), "ComicInfo.xml", info, ZIP_FL_ENC_UTF_8) < 0) {
    zip_source_free(info);
    return Failure("cannot add ComicInfo.xml", zip_get_error(archive.get()));
  }
  for (const download::PackRequest::Page& page : request.pages) {
    zip_source_t* source = zip_source_file(archive.get(), page.file.c_str(), 0, -1);
    const zip_int64_t index = source == nullptr ? -1
                                                : zip_file_add(archive.get(), page.entry.c_str(),
                                                               source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      return Failure("cannot add " + page.file, zip_get_error(archive.get()));
    }
    if (zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), ZIP_CM_STORE,
                                 0) != 0) {
      return Failure("cannot store " + page.file, zip_get_error(archive.get()));
    }
  }
  // libzip writes everything here, into a temporary file of its own that it
  // renames to `path` once complete.
  if (zip_close(archive.get()) != 0) {
    return Failure("cannot write " + path, zip_get_error(archive.get()));
  }
  // zip_close has freed the archive.
  static_cast<void>(archive.release());
  return {true, 0, {}};
}

// Reads every entry back: the names in order and the bytes, whose checksum
// libzip compares as it reads.
download::PackResult Check(const download::PackRequest& request, const std::string& path) {
  int code = 0;
  UniqueZip archive(zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
  if (!archive) {
    return Failure("cannot read back " + path);
  }
  if (zip_get_num_entries(archive.get(), 0) != static_cast<zip_int64_t>(request.pages.size() + 1)) {
    return Failure("wrong entry count in " + path);
  }
  std::array<char, std::size_t{64} * 1024> buffer{};
  for (zip_uint64_t index = 0; index <= request.pages.size(); ++index) {
    const char* name = zip_get_name(archive.get(), index, ZIP_FL_ENC_RAW);
    const std::string& expected =
        index == 0 ? std::string("ComicInfo.xml") : request.pages[index - 1].entry;
    if (name == nullptr || expected != name) {
      return Failure("unexpected entry in " + path);
    }
    UniqueZipFile file(zip_fopen_index(archive.get(), index, 0));
    if (!file) {
      return Failure(std::string("cannot read ").append(expected).append(" in ").append(path));
    }
    zip_int64_t got = 0;
    while ((got = zip_fread(file.get(), buffer.data(), buffer.size())) > 0) {
    }
    if (got < 0) {
      return Failure(std::string("damaged ").append(expected).append(" in ").append(path));
    }
  }
  return {true, 0, {}};
}

constexpr std::string_view kPartSuffix = ".cbz.part";
constexpr std::size_t kZipRandomLength = 6;

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace

// "<chapter>.cbz.part" and libzip's "<chapter>.cbz.part.XXXXXX" (six letters
// or digits) belong to whoever packs the chapter folder "<chapter>" beside
// them: Pack holds a lock on that folder while it writes.
std::optional<LeftoverOwner> PackLeftoverOwner(const std::string& folder, std::string_view name) {
  if (!name.ends_with(kPartSuffix)) {
    const std::size_t dot = name.size() - std::min(name.size(), kZipRandomLength + 1);
    const std::string_view random = name.substr(dot + 1);
    if (name.size() < kZipRandomLength + 1 || name[dot] != '.' ||
        !std::all_of(random.begin(), random.end(), [](char c) {
          return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        })) {
      return std::nullopt;
    }
    name = name.substr(0, dot);
  }
  if (!name.ends_with(kPartSuffix) || name.size() == kPartSuffix.size()) {
    return std::nullopt;
  }
  name.remove_suffix(kPartSuffix.size());
  return LeftoverOwner{0, folder + std::string(name)};
}

CbzPacker::CbzPacker(download::FileSystem& file_system) : file_system_(file_system) {}

download::PackResult CbzPacker::Pack(const download::PackRequest& request) {
  // What a killed pack left beside the archives goes first, this chapter's
  // own included; then the lock marks this chapter's files as in use.
  const std::string output = ParentOf(request.archive);
  SweepLeftovers(file_system_, output,
                 [&output](std::string_view name) { return PackLeftoverOwner(output, name); });
  std::string folder = request.folder;
  if (!folder.empty() && folder.back() == '/') {
    folder.pop_back();
  }
  const HeldLock lock(file_system_, folder);
  if (!lock.held() && lock.error() == EWOULDBLOCK) {
    return Failure("another process is packing " + folder, EWOULDBLOCK);
  }
  const std::string part = request.archive + ".part";
  download::PackResult result = Write(request, part);
  if (result.ok) {
    result = Check(request, part);
  }
  if (result.ok && !file_system_.Rename(part, request.archive)) {
    result = Failure("cannot rename to " + request.archive, errno);
  }
  if (!result.ok) {
    file_system_.Remove(part);
    return result;
  }
  for (const download::PackRequest::Page& page : request.pages) {
    file_system_.Remove(page.file);
  }
  // The folder goes when nothing else is in it; files of the user's stay.
  ::rmdir(folder.c_str());
  return result;
}

bool CbzPacker::IsWholeArchive(const std::string& archive, std::int64_t page_count) {
  if (page_count < 0) {
    return false;
  }
  // Opened here without following a link, so that what is checked is the
  // file itself and not whatever a link points to.
  const int fd = ::open(archive.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  int code = 0;
  // On success the archive owns the descriptor and closes it.
  UniqueZip zip(zip_fdopen(fd, ZIP_RDONLY | ZIP_CHECKCONS, &code));
  if (!zip) {
    ::close(fd);
    return false;
  }
  const zip_int64_t entries = zip_get_num_entries(zip.get(), 0);
  return zip_name_locate(zip.get(), "ComicInfo.xml", 0) >= 0 && entries == page_count + 1;
}

}  // namespace vexel::files
