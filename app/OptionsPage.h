// TOptionsPage: the window's fourth tab, the job options beyond the design's
// controls (face arrangement, rotation and filter, output). At its defaults
// every job is the design's job. Stored under keys after the design's nine.
#pragma once

#include <QWidget>

#include "filers/JobOptions.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;

namespace skyfold {

class TRegManager;

class TOptionsPage : public QWidget {
  Q_OBJECT

 public:
  explicit TOptionsPage(QWidget* parent = nullptr);

  // The names offered, in the order of their combo boxes; the first is the default.
  static const QStringList& Presets();
  static const QStringList& Layouts();
  static const QStringList& Filters();
  // "" (the tab's own type) then the registered output types.
  static const QStringList& OutputTypes();

  void ApplyTo(JobOptions& options) const;
  void SetFrom(const JobOptions& options);

  QComboBox* PresetBox() const { return preset_; }
  QComboBox* LayoutBox() const { return layout_; }
  QComboBox* FilterBox() const { return filter_; }
  QLineEdit* NameTemplateEdit() const { return nameTemplate_; }
  QDoubleSpinBox* YawBox() const { return yaw_; }
  QDoubleSpinBox* PitchBox() const { return pitch_; }
  QDoubleSpinBox* RollBox() const { return roll_; }
  QCheckBox* StripMetadataBox() const { return stripMetadata_; }
  QComboBox* OutputTypeBox() const { return outputType_; }

 private:
  QComboBox* preset_;
  QComboBox* layout_;
  QComboBox* filter_;
  QLineEdit* nameTemplate_;
  QDoubleSpinBox* yaw_;
  QDoubleSpinBox* pitch_;
  QDoubleSpinBox* roll_;
  QCheckBox* stripMetadata_;
  QComboBox* outputType_;
};

// The options' settings items, added after the design's nine.
void AddOptionsSettingsItems(TRegManager& manager);
// Reads and writes the options' items (an ini without them gives the defaults).
JobOptions LoadJobOptions(TRegManager& manager);
void SaveJobOptions(TRegManager& manager, const JobOptions& options);

}  // namespace skyfold
