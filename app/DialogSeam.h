// Every modal dialog of the window runs through ExecDialog, so that tests can
// answer it instead of a user: they queue answers, each a function that gets
// the fully prepared dialog, may inspect or fill it (tick a box, select a
// file, emit its type-change signal) and returns the dialog's result code.
// Without a queued answer the real dialog opens (exec()).
#pragma once

#include <QString>
#include <cstddef>
#include <functional>

class QDialog;
class QWidget;

namespace skyfold {

using DialogAnswer = std::function<int(QDialog& dialog)>;

// Runs dialog modally and returns its result code.
int ExecDialog(QDialog& dialog);

// Answers the next dialog instead of a user (first queued, first used).
void QueueDialogAnswer(DialogAnswer answer);
void ClearDialogAnswers();
std::size_t PendingDialogAnswers();

// Called in place of exec() when no answer is queued (tests install one that
// records a failure instead of blocking on an unexpected dialog). Returns the
// previous handler.
DialogAnswer SetUnqueuedDialogHandler(DialogAnswer handler);

// The error box: caption "エラー", critical icon, the text, one OK button.
void ShowErrorBox(QWidget* parent, const QString& text);

}  // namespace skyfold
