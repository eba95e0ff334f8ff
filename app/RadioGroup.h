// TRadioGroup: a titled frame of exclusive radio buttons laid out in columns,
// addressed by the index of the selected item (-1: none).
//
// changed(index) is raised whenever the selected item changes, whether the
// user clicked a button or the program set the index; the window relies on
// that to keep a file name's extension in step with the selected type.
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <vector>

class QRadioButton;

namespace skyfold {

class TRadioGroup : public QGroupBox {
  Q_OBJECT
  Q_PROPERTY(QStringList items READ items WRITE setItems)
  Q_PROPERTY(int columns READ columns WRITE setColumns)
  Q_PROPERTY(int itemIndex READ itemIndex WRITE setItemIndex NOTIFY changed)

 public:
  explicit TRadioGroup(QWidget* parent = nullptr);

  QStringList items() const;
  // Replaces the buttons; the selection is cleared.
  void setItems(const QStringList& items);
  int count() const { return static_cast<int>(buttons_.size()); }

  int columns() const { return columns_; }
  void setColumns(int columns);

  int itemIndex() const { return itemIndex_; }
  // Selects item index, kept within -1 … count() - 1 (an index past the last
  // item selects the last one).
  void setItemIndex(int index);

  QRadioButton* button(int index) const;
  // The buttons in item order (for the window's keyboard order).
  const std::vector<QRadioButton*>& buttons() const { return buttons_; }

 signals:
  void changed(int index);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void arrangeButtons();
  void updateTabFocus();
  void buttonToggled(int index, bool checked);

  std::vector<QRadioButton*> buttons_;
  int columns_ = 1;
  int itemIndex_ = -1;
};

}  // namespace skyfold
