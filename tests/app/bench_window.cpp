// Speed of the real main window (offscreen) where users wait. Not a test: timings depend on the
// machine. Prints one line of "key=value" pairs per run.
//
//   bench_window download --group G [--port P] [--head]
//       "更新" on a group of the server at 127.0.0.1:P (default 119), through the window's own
//       progress path: the time until the header tree shows every header, and the headers.
//       --head: a server without an overview (the HEAD path), for comparing with the core.
//   bench_window fill N
//       the header tree filled from a generated group of N threaded headers: fill time and the
//       process's peak RSS.
//   bench_window article MB
//       a plain-text article of about MB megabytes selected in the header tree after a small one
//       was shown: the time until the page shows its first lines (first screen) and until the
//       view's load ends (the whole article scrollable), with the view's load signals.

#include "app/ReaderDlg.h"

#include "../threads/HeaderTableWriter.h"
#include "nntp/HeaderDownload.h"
#include "nntp/NntpSocket.h"
#include "settings/ProfileFile.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/TestDir.h"
#include "ui/PumpMessages.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double PeakRssMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

const std::string kServer = "127.0.0.1";

// A base directory holding the settings of one chosen group, made the current directory.
void PrepareBase(const std::string& base, const std::string& group) {
    fs::create_directories(base);
    const std::string ini = base + "/quillo.ini";
    WriteProfileString(ini, "NNTPREG10", "Selected", "1");
    WriteProfileString(ini, "SELECTION", "0", kServer + "," + group);
    std::ofstream(base + "/quillomb.htm") << "<html><body>start</body></html>";
    CreateGroupDirectory(base, kServer, group);
    CreateDatabaseTable("127001", {"name"}, base + "/quillo.mdb");
    fs::current_path(base);
}

// Selects the group in the server tree, which fills the header tree from its store.
void SelectGroup(CReaderDlg& dlg, const std::string& group) {
    auto* tree = dlg.findChild<QTreeWidget*>(QString::number(CReaderDlg::IDC_SERVER_TREE));
    tree->setCurrentItem(dlg.AddGroupToTree(kServer, group));
}

