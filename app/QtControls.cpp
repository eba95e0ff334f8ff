#include "app/QtControls.h"

#include <QCheckBox>
#include <QLineEdit>

#include "app/RadioGroup.h"

namespace skyfold {

std::string QtEditControl::GetText() const { return edit_->text().toStdString(); }

void QtEditControl::SetText(const std::string& text) {
  edit_->setText(QString::fromStdString(text));
}

int QtRadioGroupControl::GetItemIndex() const { return group_->itemIndex(); }

void QtRadioGroupControl::SetItemIndex(int index) { group_->setItemIndex(index); }

bool QtCheckBoxControl::GetChecked() const { return box_->isChecked(); }

void QtCheckBoxControl::SetChecked(bool checked) { box_->setChecked(checked); }

}  // namespace skyfold
