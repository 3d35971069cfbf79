#include "ui/SjisText.h"

#include "mime/Charset.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>

namespace {

// Qt takes the encoding from ICU, which knows code page 932 under this name.
constexpr const char* kCodePage932 = "windows-31j";

// ICU's code page 932 converter writes this unassigned pair for a character it cannot map.
constexpr unsigned char kSubstituteLead = 0xFC;
constexpr unsigned char kSubstituteTrail = 0xFC;

bool IsLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool EndsInLeadByte(std::string_view sjis) {
    std::size_t i = 0;
    while (i < sjis.size()) {
        if (IsLeadByte(static_cast<unsigned char>(sjis[i]))) {
            if (i + 1 == sjis.size())
                return true;
            i += 2;
        } else {
            ++i;
        }
    }
    return false;
}

} // namespace

QString FromSjis(std::string_view sjis) {
    // Code page 932 keeps ASCII as it is; most texts shown (numbers, Message-IDs, English
    // subjects) need no converter at all.
    if (std::all_of(sjis.begin(), sjis.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(sjis.data(), static_cast<qsizetype>(sjis.size()));
    // Opening the converter costs more than converting a line, so one serves every call.
    thread_local QStringDecoder decoder(kCodePage932);
    decoder.resetState();
    QString text = decoder.decode(QByteArrayView(sjis.data(), static_cast<qsizetype>(sjis.size())));
    // The decoder keeps a lead byte at the end back for input that never comes; a text cut
    // inside its last character shows that as U+FFFD like any other broken byte.
    if (EndsInLeadByte(sjis))
        text += QChar(QChar::ReplacementCharacter);
    return text;
}

std::string ToSjis(const QString& text) {
    QString mapped = text;
    for (QChar& ch : mapped)
        ch = QChar(static_cast<char16_t>(ToCodePage932Form(ch.unicode())));

    QStringEncoder encoder(kCodePage932);
    const QByteArray encoded = encoder.encode(mapped);

    std::string out;
    out.reserve(static_cast<std::size_t>(encoded.size()));
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const auto c = static_cast<unsigned char>(encoded[i]);
        if (IsLeadByte(c) && i + 1 < encoded.size()) {
            const auto t = static_cast<unsigned char>(encoded[i + 1]);
            if (c == kSubstituteLead && t == kSubstituteTrail)
                out += '?';
            else {
                out += static_cast<char>(c);
                out += static_cast<char>(t);
            }
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
