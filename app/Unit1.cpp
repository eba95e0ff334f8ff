// The window's event handlers and its two run sequences. The layout lives in
// Unit1.ui; this file binds the controls to the filers, keeps the two
// overwrite boxes and the same-folder rule in step, and drives the runs.
#include "app/Unit1.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QCompleter>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <new>

#include "app/BrowsDlg.h"
#include "app/DialogSeam.h"
#include "app/OptionsPage.h"
#include "app/PreviewPage.h"
#include "app/QtControls.h"
#include "app/Unit3.h"
#include "app/WindowSettings.h"
#include "filers/ConversionEngine.h"
#include "filers/Cube2PanoFiler.h"
#include "filers/PanoFiler.h"
#include "filers/SkyfoldFiler.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"
#include "ui_Unit1.h"

namespace skyfold {
namespace {

void SetTabOrderChain(const std::vector<QWidget*>& chain) {
  for (std::size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
}

// Keyboard order enters a radio group through its buttons.
void AppendGroup(std::vector<QWidget*>& chain, const TRadioGroup* group) {
  for (QRadioButton* b : group->buttons()) chain.push_back(b);
}

QString StageName(RunStage stage) {
  switch (stage) {
    case RunStage::Preparing:
      return QStringLiteral("準備");
    case RunStage::Loading:
      return QStringLiteral("読み込み");
    case RunStage::Mapping:
      return QStringLiteral("座標計算");
    case RunStage::Warping:
      return QStringLiteral("変換");
    case RunStage::Writing:
      return QStringLiteral("書き出し");
    case RunStage::Committing:
      return QStringLiteral("確定");
  }
  return {};
}

// Flat buttons keep their flat look and place but show a frame at rest, so
// they read as buttons, not as text.
constexpr const char* kFlatButtonStyle =
    "QToolButton { border: 1px solid palette(mid); border-radius: 2px;"
    " background: palette(button); }"
    "QToolButton:hover { border-color: palette(highlight); }"
    "QToolButton:pressed { background: palette(midlight); }"
    "QToolButton:disabled { color: palette(mid); }";

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::TForm1>()),
      errorSink_(
          [this](const std::string& text) { ShowErrorBox(this, QString::fromStdString(text)); }),
      settingsFileName_(DefaultSettingsFileName()) {
  ui->setupUi(this);
  move(0, 0);
  setMinimumSize(616, 500);
  ui->PageControl1->setCurrentWidget(ui->TabSheet1);
  // The layout keeps the positions it was drawn with; captions in the wider
  // Japanese font grow their controls to the right rather than being cut.
  for (QLabel* label : ui->PageControl1->findChildren<QLabel*>()) {
    label->adjustSize();
    // A caption left of the edits ends before them (they start at 126).
    if (label->x() == 16 && label->geometry().right() > 122)
      label->move(123 - label->width(), label->y());
  }
  for (QCheckBox* box : ui->PageControl1->findChildren<QCheckBox*>()) {
    box->resize(std::max(box->width(), box->sizeHint().width()), box->height());
  }

  SetTabOrderChain([this] {
    std::vector<QWidget*> chain;
    AppendGroup(chain, ui->RadioGroup_CubeSuffix);
    AppendGroup(chain, ui->RadioGroup_ImageSize);
    AppendGroup(chain, ui->RadioGroup_ExtractImageType);
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->Edit_ImageFileName, ui->Edit_DataFolder, ui->Edit_TextureBaseName,
             ui->CheckBox_TopRotate, ui->CheckBox_ChangeLeftRight, ui->CheckBox_SameFolder,
             ui->CheckBox_OverWrite}) {
      chain.push_back(w);
    }
    return chain;
  }());
  SetTabOrderChain([this] {
    std::vector<QWidget*> chain;
    AppendGroup(chain, ui->RadioGroup_PanoImageType);
    chain.push_back(ui->Edit_CubeImageFilename);
    chain.push_back(ui->Edit_PanoFileName);
    chain.push_back(ui->CheckBox_OverWrite2);
    AppendGroup(chain, ui->RadioGroup_PanoImageSize);
    return chain;
  }());

  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
  OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog1->setNameFilter(OpenDialogFilter());

