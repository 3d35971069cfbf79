#include "ui/SjisText.h"

#include "support/QtTestStrings.h"

#include <string>

class SjisTextTest : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void toSjis_data();
    void toSjis();
    void fromSjis_data();
    void fromSjis();
};

// Texts that convert both ways: Unicode (as UTF-8 here) and code page 932 bytes.
void SjisTextTest::roundTrip_data() {
    QTest::addColumn<QString>("unicode");
    QTest::addColumn<std::string>("sjis");

    QTest::newRow("empty") << QString() << std::string();
    QTest::newRow("ascii") << QStringLiteral("fj.comp.lang") << std::string("fj.comp.lang");
    QTest::newRow("backslash and tilde stay single bytes")
        << QStringLiteral("C:\\~x") << std::string("C:\\~x");
    QTest::newRow("kanji") << QString::fromUtf8("日本語")
                           << std::string("\x93\xfa\x96\x7b\x8c\xea");
    QTest::newRow("kana with trail 5C")
        << QString::fromUtf8("ソ表") << std::string("\x83\x5c\x95\x5c");
    QTest::newRow("halfwidth katakana") << QString::fromUtf8("ﾎｰﾑ") << std::string("\xce\xb0\xd1");
    QTest::newRow("fullwidth tilde") << QString::fromUtf8("～") << std::string("\x81\x60");
    QTest::newRow("fullwidth minus") << QString::fromUtf8("－") << std::string("\x81\x7c");
    QTest::newRow("parallel") << QString::fromUtf8("∥") << std::string("\x81\x61");
    QTest::newRow("fullwidth cent pound not")
        << QString::fromUtf8("￠￡￢") << std::string("\x81\x91\x81\x92\x81\xca");
    QTest::newRow("horizontal bar") << QString::fromUtf8("―") << std::string("\x81\x5c");
    QTest::newRow("nec circled digit") << QString::fromUtf8("①") << std::string("\x87\x40");
    QTest::newRow("nec roman numeral") << QString::fromUtf8("Ⅰ") << std::string("\x87\x54");
    QTest::newRow("ibm extension") << QString::fromUtf8("髙") << std::string("\xfb\xfc");
    QTest::newRow("mixed") << QString::fromUtf8("Re: 〒100 テスト")
                           << std::string("Re: \x81\xa7"
                                          "100 \x83\x65\x83\x58\x83\x67");
}

void SjisTextTest::roundTrip() {
    QFETCH(QString, unicode);
    QFETCH(std::string, sjis);
    QCOMPARE(ToSjis(unicode), sjis);
    QCOMPARE(FromSjis(sjis), unicode);
}

// One way: look-alikes from input methods and characters Shift_JIS cannot hold.
void SjisTextTest::toSjis_data() {
    QTest::addColumn<QString>("unicode");
    QTest::addColumn<std::string>("sjis");

    QTest::newRow("wave dash") << QString(QChar(0x301C)) << std::string("\x81\x60");
    QTest::newRow("minus sign") << QString(QChar(0x2212)) << std::string("\x81\x7c");
    QTest::newRow("double vertical line") << QString(QChar(0x2016)) << std::string("\x81\x61");
    QTest::newRow("cent sign") << QString(QChar(0x00A2)) << std::string("\x81\x91");
    QTest::newRow("pound sign") << QString(QChar(0x00A3)) << std::string("\x81\x92");
    QTest::newRow("not sign") << QString(QChar(0x00AC)) << std::string("\x81\xca");
    QTest::newRow("em dash") << QString(QChar(0x2014)) << std::string("\x81\x5c");
    QTest::newRow("in a sentence") << QString::fromUtf8("10〜20−5")
                                   << std::string("10\x81\x60"
                                                  "20\x81\x7c"
                                                  "5");
    QTest::newRow("hangul") << QString::fromUtf8("a한b") << std::string("a?b");
    QTest::newRow("emoji is one character") << QString::fromUtf8("x😀y") << std::string("x?y");
    QTest::newRow("two unmappable") << QString::fromUtf8("한글") << std::string("??");
}

void SjisTextTest::toSjis() {
    QFETCH(QString, unicode);
    QFETCH(std::string, sjis);
    QCOMPARE(ToSjis(unicode), sjis);
}

// One way: byte sequences that are not whole Shift_JIS characters.
void SjisTextTest::fromSjis_data() {
    QTest::addColumn<std::string>("sjis");
    QTest::addColumn<QString>("unicode");

    QTest::newRow("lead byte at the end") << std::string("a\x82") << QString::fromUtf8("a\uFFFD");
    QTest::newRow("bytes after a cut character")
        << std::string("\x93\xfa\x96") << QString::fromUtf8("日\uFFFD");
    QTest::newRow("NUL inside") << std::string("a\0b", 3) << QString::fromUtf8("a\0b", 3);
}

void SjisTextTest::fromSjis() {
    QFETCH(std::string, sjis);
    QFETCH(QString, unicode);
    QCOMPARE(FromSjis(sjis), unicode);
}

QTEST_MAIN(SjisTextTest)
#include "SjisTextTest.moc"
