#pragma once
// The view of an operator log: read-only text that takes new lines in
// batches (its text is laid out once per batch instead of once per line)
// and keeps no undo history (every appended piece would stay on the undo
// stack, many times the size of the text). Both windows' logs use it.
#include <QPlainTextEdit>
#include <QStringList>

#include <string>

#include "host/core/operator_log.h"

class QTimer;

namespace ph {

class LogView : public QPlainTextEdit, public OperatorLog::View {
 public:
  explicit LogView(QWidget* parent);

  // The log's lines so far, shown at once (a window opened on a log that
  // already holds lines).
  void showLines(const OperatorLog& log);
  // Lines waiting for the batch reach the view now.
  void flushLines();

  // OperatorLog::View
  void lineAdded(const std::string& line) override;
  void lastLineChanged(const std::string& line) override;
  void lastLineRemoved() override;
  void cleared() override;

 private:
  QStringList pending_;
  // The lines the view holds: an empty text is no line or one empty line.
  long long shown_ = 0;
  QTimer* flush_ = nullptr;
};

}  // namespace ph
