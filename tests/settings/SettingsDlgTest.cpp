// The settings window offscreen: its controls, the enable rule of "設定", and what it reads from
// and writes to the settings file.

#include "settings/SettingsDlg.h"

#include "settings/ProfileFile.h"
#include "settings/UserSettings.h"
#include "support/TestDir.h"

#include "support/QtTestStrings.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <string>

namespace {

// 山田太郎, 署名 and ﾃｽﾄ in Shift_JIS.
const std::string kSjisName = "\x8eR\x93\x63\x91\xbe\x98Y";
const std::string kSjisSignature = "\x8f\x90\x96\xbc";
const std::string kSjisHalfWidth = "\xc3\xbd\xc4";

} // namespace

class SettingsDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void captionsFitTheirControls();
    void opensWithTheStoredValues();
    void enableRule_data();
    void enableRule();
    void multiLineJapaneseSignatureRoundTrips();
    void longSignatureIsShownAndStoredWhole();
    void escapeWithoutHexDigitsIsShownAsStored();
    void cancelWritesNothing();

private:
    std::string Ini() const { return *m_dir / "quillo.ini"; }
    void Open() {
        m_dlg = std::make_unique<CSettingsDlg>(Ini());
        m_dlg->show();
    }
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    QLineEdit* Name() const { return Control<QLineEdit>(CSettingsDlg::IDC_NAME); }
    QLineEdit* Email() const { return Control<QLineEdit>(CSettingsDlg::IDC_EMAIL); }
    QPlainTextEdit* Signature() const {
        return Control<QPlainTextEdit>(CSettingsDlg::IDC_SIGNATURE);
    }
    QPushButton* Ok() const { return Control<QPushButton>(CSettingsDlg::IDC_OK); }

    std::unique_ptr<TestDir> m_dir;
    std::unique_ptr<CSettingsDlg> m_dlg;
};

void SettingsDlgTest::init() {
    m_dir = std::make_unique<TestDir>();
}

void SettingsDlgTest::cleanup() {
    m_dlg.reset();
    m_dir.reset();
}

void SettingsDlgTest::controls_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::newRow("name") << 1013 << "QLineEdit"
                          << "";
    QTest::newRow("email") << 1001 << "QLineEdit"
                           << "";
    QTest::newRow("signature") << 1014 << "QPlainTextEdit"
                               << "";
    QTest::newRow("set") << 1 << "QPushButton" << QString::fromUtf8("設定");
    QTest::newRow("cancel") << 2 << "QPushButton" << QString::fromUtf8("ｷｬﾝｾﾙ");
}

void SettingsDlgTest::controls() {
    QFETCH(int, id);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    Open();
    QCOMPARE(m_dlg->objectName(), QStringLiteral("131"));
    QCOMPARE(m_dlg->windowTitle(), QString::fromUtf8("環境設定"));
    QCOMPARE(m_dlg->minimumSize(), m_dlg->maximumSize());
    const QList<QWidget*> found = m_dlg->findChildren<QWidget*>(QString::number(id));
    QCOMPARE(found.size(), 1);
    QWidget* w = found.front();
    QVERIFY2(w->inherits(kind.toLatin1().constData()), w->metaObject()->className());
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        QCOMPARE(b->text(), caption);
        QCOMPARE(b->isDefault(), id == 1);
    }
    QVERIFY(m_dlg->rect().contains(w->geometry()));
    // Labels name the fields.
    QStringList labels;
    for (const QLabel* l : m_dlg->findChildren<QLabel*>())
        labels << l->text();
    QCOMPARE(labels, QStringList({QString::fromUtf8("名前"), QString::fromUtf8("メールアドレス"),
                                  QString::fromUtf8("署名")}));
}

void SettingsDlgTest::captionsFitTheirControls() {
    Open();
    for (QWidget* w : m_dlg->findChildren<QWidget*>()) {
        QString text;
        if (auto* b = qobject_cast<QPushButton*>(w))
            text = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            text = l->text();
        else
            continue;
        QVERIFY2(w->fontMetrics().horizontalAdvance(text) <= w->width(), qPrintable(text));
    }
}

void SettingsDlgTest::opensWithTheStoredValues() {
    QVERIFY(WriteWholeFile(Ini(), "[ENVIRONMENT]\nNAME=" + kSjisName +
                                      "\nEMAIL=taro@example.jp\nSIG=-- =0d=0a" + "=8f=90=96=bc\n"));
    Open();
    QCOMPARE(Name()->text(), QString::fromUtf8("山田太郎"));
    QCOMPARE(Email()->text(), QStringLiteral("taro@example.jp"));
    QCOMPARE(Signature()->toPlainText(), QString::fromUtf8("-- \n署名"));
    QVERIFY(Ok()->isEnabled());
}

