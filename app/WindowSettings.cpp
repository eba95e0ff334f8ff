// The window's nine stored choices (ordinals of its enumerations and its
// check boxes), in the collection order the window relies on.
#include "app/WindowSettings.h"

#include "app/RegMng.h"
#include "imaging/PathUtils.h"

namespace skyfold {

void AddWindowSettingsItems(TRegManager& manager) {
  struct Entry {
    const char* name;
    const char* defaultValue;
  };
  static constexpr Entry kItems[] = {
      {"CubeImageType", "1"}, {"CheckOverWrite", "True"}, {"TopRotate", "False"},
      {"CubeImageSize", "4"}, {"CubeSuffix", "0"},        {"ChangeLeftRight", "False"},
      {"SameFolder", "True"}, {"PanoImageType", "2"},     {"PanoImageSize", "5"},
  };
  for (const Entry& item : kItems) {
    manager.RegItems().Add(item.name, kWindowSettingsSection, item.name, item.defaultValue);
  }
}

std::string SettingsFileNameFor(const std::string& executablePath) {
  return ChangeFileExt(executablePath, ".ini");
}

}  // namespace skyfold
