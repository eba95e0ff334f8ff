// The nine user choices the main window stores between runs: one table
// shared by the window and its tests.
#pragma once

#include <string>

namespace skyfold {

class TRegManager;

// Section of all nine items.
inline constexpr const char* kWindowSettingsSection = "data";

// Appends the nine items (Name = Ident, Section "data") in collection order:
// CubeImageType "1", CheckOverWrite "True", TopRotate "False",
// CubeImageSize "4", CubeSuffix "0", ChangeLeftRight "False",
// SameFolder "True", PanoImageType "2", PanoImageSize "5".
void AddWindowSettingsItems(TRegManager& manager);

// The ini file beside an executable: its path with the extension replaced by
// ".ini" (/opt/skyfold/bin/skyfold → /opt/skyfold/bin/skyfold.ini).
std::string SettingsFileNameFor(const std::string& executablePath);

}  // namespace skyfold
