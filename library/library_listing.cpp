// The followed comics as lists: each with its chapters counted, or just as
// followed, or one of them.
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "library/library.h"
#include "library/library_statements.h"
#include "library/record_text.h"

namespace vexel::library {

ComicList Library::Comics() {
  const std::lock_guard lock(mutex_);
  Statements& s = *statements_;
  ComicList list;
  std::unordered_map<std::int64_t, std::size_t> index;
  std::string error;
  // One snapshot for every read; a read transaction never blocks a writer.
  if (!sql::Exec(s.db.get(), "BEGIN", list.error)) {
    return list;
  }
  int code = SQLITE_ROW;
  sql::Statement& comics = s.all_comics;
  comics.Start();
  while ((code = comics.Step()) == SQLITE_ROW) {
    index.emplace(comics.Int(0), list.comics.size());
    list.comics.push_back(
        {comics.Text(1), comics.Text(2), comics.Text(3), 0, 0, 0, comics.Int(4), comics.Text(5)});
  }
  // The listed chapters by address (one address may be listed by several
  // comics), then each record once, for the chapters it is of.
  struct Listing {
    std::size_t comic;
    bool set_aside;
    std::size_t next;  // the next listing of the same address, or kNone
  };
  constexpr auto kNone = static_cast<std::size_t>(-1);
  std::vector<Listing> listings;
  std::unordered_map<std::string, std::size_t> first_listing;
  sql::Statement& chapters = s.all_listed;
  if (code == SQLITE_DONE) {
    chapters.Start();
    while ((code = chapters.Step()) == SQLITE_ROW) {
      const auto found = index.find(chapters.Int(0));
      if (found == index.end()) {
        continue;
      }
      ++list.comics[found->second].total;
      const auto [head, added] = first_listing.try_emplace(chapters.Text(2), listings.size());
      listings.push_back({found->second, chapters.Int(1) != 0, added ? kNone : head->second});
      head->second = listings.size() - 1;
    }
  }
  std::vector<bool> downloaded(listings.size(), false);
  sql::Statement& records = s.all_records;
  if (code == SQLITE_DONE && !listings.empty()) {
    records.Start();
    std::string address;
    while ((code = records.Step()) == SQLITE_ROW) {
      address.assign(records.View(0));
      const auto found = first_listing.find(address);
      if (found == first_listing.end() ||
          !OutputPresent({records.View(1), records.View(2), records.View(3), records.Int(4),
                          records.Int(5), records.Int(6)})) {
        continue;
      }
      for (std::size_t at = found->second; at != kNone; at = listings[at].next) {
        downloaded[at] = true;
      }
    }
  }
  for (std::size_t at = 0; at < listings.size(); ++at) {
    ComicSummary& summary = list.comics[listings[at].comic];
    if (downloaded[at]) {
      ++summary.downloaded;
    } else if (!listings[at].set_aside) {
      ++summary.pending;
    }
  }
  if (code != SQLITE_DONE) {
    list.error = sql::ErrorOf(s.db.get());
    list.comics.clear();
  }
  sql::Exec(s.db.get(), "COMMIT", error);
  return list;
}

ComicList Library::FollowedComics() {
  const std::lock_guard lock(mutex_);
  ComicList list;
  sql::Statement& comics = statements_->all_comics;
  comics.Start();
  int code = SQLITE_ROW;
  while ((code = comics.Step()) == SQLITE_ROW) {
    list.comics.push_back(
        {comics.Text(1), comics.Text(2), comics.Text(3), 0, 0, 0, comics.Int(4), comics.Text(5)});
  }
  if (code != SQLITE_DONE) {
    list.error = sql::ErrorOf(statements_->db.get());
    list.comics.clear();
  }
  return list;
}

std::optional<ComicSummary> Library::Comic(const std::string& address) {
  const std::lock_guard lock(mutex_);
  sql::Statement& row = statements_->comic_row;
  row.Start().Bind(1, WithoutFragment(address));
  if (row.Step() != SQLITE_ROW) {
    return std::nullopt;
  }
  ComicSummary summary{row.Text(1), row.Text(2), row.Text(3), 0, 0, 0, row.Int(4), row.Text(5)};
  row.Reset();
  for (const ComicChapter& chapter : ChaptersLocked(summary.address)) {
    ++summary.total;
    if (chapter.downloaded) {
      ++summary.downloaded;
    } else if (!chapter.set_aside) {
      ++summary.pending;
    }
  }
  return summary;
}

}  // namespace vexel::library
