// One snapshot of the page shown in the browser view.
//
// A query reads many properties of many elements; asking the browser engine
// for each one would cost a round trip per read. Instead one script run in the
// page walks the whole tree once and returns it as a single string: elements
// with their tag and attributes, text and comment nodes, in document order,
// and for each element whether the engine renders it (so innerText can leave
// out what the user does not see). The worker turns that string into an
// in-memory document. Element i of the walk is
// document.getElementsByTagName('*')[i] of the live page.
//
// The string is a run of records, each string field written as its length in
// UTF-16 code units, ':' and the text itself, so no content needs escaping:
//   E r <tag> <n>: (<name> <value>){n}   an element opens; r is '1' when rendered
//   )                                    the innermost open element ends
//   T <text>                             a text node
//   C <text>                             a comment
#pragma once

#include <QString>
#include <QStringView>

#include <span>
#include <string_view>

#include "html/tree_builder.h"

namespace vexel::app {

// The script that takes the snapshot; its value is the string above.
const QString& SnapshotScript();

// What the reader hands on, in document order, as UTF-8. The texts are valid
// only during the call.
class SnapshotSink {
 public:
  virtual ~SnapshotSink() = default;
  virtual void OpenElement(std::string_view tag,
                           std::span<const html::HtmlAttributeView> attributes, bool rendered) = 0;
  virtual void CloseElement() = 0;
  virtual void AddText(std::string_view text) = 0;
  virtual void AddComment(std::string_view text) = 0;

 protected:
  SnapshotSink() = default;
  SnapshotSink(const SnapshotSink&) = default;
  SnapshotSink& operator=(const SnapshotSink&) = default;
  SnapshotSink(SnapshotSink&&) = default;
  SnapshotSink& operator=(SnapshotSink&&) = default;
};

// Replays `snapshot` into `sink`. False when the string is malformed (the
// sink may then have seen a part of it); elements still open at the end are
// closed.
bool ReadSnapshot(QStringView snapshot, SnapshotSink& sink);

}  // namespace vexel::app
