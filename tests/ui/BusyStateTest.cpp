#include "ui/BusyState.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>

#include <memory>
#include <optional>
#include <vector>

// A window with the kinds of controls the program's windows have, and its busy state.
struct TestWindow {
    TestWindow() {
        window.resize(400, 300);
        button = new QPushButton(QStringLiteral("go"), &window);
        button->setGeometry(10, 10, 80, 30);
        edit = new QLineEdit(&window);
        edit->setGeometry(100, 10, 150, 30);
        tree = new QTreeWidget(&window);
        tree->setGeometry(10, 50, 300, 200);
        for (const char* text : {"one", "two", "three"})
            tree->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromLatin1(text)}));
        shortcut = new QShortcut(QKeySequence(Qt::Key_F2), &window);
        shortcut->setContext(Qt::WindowShortcut);
        action = new QAction(QStringLiteral("menu"), &window);
        action->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
        action->setShortcutContext(Qt::WindowShortcut);
        window.addAction(action);
        window.setContextMenuPolicy(Qt::CustomContextMenu);
        state = std::make_unique<CBusyState>(
            &window, [this] { events.push_back("begin"); }, [this] { events.push_back("end"); },
            [this](int result) {
                events.push_back("close " + std::to_string(result));
                window.hide();
            });
        window.show();
    }

    void ClickItem(int row) const {
        QTreeWidgetItem* item = tree->topLevelItem(row);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualItemRect(item).center());
    }

    QWidget window;
    QPushButton* button;
    QLineEdit* edit;
    QTreeWidget* tree;
    QShortcut* shortcut;
    QAction* action;
    std::vector<std::string> events;
    std::unique_ptr<CBusyState> state;
};

class BusyStateTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void userInputIsHeldBack_data();
    void userInputIsHeldBack();
    void programCallsStillWork();
    void otherWindowsTakeInput();
    void scopesNest();
    void movedScopeEndsOnce();
    void closeWaitsForTheEnd_data();
    void closeWaitsForTheEnd();
    void cursorShowsTheBusyState();

private:
    std::unique_ptr<TestWindow> m_w;
};

void BusyStateTest::init() {
    m_w = std::make_unique<TestWindow>();
    QApplication::setActiveWindow(&m_w->window);
    QVERIFY(QTest::qWaitForWindowActive(&m_w->window));
}

void BusyStateTest::cleanup() {
    m_w.reset();
}

void BusyStateTest::userInputIsHeldBack_data() {
    QTest::addColumn<QString>("input");
    for (const char* input :
         {"button click", "button space key", "tree click", "tree key down", "edit typing",
          "shortcut", "action shortcut", "context menu", "tree wheel"})
        QTest::newRow(input) << QString::fromLatin1(input);
}

void BusyStateTest::userInputIsHeldBack() {
    // Each input is done once while busy (nothing happens) and once afterwards (it works), so
    // the test can see it work at all.
    QFETCH(QString, input);
    TestWindow& w = *m_w;
    w.tree->setCurrentItem(w.tree->topLevelItem(0));
    QSignalSpy clicked(w.button, &QPushButton::clicked);
    QSignalSpy shortcut(w.shortcut, &QShortcut::activated);
    QSignalSpy action(w.action, &QAction::triggered);
    QSignalSpy menu(&w.window, &QWidget::customContextMenuRequested);

    auto act = [&] {
        if (input == "button click") {
            QTest::mouseClick(w.button, Qt::LeftButton);
        } else if (input == "button space key") {
            w.button->setFocus();
            QTest::keyClick(w.button, Qt::Key_Space);
        } else if (input == "tree click") {
            w.ClickItem(2);
        } else if (input == "tree key down") {
            w.tree->setFocus();
            QTest::keyClick(w.tree, Qt::Key_Down);
        } else if (input == "edit typing") {
            w.edit->setFocus();
            QTest::keyClicks(w.edit, QStringLiteral("abc"));
        } else if (input == "shortcut") {
            w.tree->setFocus();
            QTest::keyClick(w.tree, Qt::Key_F2);
        } else if (input == "action shortcut") {
            w.tree->setFocus();
            QTest::keyClick(w.tree, Qt::Key_A, Qt::AltModifier);
        } else if (input == "context menu") {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(350, 20),
                                    w.window.mapToGlobal(QPoint(350, 20)));
            QApplication::sendEvent(&w.window, &event);
        } else if (input == "tree wheel") {
            const QPointF at(20, 20);
            QWheelEvent wheel(at, w.tree->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(w.tree->viewport(), &wheel);
        }
    };
    auto effects = [&] {
        return QStringList{QString::number(clicked.count()),
                           w.tree->currentItem() ? w.tree->currentItem()->text(0) : QString(),
                           w.edit->text(),
                           QString::number(shortcut.count()),
                           QString::number(action.count()),
                           QString::number(menu.count())};
    };
    // The wheel moves nothing in a short tree; give it something to scroll.
    if (input == "tree wheel")
        for (int i = 0; i < 200; ++i)
            w.tree->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::number(i)}));
    w.tree->doItemsLayout();
    QCoreApplication::processEvents();

    const QStringList before = effects();
    const int scrolled = w.tree->verticalScrollBar()->value();
    {
        const CBusyScope busy = w.state->Begin();
        QVERIFY(w.state->IsBusy());
        act();
        QCOMPARE(effects(), before);
        QCOMPARE(w.tree->verticalScrollBar()->value(), scrolled);
    }
    QVERIFY(!w.state->IsBusy());
    act();
    if (input == "tree wheel")
        QVERIFY(w.tree->verticalScrollBar()->value() != scrolled);
    else
        QVERIFY2(effects() != before, qPrintable(effects().join('|')));
    QVERIFY(!w.state->StopRequested());
    QCOMPARE(w.events, (std::vector<std::string>{"begin", "end"}));
}

