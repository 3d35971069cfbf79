#include "ui/CharsetText.h"

#include "mime/Charset.h"
#include "mime/Codec.h"
#include "mime/HeaderWords.h"
#include "ui/SjisText.h"

#include <QStringDecoder>
#include <map>

QString FromCharset(std::string_view bytes, const std::string& charset) {
    if (charset.empty() || charset == kCharsetSjis)
        return FromSjis(bytes);
    if (charset == kCharsetJis)
        return FromSjis(PreparePartText(bytes, charset, CTransfer::None));
    // Qt takes every canonical name from ICU. Opening a converter costs more than converting a
    // label, so each charset keeps one.
    thread_local std::map<std::string, QStringDecoder, std::less<>> decoders;
    auto decoder = decoders.find(charset);
    if (decoder == decoders.end())
        decoder = decoders.emplace(charset, QStringDecoder(charset.c_str())).first;
    if (!decoder->second.isValid())
        return FromSjis(bytes);
    decoder->second.resetState();
    return decoder->second.decode(
        QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QString FromSjisHeader(std::string_view stored) {
    if (!HasEncodedWord(stored))
        return FromSjis(stored);
    QString text;
    for (const CHeaderRun& run : SplitHeaderWords(stored))
        text += FromCharset(run.m_bytes, run.m_charset);
    return text;
}
