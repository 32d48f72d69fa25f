#include "host/ui/log_view.h"

#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

namespace ph {

namespace {
// The longest line the view shows whole: a text layout grows slowly with
// its longest line, and such a line is read in the log file anyway.
constexpr int kMaxViewLine = 4000;
// How long new lines wait for more before the view shows them.
constexpr int kFlushMs = 50;

QString viewLine(const std::string& line) {
  QString text = QString::fromStdString(line);
  if (text.size() > kMaxViewLine)
    text = text.left(kMaxViewLine) + QString(" ... (%1 characters, whole in the log file)").arg(text.size());
  return text;
}
}  // namespace

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setFont(QFont("Monospace", 9));
  flush_ = new QTimer(this);
  flush_->setSingleShot(true);
  flush_->setInterval(kFlushMs);
  connect(flush_, &QTimer::timeout, this, [this] { flushLines(); });
}

void LogView::showLines(const OperatorLog& log) {
  for (const std::string& line : log.lines()) pending_.append(viewLine(line));
  flushLines();
}

void LogView::flushLines() {
  flush_->stop();
  if (pending_.isEmpty()) return;
  if (shown_ == 0 || document()->isEmpty()) {
    // Appending to an empty text would drop an empty line: no line and one
    // empty line look alike there.
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    if (shown_ > 0) c.insertBlock();
    c.insertText(pending_.join('\n'));
  } else {
    appendPlainText(pending_.join('\n'));
  }
  shown_ += pending_.size();
  pending_.clear();
}

void LogView::lineAdded(const std::string& line) {
  pending_.append(viewLine(line));
  if (!flush_->isActive()) flush_->start();
}

void LogView::lastLineChanged(const std::string& line) {
  flushLines();
  QTextCursor c(document());
  c.movePosition(QTextCursor::End);
  c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
  c.insertText(viewLine(line));
}

void LogView::lastLineRemoved() {
  flushLines();
  if (shown_ <= 1) {
    clear();
    shown_ = 0;
    return;
  }
  --shown_;
  QTextCursor c(document());
  c.movePosition(QTextCursor::End);
  c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
  c.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
  c.removeSelectedText();
}

void LogView::cleared() {
  flush_->stop();
  pending_.clear();
  clear();
  shown_ = 0;
}

}  // namespace ph
