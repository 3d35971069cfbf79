#include "ui/CharsetText.h"

#include "mime/Charset.h"
#include "ui/HeaderField.h"
#include "ui/TreeItems.h"

#include "support/QtTestStrings.h"

#include <QLineEdit>
#include <QStringDecoder>
#include <QTreeWidgetItem>
#include <string>

class CharsetTextTest : public QObject {
    Q_OBJECT

private slots:
    void fromCharset_data();
    void fromCharset();
    void everyKnownCharsetHasADecoder();
    void fromSjisHeader_data();
    void fromSjisHeader();
    void headerItemKeepsTheStoredBytes();
    void headerFieldGivesTheStoredBytesUntilEdited();
};

void CharsetTextTest::fromCharset_data() {
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<std::string>("charset");
    QTest::addColumn<QString>("unicode");

    auto u = [](const char* utf8) { return QString::fromUtf8(utf8); };
    QTest::newRow("utf-8") << std::string("\xe6\x97\xa5\xe6\x9c\xac") << std::string("UTF-8")
                           << u("日本");
    QTest::newRow("euc-jp") << std::string("\xc6\xfc\xcb\xdc\x8e\xb1") << std::string("EUC-JP")
                            << u("日本ｱ");
    QTest::newRow("windows-1252") << std::string("caf\xe9 \x80") << std::string("windows-1252")
                                  << u("café €");
    QTest::newRow("iso-8859-15") << std::string("\xa4 \xe9") << std::string("ISO-8859-15")
                                 << u("€ é");
    QTest::newRow("windows-1251") << std::string("\xcf\xf0\xe8") << std::string("windows-1251")
                                  << u("При");
    QTest::newRow("koi8-r") << std::string("\xf0\xd2\xc9") << std::string("KOI8-R") << u("При");
    QTest::newRow("gbk") << std::string("\xd6\xd0\xce\xc4") << std::string("GBK") << u("中文");
    QTest::newRow("big5") << std::string("\xa4\xa4\xa4\xe5") << std::string("Big5") << u("中文");
    QTest::newRow("euc-kr") << std::string("\xc7\xd1\xb1\xdb") << std::string("EUC-KR")
                            << u("한글");
    // The program's own reading of Shift_JIS and ISO-2022-JP: JIS 2141 is U+FF5E.
    QTest::newRow("shift_jis") << std::string("\x81\x60") << std::string("Shift_JIS") << u("～");
    QTest::newRow("empty charset") << std::string("\x93\xfa") << std::string() << u("日");
    QTest::newRow("iso-2022-jp") << std::string("\x1b$B!A\x1b(Bx") << std::string("ISO-2022-JP")
                                 << u("～x");
    QTest::newRow("invalid utf-8") << std::string("a\xff"
                                                  "b")
                                   << std::string("UTF-8")
                                   << u("a\xef\xbf\xbd"
                                        "b");
    QTest::newRow("cut utf-8") << std::string("a\xe6\x97") << std::string("UTF-8") << u("a");
}

void CharsetTextTest::fromCharset() {
    QFETCH(std::string, bytes);
    QFETCH(std::string, charset);
    QFETCH(QString, unicode);
    QCOMPARE(FromCharset(bytes, charset), unicode);
    // A converter kept for the next call starts afresh.
    QCOMPARE(FromCharset(bytes, charset), unicode);
}

void CharsetTextTest::everyKnownCharsetHasADecoder() {
    for (const std::string& charset : KnownCharsets()) {
        const QByteArray name = charset == kCharsetSjis ? QByteArray("windows-31j")
                                                        : QByteArray::fromStdString(charset);
        QVERIFY2(QStringDecoder(name.constData()).isValid(), charset.c_str());
        QCOMPARE(FromCharset("abc", charset), QStringLiteral("abc"));
    }
}

