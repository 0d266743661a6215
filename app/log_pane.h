// The job's log: a read-only pane in the browser view's place during a job
// (and after it, on 显示上次日志). Only the job writes it, so the user can
// neither type into it nor focus it; it shows the newest text.
#pragma once

#include <QPlainTextEdit>

#include <string_view>

namespace vexel::app {

class LogPane : public QPlainTextEdit {
  Q_OBJECT

 public:
  // Made hidden; the window places and shows it.
  explicit LogPane(QWidget* parent);

  // Appends a piece of the job's log (UTF-8, lines ended by "\r\n") at the
  // end, and keeps the end in view.
  void AppendJobText(std::string_view text);
  bool IsEmpty() const { return document()->isEmpty(); }
};

}  // namespace vexel::app
