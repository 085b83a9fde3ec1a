#include "gui/UiFont.h"

#include <QStringList>

QFont uiFont(int pixelSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS PGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}
