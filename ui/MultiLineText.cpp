#include "ui/MultiLineText.h"

#include "ui/SjisText.h"

QString FromSjisLines(std::string_view sjis) {
    QString text = FromSjis(sjis);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

std::string ToSjisLines(const QString& text) {
    QString lines = text;
    // A rich text edit separates paragraphs with U+2029.
    lines.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    lines.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return ToSjis(lines);
}