  SaveDialog1 = new QFileDialog(this);
  SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
  SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setNameFilters(SaveDialogFilters());
  SaveDialog1->selectNameFilter(SaveDialogFilters().value(2));
  connect(SaveDialog1, &QFileDialog::filterSelected, this, &TForm1::SaveDialog1TypeChange);

  BrowseDialog1 = std::make_unique<TBrowseDialog>(this);

  for (QToolButton* b : ui->PageControl1->findChildren<QToolButton*>()) {
    b->setStyleSheet(QString::fromLatin1(kFlatButtonStyle));
  }

  optionsPage_ = new TOptionsPage(ui->PageControl1);
  ui->PageControl1->addTab(optionsPage_, QStringLiteral("設定"));
  previewPage_ = new TPreviewPage(ui->PageControl1);
  ui->PageControl1->addTab(previewPage_, QStringLiteral("プレビュー"));
  connect(ui->Edit_CubeImageFilename, &QLineEdit::editingFinished, this, &TForm1::ShowCubePreview);
  connect(ui->Edit_ImageFileName, &QLineEdit::editingFinished, this, [this] {
    previewPage_->Show(TPreviewPage::kPanorama,
                       {QDir::fromNativeSeparators(ui->Edit_ImageFileName->text()).toStdString()});
  });

  progressBar_ = new QProgressBar(ui->StatusBar1);
  progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar_->setRange(0, 1000);
  progressBar_->setFixedSize(240, 15);
  progressBar_->setVisible(false);
  cancelButton_ = new QPushButton(QStringLiteral("中止"), ui->StatusBar1);
  cancelButton_->setObjectName(QStringLiteral("Button_Cancel"));
  cancelButton_->setFixedHeight(17);
  cancelButton_->setAutoDefault(false);
  cancelButton_->setVisible(false);
  ui->StatusBar1->addPermanentWidget(progressBar_);
  ui->StatusBar1->addPermanentWidget(cancelButton_);
  connect(cancelButton_, &QPushButton::clicked, this, &TForm1::CancelRun);
  setAcceptDrops(true);

  Reg1.RegType = rtIni;
  AddWindowSettingsItems(Reg1);
  AddOptionsSettingsItems(Reg1);

  connect(ui->SpeedButton_Image, &QToolButton::clicked, this, &TForm1::SpeedButton_ImageClick);
  connect(ui->SpeedButton_Folder, &QToolButton::clicked, this, &TForm1::SpeedButton_FolderClick);
  connect(ui->CheckBox_SameFolder, &QCheckBox::toggled, this, &TForm1::CheckBox_SameFolderClick);
  connect(ui->CheckBox_OverWrite, &QCheckBox::toggled, this, &TForm1::CheckBox_OverWriteClick);
  connect(ui->CheckBox_OverWrite2, &QCheckBox::toggled, this, &TForm1::CheckBox_OverWriteClick);
  connect(ui->SpeedButton_Execute, &QToolButton::clicked, this, &TForm1::SpeedButton_ExecuteClick);
  connect(ui->SpeedButton_CubeImage, &QToolButton::clicked, this,
          &TForm1::SpeedButton_CubeImageClick);
  connect(ui->SpeedButton_PanoFileName, &QToolButton::clicked, this,
          &TForm1::SpeedButton_PanoFileNameClick);
  connect(ui->RadioGroup_PanoImageType, &TRadioGroup::changed, this,
          &TForm1::RadioGroup_PanoImageTypeClick);
  connect(ui->SpeedButton_CubeToPanoExecute, &QToolButton::clicked, this,
          &TForm1::SpeedButton_CubeToPanoExecuteClick);
}

TForm1::~TForm1() = default;

std::string TForm1::DefaultSettingsFileName() {
  const QByteArray overridden = qgetenv("SKYFOLD_INI");
  if (!overridden.isEmpty()) return overridden.toStdString();
  const QString executable = QCoreApplication::applicationFilePath();
  if (!executable.isEmpty() && QFileInfo(QFileInfo(executable).absolutePath()).isWritable()) {
    return SettingsFileNameFor(executable.toStdString());
  }
  return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
          QStringLiteral("/skyfold/skyfold.ini"))
      .toStdString();
}

