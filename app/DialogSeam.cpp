#include "app/DialogSeam.h"

#include <QDialog>
#include <QMessageBox>
#include <deque>
#include <utility>

namespace skyfold {
namespace {

std::deque<DialogAnswer>& Queue() {
  static std::deque<DialogAnswer> queue;
  return queue;
}

DialogAnswer& UnqueuedHandler() {
  static DialogAnswer handler;
  return handler;
}

}  // namespace

int ExecDialog(QDialog& dialog) {
  if (!Queue().empty()) {
    DialogAnswer answer = std::move(Queue().front());
    Queue().pop_front();
    return answer(dialog);
  }
  if (UnqueuedHandler()) return UnqueuedHandler()(dialog);
  return dialog.exec();
}

void QueueDialogAnswer(DialogAnswer answer) { Queue().push_back(std::move(answer)); }

void ClearDialogAnswers() { Queue().clear(); }

std::size_t PendingDialogAnswers() { return Queue().size(); }

DialogAnswer SetUnqueuedDialogHandler(DialogAnswer handler) {
  return std::exchange(UnqueuedHandler(), std::move(handler));
}

void ShowErrorBox(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("エラー"), text, QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("ErrorBox"));
  ExecDialog(box);
}

}  // namespace skyfold
