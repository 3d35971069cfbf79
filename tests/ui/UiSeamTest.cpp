#include "ui/UiSeam.h"
#include "ui/ScriptedUi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(MsgButtons)
Q_DECLARE_METATYPE(MsgAnswer)

class UiSeamTest : public QObject {
    Q_OBJECT

private slots:
    void scriptedAnswersAndRecords();
    void scriptedDefaults_data();
    void scriptedDefaults();
    void scriptedFileDialogsAndHelp();
    void scopeRestoresThePreviousSeam();
    void qtMessageBox_data();
    void qtMessageBox();
};

void UiSeamTest::scriptedAnswersAndRecords() {
    CScriptedUi ui;
    CUiSeamScope scope(ui);
    ui.QueueAnswer(MsgAnswer::No);
    ui.QueueAnswer(MsgAnswer::Cancel);

    const QString first = QString::fromUtf8("サーバーに接続できません");
    QCOMPARE(ShowMessage(nullptr, first, MsgButtons::YesNo, MsgIcon::Question), MsgAnswer::No);
    QCOMPARE(Ui().MessageBox(nullptr, QStringLiteral("second"), QStringLiteral("Title"),
                             MsgButtons::OkCancel, MsgIcon::Warning),
             MsgAnswer::Cancel);

    QCOMPARE(ui.Messages(), (std::vector<QString>{first, QStringLiteral("second")}));
    const auto& r = ui.Requests();
    QCOMPARE(r.size(), size_t(2));
    QCOMPARE(r[0].caption, QStringLiteral("Quillo"));
    QCOMPARE(r[0].buttons, MsgButtons::YesNo);
    QCOMPARE(r[0].icon, MsgIcon::Question);
    QCOMPARE(r[1].caption, QStringLiteral("Title"));
    QCOMPARE(r[1].buttons, MsgButtons::OkCancel);
    QCOMPARE(r[1].icon, MsgIcon::Warning);
}

void UiSeamTest::scriptedDefaults_data() {
    QTest::addColumn<MsgButtons>("buttons");
    QTest::addColumn<MsgAnswer>("answer");
    QTest::newRow("ok") << MsgButtons::Ok << MsgAnswer::Ok;
    QTest::newRow("ok cancel") << MsgButtons::OkCancel << MsgAnswer::Ok;
    QTest::newRow("yes no") << MsgButtons::YesNo << MsgAnswer::Yes;
    QTest::newRow("yes no cancel") << MsgButtons::YesNoCancel << MsgAnswer::Yes;
}

void UiSeamTest::scriptedDefaults() {
    QFETCH(MsgButtons, buttons);
    QFETCH(MsgAnswer, answer);
    CScriptedUi ui;
    CUiSeamScope scope(ui);
    QCOMPARE(ShowMessage(nullptr, QStringLiteral("x"), buttons), answer);
}

void UiSeamTest::scriptedFileDialogsAndHelp() {
    CScriptedUi ui;
    CUiSeamScope scope(ui);
    ui.QueueFileName(QStringLiteral("/tmp/draft.txt"));
    QCOMPARE(Ui().GetOpenFileName(nullptr, QStringLiteral("open"), {}, {}),
             QStringLiteral("/tmp/draft.txt"));
    QCOMPARE(Ui().GetSaveFileName(nullptr, QStringLiteral("save"), {}, {}), QString());
    QVERIFY(Ui().StartHelp(QStringLiteral("quillo.hlp")));
    ui.SetHelpResult(false);
    QVERIFY(!Ui().StartHelp(QStringLiteral("quillo.hlp")));

    const auto& r = ui.Requests();
    QCOMPARE(r.size(), size_t(4));
    QCOMPARE(r[0].kind, CScriptedUi::Kind::OpenFile);
    QCOMPARE(r[0].caption, QStringLiteral("open"));
    QCOMPARE(r[1].kind, CScriptedUi::Kind::SaveFile);
    QCOMPARE(r[2].kind, CScriptedUi::Kind::Help);
    QCOMPARE(r[2].text, QStringLiteral("quillo.hlp"));
    QVERIFY(ui.Messages().empty());
}