const QString& TForm1::OpenDialogFilter() {
  static const QString filter =
      QStringLiteral("画像ファイル (*.bmp *.tif *.tiff *.jpg *.jpeg);;すべてのファイル (*)");
  return filter;
}

const QStringList& TForm1::SaveDialogFilters() {
  static const QStringList filters{QStringLiteral("*.bmp"), QStringLiteral("*.jpg"),
                                   QStringLiteral("*.tif")};
  return filters;
}

// ---- show and close ----

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!forwardFiler_) FormShow();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The run's files are half written; close once it has finished.
    closePending_ = true;
    event->ignore();
    return;
  }
  if (forwardFiler_) FormClose();
  event->accept();
}

void TForm1::FormShow() {
  forwardFiler_ = std::make_unique<TSkyfoldFiler>();
  auto progress = [this](TSimFiler* sender, const std::string& text, TSimProgressMode mode) {
    FilerProgress(sender, text, mode);
  };
  forwardFiler_->OnProgress = progress;
  dataFolderEdit_ = std::make_unique<QtEditControl>(ui->Edit_DataFolder);
  imageFileNameEdit_ = std::make_unique<QtEditControl>(ui->Edit_ImageFileName);
  textureBasenameEdit_ = std::make_unique<QtEditControl>(ui->Edit_TextureBaseName);
  cubeSuffixGroup_ = std::make_unique<QtRadioGroupControl>(ui->RadioGroup_CubeSuffix);
  extractImageTypeGroup_ = std::make_unique<QtRadioGroupControl>(ui->RadioGroup_ExtractImageType);
  imageSizeGroup_ = std::make_unique<QtRadioGroupControl>(ui->RadioGroup_ImageSize);
  topRotateCheckBox_ = std::make_unique<QtCheckBoxControl>(ui->CheckBox_TopRotate);
  changeLeftRightCheckBox_ = std::make_unique<QtCheckBoxControl>(ui->CheckBox_ChangeLeftRight);
  forwardFiler_->DataFolderEdit = dataFolderEdit_.get();
  forwardFiler_->ImageFileNameEdit = imageFileNameEdit_.get();
  forwardFiler_->TextureBasenameEdit = textureBasenameEdit_.get();
  forwardFiler_->CubeSuffixGroup = cubeSuffixGroup_.get();
  forwardFiler_->ExtractImageTypeGroup = extractImageTypeGroup_.get();
  forwardFiler_->ImageSizeGroup = imageSizeGroup_.get();
  forwardFiler_->TopRotateCheckBox = topRotateCheckBox_.get();
  forwardFiler_->ChangeLeftRightCheckBox = changeLeftRightCheckBox_.get();

  inverseFiler_ = std::make_unique<TCube2PanoFiler>();
  inverseFiler_->OnProgress = progress;
  cubeImageFileNameEdit_ = std::make_unique<QtEditControl>(ui->Edit_CubeImageFilename);
  panoFileNameEdit_ = std::make_unique<QtEditControl>(ui->Edit_PanoFileName);
  panoImageSizeGroup_ = std::make_unique<QtRadioGroupControl>(ui->RadioGroup_PanoImageSize);
  panoImageTypeGroup_ = std::make_unique<QtRadioGroupControl>(ui->RadioGroup_PanoImageType);
  inverseFiler_->CubeImageFileNameEdit = cubeImageFileNameEdit_.get();
  inverseFiler_->ImageFileNameEdit = panoFileNameEdit_.get();
  inverseFiler_->PanoImageSizeGroup = panoImageSizeGroup_.get();
  inverseFiler_->ExtractImageTypeGroup = panoImageTypeGroup_.get();

  LoadSettings();
}

void TForm1::FormClose() {
  // A settings file that cannot be written must not keep the window open.
  try {
    SaveSettings();
  } catch (const std::exception& e) {
    ShowErrorBox(this, QString::fromStdString(e.what()));
  }
  forwardFiler_.reset();
  inverseFiler_.reset();
}

