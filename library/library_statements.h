// The library's connection and its prepared statements, made once when the
// file opens so that no call pays for parsing SQL again.
#pragma once

#include <string>

#include "library/library.h"
#include "library/sqlite_handles.h"

namespace vexel::library {

struct Library::Statements {
  explicit Statements(sql::Database connection);
  // The first statement that could not be prepared, or empty.
  std::string Problem() const;

  sql::Database db;  // first: destroyed after the statements

  sql::Statement find_record;
  sql::Statement find_holders;
  sql::Statement put_record;
  sql::Statement comic_id;
  sql::Statement comic_row;
  sql::Statement insert_comic;
  sql::Statement update_comic;
  sql::Statement delete_comic;
  sql::Statement delete_comic_chapters;
  sql::Statement add_recorded_chapter;
  sql::Statement list_of_comic;
  sql::Statement update_listed;
  sql::Statement insert_listed;
  sql::Statement unlist;
  sql::Statement set_aside_listed;
  sql::Statement count_check;
  sql::Statement records_of_comic;
  sql::Statement chapters_of_comic;
  sql::Statement all_comics;
  sql::Statement all_listed;
  sql::Statement all_records;
  sql::Statement set_last_check;
};

}  // namespace vexel::library
