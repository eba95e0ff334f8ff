#include "app/OptionsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <cmath>
#include <iterator>
#include <utility>

#include "app/RegMng.h"
#include "app/WindowSettings.h"
#include "imaging/OutputFormats.h"

namespace skyfold {
namespace {

QDoubleSpinBox* AngleBox(QWidget* parent) {
  auto* box = new QDoubleSpinBox(parent);
  box->setRange(-360.0, 360.0);
  box->setDecimals(2);
  box->setSingleStep(1.0);
  box->setSuffix(QStringLiteral(" °"));
  return box;
}

int IndexOr0(const QStringList& names, const std::string& name) {
  return std::max(0, static_cast<int>(names.indexOf(QString::fromStdString(name))));
}

double ParseAngle(const std::string& text) {
  bool ok = false;
  const double value = QString::fromStdString(text).toDouble(&ok);
  return ok && std::isfinite(value) ? value : 0.0;
}

std::string AngleText(double value) { return QString::number(value, 'g', 10).toStdString(); }

constexpr const char* kPresetKey = "Preset";
constexpr const char* kLayoutKey = "Layout";
constexpr const char* kNameTemplateKey = "NameTemplate";
constexpr const char* kYawKey = "Yaw";
constexpr const char* kPitchKey = "Pitch";
constexpr const char* kRollKey = "Roll";
constexpr const char* kFilterKey = "Filter";
constexpr const char* kStripMetadataKey = "StripMetadata";
constexpr const char* kOutputTypeKey = "OutputType";

}  // namespace

const QStringList& TOptionsPage::Presets() {
  static const QStringList names{"design", "opengl", "threejs", "pannellum", "psv"};
  return names;
}

const QStringList& TOptionsPage::Layouts() {
  static const QStringList names{"faces", "row", "column", "3x2", "2x3", "hcross", "vcross"};
  return names;
}

const QStringList& TOptionsPage::Filters() {
  // In the order of ResampleFilter.
  static const QStringList names{"design", "bilinear", "bicubic", "lanczos3"};
  return names;
}

const QStringList& TOptionsPage::OutputTypes() {
  static const QStringList names = [] {
    QStringList list{QString()};
    for (const OutputFormat& format : OutputFormats()) list << QString::fromLatin1(format.name);
    return list;
  }();
  return names;
}

TOptionsPage::TOptionsPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TabSheetOptions"));
  auto* page = new QVBoxLayout(this);

  auto* cube = new QGroupBox(QStringLiteral("キューブ面の並びと名前"), this);
  auto* cubeForm = new QFormLayout(cube);
  preset_ = new QComboBox(cube);
  preset_->setObjectName(QStringLiteral("ComboBox_Preset"));
  preset_->addItems(Presets());
  layout_ = new QComboBox(cube);
  layout_->setObjectName(QStringLiteral("ComboBox_Layout"));
  layout_->addItems(Layouts());
  nameTemplate_ = new QLineEdit(cube);
  nameTemplate_->setObjectName(QStringLiteral("Edit_NameTemplate"));
  nameTemplate_->setPlaceholderText(QStringLiteral("空欄：プリセットの名前（例 {base}/{face}）"));
  cubeForm->addRow(QStringLiteral("プリセット"), preset_);
  cubeForm->addRow(QStringLiteral("レイアウト"), layout_);
  cubeForm->addRow(QStringLiteral("名前の形式"), nameTemplate_);
  page->addWidget(cube);

  auto* view = new QGroupBox(QStringLiteral("回転と補間"), this);
  auto* viewForm = new QFormLayout(view);
  yaw_ = AngleBox(view);
  yaw_->setObjectName(QStringLiteral("SpinBox_Yaw"));
  pitch_ = AngleBox(view);
  pitch_->setObjectName(QStringLiteral("SpinBox_Pitch"));
  roll_ = AngleBox(view);
  roll_->setObjectName(QStringLiteral("SpinBox_Roll"));
  filter_ = new QComboBox(view);
  filter_->setObjectName(QStringLiteral("ComboBox_Filter"));
  filter_->addItems(Filters());
  viewForm->addRow(QStringLiteral("ヨー（右へ）"), yaw_);
  viewForm->addRow(QStringLiteral("ピッチ（上へ）"), pitch_);
  viewForm->addRow(QStringLiteral("ロール"), roll_);
  viewForm->addRow(QStringLiteral("補間フィルター"), filter_);
  page->addWidget(view);

  auto* output = new QGroupBox(QStringLiteral("出力"), this);
  auto* outputLayout = new QVBoxLayout(output);
  stripMetadata_ =
      new QCheckBox(QStringLiteral("メタデータとカラープロファイルを書き出さない"), output);
  stripMetadata_->setObjectName(QStringLiteral("CheckBox_StripMetadata"));
  outputLayout->addWidget(stripMetadata_);
  // The types beyond the tabs' BMP/JPEG/TIFF groups; the first item keeps
  // the tab's choice.
  auto* typeRow = new QFormLayout();
  outputType_ = new QComboBox(output);
  outputType_->setObjectName(QStringLiteral("ComboBox_OutputType"));
  outputType_->addItems(OutputTypes());
  outputType_->setItemText(0, QStringLiteral("各タブの選択のとおり"));
  typeRow->addRow(QStringLiteral("画像の種類"), outputType_);
  outputLayout->addLayout(typeRow);
  page->addWidget(output);
  page->addStretch(1);
}