// ---- settings ----

void TForm1::LoadSettings() {
  Reg1.IniFileName = settingsFileName_;
  // Stored ordinals reach the enumerations as bytes, unchecked: the radio
  // groups keep their selection within their items.
  forwardFiler_->SetExtractImageType(
      static_cast<TExtractImageType>(Reg1.ItemFiler("CubeImageType").ReadInteger()));
  forwardFiler_->SetImageSize(
      static_cast<TImageSize>(Reg1.ItemFiler("CubeImageSize").ReadInteger()));
  SetCheckOverWrite(Reg1.ItemFiler("CheckOverWrite").ReadBool());
  forwardFiler_->SetTopRotate(Reg1.ItemFiler("TopRotate").ReadBool());
  forwardFiler_->SetCubeSuffix(
      static_cast<TCubeSuffix>(Reg1.ItemFiler("CubeSuffix").ReadInteger()));
  forwardFiler_->SetChangeLeftRight(Reg1.ItemFiler("ChangeLeftRight").ReadBool());
  SetSameFolder(Reg1.ItemFiler("SameFolder").ReadBool());
  inverseFiler_->SetPanoImageSize(
      static_cast<TPanoImageSize>(Reg1.ItemFiler("PanoImageSize").ReadInteger()));
  inverseFiler_->SetExtractImageType(
      static_cast<TExtractImageType>(Reg1.ItemFiler("PanoImageType").ReadInteger()));
  optionsPage_->SetFrom(LoadJobOptions(Reg1));
}

void TForm1::SaveSettings() {
  Reg1.IniFileName = settingsFileName_;
  const QString folder = QFileInfo(QString::fromStdString(settingsFileName_)).absolutePath();
  QDir().mkpath(folder);  // the fallback location may not exist yet
  Reg1.ItemFiler("CubeImageType").WriteInteger(forwardFiler_->GetExtractImageType());
  Reg1.ItemFiler("CubeImageSize").WriteInteger(forwardFiler_->GetImageSize());
  Reg1.ItemFiler("CheckOverWrite").WriteBool(GetCheckOverWrite());
  Reg1.ItemFiler("TopRotate").WriteBool(forwardFiler_->GetTopRotate());
  Reg1.ItemFiler("CubeSuffix").WriteInteger(forwardFiler_->GetCubeSuffix());
  Reg1.ItemFiler("ChangeLeftRight").WriteBool(forwardFiler_->GetChangeLeftRight());
  Reg1.ItemFiler("SameFolder").WriteBool(GetSameFolder());
  Reg1.ItemFiler("PanoImageSize").WriteInteger(inverseFiler_->GetPanoImageSize());
  Reg1.ItemFiler("PanoImageType").WriteInteger(inverseFiler_->GetExtractImageType());
  JobOptions options;
  optionsPage_->ApplyTo(options);
  SaveJobOptions(Reg1, options);
}

// ---- the two shared check boxes and the folder rule ----

bool TForm1::GetCheckOverWrite() const { return ui->CheckBox_OverWrite->isChecked(); }

void TForm1::SetCheckOverWrite(bool value) {
  ui->CheckBox_OverWrite->setChecked(value);
  ui->CheckBox_OverWrite2->setChecked(value);
}

void TForm1::CheckBox_OverWriteClick(bool checked) { SetCheckOverWrite(checked); }

bool TForm1::GetSameFolder() const { return ui->CheckBox_SameFolder->isChecked(); }

void TForm1::SetSameFolder(bool value) {
  ui->CheckBox_SameFolder->setChecked(value);  // may come back here once; harmless
  ui->Edit_DataFolder->setText(value ? QString::fromStdString(GetImageFolder()) : QString());
}

void TForm1::CheckBox_SameFolderClick() { SetSameFolder(ui->CheckBox_SameFolder->isChecked()); }

std::string TForm1::GetImageFolder() const {
  std::string name = ui->Edit_ImageFileName->text().toStdString();
  if (name.empty()) return {};
  // A bare file name lives in the working folder, not in the root folder.
  if (ExtractFilePath(name).empty()) name = ExpandFileName(name);
  return IncludeTrailingPathDelimiter(ExtractFilePath(name));
}

