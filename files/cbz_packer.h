// CBZ archives over libzip: ComicInfo.xml first, then the pages stored as
// they are (images do not compress).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "download/chapter_packer.h"
#include "download/file_system.h"
#include "files/leftover_sweep.h"

namespace vexel::files {

// The owner of `name` in the output folder `folder` (ending in "/") when it
// is a pack's temporary file: "<chapter>.cbz.part", or libzip's
// "<chapter>.cbz.part.XXXXXX" with six letters or digits.
std::optional<LeftoverOwner> PackLeftoverOwner(const std::string& folder, std::string_view name);

class CbzPacker final : public download::ChapterPacker {
 public:
  // `file_system` removes the pages and the folder after packing.
  explicit CbzPacker(download::FileSystem& file_system);

  // First removes from the archive's folder what killed packs left there
  // (see PackLeftoverOwner; by SweepLeftovers' rule), then, holding a lock
  // on the chapter folder, writes "<archive>.part", reads it back entry by entry (names, sizes and
  // checksums), renames it over the archive, and only then removes the pages
  // and the folder.
  download::PackResult Pack(const download::PackRequest& request) override;

  // Opens the archive without following a link and checks its directory
  // (libzip's consistency check); the pages' bytes are not read.
  bool IsWholeArchive(const std::string& archive, std::int64_t page_count) override;

 private:
  download::FileSystem& file_system_;
};

}  // namespace vexel::files