// Waits until the window has come up as a user sees it before a click: its view's page
// process running and answering. Started with the window, that work would otherwise share
// the two cores with whatever is timed next.
void SettleWindow(CReaderDlg& dlg) {
    bool answered = false;
    dlg.HtmlView()->page()->runJavaScript(QStringLiteral("1"), QWebEngineScript::ApplicationWorld,
                                          [&](const QVariant&) { answered = true; });
    const auto start = Clock::now();
    while (!answered && SecondsSince(start) < 60)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    while (SecondsSince(start) < 0.5)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

int HeaderItemCount(CReaderDlg& dlg) {
    return dlg.MessageIdIndexCount();
}

int Download(const std::string& group, bool head) {
    TestDir dir;
    PrepareBase(dir.Path() + "/base", group);
    CReaderDlg dlg;
    dlg.show();
    SelectGroup(dlg, group);
    SettleWindow(dlg);
    if (head)
        AllowHeaderOverview(false);
    auto* update = dlg.findChild<QPushButton*>(QString::number(CReaderDlg::IDC_UPDATE));
    auto* tree = dlg.findChild<QTreeView*>(QString::number(CReaderDlg::IDC_HEADER_TREE));
    // The fill hands the tree all its items at once: then it shows every header.
    double treeShown = -1;
    const auto start = Clock::now();
    QObject::connect(tree->model(), &QAbstractItemModel::rowsInserted, [&] {
        if (treeShown < 0)
            treeShown = SecondsSince(start);
    });
    update->click();
    const double seconds = SecondsSince(start);
    std::printf("mode=%s group=%s headers=%d tree_shown=%.3f seconds=%.3f\n",
                head ? "window-head" : "window", group.c_str(), HeaderItemCount(dlg), treeShown,
                seconds);
    return 0;
}

int Fill(int count) {
    TestDir dir;
    const std::string group = "quillo.bench.fill";
    PrepareBase(dir.Path() + "/base", group);
    // Threads as a busy group has them: most headers answer one of the 50 before them.
    std::vector<HeaderRecord> records;
    records.reserve(static_cast<std::size_t>(count));
    std::mt19937 random(7);
    for (int i = 1; i <= count; ++i) {
        HeaderRecord record;
        record.num = std::to_string(i);
        record.mesid = "<" + std::to_string(i) + ".bench@example.org>";
        record.sub = "Re: subject of thread " + std::to_string(i % 997) + " about something";
        if (i > 1 && random() % 4 != 0)
            record.ref = "<" +
                         std::to_string(i - 1 - static_cast<int>(random() % std::min(i - 1, 50))) +
                         ".bench@example.org>";
        if (random() % 3 == 0)
            record.read = "1";
        records.push_back(std::move(record));
    }
    WriteHeaderRecords(GroupDirectory(fs::current_path().string(), kServer, group), records);
    records.clear();
    records.shrink_to_fit();
    const double rssBefore = PeakRssMiB();
    CReaderDlg dlg;
    dlg.show();
    SettleWindow(dlg);
    const auto start = Clock::now();
    SelectGroup(dlg, group);
    const double seconds = SecondsSince(start);
    // Shown: the view has laid out its rows and painted them.
    PumpMessages();
    auto* tree = dlg.findChild<QTreeView*>(QString::number(CReaderDlg::IDC_HEADER_TREE));
    tree->visualRect(tree->model()->index(0, 0));
    tree->viewport()->repaint();
    const double shown = SecondsSince(start);
    std::printf("mode=fill headers=%d seconds=%.3f shown=%.3f peak_rss_mib=%.1f "
                "rss_before_window_mib=%.1f\n",
                HeaderItemCount(dlg), seconds, shown, PeakRssMiB(), rssBefore);
    return 0;
}

// A plain-text article of about mb megabytes in the cache, selected in the header tree after a
// small article was shown, as a reader moves from one article to the next.
int Article(int mb) {
    TestDir dir;
    const std::string group = "quillo.bench.article";
    PrepareBase(dir.Path() + "/base", group);
    const std::string groupDir = GroupDirectory(fs::current_path().string(), kServer, group);
    const std::string small = "<small.bench@example.org>";
    const std::string big = "<big.bench@example.org>";
    WriteHeaderRecords(groupDir,
                       {{"1", small, "small article", "", ""}, {"2", big, "big article", "", ""}});
    const std::string head = "From: bench@example.org\r\nContent-Type: text/plain; "
                             "charset=US-ASCII\r\n";
    std::ofstream(CacheFilePath(groupDir, small), std::ios::binary)
        << head << "Subject: small article\r\nMessage-ID: " << small << "\r\n\r\nA few words.\r\n";
    {
        std::ofstream out(CacheFilePath(groupDir, big), std::ios::binary);
        out << head << "Subject: big article\r\nMessage-ID: " << big << "\r\n\r\n";
        const std::size_t bytes = static_cast<std::size_t>(mb) * 1000 * 1000;
        std::size_t written = 0;
        for (int n = 1; written < bytes; ++n) {
            const std::string line = "line " + std::to_string(n) +
                                     " of a big article, long enough to look like real text\r\n";
            out << line;
            written += line.size();
        }
    }
    CReaderDlg dlg;
    dlg.resize(1024, 768);
    dlg.show();
    SelectGroup(dlg, group);
    PumpMessages();
    auto itemOf = [&](int row) {
        const std::string entry = dlg.MessageIdIndexEntry(row);
        return dlg.HeaderItem(std::atoi(entry.c_str() + entry.rfind(',') + 1));
    };
    CHtmlViewCtl* view = dlg.HtmlView();
    auto* tree = dlg.findChild<QTreeView*>(QString::number(CReaderDlg::IDC_HEADER_TREE));
    bool finished = false;
    QObject::connect(view, &QWebEngineView::loadFinished, [&] { finished = true; });
    tree->setCurrentIndex(itemOf(0));
    const auto warmUp = Clock::now();
    while (!finished && SecondsSince(warmUp) < 60)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    finished = false;

    double loadStarted = -1;
    double loadFinished = -1;
    const auto start = Clock::now();
    QObject::connect(view, &QWebEngineView::loadStarted,
                     [&] { loadStarted = SecondsSince(start); });
    QObject::connect(view, &QWebEngineView::loadFinished,
                     [&] { loadFinished = SecondsSince(start); });
    tree->setCurrentIndex(itemOf(1));
    const double selected = SecondsSince(start);
    // The first screen: the page holds its first text. The whole article: loaded, and laid
    // out to its full height.
    auto script = [&](const char* code) {
        QVariant result;
        bool done = false;
        view->page()->runJavaScript(QString::fromLatin1(code), QWebEngineScript::ApplicationWorld,
                                    [&](const QVariant& value) {
                                        result = value;
                                        done = true;
                                    });
        while (!done && SecondsSince(start) < 120)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        return result;
    };
    double firstScreen = -1;
    while (firstScreen < 0 && SecondsSince(start) < 120) {
        if (script("(function() { const first = document.body && document.body.firstChild;"
                   " return first && first.textContent.startsWith('line 1 ') ? 1 : 0; })()")
                .toInt() == 1)
            firstScreen = SecondsSince(start);
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    while (!finished && SecondsSince(start) < 120)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const int height = script("document.documentElement.scrollHeight").toInt();
    const double whole = SecondsSince(start);
    std::printf("mode=article mb=%d first_screen=%.3f whole=%.3f height_px=%d load_started=%.3f "
                "load_finished=%.3f selected=%.3f\n",
                mb, firstScreen, whole, height, loadStarted, loadFinished, selected);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    SetNntpPumpHook(&PumpMessages);
    const std::string mode = argc > 1 ? argv[1] : "";
    std::string group;
    int port = 119;
    bool head = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--group" && i + 1 < argc)
            group = argv[++i];
        else if (arg == "--port" && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (arg == "--head")
            head = true;
    }
    SetDefaultNntpPort(port);
    SetNntpTimeouts(10000, 60000);
    if (mode == "download" && !group.empty())
        return Download(group, head);
    if (mode == "article" && argc > 2)
        return Article(std::atoi(argv[2]));
    if (mode == "fill" && argc > 2)
        return Fill(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: %s download --group G [--port P] [--head] | fill N | article MB\n",
                 argv[0]);
    return 2;
}
