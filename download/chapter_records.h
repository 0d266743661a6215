// What was downloaded before. Whoever runs chapters asks before loading one
// that came from a comic's list, and tells once a chapter has finished whole.
// The library keeps these in its file; without one nothing is remembered and
// every chapter is loaded as before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexel::download {

// A chapter whose every page is stored or present (and, when packing was
// asked for, whose archive is written), with its files flushed to disk.
struct FinishedChapter {
  std::string address;  // the chapter page's absolute address, without fragment
  std::string title;    // the chapter's title as the job read it
  std::string comic;    // the comic page that listed it; empty when given directly
  // Where the output is: the chapter folder (without a final "/") and the
  // names of its page files, or the archive's path and size when packed.
  std::string folder;
  std::vector<std::string> page_files;
  std::string archive;
  std::int64_t archive_size = 0;
};

class ChapterRecords {
 public:
  virtual ~ChapterRecords() = default;

  // True when `address` is recorded and its output is still there: the
  // folder and every recorded page file exist and are not empty, or the
  // archive exists with its recorded size.
  virtual bool IsDownloaded(const std::string& address) = 0;
  // Records `chapter`. False when the record could not be written; the
  // chapter's files stay as they are either way.
  virtual bool Record(const FinishedChapter& chapter) = 0;
  // True when the chapter folder at `folder` (or its archive, `folder` +
  // ".cbz") is recorded for a chapter other than `address`, with its output
  // still there: a chapter of the same title must not take it over.
  virtual bool HeldByAnother(const std::string& /*folder*/, const std::string& /*address*/) {
    return false;
  }

 protected:
  ChapterRecords() = default;
  ChapterRecords(const ChapterRecords&) = default;
  ChapterRecords& operator=(const ChapterRecords&) = default;
  ChapterRecords(ChapterRecords&&) = default;
  ChapterRecords& operator=(ChapterRecords&&) = default;
};

}  // namespace vexel::download
