// The settings file a save of the window's nine defaults produces in a new
// file: section "data", the keys in save order.
#pragma once

namespace skyfold::test {

inline constexpr const char* kDefaultWindowSettingsIni =
    "[data]\n"
    "CubeImageType=1\n"
    "CubeImageSize=4\n"
    "CheckOverWrite=1\n"
    "TopRotate=0\n"
    "CubeSuffix=0\n"
    "ChangeLeftRight=0\n"
    "SameFolder=1\n"
    "PanoImageSize=5\n"
    "PanoImageType=2\n";

}  // namespace skyfold::test