// ---- choosing files and folders ----

void TForm1::SetImageFileName(const QString& path) {
  ui->Edit_ImageFileName->setText(QDir::toNativeSeparators(path));
  previewPage_->Show(TPreviewPage::kPanorama, {path.toStdString()});
  if (GetSameFolder()) ui->Edit_DataFolder->setText(QString::fromStdString(GetImageFolder()));
}

void TForm1::TidyAfterDialog(QFileDialog& dialog, QWidget* opener) {
  for (QCompleter* completer : dialog.findChildren<QCompleter*>()) {
    if (completer->popup()) completer->popup()->hide();
  }
  // The dialog took the mouse while over the button: its leave never came.
  if (opener) {
    opener->setAttribute(Qt::WA_UnderMouse, false);
    opener->update();
  }
}

void TForm1::SpeedButton_ImageClick() {
  const int answer = ExecDialog(*OpenDialog1);
  TidyAfterDialog(*OpenDialog1, ui->SpeedButton_Image);
  if (answer != QDialog::Accepted) return;
  const QString chosen = OpenDialog1->selectedFiles().value(0);
  OpenDialog1->selectFile(chosen);
  SetImageFileName(chosen);
}

void TForm1::SpeedButton_FolderClick() {
  if (!BrowseDialog1->Execute()) return;
  ui->Edit_DataFolder->setText(
      QString::fromStdString(IncludeTrailingPathDelimiter(BrowseDialog1->Directory)));
}

void TForm1::SpeedButton_CubeImageClick() {
  const int answer = ExecDialog(*OpenDialog1);
  TidyAfterDialog(*OpenDialog1, ui->SpeedButton_CubeImage);
  if (answer != QDialog::Accepted) return;
  const QString chosen = OpenDialog1->selectedFiles().value(0);
  OpenDialog1->selectFile(chosen);
  ui->Edit_CubeImageFilename->setText(QDir::toNativeSeparators(chosen));
  ShowCubePreview();
}

void TForm1::ShowCubePreview() {
  // The faces the second tab's run would read, found as that run finds them.
  TPanoFiler faces;
  optionsPage_->ApplyTo(faces.Options);
  faces.SetCubeImageFileName(
      QDir::fromNativeSeparators(ui->Edit_CubeImageFilename->text()).toStdString());
  const ScopedErrorMessageSink quiet([](const std::string&) {});
  if (faces.GetCubeImageFileName().empty() || !faces.DetectCubeSuffix()) {
    previewPage_->Show(TPreviewPage::kCube, {});
    return;
  }
  faces.BuildFileNames();
  std::vector<std::string> names = faces.FileNames;
  // One image holding all six faces (a layout) is shown as it is.
  if (!names.empty() && std::all_of(names.begin(), names.end(),
                                    [&](const std::string& n) { return n == names.front(); })) {
    names.resize(1);
  }
  previewPage_->Show(TPreviewPage::kCube, names);
}

void TForm1::SpeedButton_PanoFileNameClick() {
  const int type = ui->RadioGroup_PanoImageType->itemIndex();
  if (type >= 0 && type < SaveDialogFilters().size()) {
    SaveDialog1->selectNameFilter(SaveDialogFilters()[type]);
  }
  SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, !GetCheckOverWrite());
  const int answer = ExecDialog(*SaveDialog1);
  TidyAfterDialog(*SaveDialog1, ui->SpeedButton_PanoFileName);
  if (answer != QDialog::Accepted) return;
  const QString chosen = SaveDialog1->selectedFiles().value(0);
  SaveDialog1->selectFile(chosen);
  ui->Edit_PanoFileName->setText(QDir::toNativeSeparators(chosen));
  RadioGroup_PanoImageTypeClick();
}

void TForm1::SaveDialog1TypeChange(const QString& filter) {
  const int index = SaveDialogFilters().indexOf(filter);
  if (index >= 0) ui->RadioGroup_PanoImageType->setItemIndex(index);
}

