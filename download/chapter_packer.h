// Packing a finished chapter into one archive for comic readers, behind a
// seam: the job decides when and what, files/ writes the archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexel::download {

struct PackRequest {
  std::string folder;   // the chapter folder, ending in "/"
  std::string archive;  // the archive to make, e.g. ".../ABC- 第5话.cbz"
  // The pages in page order: the file in the folder, and the name it gets in
  // the archive ("01.png").
  struct Page {
    std::string file;
    std::string entry;
  };
  std::vector<Page> pages;
  std::string comic_info;  // ComicInfo.xml, the archive's first entry
};

struct PackResult {
  bool ok = false;
  int system_error = 0;  // errno when writing failed, for the log
  std::string reason;    // one short line, in English
};

class ChapterPacker {
 public:
  virtual ~ChapterPacker() = default;

  // Writes request.archive whole or not at all, checks it by reading it back,
  // and only then removes the page files and the folder (when it is empty
  // then). On failure the folder is as it was and no archive is left.
  virtual PackResult Pack(const PackRequest& request) = 0;

  // True when `archive` is a regular file (not a link) that opens as an
  // archive, holds ComicInfo.xml and `page_count` pages besides: only then
  // does an earlier run's archive count as the chapter done.
  virtual bool IsWholeArchive(const std::string& archive, std::int64_t page_count) = 0;

 protected:
  ChapterPacker() = default;
  ChapterPacker(const ChapterPacker&) = default;
  ChapterPacker& operator=(const ChapterPacker&) = default;
  ChapterPacker(ChapterPacker&&) = default;
  ChapterPacker& operator=(ChapterPacker&&) = default;
};

}  // namespace vexel::download
