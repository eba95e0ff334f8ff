// TConsoleView: the multi-line text view of the console tab.
//
// A plain-text editor in a fixed-width font, without word wrap and without
// scroll bars (the window keeps the end of the text in view itself). The
// text is a list of lines, each ended by a line break, so an empty view has
// no line and adding an empty line makes one; the caret's row after the last
// line break is not a line. With wrap off one line is one row.
#pragma once

#include <QPlainTextEdit>
#include <string>

namespace skyfold {

class TConsoleView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TConsoleView(QWidget* parent = nullptr);

  void Clear();
  int LineCount() const;
  // Line index in 0 … LineCount() - 1; other indexes give "" / do nothing.
  std::string GetLine(int index) const;
  void PutLine(int index, const std::string& text);
  void AddLine(const std::string& text);

  int RowCount() const { return LineCount(); }
  // Whole rows that fit in the view.
  int VisibleRows() const;
  int TopRow() const;
  // The first row shown, kept within 0 … RowCount().
  void SetTopRow(int row);
};

}  // namespace skyfold
