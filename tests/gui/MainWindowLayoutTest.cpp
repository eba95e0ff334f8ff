// The window's layout: caption, size, the controls of both pages with their
// names, captions, places and initial states, keyboard order, and that every
// caption fits its control in the Japanese UI font.
#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QFrame>
#include <QLabel>
#include <QRadioButton>
#include <QStatusBar>
#include <QToolButton>

#include "gui/GuiTestSupport.h"

namespace skyfold {
namespace {

using test::WindowTest;

const QString kBlank = QStringLiteral("\u3000");

TEST_F(WindowTest, WindowIsSkyfoldAt616By500AndCannotBeMadeSmaller) {
  EXPECT_EQ(form->windowTitle(), QStringLiteral("skyfold"));
  EXPECT_EQ(form->size(), QSize(616, 500));
  EXPECT_EQ(form->pos(), QPoint(0, 0));
  EXPECT_EQ(form->minimumSize(), QSize(616, 500));
  form->resize(300, 200);
  EXPECT_EQ(form->size(), QSize(616, 500));
  form->resize(800, 600);
  EXPECT_EQ(form->size(), QSize(800, 600));
  EXPECT_EQ(Child<QStatusBar>("StatusBar1")->height(), 19);
  EXPECT_TRUE(Child<QStatusBar>("StatusBar1")->currentMessage().isEmpty());
}

TEST_F(WindowTest, ThreePagesWithTheFirstActiveThenTheOptionsAndThePreviews) {
  auto* pages = Child<QTabWidget>("PageControl1");
  ASSERT_EQ(pages->count(), 5);
  EXPECT_EQ(pages->widget(4)->objectName(), QStringLiteral("TabSheetPreview"));
  EXPECT_EQ(pages->widget(3)->objectName(), QStringLiteral("TabSheetOptions"));
  EXPECT_EQ(pages->tabText(3), QStringLiteral("設定"));
  EXPECT_EQ(pages->widget(0)->objectName(), QStringLiteral("TabSheet1"));
  EXPECT_EQ(pages->widget(1)->objectName(), QStringLiteral("TabSheet2"));
  EXPECT_EQ(pages->widget(2)->objectName(), QStringLiteral("TabSheet3"));
  EXPECT_EQ(pages->tabText(0),
            kBlank + "正距円筒" + kBlank + "→" + kBlank + "キューブ６面" + kBlank);
  EXPECT_EQ(pages->tabText(1),
            kBlank + "キューブ６面" + kBlank + "→" + kBlank + "正距円筒" + kBlank);
  EXPECT_EQ(pages->tabText(2), kBlank + "コンソール" + kBlank);
  EXPECT_EQ(pages->currentIndex(), 0);
  pages->setCurrentIndex(2);
  EXPECT_EQ(Console()->parentWidget(), pages->widget(2));
  EXPECT_EQ(Console()->size(), pages->widget(2)->size());
}

struct Placed {
  const char* name;
  int x, y, width, height;  // width 0: sized to its caption
  const char* caption;
};

const Placed kControls[] = {
    {"Label10", 132, 13, 0, 0, "正距円筒 ( Equirectangular ) パノラマ画像を指定します。"},
    {"Label1", 16, 34, 0, 0, "画像ファイル名："},
    {"Edit_ImageFileName", 126, 30, 420, 21, ""},
    {"SpeedButton_Image", 558, 29, 23, 22, "..."},
    {"Label2", 16, 66, 0, 0, "出力先フォルダ："},
    {"Edit_DataFolder", 126, 62, 420, 21, ""},
    {"SpeedButton_Folder", 558, 61, 23, 22, "..."},
    {"CheckBox_SameFolder", 126, 93, 0, 17, "画像ファイルと同じフォルダ"},
    {"Label3", 16, 130, 0, 0, "出力画像の基本名："},
    {"Edit_TextureBaseName", 126, 126, 191, 21, ""},
    {"Bevel1", 16, 166, 563, 4, nullptr},
    {"Label4", 16, 185, 0, 0, "オプション："},
    {"RadioGroup_CubeSuffix", 126, 182, 209, 37, "\u3000命名規則\u3000"},
    {"RadioGroup_ImageSize", 126, 232, 377, 37, "\u3000出力画像サイズ\u3000"},
    {"RadioGroup_ExtractImageType", 126, 282, 212, 37, "\u3000出力画像タイプ\u3000"},
    {"SpeedButton_Execute", 456, 326, 125, 24, "出力実行"},
    {"CheckBox_TopRotate", 126, 332, 0, 17, "top を１８０度回転させる"},
    {"CheckBox_ChangeLeftRight", 126, 362, 0, 17, "left, right を入れ換える"},
    {"CheckBox_OverWrite", 126, 392, 0, 17, "上書きを確認する"},
    {"Label5", 132, 13, 0, 0, "キューブ６面画像のいずれかを指定します(_left.._bottom, _0.._5)"},
    {"Edit_CubeImageFilename", 126, 30, 420, 21, ""},
    {"SpeedButton_CubeImage", 558, 29, 23, 22, "..."},
    {"Label7", 16, 66, 0, 0, "出力画像ファイル名："},
    {"Edit_PanoFileName", 126, 62, 420, 21, ""},
    {"SpeedButton_PanoFileName", 558, 61, 23, 22, "..."},
    {"Bevel2", 16, 166, 563, 4, nullptr},
    {"Label9", 16, 185, 0, 0, "オプション："},
    {"RadioGroup_PanoImageSize", 126, 232, 420, 37, "\u3000出力画像サイズ\u3000"},
    {"RadioGroup_PanoImageType", 126, 282, 212, 37, "\u3000出力画像タイプ\u3000"},
    {"SpeedButton_CubeToPanoExecute", 456, 326, 125, 24, "出力実行"},
    {"CheckBox_OverWrite2", 126, 392, 0, 17, "上書きを確認する"},
};

QString CaptionOf(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  return {};
}

TEST_F(WindowTest, ControlsSitWhereTheLayoutPutsThemWithTheirCaptions) {
  for (const Placed& c : kControls) {
    SCOPED_TRACE(c.name);
    QWidget* w = Child<QWidget>(c.name);
    if (!w) continue;
    if (c.x == 16 && qobject_cast<QLabel*>(w)) {
      // A caption left of the edits may start further left to end before them.
      EXPECT_LE(w->x(), 16);
      EXPECT_LT(w->geometry().right(), 124);
      EXPECT_EQ(w->y(), c.y);
    } else {
      EXPECT_EQ(w->pos(), QPoint(c.x, c.y));
    }
    if (c.width) {
      EXPECT_EQ(w->width(), c.width);
    }
    if (c.height) {
      EXPECT_EQ(w->height(), c.height);
    }
    if (c.caption) {
      EXPECT_EQ(CaptionOf(w), QString::fromUtf8(c.caption));
    }
  }
  auto* label6 = Child<QLabel>("Label6");
  EXPECT_EQ(label6->text(), QStringLiteral("Cube 画像ファイル名："));
  EXPECT_EQ(label6->y(), 34);
  EXPECT_LT(label6->geometry().right(), 124);
}

TEST_F(WindowTest, EveryCaptionFitsItsControl) {
  QList<QWidget*> controls = Child<QWidget>("TabSheet1")->findChildren<QWidget*>();
  controls += Child<QWidget>("TabSheet2")->findChildren<QWidget*>();
  for (QWidget* w : controls) {
    const bool captioned = qobject_cast<QLabel*>(w) || qobject_cast<QCheckBox*>(w) ||
                           qobject_cast<QRadioButton*>(w) || qobject_cast<QToolButton*>(w);
    if (!captioned) continue;
    SCOPED_TRACE(w->objectName().toStdString());
    EXPECT_GE(w->width(), w->sizeHint().width());
    EXPECT_LE(w->geometry().right(), w->parentWidget()->width());
  }
  for (auto* g : Child<QTabWidget>("PageControl1")->findChildren<TRadioGroup*>()) {
    SCOPED_TRACE(g->objectName().toStdString());
    EXPECT_LT(g->fontMetrics().horizontalAdvance(g->title()) + 8, g->width());
  }
}

TEST_F(WindowTest, RadioGroupsListTheirItemsInEnumerationOrderWithTheirInitialItem) {
  struct Items {
    const char* group;
    QStringList items;
    int columns;
  };
  const Items groups[] = {
      {"RadioGroup_CubeSuffix", {"_left.._Bottom", "_0.._5"}, 2},
      {"RadioGroup_ImageSize", {"64", "128", "256", "512", "1024", "2048", "4096"}, 7},
      {"RadioGroup_ExtractImageType", {"Bitmap", "Jpeg", "Tiff"}, 3},
      {"RadioGroup_PanoImageSize", {"256", "512", "1024", "2048", "4096", "8192", "16384"}, 7},
      {"RadioGroup_PanoImageType", {"Bitmap", "Jpeg", "Tiff"}, 3},
  };
  for (const Items& g : groups) {
    EXPECT_EQ(Group(g.group)->items(), g.items) << g.group;
    EXPECT_EQ(Group(g.group)->columns(), g.columns) << g.group;
  }
  // Initial items before any settings are applied.
  TForm1 fresh;
  EXPECT_EQ(fresh.findChild<TRadioGroup*>("RadioGroup_CubeSuffix")->itemIndex(), 0);
  EXPECT_EQ(fresh.findChild<TRadioGroup*>("RadioGroup_ImageSize")->itemIndex(), 4);
  EXPECT_EQ(fresh.findChild<TRadioGroup*>("RadioGroup_ExtractImageType")->itemIndex(), 1);
  EXPECT_EQ(fresh.findChild<TRadioGroup*>("RadioGroup_PanoImageSize")->itemIndex(), 5);
  EXPECT_EQ(fresh.findChild<TRadioGroup*>("RadioGroup_PanoImageType")->itemIndex(), 2);
  EXPECT_TRUE(fresh.findChild<QCheckBox*>("CheckBox_SameFolder")->isChecked());
  EXPECT_TRUE(fresh.findChild<QCheckBox*>("CheckBox_OverWrite")->isChecked());
  EXPECT_TRUE(fresh.findChild<QCheckBox*>("CheckBox_OverWrite2")->isChecked());
  EXPECT_FALSE(fresh.findChild<QCheckBox*>("CheckBox_TopRotate")->isChecked());
  EXPECT_FALSE(fresh.findChild<QCheckBox*>("CheckBox_ChangeLeftRight")->isChecked());
  for (auto* e : fresh.findChildren<QLineEdit*>()) {
    // The options' angle boxes show their 0.
    if (!qobject_cast<QAbstractSpinBox*>(e->parentWidget())) {
      EXPECT_TRUE(e->text().isEmpty());
    }
  }
}

// The next widget that takes keyboard focus after w.
QWidget* NextTabStop(QWidget* w) {
  QWidget* next = w->nextInFocusChain();
  while (next != w && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
  return next;
}

// A group is one tab stop, on its checked item (the arrow keys move within it).
TEST_F(WindowTest, KeyboardOrderFollowsThePagesAndFlatButtonsTakeNoFocus) {
  auto radio = [this](const char* group) {
    return Group(group)->button(Group(group)->itemIndex());
  };
  std::vector<QWidget*> page1;
  page1.push_back(radio("RadioGroup_CubeSuffix"));
  page1.push_back(radio("RadioGroup_ImageSize"));
  page1.push_back(radio("RadioGroup_ExtractImageType"));
  for (const char* name :
       {"Edit_ImageFileName", "Edit_DataFolder", "Edit_TextureBaseName", "CheckBox_TopRotate",
        "CheckBox_ChangeLeftRight", "CheckBox_SameFolder", "CheckBox_OverWrite"}) {
    page1.push_back(Child<QWidget>(name));
  }
  for (std::size_t i = 1; i < page1.size(); ++i) {
    EXPECT_EQ(NextTabStop(page1[i - 1]), page1[i]) << page1[i - 1]->objectName().toStdString();
  }
  std::vector<QWidget*> page2;
  page2.push_back(radio("RadioGroup_PanoImageType"));
  for (const char* name : {"Edit_CubeImageFilename", "Edit_PanoFileName", "CheckBox_OverWrite2"}) {
    page2.push_back(Child<QWidget>(name));
  }
  page2.push_back(radio("RadioGroup_PanoImageSize"));
  for (std::size_t i = 1; i < page2.size(); ++i) {
    EXPECT_EQ(NextTabStop(page2[i - 1]), page2[i]) << page2[i - 1]->objectName().toStdString();
  }
  for (auto* b : form->findChildren<QToolButton*>()) {
    if (b->objectName().startsWith(QStringLiteral("SpeedButton_"))) {
      EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << b->objectName().toStdString();
      EXPECT_TRUE(b->autoRaise());
    }
  }
}

}  // namespace
}  // namespace skyfold