void SettingsDlgTest::enableRule_data() {
    QTest::addColumn<QString>("stored"); // the section's lines
    QTest::addColumn<bool>("enabledAtStart");
    QTest::newRow("nothing stored") << "" << false;
    QTest::newRow("name only") << "NAME=Taro\n" << false;
    QTest::newRow("email only") << "EMAIL=t@x\n" << false;
    QTest::newRow("both") << "NAME=Taro\nEMAIL=t@x\n" << true;
    QTest::newRow("blanks count") << "NAME= \nEMAIL= \n" << true;
}

void SettingsDlgTest::enableRule() {
    QFETCH(QString, stored);
    QFETCH(bool, enabledAtStart);
    QVERIFY(WriteWholeFile(Ini(), "[ENVIRONMENT]\n" + stored.toStdString()));
    Open();
    QCOMPARE(Ok()->isEnabled(), enabledAtStart);

    // Typing: both fields need a character; the signature has no say.
    Name()->clear();
    Email()->clear();
    QVERIFY(!Ok()->isEnabled());
    QTest::keyClicks(Name(), QStringLiteral("T"));
    QVERIFY(!Ok()->isEnabled());
    QTest::keyClicks(Email(), QStringLiteral(" "));
    QVERIFY(Ok()->isEnabled());
    QTest::keyClick(Email(), Qt::Key_Backspace);
    QVERIFY(!Ok()->isEnabled());
    QTest::keyClicks(Email(), QStringLiteral("a"));
    Signature()->setPlainText(QString());
    QVERIFY(Ok()->isEnabled());
    QTest::keyClick(Name(), Qt::Key_Backspace);
    QVERIFY(!Ok()->isEnabled());
}

void SettingsDlgTest::multiLineJapaneseSignatureRoundTrips() {
    QVERIFY(WriteWholeFile(Ini(), "[NNTPREG10]\nSelected=0\n"));
    Open();
    Name()->setText(QString::fromUtf8("山田太郎"));
    Email()->setText(QStringLiteral("taro@example.jp"));
    Signature()->setPlainText(QString::fromUtf8("-- \n山田 太郎\n\nｱ=b"));
    QTest::mouseClick(Ok(), Qt::LeftButton);
    QCOMPARE(m_dlg->result(), int(QDialog::Accepted));

    // One line of printable ASCII without blanks; lines apart with CR LF; the rest of the file
    // kept.
    QCOMPARE(
        ReadWholeFile(Ini()),
        "[NNTPREG10]\nSelected=0\n[ENVIRONMENT]\nNAME=" + kSjisName +
            "\nEMAIL=taro@example.jp\nSIG=--=20=0d=0a=8eR=93c=20=91=be=98Y=0d=0a=0d=0a=b1=3db\n");

    Open();
    QCOMPARE(Name()->text(), QString::fromUtf8("山田太郎"));
    QCOMPARE(Signature()->toPlainText(), QString::fromUtf8("-- \n山田 太郎\n\nｱ=b"));
}

void SettingsDlgTest::longSignatureIsShownAndStoredWhole() {
    // 200 Japanese characters: 1,200 bytes escaped, past the old 1,023-byte cut.
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QString::fromUtf8("署");
    QVERIFY(WriteUserSettings(Ini(), {"Taro", "t@x", std::string()}));
    Open();
    Signature()->setPlainText(text + QStringLiteral("\nend"));
    QTest::mouseClick(Ok(), Qt::LeftButton);
    std::string sig;
    for (int i = 0; i < 200; ++i)
        sig += kSjisSignature.substr(0, 2);
    QCOMPARE(ReadUserSettings(Ini()).signature, sig + "\r\nend");

    Open();
    QCOMPARE(Signature()->toPlainText(), text + QStringLiteral("\nend"));
    QTest::mouseClick(Ok(), Qt::LeftButton);
    QCOMPARE(ReadUserSettings(Ini()).signature, sig + "\r\nend");
}

void SettingsDlgTest::escapeWithoutHexDigitsIsShownAsStored() {
    QVERIFY(WriteWholeFile(Ini(), "[ENVIRONMENT]\nSIG=a=zzb=4\n"));
    Open();
    QCOMPARE(Signature()->toPlainText(), QStringLiteral("a=zzb=4"));
}

void SettingsDlgTest::cancelWritesNothing() {
    const std::string before = "[ENVIRONMENT]\nNAME=Taro\nEMAIL=t@x\nSIG=x\n";
    QVERIFY(WriteWholeFile(Ini(), before));
    Open();
    Name()->setText(QStringLiteral("Other"));
    Signature()->setPlainText(QStringLiteral("changed"));
    QTest::mouseClick(Control<QPushButton>(CSettingsDlg::IDC_CANCEL), Qt::LeftButton);
    QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
    QCOMPARE(ReadWholeFile(Ini()), before);
    // The close box too.
    Open();
    Name()->setText(QStringLiteral("Other"));
    m_dlg->close();
    QCOMPARE(ReadWholeFile(Ini()), before);
}

QTEST_MAIN(SettingsDlgTest)
#include "SettingsDlgTest.moc"
