// The library file's layout, its versions, and the checks that keep the
// program's hands off a file that is not its own.
//
//   version 1  chapter_records: what was downloaded and where its output is
//   version 2  comics and comic_chapters: the comics the user follows and
//              their lists
//   version 3  each record's folder stamp (change time and inode), so that
//              an unchanged folder is known whole without a look at each page
//   version 4  queue_items: the background download queue, in its order,
//              with each chapter's state and options
// A later version adds its step to the list in schema.cpp; an older file is
// brought forward one step at a time, each in the transaction that opens it.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace vexel::library {

// PRAGMA application_id of every library file: "VXLB".
inline constexpr std::int32_t kApplicationId = 0x56584C42;
inline constexpr int kSchemaVersion = 4;

// Why the existing file at `path` cannot be used as a library, read without
// writing anything to it; empty when it can (a missing or empty file, or a
// library of this or an older version). `version` gets the file's version
// (0 for a new file).
std::string CheckExistingFile(const std::string& path, int& version);

// Brings the open, writable library `db` to kSchemaVersion in one
// transaction. False, with `error`, when it could not; the file is then as
// it was.
bool Migrate(sqlite3* db, std::string& error);

}  // namespace vexel::library
