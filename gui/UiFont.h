#pragma once

#include <QFont>

// The font of both windows: MS PGothic where it is installed, else a Japanese font that is.
QFont uiFont(int pixelSize, bool bold = false);
