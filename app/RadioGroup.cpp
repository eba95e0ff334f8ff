// Buttons are placed by hand rather than by a layout: the group keeps the
// fixed geometry the window gives it and divides the area under its title
// into equal columns, one row per item beyond each column count.
#include "app/RadioGroup.h"

#include <QEvent>
#include <QPainter>
#include <QRadioButton>
#include <algorithm>

namespace skyfold {

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent) {}

QStringList TRadioGroup::items() const {
  QStringList result;
  for (const QRadioButton* b : buttons_) result << b->text();
  return result;
}

void TRadioGroup::setItems(const QStringList& items) {
  for (QRadioButton* b : buttons_) delete b;
  buttons_.clear();
  const bool hadSelection = itemIndex_ != -1;
  itemIndex_ = -1;
  for (int i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items[i], this);
    b->setObjectName(objectName() + QStringLiteral("_Item%1").arg(i));
    connect(b, &QRadioButton::toggled, this,
            [this, i](bool checked) { buttonToggled(i, checked); });
    b->show();
    buttons_.push_back(b);
  }
  arrangeButtons();
  updateTabFocus();
  if (hadSelection) emit changed(-1);
}

void TRadioGroup::updateTabFocus() {
  // Tab enters the group on its checked item (the first when none is), as
  // a click would; the arrow keys still move between all of them.
  const int target = std::max(0, itemIndex_);
  for (int i = 0; i < count(); ++i) {
    button(i)->setFocusPolicy(i == target ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

void TRadioGroup::setColumns(int columns) {
  columns_ = std::max(1, columns);
  arrangeButtons();
}

QRadioButton* TRadioGroup::button(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return buttons_[static_cast<std::size_t>(index)];
}

void TRadioGroup::setItemIndex(int index) {
  index = std::clamp(index, -1, count() - 1);
  if (index == itemIndex_) return;
  if (index >= 0) {
    button(index)->setChecked(true);  // buttonToggled records it and raises changed
    return;
  }
  // Auto-exclusive buttons refuse to uncheck the last checked one.
  for (QRadioButton* b : buttons_) {
    b->setAutoExclusive(false);
    b->setChecked(false);
    b->setAutoExclusive(true);
  }
  itemIndex_ = -1;
  updateTabFocus();
  emit changed(-1);
}

void TRadioGroup::buttonToggled(int index, bool checked) {
  if (!checked || index == itemIndex_) return;
  itemIndex_ = index;
  updateTabFocus();
  emit changed(index);
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  arrangeButtons();
}

void TRadioGroup::changeEvent(QEvent* event) {
  QGroupBox::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    arrangeButtons();
  }
}

void TRadioGroup::paintEvent(QPaintEvent* /*event*/) {
  // An etched frame whose top line runs through the middle of the title, so
  // a one-row group fits the small height the window gives it.
  QPainter p(this);
  const QFontMetrics metrics = fontMetrics();
  const QRect frame = rect().adjusted(0, metrics.height() / 2, -2, -2);
  const QRect text(8, 0, title().isEmpty() ? 0 : metrics.horizontalAdvance(title()) + 2,
                   metrics.height());
  auto drawFrame = [&](const QRect& r, const QColor& colour) {
    p.setPen(colour);
    // The top line leaves a gap for the title.
    if (text.width() > 0) {
      p.drawLine(r.left(), r.top(), text.left() - 1, r.top());
      p.drawLine(text.right() + 1, r.top(), r.right(), r.top());
    } else {
      p.drawLine(r.topLeft(), r.topRight());
    }
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
  };
  drawFrame(frame.translated(1, 1), palette().color(QPalette::Light));
  drawFrame(frame, palette().color(QPalette::Mid));
  if (text.width() == 0) return;
  p.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  p.drawText(text, Qt::AlignCenter | Qt::TextShowMnemonic, title());
}

void TRadioGroup::arrangeButtons() {
  if (buttons_.empty()) return;
  const QRect area = rect().adjusted(6, fontMetrics().height(), -2, -3);
  const int columns = std::min(columns_, count());
  const int rows = (count() + columns - 1) / columns;
  const int columnWidth = std::max(1, area.width() / columns);
  const int rowHeight = std::max(1, area.height() / rows);
  for (int i = 0; i < count(); ++i) {
    QRadioButton* b = buttons_[static_cast<std::size_t>(i)];
    const int column = i / rows;
    const int row = i % rows;
    const int height = std::max(rowHeight, b->sizeHint().height());
    const int top = area.top() + row * rowHeight + (rowHeight - height) / 2;
    b->setGeometry(area.left() + column * columnWidth, top, columnWidth, height);
  }
}

}  // namespace skyfold
