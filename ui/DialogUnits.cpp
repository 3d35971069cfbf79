#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace {

constexpr const char* kDialogFontFamily = "Noto Sans CJK JP";
constexpr int kDialogFontPoints = 9;

} // namespace

QRect DialogUnitsToPixels(const QFont& font, const QRect& du) {
    const QFontMetrics fm(font);
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int baseX = (letters / 26 + 1) / 2;
    const int baseY = fm.height();
    return QRect(du.x() * baseX / 4, du.y() * baseY / 8, du.width() * baseX / 4,
                 du.height() * baseY / 8);
}

QFont DialogFont() {
    QFont font(QString::fromUtf8(kDialogFontFamily), kDialogFontPoints);
    font.setStyleHint(QFont::SansSerif);
    return font;
}