void TForm1::RadioGroup_PanoImageTypeClick() {
  const std::string name = ui->Edit_PanoFileName->text().toStdString();
  if (name.empty()) return;
  const auto type = static_cast<TExtractImageType>(ui->RadioGroup_PanoImageType->itemIndex());
  const std::string ext = ExtractImageTypeExt(type);
  if (ext.empty()) return;
  ui->Edit_PanoFileName->setText(QString::fromStdString(ChangeFileExt(name, ext)));
}

// ---- the runs ----

template <typename Run>
void TForm1::RunFromPage(QWidget* page, Run run) {
  if (running_ || !forwardFiler_) return;
  running_ = true;
  ui->SpeedButton_Execute->setEnabled(false);
  ui->SpeedButton_CubeToPanoExecute->setEnabled(false);
  ui->Editor1->Clear();
  ui->PageControl1->setCurrentWidget(ui->TabSheet3);
  optionsPage_->ApplyTo(forwardFiler_->Options);
  optionsPage_->ApplyTo(inverseFiler_->Options);
  ui->StatusBar1->clearMessage();
  progressPermille_ = -1;
  progressBar_->setValue(0);
  progressBar_->setFormat(QString());
  progressBar_->setVisible(true);
  cancelButton_->setEnabled(true);
  cancelButton_->setVisible(true);

  QString error;
  QString status;
  try {
    // The run owns its threads and memory: an idle window holds nothing a
    // finished run used.
    cancel_ = std::make_shared<CancelToken>();
    RunContext context(0, cancel_);
    context.progress = [this](const ProgressEvent& event) { ShowProgress(event); };
    paintClock_.invalidate();
    const JobResult result = run(context);
    switch (result.status) {
      case JobResult::Status::Done:
        status = QStringLiteral("%1 個のファイルを書き出しました。").arg(result.written.size());
        previewPage_->Show(TPreviewPage::kWritten, result.written);
        if (page == ui->TabSheet2)
          previewPage_->Show(TPreviewPage::kCube, inverseFiler_->FileNames);
        break;
      case JobResult::Status::Cancelled:
        // The user asked for it: said in the status bar, no error box.
        status = QString::fromStdString(result.message);
        break;
      case JobResult::Status::Failed:
        error = status = QString::fromStdString(result.message);
        break;
      case JobResult::Status::Refused:
        // Empty when the check has shown its message already.
        error = status = QString::fromStdString(result.message);
        break;
    }
  } catch (const std::exception& e) {
    error = status = QString::fromStdString(FailureMessage(e));
  }
  cancel_.reset();

  progressBar_->setVisible(false);
  cancelButton_->setVisible(false);
  if (!status.isEmpty()) ui->StatusBar1->showMessage(status);
  ui->PageControl1->setCurrentWidget(page);
  ui->SpeedButton_Execute->setEnabled(true);
  ui->SpeedButton_CubeToPanoExecute->setEnabled(true);
  running_ = false;
  if (!error.isEmpty()) ShowErrorBox(this, error);
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

bool TForm1::ConfirmReplace(const std::string& path) {
  if (!FileExists(path)) return true;
  bool dontShowAgain = false;
  const int answer = TForm3::ConfirmOverwrite(path, dontShowAgain);
  SetCheckOverWrite(!dontShowAgain);
  return answer == TForm3::kYes;
}

void TForm1::SpeedButton_ExecuteClick() {
  RunFromPage(ui->TabSheet1, [this](RunContext& context) {
    JobQuestions questions;
    // Only the first face is asked about; the others are replaced with it.
    // A single-image layout writes one file: the first of the output paths.
    questions.mayWrite = [this] {
      if (!GetCheckOverWrite()) return true;
      const std::vector<std::string> paths = forwardFiler_->OutputPaths();
      return ConfirmReplace(paths.empty()
                                ? forwardFiler_->OutputPath(forwardFiler_->GetFirstFileName())
                                : paths.front());
    };
    return RunForwardJob(*forwardFiler_, context, questions);
  });
}

void TForm1::SpeedButton_CubeToPanoExecuteClick() {
  RunFromPage(ui->TabSheet2, [this](RunContext& context) {
    JobQuestions questions;
    questions.mayWrite = [this] {
      return !GetCheckOverWrite() || ConfirmReplace(inverseFiler_->GetImageFileName());
    };
    return RunInverseJob(*inverseFiler_, context, questions);
  });
}

void TForm1::CancelRun() {
  if (!cancel_) return;
  cancel_->Cancel();
  cancelButton_->setEnabled(false);
}

// ---- drag and drop ----

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  const QWidget* page = ui->PageControl1->currentWidget();
  if (!running_ && event->mimeData()->hasUrls() &&
      (page == ui->TabSheet1 || page == ui->TabSheet2)) {
    event->acceptProposedAction();
  }
}

