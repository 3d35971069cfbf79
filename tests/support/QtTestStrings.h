#pragma once

#include <QByteArray>
#include <QTest>
#include <string>

Q_DECLARE_METATYPE(std::string)

// Failure messages show Shift_JIS data as text and hex bytes.
namespace QTest {
template <> inline char* toString(const std::string& bytes) {
    const QByteArray b = QByteArray::fromStdString(bytes);
    return qstrdup(("\"" + b.left(200) + "\" [" + b.left(200).toHex(' ') + "]").constData());
}
} // namespace QTest
