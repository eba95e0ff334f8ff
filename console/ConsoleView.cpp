#include "console/ConsoleView.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

namespace skyfold {

TConsoleView::TConsoleView(QWidget* parent) : QPlainTextEdit(parent) {
  // A fixed font with Japanese glyphs, so every line has one height; the
  // system's fixed font stays the fallback where it is not installed.
  QFont font(QStringLiteral("Noto Sans Mono CJK JP"));
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  if (!QFontInfo(font).family().contains(QStringLiteral("CJK"))) {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  }
  font.setPixelSize(12);
  setFont(font);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Progress lines are not something to undo.
  setUndoRedoEnabled(false);
  QPalette p = palette();
  p.setColor(QPalette::Highlight, QColor(0, 0, 128));
  p.setColor(QPalette::HighlightedText, Qt::white);
  setPalette(p);
}

void TConsoleView::Clear() { clear(); }

int TConsoleView::LineCount() const {
  const QTextDocument* doc = document();
  const int blocks = doc->blockCount();
  // The block after the last line break is the caret's row, not a line,
  // unless the user typed into it.
  return doc->lastBlock().text().isEmpty() ? blocks - 1 : blocks;
}

std::string TConsoleView::GetLine(int index) const {
  if (index < 0 || index >= LineCount()) return {};
  return document()->findBlockByNumber(index).text().toStdString();
}

void TConsoleView::PutLine(int index, const std::string& text) {
  if (index < 0 || index >= LineCount()) return;
  QTextCursor cursor(document()->findBlockByNumber(index));
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(QString::fromStdString(text));
}

void TConsoleView::AddLine(const std::string& text) {
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  QString insert = QString::fromStdString(text) + QLatin1Char('\n');
  if (!document()->lastBlock().text().isEmpty()) insert.prepend(QLatin1Char('\n'));
  cursor.insertText(insert);
}

int TConsoleView::VisibleRows() const {
  const int lineHeight = std::max(1, fontMetrics().lineSpacing());
  return viewport()->height() / lineHeight;
}

int TConsoleView::TopRow() const { return verticalScrollBar()->value(); }

void TConsoleView::SetTopRow(int row) {
  verticalScrollBar()->setValue(std::clamp(row, 0, RowCount()));
}

}  // namespace skyfold
