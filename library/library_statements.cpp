#include "library/library_statements.h"
#include "library/library.h"

namespace vexel::library {

Library::Statements::Statements(sql::Database connection)
    : db(std::move(connection)),
      find_record(db.get(),
                  "SELECT folder, page_files, archive, archive_size, folder_changed_ns,"
                  " folder_inode FROM chapter_records WHERE address = ?1"),
      find_holders(db.get(),
                   "SELECT folder, page_files, archive, archive_size, folder_changed_ns,"
                   " folder_inode FROM chapter_records"
                   " WHERE (folder = ?1 OR archive = ?1 || '.cbz') AND address <> ?2"),
      // A chapter given directly keeps the comic an earlier run found it in.
      put_record(db.get(),
                 "INSERT INTO chapter_records(address, title, comic, folder, page_files, archive,"
                 " archive_size, recorded_at, folder_changed_ns, folder_inode)"
                 " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"
                 " ON CONFLICT(address) DO UPDATE SET title = excluded.title,"
                 " comic = CASE WHEN excluded.comic <> '' THEN excluded.comic ELSE comic END,"
                 " folder = excluded.folder, page_files = excluded.page_files,"
                 " archive = excluded.archive, archive_size = excluded.archive_size,"
                 " recorded_at = excluded.recorded_at,"
                 " folder_changed_ns = excluded.folder_changed_ns,"
                 " folder_inode = excluded.folder_inode"),
      comic_id(db.get(), "SELECT id, checks FROM comics WHERE address = ?1"),
      comic_row(db.get(),
                "SELECT id, address, title, folder, last_check, last_error FROM comics"
                " WHERE address = ?1"),
      insert_comic(
          db.get(),
          "INSERT INTO comics(address, title, folder, followed_at) VALUES(?1, ?2, ?3, ?4)"),
      update_comic(db.get(),
                   "UPDATE comics SET title = CASE WHEN ?2 <> '' THEN ?2 ELSE title END,"
                   " folder = CASE WHEN ?3 <> 0 THEN ?4 ELSE folder END WHERE id = ?1"),
      delete_comic(db.get(), "DELETE FROM comics WHERE id = ?1"),
      delete_comic_chapters(db.get(), "DELETE FROM comic_chapters WHERE comic = ?1"),
      add_recorded_chapter(db.get(),
                           "INSERT OR IGNORE INTO comic_chapters(comic, address, title, position,"
                           " first_seen) SELECT ?1, ?2, ?3, coalesce(max(position), -1) + 1, ?4"
                           " FROM comic_chapters WHERE comic = ?1"),
      list_of_comic(db.get(),
                    "SELECT address, title, position FROM comic_chapters WHERE comic = ?1"),
      update_listed(db.get(),
                    "UPDATE comic_chapters SET title = ?3, position = ?4"
                    " WHERE comic = ?1 AND address = ?2"),
      insert_listed(db.get(),
                    "INSERT INTO comic_chapters(comic, address, title, position, first_seen,"
                    " set_aside) VALUES(?1, ?2, ?3, ?4, ?5, ?6)"),
      unlist(db.get(),
             "UPDATE comic_chapters SET position = NULL WHERE comic = ?1 AND address = ?2"),
      set_aside_listed(db.get(),
                       "UPDATE comic_chapters SET set_aside = 1"
                       " WHERE comic = ?1 AND position IS NOT NULL"),
      count_check(db.get(), "UPDATE comics SET checks = checks + 1 WHERE id = ?1"),
      // The downloaded chapters of a comic: those of its list (listed now or
      // before) that are recorded, and those recorded as coming from it.
      records_of_comic(db.get(),
                       "SELECT r.address, r.title, r.folder, r.page_files, r.archive,"
                       " r.archive_size, cc.title, r.folder_changed_ns, r.folder_inode"
                       " FROM comic_chapters cc"
                       " JOIN chapter_records r ON r.address = cc.address WHERE cc.comic = ?1"
                       " UNION ALL"
                       " SELECT r.address, r.title, r.folder, r.page_files, r.archive,"
                       " r.archive_size, '', r.folder_changed_ns, r.folder_inode"
                       " FROM chapter_records r WHERE r.comic = ?2"
                       " AND r.address NOT IN"
                       " (SELECT address FROM comic_chapters WHERE comic = ?1)"),
      chapters_of_comic(db.get(),
                        "SELECT cc.address, cc.title, cc.first_seen, cc.set_aside, r.folder,"
                        " r.page_files, r.archive, r.archive_size, r.address IS NOT NULL,"
                        " r.folder_changed_ns, r.folder_inode FROM comic_chapters cc"
                        " LEFT JOIN chapter_records r ON r.address = cc.address"
                        " WHERE cc.comic = ?1 AND +cc.position IS NOT NULL ORDER BY +cc.position"),
      all_comics(db.get(),
                 "SELECT id, address, title, folder, last_check, last_error FROM comics"
                 " ORDER BY id"),
      // Read whole, in the order they are kept: for every comic at once, two
      // passes cost less than a look-up of each listed chapter's record.
      all_listed(db.get(),
                 "SELECT comic, set_aside, address FROM comic_chapters"
                 " WHERE +position IS NOT NULL"),
      all_records(db.get(),
                  "SELECT address, folder, page_files, archive, archive_size,"
                  " folder_changed_ns, folder_inode FROM chapter_records"),
      set_last_check(db.get(),
                     "UPDATE comics SET last_check = ?2, last_error = ?3 WHERE address = ?1") {}

std::string Library::Statements::Problem() const {
  const sql::Statement* all[] = {&find_record,
                                 &find_holders,
                                 &put_record,
                                 &comic_id,
                                 &comic_row,
                                 &insert_comic,
                                 &update_comic,
                                 &delete_comic,
                                 &delete_comic_chapters,
                                 &add_recorded_chapter,
                                 &list_of_comic,
                                 &update_listed,
                                 &insert_listed,
                                 &unlist,
                                 &set_aside_listed,
                                 &count_check,
                                 &records_of_comic,
                                 &chapters_of_comic,
                                 &all_comics,
                                 &all_listed,
                                 &all_records,
                                 &set_last_check};
  for (const sql::Statement* statement : all) {
    if (!statement->ok()) {
      return sql::ErrorOf(db.get());
    }
  }
  return {};
}

}  // namespace vexel::library
