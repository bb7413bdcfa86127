// Responsiveness of the results tree with a volume of 100,000 files: how long the window is
// held by inserting a folder of 10,000 entries, by expanding it and by scrolling through it,
// and how long a name search over every record runs on its worker while the window keeps
// answering (the longest gap between two ticks of a 10 ms timer on the window's thread).
//   build/<release>/src/ui/corvello-tree-bench     (QT_QPA_PLATFORM=offscreen when headless)

#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>

#include "common/MemoryScanHost.h"
#include "scan/NameSearch.h"
#include "scan/Scan.h"
#include "scan/ScanSession.h"
#include "ui/CheckTree.h"
#include "ui/QtResultTree.h"

using namespace corvello;

namespace {

constexpr int kFolders = 10;
constexpr int kPerFolder = 10000;

// Ten folders of 10,000 files each below the root. Item data: 1 + folder (folders),
// 100 + folder * kPerFolder + file (files).
class SyntheticSession : public ScanSession {
public:
    TreeItem root = 0;
    TreeItem rootItem() const override { return root; }
    bool isValid(ItemData d) const override { return (d >= 1 && d <= kFolders) || (d >= 100 && d < 100 + kFolders * kPerFolder); }
    bool isFolder(ItemData d) const override { return d >= 1 && d <= kFolders; }
    std::vector<ItemData> children(ItemData d) const override {
        std::vector<ItemData> out;
        if (!isFolder(d)) return out;
        for (int i = 0; i < kPerFolder; ++i) out.push_back(100 + (d - 1) * kPerFolder + static_cast<ItemData>(i));
        return out;
    }
    bool isDeleted(ItemData d, ItemData) const override { return d % 7 == 0; }
    std::u16string name(ItemData d) const override {
        if (isFolder(d)) return u"Folder " + QString::number(d).toStdU16String();
        const char* ext[] = {".jpg", ".txt", ".pdf", ".png", ".doc"};
        return QStringLiteral("file %1%2").arg(d).arg(QLatin1String(ext[d % 5])).toStdU16String();
    }
    std::uint64_t size(ItemData d) const override { return d; }
    std::array<std::string, 4> rowTexts(ItemData) const override { return {"01/01/2020  10:00 AM", "", "", "-A"}; }
    std::string sizeText(ItemData) const override { return "1.00 KB"; }
    bool isSavableFolder(ItemData d) const override { return isFolder(d); }
    SaveKind saveKind(ItemData d) const override { return isFolder(d) ? SaveKind::Folder : SaveKind::File; }

protected:
    std::optional<std::size_t> readData(ItemData, std::uint64_t, std::span<std::uint8_t>, ReadNotes&) override {
        return std::nullopt;
    }
};

double ms(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ui::CheckTree tree;
    tree.resize(400, 600);
    tree.initCheckTree();
    tree.setSmartCheckBox(true);
    tree.show();
    ui::QtResultTree results(&tree, nullptr);
    SyntheticSession session;
    MemoryScanHost host;

    // The scan's own inserts come from its worker and are replayed on the window's thread.
    QThread* scan = QThread::create([&] {
        session.root = results.insertItem(kTreeTop, u"ROOT", IconKind::Folder, 0);
        for (ItemData f = 1; f <= kFolders; ++f) results.insertItem(session.root, session.name(f), IconKind::Folder, f);
        results.expand(session.root);
        completeScan(session, results, host);
    });
    scan->start();
    scan->wait();
    delete scan;
    QCoreApplication::processEvents();

    QTreeWidgetItem* folder = tree.topLevelItem(0)->child(0);
    QElapsedTimer t;
    t.start();
    openFolder(session, results, results.treeItem(folder), true);
    QCoreApplication::processEvents();
    const double insert = ms(t);

    t.restart();
    tree.setExpansion(folder, ui::kExpand);
    tree.doItemsLayout();
    tree.viewport()->repaint();
    const double expand = ms(t);

    t.restart();
    for (int step = 0; step <= 20; ++step) {
        tree.verticalScrollBar()->setValue(tree.verticalScrollBar()->maximum() * step / 20);
        tree.viewport()->repaint();
    }
    const double scroll = ms(t) / 21;
    const int rows = tree.verticalScrollBar()->maximum();

    // The search runs on a worker; the window's timer measures how long the thread is held.
    const QRegularExpression pattern(QStringLiteral("jpg|PNG"), QRegularExpression::CaseInsensitiveOption);
    std::atomic<bool> done{false};
    std::uint64_t found = 0;
    double longestGap = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, ms(gap));
        gap.restart();
    });
    tick.start(10);
    t.restart();
    QThread* search = QThread::create([&] {
        found = searchNames(session, results, [&](const std::u16string& n) { return pattern.match(QString::fromStdU16String(n)).hasMatch(); },
                            host, [](const FoundFile&) {});
        done = true;
    });
    search->start();
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double searchTime = ms(t);
    search->wait();
    delete search;

    std::printf("records                         %d files in %d folders\n", kFolders * kPerFolder, kFolders);
    std::printf("insert a folder of %d entries  %8.1f ms (window held)\n", kPerFolder, insert);
    std::printf("expand it                        %8.1f ms (window held)\n", expand);
    std::printf("scroll and repaint (%d rows)  %8.1f ms (window held)\n", rows, scroll);
    std::printf("search all records (worker)      %8.1f ms, %llu found, longest window stall %.1f ms\n", searchTime,
                static_cast<unsigned long long>(found), longestGap);
    return 0;
}
