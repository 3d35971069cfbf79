#pragma once

#include <QFont>
#include <QRect>

// Dialogs are laid out in dialog units: a horizontal unit is a quarter of the dialog font's
// average character width, a vertical one an eighth of its height.

// The rectangle in pixels for the font.
QRect DialogUnitsToPixels(const QFont& font, const QRect& dialogUnits);

// The font of the program's dialogs: a Japanese face at the size dialogs use.
QFont DialogFont();