void BusyStateTest::programCallsStillWork() {
    TestWindow& w = *m_w;
    QSignalSpy current(w.tree, &QTreeWidget::currentItemChanged);
    QSignalSpy clicked(w.button, &QPushButton::clicked);
    const CBusyScope busy = w.state->Begin();
    // What the operation itself does to the window goes through.
    w.tree->setCurrentItem(w.tree->topLevelItem(1));
    QCOMPARE(w.tree->currentItem(), w.tree->topLevelItem(1));
    QCOMPARE(current.count(), 1);
    w.edit->setText(QStringLiteral("set"));
    QCOMPARE(w.edit->text(), QStringLiteral("set"));
    w.button->click();
    QCOMPARE(clicked.count(), 1);
    w.button->setEnabled(false);
    QVERIFY(!w.button->isEnabled());
}

void BusyStateTest::otherWindowsTakeInput() {
    // A message box of the operation is a window of its own, even with the busy window as its
    // parent.
    TestWindow& w = *m_w;
    QWidget box(&w.window, Qt::Dialog);
    auto* ok = new QPushButton(QStringLiteral("OK"), &box);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QSignalSpy clicked(ok, &QPushButton::clicked);
    QSignalSpy inWindow(w.button, &QPushButton::clicked);
    const CBusyScope busy = w.state->Begin();
    QTest::mouseClick(ok, Qt::LeftButton);
    QTest::mouseClick(w.button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(inWindow.count(), 0);
}

void BusyStateTest::scopesNest() {
    TestWindow& w = *m_w;
    QSignalSpy clicked(w.button, &QPushButton::clicked);
    {
        const CBusyScope outer = w.state->Begin();
        {
            const CBusyScope inner = w.state->Begin();
            QCOMPARE(w.events, std::vector<std::string>{"begin"});
        }
        // The outer operation still holds the window.
        QVERIFY(w.state->IsBusy());
        QCOMPARE(w.events, std::vector<std::string>{"begin"});
        QTest::mouseClick(w.button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 0);
    }
    QCOMPARE(w.events, (std::vector<std::string>{"begin", "end"}));
    QTest::mouseClick(w.button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
}

void BusyStateTest::movedScopeEndsOnce() {
    TestWindow& w = *m_w;
    {
        std::optional<CBusyScope> later;
        {
            CBusyScope first = w.state->Begin();
            later.emplace(std::move(first));
        }
        QVERIFY(w.state->IsBusy());
        CBusyScope other = w.state->Begin();
        other = std::move(*later); // ends the one it held, takes the other
        QVERIFY(w.state->IsBusy());
    }
    QVERIFY(!w.state->IsBusy());
    QCOMPARE(w.events, (std::vector<std::string>{"begin", "end"}));
}

void BusyStateTest::closeWaitsForTheEnd_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Escape in a child") << QStringLiteral("escape");
    QTest::newRow("the window's done()") << QStringLiteral("done");
    QTest::newRow("Escape, then done(5)") << QStringLiteral("both");
}

void BusyStateTest::closeWaitsForTheEnd() {
    QFETCH(QString, how);
    TestWindow& w = *m_w;
    // Not busy: a close goes ahead at once.
    QVERIFY(!w.state->DeferClose(3));
    {
        const CBusyScope busy = w.state->Begin();
        QVERIFY(!w.state->StopRequested());
        if (how != "done") {
            w.tree->setFocus();
            QTest::keyClick(w.tree, Qt::Key_Escape);
        }
        if (how != "escape")
            QVERIFY(w.state->DeferClose(5));
        QVERIFY(w.state->StopRequested());
        QVERIFY(w.window.isVisible());
        QCOMPARE(w.events, std::vector<std::string>{"begin"});
    }
    // The first request's result counts.
    const std::string result = how == "done" ? "close 5" : "close 0";
    QCOMPARE(w.events, (std::vector<std::string>{"begin", "end", result}));
    QVERIFY(!w.window.isVisible());
    QVERIFY(!w.state->StopRequested());
}

void BusyStateTest::cursorShowsTheBusyState() {
    TestWindow& w = *m_w;
    QCOMPARE(w.window.cursor().shape(), Qt::ArrowCursor);
    {
        const CBusyScope busy = w.state->Begin();
        QCOMPARE(w.window.cursor().shape(), Qt::BusyCursor);
        QCOMPARE(w.tree->viewport()->cursor().shape(), Qt::BusyCursor);
    }
    QCOMPARE(w.window.cursor().shape(), Qt::ArrowCursor);
}

QTEST_MAIN(BusyStateTest)
#include "BusyStateTest.moc"
