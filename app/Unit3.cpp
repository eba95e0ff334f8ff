// Neither button is the dialog's default or cancel button: Enter presses the
// focused button (Yes when the dialog opens) and Escape does nothing; only
// the frame's close command gives the third answer.
#include "app/Unit3.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>

#include "app/DialogSeam.h"
#include "app/PathShortening.h"
#include "ui_Unit3.h"

namespace skyfold {

TForm3::TForm3(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TForm3>()) {
  QFont dialogFont(QStringLiteral("Noto Sans CJK JP"));
  dialogFont.setPixelSize(12);
  setFont(dialogFont);
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(422, 150);

  ui->Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  QFont bold = ui->Label1->font();
  bold.setBold(true);
  ui->Label1->setFont(bold);
  ui->Label2->adjustSize();
  ui->CheckBox1->setChecked(false);
  // The caption is wider in this font than the box the layout gives it;
  // the box grows, and moves left only as far as it must to clear Yes.
  QCheckBox* box = ui->CheckBox1;
  box->resize(std::max(box->width(), box->sizeHint().width()), box->height());
  const int room = ui->Button1->x() - 4;
  if (box->geometry().right() > room) box->move(std::max(4, room - box->width()), box->y());

  // Neither button is the default: Enter presses the focused button only.
  for (QPushButton* b : {ui->Button1, ui->Button2}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(ui->Button1, &QPushButton::clicked, this, [this] { done(kYes); });
  connect(ui->Button2, &QPushButton::clicked, this, [this] { done(kNo); });
  ui->Button1->setFocus();
}

TForm3::~TForm3() = default;

QString TForm3::ShortenedFileName(const std::string& fileName) const {
  // Measured in the regular font although Label1 is bold.
  const QFontMetrics metrics(font());
  const std::string shortened = ShortenPathForDisplay(
      fileName,
      [&metrics](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
      },
      300);
  return QString::fromStdString(shortened);
}

void TForm3::SetFileName(const std::string& fileName) {
  ui->Label1->setText(ShortenedFileName(fileName));
  ui->Label1->adjustSize();
}

int TForm3::ConfirmOverwrite(const std::string& FileName, bool& DontShowAgain) {
  TForm3 form;
  form.SetFileName(FileName);
  const int result = ExecDialog(form);
  DontShowAgain = form.ui->CheckBox1->isChecked();
  return result;
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TForm3::closeEvent(QCloseEvent* event) {
  done(kClosed);
  event->accept();
}

void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  ui->Button1->setFocus();
}

}  // namespace skyfold