void CharsetTextTest::fromSjisHeader_data() {
    QTest::addColumn<std::string>("stored");
    QTest::addColumn<QString>("shown");

    auto u = [](const char* utf8) { return QString::fromUtf8(utf8); };
    QTest::newRow("stored text") << std::string("Re: \x93\xfa\x96\x7b") << u("Re: 日本");
    QTest::newRow("utf-8 subject")
        << std::string("Re: =?UTF-8?B?5pel5pys6Kqe44Gu6KiY5LqL?=") << u("Re: 日本語の記事");
    QTest::newRow("words split across a fold")
        << std::string("=?UTF-8?B?5pel5pys?==?UTF-8?B?6Kqe?=") << u("日本語");
    QTest::newRow("euc-jp from") << std::string("=?EUC-JP?B?u7PFxA==?= <y@example.jp>")
                                 << u("山田 <y@example.jp>");
    QTest::newRow("windows-1252 q")
        << std::string("=?windows-1252?Q?Caf=E9_cr=E8me?=") << u("Café crème");
    QTest::newRow("utf-8 next to stored japanese")
        << std::string("=?UTF-8?B?5pel5pys?= \x8c\xea") << u("日本 語");
    // The examples of RFC 2047, section 8.
    QTest::newRow("rfc (a)") << std::string("(=?ISO-8859-1?Q?a?=)") << u("(a)");
    QTest::newRow("rfc (a b)") << std::string("(=?ISO-8859-1?Q?a?= b)") << u("(a b)");
    QTest::newRow("rfc (ab) blank")
        << std::string("(=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=)") << u("(ab)");
    QTest::newRow("rfc (ab) blanks")
        << std::string("(=?ISO-8859-1?Q?a?=  =?ISO-8859-1?Q?b?=)") << u("(ab)");
    QTest::newRow("rfc (ab) fold")
        << std::string("(=?ISO-8859-1?Q?a?=\r\n    =?ISO-8859-1?Q?b?=)") << u("(ab)");
    QTest::newRow("rfc (a b) underscore") << std::string("(=?ISO-8859-1?Q?a_b?=)") << u("(a b)");
    QTest::newRow("rfc (a b) across charsets")
        << std::string("(=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=)") << u("(a b)");
    QTest::newRow("unknown charset stays")
        << std::string("=?x-klingon?Q?a?= \x93\xfa") << u("=?x-klingon?Q?a?= 日");
}

void CharsetTextTest::fromSjisHeader() {
    QFETCH(std::string, stored);
    QFETCH(QString, shown);
    QCOMPARE(FromSjisHeader(stored), shown);
}

void CharsetTextTest::headerItemKeepsTheStoredBytes() {
    QTreeWidgetItem item;
    const std::string label = "7 =?UTF-8?B?5pel5pys?= \x8c\xea";
    SetHeaderItemText(&item, label);
    QCOMPARE(item.text(0), QString::fromUtf8("7 日本 語"));
    QCOMPARE(TreeItemText(&item), label);
}

void CharsetTextTest::headerFieldGivesTheStoredBytesUntilEdited() {
    QLineEdit field;
    // Not set as a header value: the text converted.
    field.setText(QString::fromUtf8("日本"));
    QCOMPARE(HeaderFieldText(&field), std::string("\x93\xfa\x96\x7b"));

    const std::string stored = "Re: =?UTF-8?Q?caf=C3=A9?= \x93\xfa";
    SetHeaderFieldText(&field, stored);
    QCOMPARE(field.text(), QString::fromUtf8("Re: café 日"));
    QCOMPARE(HeaderFieldText(&field), stored);
    // Edited: taken as typed; é is not in Shift_JIS.
    field.setText(field.text() + QStringLiteral("!"));
    QCOMPARE(HeaderFieldText(&field), std::string("Re: caf? \x93\xfa!"));
    // Back to what was shown: the stored bytes again.
    field.setText(QString::fromUtf8("Re: café 日"));
    QCOMPARE(HeaderFieldText(&field), stored);
    // A new value replaces the old one.
    SetHeaderFieldText(&field, "plain");
    QCOMPARE(HeaderFieldText(&field), std::string("plain"));
}

QTEST_MAIN(CharsetTextTest)
#include "CharsetTextTest.moc"
