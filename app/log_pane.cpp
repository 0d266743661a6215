#include "app/log_pane.h"

#include <QPalette>
#include <QScrollBar>
#include <QTextCursor>

namespace vexel::app {

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setEnabled(false);  // for its whole life: only the job writes it
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setUndoRedoEnabled(false);
  // Disabled, but in the ordinary text colour: the disabled grey on the
  // disabled background is hard to read.
  QPalette log_palette = palette();
  log_palette.setColor(QPalette::Disabled, QPalette::Text,
                       log_palette.color(QPalette::Active, QPalette::Text));
  setPalette(log_palette);
  hide();
}

void LogPane::AppendJobText(std::string_view text) {
  // The job ends its lines with "\r\n"; the pane keeps plain line breaks.
  QString piece = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  piece.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  // Always at the end, and the end in view: the pane shows the newest text.
  moveCursor(QTextCursor::End);
  insertPlainText(piece);
  ensureCursorVisible();
}

}  // namespace vexel::app