void UiSeamTest::scopeRestoresThePreviousSeam() {
    CUiSeam* const qtDialogs = &Ui();
    CScriptedUi outer;
    {
        CUiSeamScope a(outer);
        QCOMPARE(&Ui(), static_cast<CUiSeam*>(&outer));
        CScriptedUi inner;
        {
            CUiSeamScope b(inner);
            QCOMPARE(&Ui(), static_cast<CUiSeam*>(&inner));
        }
        QCOMPARE(&Ui(), static_cast<CUiSeam*>(&outer));
    }
    QCOMPARE(&Ui(), qtDialogs);
}

// The Qt message box: which buttons it offers, and what pressing one (or Escape) answers.
void UiSeamTest::qtMessageBox_data() {
    QTest::addColumn<MsgButtons>("buttons");
    QTest::addColumn<QStringList>("expectedButtons");
    QTest::addColumn<QString>("press"); // a button's text, or "Escape"
    QTest::addColumn<MsgAnswer>("answer");

    const QString ok = QStringLiteral("OK");
    const QString cancel = QString::fromUtf8("キャンセル");
    const QString yes = QString::fromUtf8("はい(&Y)");
    const QString no = QString::fromUtf8("いいえ(&N)");
    const QString esc = QStringLiteral("Escape");
    QTest::newRow("ok") << MsgButtons::Ok << QStringList{ok} << ok << MsgAnswer::Ok;
    QTest::newRow("ok escape") << MsgButtons::Ok << QStringList{ok} << esc << MsgAnswer::Ok;
    QTest::newRow("okcancel cancel")
        << MsgButtons::OkCancel << QStringList{ok, cancel} << cancel << MsgAnswer::Cancel;
    QTest::newRow("okcancel escape")
        << MsgButtons::OkCancel << QStringList{ok, cancel} << esc << MsgAnswer::Cancel;
    QTest::newRow("yesno yes") << MsgButtons::YesNo << QStringList{yes, no} << yes
                               << MsgAnswer::Yes;
    QTest::newRow("yesno no") << MsgButtons::YesNo << QStringList{yes, no} << no << MsgAnswer::No;
    QTest::newRow("yesno escape") << MsgButtons::YesNo << QStringList{yes, no} << esc
                                  << MsgAnswer::No;
    QTest::newRow("yesnocancel no")
        << MsgButtons::YesNoCancel << QStringList{yes, no, cancel} << no << MsgAnswer::No;
    QTest::newRow("yesnocancel escape")
        << MsgButtons::YesNoCancel << QStringList{yes, no, cancel} << esc << MsgAnswer::Cancel;
}

void UiSeamTest::qtMessageBox() {
    QFETCH(MsgButtons, buttons);
    QFETCH(QStringList, expectedButtons);
    QFETCH(QString, press);
    QFETCH(MsgAnswer, answer);

    const QString text = QString::fromUtf8("記事を送信しますか？");
    QString shownText;
    QString shownTitle;
    QStringList shownButtons;
    QTimer probe;
    probe.setInterval(20);
    connect(&probe, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        probe.stop();
        shownText = box->text();
        shownTitle = box->windowTitle();
        QAbstractButton* target = nullptr;
        for (QAbstractButton* b : box->buttons()) {
            shownButtons << b->text();
            if (b->text() == press)
                target = b;
        }
        if (target)
            target->click();
        else
            QTest::keyClick(box, Qt::Key_Escape);
    });
    probe.start();

    QCOMPARE(ShowMessage(nullptr, text, buttons, MsgIcon::Question), answer);
    QCOMPARE(shownText, text);
    QCOMPARE(shownTitle, QStringLiteral("Quillo"));
    shownButtons.sort();
    expectedButtons.sort();
    QCOMPARE(shownButtons, expectedButtons);
}

QTEST_MAIN(UiSeamTest)
#include "UiSeamTest.moc"
