// TForm3: the modal question asked before a run replaces an existing output
// file. It names the file, offers Yes / No and a box that switches the
// question off; the caller decides what to do with both answers.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class TForm3;
}

namespace skyfold {

class TForm3 : public QDialog {
  Q_OBJECT

 public:
  // Modal results.
  static constexpr int kYes = 6;
  static constexpr int kNo = 7;
  static constexpr int kClosed = 2;  // closed through the window frame

  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;

  // Asks about FileName (shown shortened to 300 pixels). DontShowAgain is
  // always set to the state of the box when the dialog closed.
  static int ConfirmOverwrite(const std::string& FileName, bool& DontShowAgain);

  // The text Label1 shows for fileName.
  QString ShortenedFileName(const std::string& fileName) const;
  // Puts the shortened fileName into Label1.
  void SetFileName(const std::string& fileName);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<Ui::TForm3> ui;
};

}  // namespace skyfold
