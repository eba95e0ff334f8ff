// The radio group, the Qt adapters of the control interfaces and the console
// view on their own.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "app/QtControls.h"
#include "app/RadioGroup.h"
#include "console/ConsoleView.h"

namespace skyfold {
namespace {

TRadioGroup* MakeSizes(QWidget* parent) {
  auto* group = new TRadioGroup(parent);
  group->setItems({"64", "128", "256", "512", "1024", "2048", "4096"});
  group->setColumns(7);
  group->setGeometry(0, 0, 377, 37);
  return group;
}

TEST(RadioGroup, IndexIsKeptWithinItemsSoAStoredOrdinalPastTheEndSelectsTheLast) {
  QWidget parent;
  TRadioGroup* group = MakeSizes(&parent);
  EXPECT_EQ(group->itemIndex(), -1);
  group->setItemIndex(3);
  EXPECT_EQ(group->itemIndex(), 3);
  EXPECT_TRUE(group->button(3)->isChecked());
  group->setItemIndex(7);
  EXPECT_EQ(group->itemIndex(), 6);
  group->setItemIndex(255);  // an ordinal of -1 handed over as a byte
  EXPECT_EQ(group->itemIndex(), 6);
  group->setItemIndex(-5);
  EXPECT_EQ(group->itemIndex(), -1);
  for (QRadioButton* b : group->buttons()) EXPECT_FALSE(b->isChecked());
}

TEST(RadioGroup, ChangedIsRaisedForClicksAndForTheProgramButNotForTheSameItem) {
  QWidget parent;
  TRadioGroup* group = MakeSizes(&parent);
  parent.show();
  QSignalSpy spy(group, &TRadioGroup::changed);
  group->setItemIndex(2);
  group->setItemIndex(2);
  QTest::mouseClick(group->button(5), Qt::LeftButton);
  QTest::mouseClick(group->button(5), Qt::LeftButton);
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy[0][0].toInt(), 2);
  EXPECT_EQ(spy[1][0].toInt(), 5);
  EXPECT_EQ(group->itemIndex(), 5);
}

TEST(RadioGroup, ItemsFillColumnsAndEveryCaptionFits) {
  QWidget parent;
  TRadioGroup* group = MakeSizes(&parent);
  parent.show();
  for (int i = 1; i < group->count(); ++i) {
    EXPECT_GT(group->button(i)->x(), group->button(i - 1)->x());
    EXPECT_EQ(group->button(i)->y(), group->button(0)->y());
  }
  for (QRadioButton* b : group->buttons()) {
    EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
    EXPECT_LE(b->geometry().right(), group->width());
    EXPECT_LE(b->geometry().bottom(), group->height());
  }
}

TEST(QtControls, AdaptersReadAndWriteTheLiveWidgetsInUtf8) {
  QWidget parent;
  auto* edit = new QLineEdit(&parent);
  auto* box = new QCheckBox(&parent);
  TRadioGroup* group = MakeSizes(&parent);
  QtEditControl editControl(edit);
  QtCheckBoxControl boxControl(box);
  QtRadioGroupControl groupControl(group);

  editControl.SetText("/写真/パノラマ.jpg");
  EXPECT_EQ(edit->text(), QStringLiteral("/写真/パノラマ.jpg"));
  edit->setText(QStringLiteral("出力"));
  EXPECT_EQ(editControl.GetText(), "出力");

  boxControl.SetChecked(true);
  EXPECT_TRUE(box->isChecked());
  box->setChecked(false);
  EXPECT_FALSE(boxControl.GetChecked());

  groupControl.SetItemIndex(200);
  EXPECT_EQ(groupControl.GetItemIndex(), 6);
  group->setItemIndex(1);
  EXPECT_EQ(groupControl.GetItemIndex(), 1);
}

TEST(ConsoleView, LinesAreCountedLikeAListOfLines) {
  TConsoleView view;
  EXPECT_EQ(view.LineCount(), 0);
  view.AddLine("");
  EXPECT_EQ(view.LineCount(), 1);
  EXPECT_EQ(view.GetLine(0), "");
  view.AddLine("処理中 ");
  view.PutLine(1, view.GetLine(1) + ".");
  EXPECT_EQ(view.LineCount(), 2);
  EXPECT_EQ(view.GetLine(1), "処理中 .");
  EXPECT_EQ(view.GetLine(2), "");
  view.PutLine(5, "ignored");
  EXPECT_EQ(view.LineCount(), 2);
  view.Clear();
  EXPECT_EQ(view.LineCount(), 0);
}

TEST(ConsoleView, TextTypedAfterTheLastLineBreakIsALineOfItsOwn) {
  TConsoleView view;
  view.AddLine("a");
  view.moveCursor(QTextCursor::End);
  view.insertPlainText(QStringLiteral("typed"));
  EXPECT_EQ(view.LineCount(), 2);
  view.AddLine("b");
  ASSERT_EQ(view.LineCount(), 3);
  EXPECT_EQ(view.GetLine(1), "typed");
  EXPECT_EQ(view.GetLine(2), "b");
}

TEST(ConsoleView, IsFixedWidthUnwrappedEditableAndWithoutScrollBars) {
  TConsoleView view;
  // Latin letters of one width (its Japanese glyphs are twice as wide, so Qt
  // does not call the font fixed-pitch).
  const QFontMetrics metrics(view.font());
  EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('i')),
            metrics.horizontalAdvance(QLatin1Char('W')));
  EXPECT_EQ(view.lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_FALSE(view.isReadOnly());
  EXPECT_EQ(view.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(view.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST(ConsoleView, TopRowIsKeptWithinTheRows) {
  TConsoleView view;
  view.resize(300, 120);
  view.show();
  for (int i = 0; i < 50; ++i) view.AddLine(std::to_string(i));
  EXPECT_GT(view.VisibleRows(), 0);
  view.SetTopRow(500);
  EXPECT_LE(view.TopRow(), view.RowCount());
  EXPECT_GT(view.TopRow(), 0);
  view.SetTopRow(-3);
  EXPECT_EQ(view.TopRow(), 0);
}

}  // namespace
}  // namespace skyfold
