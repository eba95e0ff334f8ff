// Times the window's own run path, offscreen: the forward and the inverse
// job described in the real window's controls and started with its buttons,
// so that it can be set side by side with skyfold-cli on the same job
// (bench/compare.sh does, given SKYFOLD_WINDOW_BENCH).
//
//   skyfold_window_bench forward PANORAMA FOLDER EDGE
//   skyfold_window_bench inverse FACE OUTPUT WIDTH
//
// Prints the wall time of the run in seconds. Outputs are replaced.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/RadioGroup.h"
#include "app/Unit1.h"

namespace {

template <typename T>
T* Child(skyfold::TForm1& form, const char* name) {
  T* w = form.findChild<T*>(QString::fromLatin1(name));
  if (w == nullptr) {
    std::fprintf(stderr, "no control %s\n", name);
    std::exit(2);
  }
  return w;
}

int IndexOf(const skyfold::TRadioGroup& group, const std::string& caption) {
  for (int i = 0; i < group.count(); ++i) {
    if (group.button(i)->text().toStdString() == caption) return i;
  }
  std::fprintf(stderr, "no item %s\n", caption.c_str());
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s forward PANORAMA FOLDER EDGE | inverse FACE OUTPUT WIDTH\n",
                 argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir settings;
  skyfold::TForm1 form;
  form.SetSettingsFileName((settings.path() + "/skyfold.ini").toStdString());
  form.show();
  Child<QCheckBox>(form, "CheckBox_OverWrite")->setChecked(false);
  const std::string mode = argv[1];
  const char* button = nullptr;
  if (mode == "forward") {
    Child<QCheckBox>(form, "CheckBox_SameFolder")->setChecked(false);
    Child<QLineEdit>(form, "Edit_ImageFileName")->setText(QString::fromLocal8Bit(argv[2]));
    Child<QLineEdit>(form, "Edit_DataFolder")->setText(QString::fromLocal8Bit(argv[3]));
    Child<QLineEdit>(form, "Edit_TextureBaseName")->setText(QStringLiteral("pano"));
    auto* size = Child<skyfold::TRadioGroup>(form, "RadioGroup_ImageSize");
    size->setItemIndex(IndexOf(*size, argv[4]));
    Child<skyfold::TRadioGroup>(form, "RadioGroup_ExtractImageType")->setItemIndex(1);
    button = "SpeedButton_Execute";
  } else {
    Child<QLineEdit>(form, "Edit_CubeImageFilename")->setText(QString::fromLocal8Bit(argv[2]));
    Child<QLineEdit>(form, "Edit_PanoFileName")->setText(QString::fromLocal8Bit(argv[3]));
    auto* width = Child<skyfold::TRadioGroup>(form, "RadioGroup_PanoImageSize");
    width->setItemIndex(IndexOf(*width, argv[4]));
    Child<skyfold::TRadioGroup>(form, "RadioGroup_PanoImageType")->setItemIndex(1);
    button = "SpeedButton_CubeToPanoExecute";
  }
  const auto start = std::chrono::steady_clock::now();
  Child<QToolButton>(form, button)->click();  // returns when the run is over
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", took.count());
  form.close();
  return 0;
}
