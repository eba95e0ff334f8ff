// The browser is Qt's own (non-native) file dialog in directory mode, so it
// behaves alike on every platform and can be driven in tests. Its accept
// button stands for the shell browser's OK button, and a label added under
// its controls for the browser's status line.
#include "app/BrowsDlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/DialogSeam.h"
#include "imaging/PathUtils.h"

namespace skyfold {
namespace {

QPushButton* OkButton(QFileDialog& dialog) {
  auto* box = dialog.findChild<QDialogButtonBox*>();
  return box ? box->button(QDialogButtonBox::Open) : nullptr;
}

}  // namespace

std::string TBrowseDialog::PreselectPath(const std::string& directory) {
  std::string path = directory;
  while (path.size() > 1 && (path.back() == '/' || path.back() == kPathDelimiter)) {
    if (path.size() == 3 && path[1] == ':') break;  // a drive root keeps its delimiter
    path.pop_back();
  }
  return path;
}

bool TBrowseDialog::Execute() {
  QFileDialog dialog(owner_);
  dialog.setObjectName(QStringLiteral("BrowseDialog1"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setWindowTitle(Caption.empty() ? QStringLiteral("フォルダの参照")
                                        : QString::fromStdString(Caption));

  const QString root = QString::fromStdString(Root);
  if (!root.isEmpty() && QFileInfo(root).isDir()) {
    dialog.setDirectory(root);
    dialog.setSidebarUrls({QUrl::fromLocalFile(root)});
  } else {
    dialog.setDirectory(QDir::homePath());
  }

  std::string initialPath;
  if (!Directory.empty()) {
    initialPath = PreselectPath(Directory);
    const QString path = QString::fromStdString(initialPath);
    if (QFileInfo(path).isRoot()) {
      dialog.setDirectory(path);
    } else {
      dialog.selectFile(path);
    }
  }

  QLabel* status = nullptr;
  if (Options & biStatusText) {
    status = new QLabel(&dialog);
    status->setObjectName(QStringLiteral("StatusText"));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
      grid->addWidget(status, grid->rowCount(), 0, 1, grid->columnCount());
    }
  }

  // What the shell does after each of its callback messages: show the text,
  // then apply the OK state. The dialog updates its own button after a
  // selection change too, so the state is applied again once that is done.
  auto raise = [&](const TBrowseDialogEvent& handler, const std::string& path) {
    std::string showText;
    TOKButtonState okState = obsDefault;
    if (handler) handler(*this, &dialog, path, showText, okState);
    if (status) status->setText(QString::fromStdString(showText));
    if (okState == obsDefault) return;
    auto apply = [&dialog, okState] {
      if (QPushButton* ok = OkButton(dialog)) ok->setEnabled(okState == obsEnabled);
    };
    apply();
    QMetaObject::invokeMethod(&dialog, apply, Qt::QueuedConnection);
  };

  auto selectionChanged = [&](const QString& path) {
    raise(OnSelectionChanged, QDir::toNativeSeparators(path).toStdString());
  };
  QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog, selectionChanged);
  QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog, selectionChanged);

  raise(OnInitialized, initialPath);

  if (ExecDialog(dialog) != QDialog::Accepted) return false;
  const QString chosen = dialog.selectedFiles().value(0);
  Directory = QDir::toNativeSeparators(chosen).toStdString();
  const QFileInfo info(chosen);
  DisplayName = (info.isRoot() ? chosen : info.fileName()).toStdString();
  return true;
}

}  // namespace skyfold