void TOptionsPage::ApplyTo(JobOptions& options) const {
  options.arrangement.preset = preset_->currentText().toStdString();
  options.arrangement.layout = layout_->currentText().toStdString();
  options.arrangement.nameTemplate = nameTemplate_->text().trimmed().toStdString();
  options.resample.yaw = yaw_->value();
  options.resample.pitch = pitch_->value();
  options.resample.roll = roll_->value();
  options.resample.filter = static_cast<ResampleFilter>(std::max(0, filter_->currentIndex()));
  options.output.stripMetadata = stripMetadata_->isChecked();
  options.output.type = OutputTypes().value(std::max(0, outputType_->currentIndex())).toStdString();
}

void TOptionsPage::SetFrom(const JobOptions& options) {
  preset_->setCurrentIndex(IndexOr0(Presets(), options.arrangement.preset));
  layout_->setCurrentIndex(IndexOr0(Layouts(), options.arrangement.layout));
  nameTemplate_->setText(QString::fromStdString(options.arrangement.nameTemplate));
  yaw_->setValue(options.resample.yaw);
  pitch_->setValue(options.resample.pitch);
  roll_->setValue(options.resample.roll);
  filter_->setCurrentIndex(static_cast<int>(options.resample.filter));
  stripMetadata_->setChecked(options.output.stripMetadata);
  outputType_->setCurrentIndex(IndexOr0(OutputTypes(), options.output.type));
}

void AddOptionsSettingsItems(TRegManager& manager) {
  struct Entry {
    const char* name;
    const char* defaultValue;
  };
  static constexpr Entry kItems[] = {
      {kPresetKey, "design"}, {kLayoutKey, "faces"},
      {kNameTemplateKey, ""}, {kYawKey, "0"},
      {kPitchKey, "0"},       {kRollKey, "0"},
      {kFilterKey, "design"}, {kStripMetadataKey, "False"},
      {kOutputTypeKey, ""},
  };
  for (const Entry& item : kItems) {
    manager.RegItems().Add(item.name, kWindowSettingsSection, item.name, item.defaultValue);
  }
}

JobOptions LoadJobOptions(TRegManager& manager) {
  JobOptions options;
  // Unknown names (a newer or hand-edited ini) fall back to the design's.
  const auto known = [](const QStringList& names, const std::string& value) {
    return names.value(IndexOr0(names, value)).toStdString();
  };
  options.arrangement.preset =
      known(TOptionsPage::Presets(), manager.ItemFiler(kPresetKey).ReadString());
  options.arrangement.layout =
      known(TOptionsPage::Layouts(), manager.ItemFiler(kLayoutKey).ReadString());
  options.arrangement.nameTemplate = manager.ItemFiler(kNameTemplateKey).ReadString();
  options.resample.yaw = ParseAngle(manager.ItemFiler(kYawKey).ReadString());
  options.resample.pitch = ParseAngle(manager.ItemFiler(kPitchKey).ReadString());
  options.resample.roll = ParseAngle(manager.ItemFiler(kRollKey).ReadString());
  options.resample.filter = static_cast<ResampleFilter>(
      IndexOr0(TOptionsPage::Filters(), manager.ItemFiler(kFilterKey).ReadString()));
  options.output.stripMetadata = manager.ItemFiler(kStripMetadataKey).ReadBool();
  options.output.type =
      known(TOptionsPage::OutputTypes(), manager.ItemFiler(kOutputTypeKey).ReadString());
  return options;
}

void SaveJobOptions(TRegManager& manager, const JobOptions& options) {
  // A key at its default is not written (and an old one goes), so the ini of
  // a window whose new options were never changed is the classic ini.
  const std::pair<const char*, std::string> values[] = {
      {kPresetKey, options.arrangement.preset},
      {kLayoutKey, options.arrangement.layout},
      {kNameTemplateKey, options.arrangement.nameTemplate},
      {kYawKey, AngleText(options.resample.yaw)},
      {kPitchKey, AngleText(options.resample.pitch)},
      {kRollKey, AngleText(options.resample.roll)},
      {kFilterKey,
       TOptionsPage::Filters().value(static_cast<int>(options.resample.filter)).toStdString()},
      {kStripMetadataKey, options.output.stripMetadata ? "1" : "0"},
      {kOutputTypeKey, options.output.type},
  };
  const JobOptions defaults;
  const std::string defaultsText[] = {defaults.arrangement.preset,
                                      defaults.arrangement.layout,
                                      defaults.arrangement.nameTemplate,
                                      AngleText(0),
                                      AngleText(0),
                                      AngleText(0),
                                      TOptionsPage::Filters().value(0).toStdString(),
                                      "0",
                                      ""};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    TRegFiler& filer = manager.ItemFiler(values[i].first);
    if (values[i].second == defaultsText[i]) {
      filer.DeleteKey(kWindowSettingsSection, values[i].first);
    } else {
      filer.WriteString(values[i].second);
    }
  }
}

}  // namespace skyfold
