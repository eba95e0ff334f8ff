// TForm1: the main window. Its first tab runs the forward conversion (one
// panorama into six cube faces), its second the inverse one, its third is
// the console that shows the progress lines of a run.
//
// The window owns one filer per direction and binds them to its controls, so
// the controls are the only description of a job: a run is a fixed sequence
// of filer steps, with the overwrite question in front. The nine user choices
// are loaded when the window is first shown and saved when it closes.
//
// While a run works, the progress handler lets the event loop run; the
// execute buttons are disabled meanwhile (no second run on the same filers)
// and a close request waits until the run has ended.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <atomic>
#include <memory>
#include <string>

#include "app/RegMng.h"
#include "filers/RunContext.h"
#include "filers/SimFilers.h"
#include "imaging/ShowErrorMessage.h"

class QFileDialog;
class QProgressBar;
class QPushButton;

namespace Ui {
class TForm1;
}

namespace skyfold {

class CancelToken;
class TBrowseDialog;
class TOptionsPage;
class TPreviewPage;
class TCube2PanoFiler;
class TSkyfoldFiler;
class QtCheckBoxControl;
class QtEditControl;
class QtRadioGroupControl;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The settings file: SKYFOLD_INI when set; else the executable's path with
  // ".ini" when its folder is writable; else skyfold/skyfold.ini in the
  // user's configuration folder.
  static std::string DefaultSettingsFileName();
  const std::string& SettingsFileName() const { return settingsFileName_; }
  void SetSettingsFileName(const std::string& fileName) { settingsFileName_ = fileName; }

  // Present between the first show and the close.
  TSkyfoldFiler* ForwardFiler() const { return forwardFiler_.get(); }
  TCube2PanoFiler* InverseFiler() const { return inverseFiler_.get(); }
  bool IsRunning() const { return running_; }

  // The folder of the panorama file with a trailing delimiter, or "".
  std::string GetImageFolder() const;

  // Save dialog filters, in the order of the output types.
  static const QStringList& SaveDialogFilters();
  static const QString& OpenDialogFilter();

  // The run's progress bar and cancel button in the status bar (shown while
  // a run goes) and the options tab.
  QProgressBar* ProgressBar() const { return progressBar_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  TOptionsPage* OptionsPage() const { return optionsPage_; }
  TPreviewPage* PreviewPage() const { return previewPage_; }
  // Stops the running job; it ends with nothing written.
  void CancelRun();
  // What a drop of these files does on the current tab: the first tab takes
  // a panorama (several run one after another), the second a cube face.
  void DropFiles(const QStringList& paths);

 public slots:
  void SpeedButton_ImageClick();
  void SpeedButton_FolderClick();
  void CheckBox_SameFolderClick();
  void CheckBox_OverWriteClick(bool checked);
  void SpeedButton_ExecuteClick();
  void SpeedButton_CubeImageClick();
  void SpeedButton_PanoFileNameClick();
  void SaveDialog1TypeChange(const QString& filter);
  void RadioGroup_PanoImageTypeClick();
  void SpeedButton_CubeToPanoExecuteClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void FormShow();
  void FormClose();

  bool GetCheckOverWrite() const;
  void SetCheckOverWrite(bool value);
  bool GetSameFolder() const;
  void SetSameFolder(bool value);

  // Runs one conversion from page: console cleared and shown, errors of the
  // run shown in the error box, page shown again however the run ends.
  template <typename Run>
  void RunFromPage(QWidget* page, Run run);
  // Shows a choice made in a dialog: the forward panorama and the folder rule.
  void SetImageFileName(const QString& path);
  // Thumbnails of the six faces named by Cube 画像ファイル名 (off the GUI thread).
  void ShowCubePreview();
  // After a modal file dialog: no completion list left over the window, no
  // hover frame left on the button that opened it.
  void TidyAfterDialog(QFileDialog& dialog, QWidget* opener);
  void ShowProgress(const ProgressEvent& event);
  // The overwrite question for path; true when the run may go on.
  bool ConfirmReplace(const std::string& path);

  void LoadSettings();
  void SaveSettings();

  void FilerProgress(TSimFiler* sender, const std::string& text, TSimProgressMode mode);

  std::unique_ptr<Ui::TForm1> ui;
  ScopedErrorMessageSink errorSink_;

  std::unique_ptr<TSkyfoldFiler> forwardFiler_;
  std::unique_ptr<TCube2PanoFiler> inverseFiler_;
  std::unique_ptr<QtEditControl> dataFolderEdit_, imageFileNameEdit_, textureBasenameEdit_;
  std::unique_ptr<QtEditControl> cubeImageFileNameEdit_, panoFileNameEdit_;
  std::unique_ptr<QtRadioGroupControl> cubeSuffixGroup_, extractImageTypeGroup_, imageSizeGroup_;
  std::unique_ptr<QtRadioGroupControl> panoImageSizeGroup_, panoImageTypeGroup_;
  std::unique_ptr<QtCheckBoxControl> topRotateCheckBox_, changeLeftRightCheckBox_;

  QFileDialog* OpenDialog1;  // children of the window
  QFileDialog* SaveDialog1;
  std::unique_ptr<TBrowseDialog> BrowseDialog1;
  TRegManager Reg1;
  std::string settingsFileName_;

  TOptionsPage* optionsPage_;  // children of the window
  TPreviewPage* previewPage_;
  QProgressBar* progressBar_;
  QPushButton* cancelButton_;
  std::shared_ptr<CancelToken> cancel_;
  // The latest progress event's stage and fraction, as events may come from
  // the run's workers; the GUI thread shows them when it paints.
  std::atomic<int> progressStage_{0};
  std::atomic<int> progressPermille_{-1};

  bool running_ = false;
  bool closePending_ = false;
  // When the console was last painted during a run.
  QElapsedTimer paintClock_;
  static constexpr int kProgressPaintMs = 30;
};

}  // namespace skyfold