void TForm1::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile());
  }
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  DropFiles(paths);
}

void TForm1::DropFiles(const QStringList& paths) {
  if (running_ || paths.isEmpty()) return;
  if (ui->PageControl1->currentWidget() == ui->TabSheet2) {
    ui->Edit_CubeImageFilename->setText(QDir::toNativeSeparators(paths.first()));
    ShowCubePreview();
    return;
  }
  if (ui->PageControl1->currentWidget() != ui->TabSheet1) return;
  SetImageFileName(paths.first());
  if (paths.size() == 1) return;
  // Several panoramas: each runs as if chosen and executed in turn, named
  // after itself (one base name would give every run the same files); a
  // refusal, failure or cancel ends the series.
  const QString typedBaseName = ui->Edit_TextureBaseName->text();
  int written = 0;
  bool allDone = true;
  for (const QString& path : paths) {
    SetImageFileName(path);
    ui->Edit_TextureBaseName->setText(QFileInfo(path).completeBaseName());
    SpeedButton_ExecuteClick();
    const QString message = ui->StatusBar1->currentMessage();
    if (!message.endsWith(QStringLiteral("個のファイルを書き出しました。"))) {
      allDone = false;
      break;
    }
    written += message.section(QLatin1Char(' '), 0, 0).toInt();
  }
  ui->Edit_TextureBaseName->setText(typedBaseName);
  if (allDone)
    ui->StatusBar1->showMessage(QStringLiteral("%1 個のファイルを書き出しました。").arg(written));
}

// ---- progress ----

void TForm1::ShowProgress(const ProgressEvent& event) {
  progressStage_ = static_cast<int>(event.stage);
  // The total grows as stages begin; the bar never goes back. Only the GUI
  // thread writes the fraction (events from workers just set the stage).
  if (event.total > 0 && QThread::currentThread() == thread()) {
    const int permille =
        static_cast<int>(std::clamp<std::int64_t>(event.done * 1000 / event.total, 0, 1000));
    if (permille > progressPermille_) progressPermille_ = permille;
  }
  if (QThread::currentThread() != thread()) return;  // shown at the next paint
  const int permille = progressPermille_;
  progressBar_->setValue(std::max(0, permille));
  const QString stage = StageName(static_cast<RunStage>(progressStage_.load()));
  progressBar_->setFormat(permille < 0 ? stage
                                       : QStringLiteral("%1 %2%").arg(stage).arg(permille / 10));
}

// ---- console ----

void TForm1::FilerProgress(TSimFiler* /*sender*/, const std::string& text, TSimProgressMode mode) {
  TConsoleView* console = ui->Editor1;
  if (mode == spAppend) {
    console->AddLine(text);
  } else if (mode == spUpdate) {
    const int last = console->LineCount() - 1;
    if (last >= 0) {
      console->PutLine(last, console->GetLine(last) + text);
    } else {
      console->AddLine(text);  // nothing to extend: start a line
    }
  }
  console->SetTopRow(console->RowCount() - console->VisibleRows() + 2);
  // Painting the whole window for each of a run's few hundred dots would
  // cost more than the conversion's slower stages; the console is brought
  // up to date at most every few milliseconds, which the eye cannot tell.
  if (paintClock_.isValid() && paintClock_.elapsed() < kProgressPaintMs) return;
  ShowProgress(ProgressEvent{static_cast<RunStage>(progressStage_.load()), 0, 0, {}, spAppend});
  repaint();
  QCoreApplication::processEvents();
  paintClock_.start();
}

}  // namespace skyfold
