// The window icon: the cube net over a globe of skyfold.svg. Drawn by hand
// when Qt has no SVG reader, so the icon does not depend on that plugin.
#pragma once

#include <QIcon>

namespace skyfold {

QIcon AppIcon();

}  // namespace skyfold
