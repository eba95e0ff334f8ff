// Pictures of the window's three tabs and of the overwrite question, for
// checking the layout by eye (skyfold --screenshots DIR).
#pragma once

#include <QString>

namespace skyfold {

// Writes tab1.png, tab2.png, tab3.png and overwrite.png into dir; returns
// the process exit status (0 when all were written).
int WriteScreenshots(const QString& dir);

}  // namespace skyfold
