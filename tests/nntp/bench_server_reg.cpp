// Prints how long the registration window takes to search a server that lists 100,000 groups
// (until the tree shows them all) and to register them. Not a test: timings depend on the
// machine. Runs offscreen unless a platform is chosen.

#include "nntp/NntpSocket.h"
#include "nntp/ServerRegDlg.h"

#include "store/DbTable.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"
#include "ui/ScriptedUi.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kGroups = 100000;
const std::string kHost = "127.0.0.1";

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string GroupName(int i) {
    // Names of realistic length, not in sorted order.
    return "bench.hier" + std::to_string(i % 97) + ".group." + std::to_string((i * 7919) % kGroups);
}

std::string ListReply() {
    std::string reply = "215 list of newsgroups follows\r\n";
    for (int i = 0; i < kGroups; ++i)
        reply += GroupName(i) + " 0000012345 0000000001 y\r\n";
    return reply + ".\r\n";
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    CScriptedUi ui;
    CUiSeamScope scope(ui);
    TestDir dir;
    const std::string ini = dir / "quillo.ini";
    const std::string db = dir / "quillo.mdb";

    const std::string reply = ListReply();
    ScriptedNntpServer server;
    server.AddConnection(NntpScript().Send("200 ready\r\n").Reply(reply));
    server.AddConnection(NntpScript().Send("200 ready\r\n").Reply(reply));
    SetDefaultNntpPort(server.Port());

    CServerRegDlg dlg(ini, db);
    dlg.show();
    while (!dlg.findChild<QPushButton*>("1002")->isEnabled())
        QApplication::processEvents();
    auto* tree = dlg.findChild<QTreeWidget*>("1000");
    dlg.findChild<QLineEdit*>("1001")->setText(QString::fromStdString(kHost));

    auto searchOnce = [&](const char* what) {
        const auto start = std::chrono::steady_clock::now();
        dlg.findChild<QPushButton*>("1002")->click();
        QTreeWidgetItem* serverItem = tree->topLevelItem(0)->child(0);
        // Shown: the server opened and its last group painted.
        serverItem->setExpanded(true);
        tree->scrollToItem(serverItem->child(serverItem->childCount() - 1));
        tree->repaint();
        QApplication::processEvents();
        const double seconds = SecondsSince(start);
        std::printf("%-26s %d groups in the tree   %.3f s\n", what, serverItem->childCount(),
                    seconds);
        serverItem->setExpanded(false);
        return serverItem->childCount();
    };
    int shown = searchOnce("search:");
    if (shown != kGroups || !ui.Messages().empty()) {
        std::fprintf(stderr, "search failed: %d groups\n", shown);
        return 1;
    }
    shown = searchOnce("repeated search (merge):");
    if (shown != kGroups) {
        std::fprintf(stderr, "merge failed: %d groups\n", shown);
        return 1;
    }

    // Choose every tenth group, then register.
    QTreeWidgetItem* serverItem = tree->topLevelItem(0)->child(0);
    for (int i = 0; i < serverItem->childCount(); i += 10)
        serverItem->child(i)->setCheckState(0, Qt::Checked);
    auto start = std::chrono::steady_clock::now();
    dlg.findChild<QPushButton*>("1")->click();
    const double registerSeconds = SecondsSince(start);
    const int stored = CountRecords(kHost, db);
    std::printf("%-26s %d groups stored         %.3f s\n", "register:", stored, registerSeconds);
    if (dlg.result() != 1 || stored != kGroups)
        return 1;

    // Opening the window again loads it all back.
    CServerRegDlg again(ini, db);
    start = std::chrono::steady_clock::now();
    again.show();
    while (!again.findChild<QPushButton*>("1002")->isEnabled())
        QApplication::processEvents();
    const int loaded =
        again.findChild<QTreeWidget*>("1000")->topLevelItem(0)->child(0)->childCount();
    std::printf("%-26s %d groups loaded         %.3f s\n", "reopen (load):", loaded,
                SecondsSince(start));
    return loaded == kGroups ? 0 : 1;
}
