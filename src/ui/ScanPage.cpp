#include "ui/ScanPage.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QFileInfo>
#include <algorithm>
#include <cstdint>
#include <chrono>
#include <thread>
#include <QFileDialog>
#include <QRegularExpression>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "scan/NameSearch.h"
#include "scan/SaveWalk.h"
#include "device/FileReadSeek.h"
#include "platform/Files.h"
#include "ui/WizardApp.h"
#include "ui/CheckList.h"
#include "ui/CheckTree.h"
#include "ui/ExportList.h"
#include "ui/MessageBoxes.h"
#include "ui/PageParts.h"
#include "ui/PageWorker.h"
#include "ui/RecoveryModePage.h"
#include "ui/PreviewPane.h"
#include "ui/QtResultTree.h"
#include "ui/QtScanHost.h"
#include "ui/QtText.h"
#include "ui/AdvancedInputPage.h"

namespace corvello::ui {

namespace {

constexpr const char* kOtherProcess = "Please wait for other process to complete";
constexpr const char* kScanDone = "Scanning processing done.Select save button to save the data.";

// Holds the session lock while the page reads records. A preview read holds it only briefly
// (its reads are bounded); should that read wait for the page itself (a message box), the page
// goes on after a while, as the read then touches nothing.
// The wait polls try_lock rather than using try_lock_for: the timed lock goes through
// pthread_mutex_clocklock, which the thread checker cannot follow, and it would then take every
// record read after it for a race.
struct SessionGuard {
    explicit SessionGuard(std::timed_mutex& m) : mutex(m), owns(acquire(m)) {}
    static bool acquire(std::timed_mutex& m) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!m.try_lock()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    ~SessionGuard() {
        if (owns) mutex.unlock();
    }
    std::timed_mutex& mutex;
    bool owns;
};

}  // namespace

QString dataStateText(const Recoverability& r) {
    return r.state == DataState::Unknown ? QString() : QString::fromStdString(recoverabilityText(r));
}

QColor dataStateColor(DataState state) {
    switch (state) {
        case DataState::Intact: return QColor(0x00, 0x80, 0x00);              // green: all there
        case DataState::PartlyOverwritten: return QColor(0xC0, 0x70, 0x00);   // amber: some of it
        case DataState::Overwritten: return QColor(0x80, 0x80, 0x80);         // grey: gone
        case DataState::Unknown: break;
    }
    return QColor();
}

ScanPage::ScanPage(WizardPage* parent)
    : WizardPage(parent, kScanPage, QStringLiteral("VOLUME-SCAN"), true) {
    setFixedSize(900, 600);

    auto* volumeRow = new QHBoxLayout;
    volumeRow->addWidget(new QLabel(QStringLiteral("Volume Data:"), this));
    volumeData_ = new QLineEdit(this);
    volumeData_->setReadOnly(true);
    volumeRow->addWidget(volumeData_, 1);
    body()->addLayout(volumeRow);

    auto* searchRow = new QHBoxLayout;
    searchEdit_ = new QLineEdit(this);
    search_ = pageButton(QStringLiteral("Search"), this);
    searchRow->addWidget(searchEdit_, 1);
    searchRow->addWidget(search_);
    searchRow->addWidget(new QLabel(QStringLiteral("* Use \"|\" to find multiple file type "), this));
    intactOnly_ = new QCheckBox(QStringLiteral("Intact files only"), this);
    intactOnly_->setToolTip(QStringLiteral("Search and save leave out deleted files whose data were partly or wholly "
                                           "overwritten"));
    searchRow->addWidget(intactOnly_);
    body()->addLayout(searchRow);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    tree_ = new CheckTree(splitter);
    list_ = new CheckList(splitter);
    preview_ = new PreviewPane(splitter);
    splitter->addWidget(tree_);
    splitter->addWidget(list_);
    splitter->addWidget(preview_);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    splitter->setStretchFactor(2, 2);
    sessionLock_ = std::make_shared<std::timed_mutex>();
    body()->addWidget(splitter, 1);

    progress_ = pageProgressBar(this);
    body()->addWidget(progress_);
    auto* threadRow = new QHBoxLayout;
    pause_ = pageButton(QStringLiteral("Pause"), this);
    resume_ = pageButton(QStringLiteral("Resume"), this);
    stop_ = pageButton(QStringLiteral("Stop"), this);
    status_ = pageStatusLine(this);
    threadRow->addWidget(pause_);
    threadRow->addWidget(resume_);
    threadRow->addWidget(stop_);
    threadRow->addWidget(status_, 1);
    body()->addLayout(threadRow);
    status2_ = new QLabel(this);
    body()->addWidget(status2_);

    // The advanced choices, kept hidden: the scan reads them from here.
    advancedBox_ = new QGroupBox(QStringLiteral("ADVANCED INPUT :"), this);
    auto* grid = new QGridLayout(advancedBox_);
    tfs_ = new QComboBox(advancedBox_);
    spc_ = new QComboBox(advancedBox_);
    heap_ = new QComboBox(advancedBox_);
    grid->addWidget(new QLabel(QStringLiteral("TFS :"), advancedBox_), 0, 0);
    grid->addWidget(tfs_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Sector Per Cluster :"), advancedBox_), 1, 0);
    grid->addWidget(spc_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Heap Offset :"), advancedBox_), 2, 0);
    grid->addWidget(heap_, 2, 1);
    advancedBox_->hide();
    outputFolder_ = new QLineEdit(this);
    outputFolder_->hide();

    save_ = pageButton(QStringLiteral("Save"), this, 90);
    buttonRow()->addWidget(save_);
    export_ = pageButton(QStringLiteral("Export list..."), this, 110);
    buttonRow()->addWidget(export_);
    nextButton()->hide();

    host_ = new QtScanHost(this);
    results_ = new QtResultTree(tree_, this);
    worker_ = new PageWorker(host_, this);
    connect(host_, &QtScanHost::statusText, this, &ScanPage::setStatus);
    // The save walk tells the size of the file being written ("File size: ... kb").
    connect(host_, &QtScanHost::detailText, status2_, &QLabel::setText);
    forwardProgress(host_, progress_);
    connect(worker_, &PageWorker::finished, this, &ScanPage::onWorkerFinished);
    connect(pause_, &QPushButton::clicked, this, &ScanPage::onPause);
    connect(resume_, &QPushButton::clicked, this, &ScanPage::onResume);
    connect(stop_, &QPushButton::clicked, this, &ScanPage::onStop);
    connect(save_, &QPushButton::clicked, this, &ScanPage::onSave);
    connect(export_, &QPushButton::clicked, this, &ScanPage::onExport);
    connect(search_, &QPushButton::clicked, this, &ScanPage::onSearch);
    connect(tree_, &CheckTree::labelClicked, this, &ScanPage::onLabelClicked);
    connect(tree_, &QTreeWidget::itemExpanded, this, &ScanPage::onItemExpanded);
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) { onDoubleClicked(item); });
    connect(list_, &QTreeWidget::itemChanged, this, &ScanPage::onListItemChanged);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { onListSelection(); });
    // A parser may clear the stop flag between its phases; Stop holds for the whole scan.
    connect(host_, &QtScanHost::statusText, this, [this] {
        if (stopPressed && worker_->running()) host_->requestStop();
    });
    connect(host_, &QtScanHost::progressPos, this, [this] {
        if (stopPressed && worker_->running()) host_->requestStop();
    });
}

ScanPage::~ScanPage() {
    worker_->stopAndWait();
    // The preview reads the session's records: it lets go before they go.
    preview_->clear();
    preview_->waitForWorker();
    // The tree's items refer to the session's records: the items go first.
    tree_->deleteAllItems();
}

RecoveryModePage* ScanPage::modePage() const {
    WizardPage* parent = parentPage();
    if (auto* mode = qobject_cast<RecoveryModePage*>(parent)) return mode;
    return parent != nullptr ? qobject_cast<RecoveryModePage*>(parent->parentPage()) : nullptr;
}

AdvancedInputPage* ScanPage::advancedPage() const { return qobject_cast<AdvancedInputPage*>(parentPage()); }

bool ScanPage::workerRunning() const { return worker_->running(); }

void ScanPage::setStatus(const QString& text) {
    if (!leaving_) status_->setText(text);
}

void ScanPage::setThreadControlsVisible(bool visible) {
    for (QWidget* w : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(pause_),
                       static_cast<QWidget*>(resume_), static_cast<QWidget*>(stop_)})
        w->setVisible(visible);
}

void ScanPage::copyAdvancedLists(AdvancedInputPage* from) {
    const auto copy = [](QComboBox* source, QComboBox* target) {
        for (int i = 0; i < source->count(); ++i) target->addItem(source->itemText(i), source->itemData(i));
        target->setCurrentIndex(source->currentIndex());
    };
    copy(from->tfsList(), tfs_);
    copy(from->clusterList(), spc_);
    copy(from->heapList(), heap_);
    maxCandidates_ = from->maxCount;
    // The scan chooses among what this search found rather than searching the volume again: FAT
    // tables, exFAT heaps and the places of the MFT copies (each copy is read again from there).
    const CandidateList& found = from->candidates();
    if (hasCandidateSearch(found.family)) {
        foundTables_ = found.tables;
        if (wizardTexts(found.family).heapChoices) foundHeaps_ = found.heaps;
    }
}

ScanRequest ScanPage::makeRequest(FileReadSeek* reader) const {
    ScanRequest request;
    request.reader = reader;
    request.volume = volume;
    request.mode = static_cast<RecoveryMode>(recoveryMode);
    request.driveFormatted = app().selection.driveFormatted;
    request.rootLabel = app().selection.rootLabel;
    request.maxCandidates = maxCandidates_;
    if (request.mode == RecoveryMode::Advanced) {
        // Each entry of the candidate lists keeps its candidate's index (the list is sorted as text).
        if (tfs_->currentIndex() >= 0) request.candidateIndex = tfs_->currentData().toLongLong();
        if (heap_->currentIndex() >= 0) request.heapIndex = heap_->currentData().toLongLong();
        request.foundTables = foundTables_;
        request.foundHeaps = foundHeaps_;
        if (spc_->currentIndex() >= 0) {
            const std::int64_t n = parseInt64(spc_->currentText());
            if (n > 0 && n <= 65536) request.sectorsPerCluster = static_cast<std::uint32_t>(n);
        }
    }
    return request;
}

bool ScanPage::initPage() {
    tree_->initCheckTree();
    tree_->setSmartCheckBox(true);
    outputFolder_->hide();
    backButton()->setEnabled(false);
    scanInProgress = true;

    list_->setColumnCount(kListColumns);
    list_->setHeaderLabels({QStringLiteral("File(s) List"), QStringLiteral("Creation Time"),
                            QStringLiteral("Access Time"), QStringLiteral("Modification Time"), QStringLiteral("Size"),
                            QStringLiteral("Attribute"), QStringLiteral("Data")});
    list_->init();
    const int widths[] = {80, 90, 90, 90, 80, 70, 150};
    // At least wide enough for a whole time text in this font.
    const int timeWidth = list_->fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000  00:00 AM")) + 12;
    for (int c = 0; c < kListColumns; ++c) {
        const int title = list_->fontMetrics().horizontalAdvance(list_->headerItem()->text(c)) + 16;
        list_->setColumnWidth(c, std::max({widths[c], title, c >= 1 && c <= 3 ? timeWidth : 0}));
        list_->headerItem()->setTextAlignment(c, Qt::AlignLeft | Qt::AlignVCenter);
    }
    // Whether a deleted file's data are still there is shown beside its name.
    list_->header()->moveSection(list_->header()->visualIndex(kDataColumn), 1);

    RecoveryModePage* mode = modePage();
    if (mode == nullptr) return false;
    volume = mode->volume;
    if (AdvancedInputPage* advanced = advancedPage()) copyAdvancedLists(advanced);
    volumeData_->setText(qs(volume.displayName.empty() ? volume.locator : volume.displayName));
    recoveryMode = mode->recoveryMode;
    advancedBox_->hide();

    family = familyOf(volume.fileSystemKind());
    if (family == Family::None) {
        refuse(QStringLiteral("not a valid drive."), QStringLiteral("Not a valid Drive .Go back"), true);
        return true;
    }
    FileReadSeek* reader = app().reader();
    if (reader == nullptr) {
        refuse(QStringLiteral("Please Restart the program to re begin necessary initialization..."), QString(), false);
        return true;
    }
    if (const char* selected = wizardTexts(family).selected) setStatus(QString::fromLatin1(selected));
    if (app().selection.isVolume) reader->open(toUtf8(volume.locator));

    const ScanRequest request = makeRequest(reader);
    state_ = State::Scanning;
    work_ = Work::Scan;
    worker_->start([this, request] {
        std::unique_ptr<ScanSession> session = runScan(request, *host_, *results_);
        if (session) completeScan(*session, *results_, *host_);
        // The page takes the session once the worker has ended: the tree's queued changes,
        // played meanwhile on the page's thread, look at session_.
        scanned_ = std::move(session);
    });
    return true;
}

void ScanPage::refuse(const QString& message, const QString& status, bool allowBack) {
    state_ = State::Refused;
    showNotice(this, message);
    if (allowBack) backButton()->setEnabled(true);
    if (!status.isEmpty()) setStatus(status);
}

void ScanPage::onWorkerFinished() {
    const Work work = work_;
    work_ = Work::None;
    if (scanned_) session_ = std::move(scanned_);
    if (leavePending()) {
        workerEnded();
        return;
    }
    if (leaving_) return;
    if (work == Work::Scan) onScanFinished();
    if (work == Work::Search) onSearchFinished();
    if (work == Work::Save) onSaveFinished();
}

void ScanPage::onScanFinished() {
    const FamilyWizardTexts& texts = wizardTexts(family);
    const bool completed = session_ != nullptr || texts.doneWithoutSession;
    if (texts.ownScanEnd) {
        // An HFS+ scan ends with its own status line ("Work Done." or "Work Aborted....").
        state_ = session_ ? State::Done : State::Refused;
        backButton()->setEnabled(true);
        setThreadControlsVisible(false);
    } else if (!completed) {
        // The volume failed its format check (the parser has said so): the controls stay.
        state_ = State::Refused;
        backButton()->setEnabled(true);
    } else {
        state_ = State::Done;
        backButton()->setEnabled(true);
        showNotice(this, QString::fromLatin1(kScanDone));
        setStatus(QString::fromLatin1(kScanDone));
        setThreadControlsVisible(false);
    }
    scanInProgress = false;
    emit scanEnded();
}

void ScanPage::onPause() {
    if (worker_->pause()) setStatus(QStringLiteral("Pause button pressed"));
}

void ScanPage::onResume() {
    if (worker_->resume()) setStatus(QStringLiteral("Resume button pressed"));
}

void ScanPage::onStop() {
    if (!worker_->running()) return;
    stopPressed = true;
    worker_->requestStop();
    setStatus(QStringLiteral("stop button pressed.Please wait for the process to be stopped."));
}

std::function<QString(QWidget*)> ScanPage::folderChooser = [](QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Please choose a folder."));
};

QString ScanPage::outputFolder() const { return outputFolder_->text(); }

bool ScanPage::busy() {
    if (scanInProgress || worker_->running() || !session_) {
        showNotice(this, QString::fromLatin1(kOtherProcess));
        return true;
    }
    return false;
}

void ScanPage::setBusyControls(bool isBusy) {
    setThreadControlsVisible(isBusy);
    for (QPushButton* b : {pause_, resume_, stop_}) b->setEnabled(isBusy);
    tree_->setEnabled(!isBusy);
    intactOnly_->setEnabled(!isBusy);
    search_->setEnabled(!isBusy);
    save_->setEnabled(!isBusy);
    export_->setEnabled(!isBusy);
    backButton()->setEnabled(!isBusy);
}

// ---- The results tree and the file list ----

bool ScanPage::openItem(QTreeWidgetItem* item, bool redForDeleted) {
    if (item == nullptr || !session_ || worker_->running()) return false;
    const ItemData record = tree_->itemData(item);
    if (!session_->isValid(record) || !session_->isFolder(record)) return false;
    const int before = item->childCount();
    const bool hadPlaceholder = before > 0 && item->child(0)->text(0) == QLatin1String("..DUMY..");
    openFolder(*session_, *results_, results_->treeItem(item), redForDeleted);
    // New children take the opened folder's own check state.
    if (hadPlaceholder || before == 0) {
        const CheckItemState* d = tree_->itemState(item);
        const bool checked = d != nullptr && d->checked;
        if (checked)
            for (int i = 0; i < item->childCount(); ++i) tree_->setCheck(item->child(i), true);
    }
    return true;
}

void ScanPage::addRow(const QString& name, ItemData record, const QVariant& treeItem, bool details) {
    const int row = list_->insertItem(list_->itemCount(), name);
    QTreeWidgetItem* r = list_->topLevelItem(row);
    r->setData(0, kRowTreeItemRole, treeItem);
    r->setData(0, kRowRecordRole, static_cast<qulonglong>(record));
    if (!details) return;
    const SessionGuard guard(*sessionLock_);
    const auto texts = session_->rowTexts(record);
    list_->setItemText(row, 1, QString::fromStdString(texts[0]));
    list_->setItemText(row, 2, QString::fromStdString(texts[1]));
    list_->setItemText(row, 3, QString::fromStdString(texts[2]));
    list_->setItemText(row, 4, QString::fromStdString(session_->sizeText(record)));
    list_->setItemText(row, 5, QString::fromStdString(texts[3]));
    showDataState(r, session_->recoverability(record));
}

void ScanPage::showDataState(QTreeWidgetItem* row, const Recoverability& r) {
    row->setText(kDataColumn, dataStateText(r));
    const QColor color = dataStateColor(r.state);
    if (color.isValid())
        for (int c = 0; c < kListColumns; ++c) row->setForeground(c, color);
}

void ScanPage::onLabelClicked(QTreeWidgetItem* item) {
    if (item == nullptr || !session_ || worker_->running()) return;
    const ItemData record = tree_->itemData(item);
    if (!session_->isValid(record)) return;
    fillingList_ = true;
    if (session_->isFolder(record)) {
        openItem(item, true);
        if (item->childCount() > 0) {
            list_->deleteAllItems();
            searchResultsShown = false;
            for (int i = 0; i < item->childCount(); ++i) {
                QTreeWidgetItem* child = item->child(i);
                const ItemData c = tree_->itemData(child);
                if (session_->isValid(c) && !session_->isFolder(c))
                    addRow(child->text(0), c, static_cast<qulonglong>(results_->treeItem(child)), true);
            }
        }
    } else {
        list_->deleteAllItems();
        searchResultsShown = false;
        addRow(item->text(0), record, static_cast<qulonglong>(results_->treeItem(item)), true);
        previewRecord(record, treePath(item));
    }
    fillingList_ = false;
}

QString ScanPage::treePath(QTreeWidgetItem* item) const {
    QStringList parts;
    for (QTreeWidgetItem* i = item; i != nullptr && parts.size() < 1024; i = i->parent()) parts.prepend(i->text(0));
    return parts.join(QLatin1Char('\\'));
}

void ScanPage::onListSelection() {
    if (fillingList_ || !session_) return;
    QTreeWidgetItem* row = list_->currentItem();
    if (row == nullptr) return;
    const ItemData record = row->data(0, kRowRecordRole).toULongLong();
    QString path = row->text(0);
    if (!searchResultsShown) {
        // A folder listing: the path of the row's tree item.
        if (QTreeWidgetItem* item = results_->widgetItem(row->data(0, kRowTreeItemRole).toULongLong())) path = treePath(item);
    }
    previewRecord(record, path);
}

void ScanPage::previewRecord(ItemData record, const QString& path) {
    if (!session_ || worker_->running() || !session_->isValid(record) || session_->saveKind(record) != SaveKind::File) {
        preview_->clear();
        return;
    }
    QString details;
    std::uint64_t size = 0;
    {
        const SessionGuard guard(*sessionLock_);
        const auto texts = session_->rowTexts(record);
        size = session_->size(record);
        details = QStringLiteral("Size: %1 (%2 bytes)   Created: %3   Modified: %4   Accessed: %5")
                      .arg(QString::fromStdString(session_->sizeText(record)))
                      .arg(static_cast<qulonglong>(size))
                      .arg(QString::fromStdString(texts[0]), QString::fromStdString(texts[2]),
                           QString::fromStdString(texts[1]));
        const QString dataText = dataStateText(session_->recoverability(record));
        if (!dataText.isEmpty()) details += QStringLiteral("   Data: ") + dataText;
    }
    ScanSession* session = session_.get();
    auto lock = sessionLock_;
    preview_->showFile(path, details, size, [session, record, lock](std::size_t limit) {
        const std::lock_guard<std::timed_mutex> hold(*lock);
        platform::OutputFile out;
        out.openMemory(limit);
        out.setStopAtLimit(true);  // the rest of the file is not read
        session->extract(record, out);
        return out.bytes();
    });
}

void ScanPage::onItemExpanded(QTreeWidgetItem* item) { openItem(item, false); }

void ScanPage::onDoubleClicked(QTreeWidgetItem* item) {
    if (item == nullptr || !session_ || worker_->running()) return;
    const ItemData record = tree_->itemData(item);
    if (!session_->isValid(record)) return;
    if (session_->isFolder(record)) {
        openItem(item, false);
        if (item->childCount() == 0) return;
        fillingList_ = true;
        list_->deleteAllItems();
        for (int i = 0; i < item->childCount(); ++i) {
            QTreeWidgetItem* child = item->child(i);
            const ItemData c = tree_->itemData(child);
            if (!session_->isValid(c) || session_->isFolder(c)) continue;
            addRow(child->text(0), c, static_cast<qulonglong>(results_->treeItem(child)), false);
        }
        fillingList_ = false;
        return;
    }
    if (session_->saveKind(record) != SaveKind::File) return;
    // The quick save: the one file, into the output folder (asked for first when there is none).
    if (outputFolder().isEmpty() && !chooseFolder()) return;
    QString message;
    if (wizardTexts(family).quickSaveNamesPath) {
        const std::string path = outputFolder().toStdString() + "/" + savedName(session_->saveName(record));
        message = QString::fromStdString(format("file is dumped in path  :  %s   ", path.c_str()));
    }
    startSave({SaveGroup{outputFolder().toStdString(), {record}}}, 1, true, message);
}

void ScanPage::onListItemChanged(QTreeWidgetItem* row, int column) {
    if (fillingList_ || column != 0 || row == nullptr || searchResultsShown) return;
    const TreeItem id = row->data(0, kRowTreeItemRole).toULongLong();
    QTreeWidgetItem* item = results_->widgetItem(id);
    if (item == nullptr) return;
    const bool checked = row->checkState(0) == Qt::Checked;
    const CheckItemState* d = tree_->itemState(item);
    if (d != nullptr && d->checked != checked) tree_->setCheck(item, checked);
}

// ---- Name search ----

void ScanPage::onSearch() {
    if (busy()) return;
    stopPressed = false;
    setThreadControlsVisible(true);
    app().selection.searchPattern = u16(searchEdit_->text());
    fillingList_ = true;
    list_->deleteAllItems();
    fillingList_ = false;
    searchResultsShown = true;
    const QString pattern = qs(app().selection.searchPattern);
    if (pattern.isEmpty()) {
        onSearchFinished();
        return;
    }
    // Names and pattern are matched as Unicode text, without regard to case.
    const QRegularExpression expression(pattern, QRegularExpression::CaseInsensitiveOption |
                                                     QRegularExpression::UseUnicodePropertiesOption);
    if (!expression.isValid()) {
        showNotice(this, QStringLiteral("such characters are not allowed for search.Try again with different pattern."));
        return;
    }
    setBusyControls(true);
    preview_->waitForWorker();
    work_ = Work::Search;
    ScanSession* session = session_.get();
    const FileFilter filter = intactOnly_->isChecked() ? intactFilesOnly(*session) : FileFilter{};
    worker_->start([this, session, expression, filter] {
        const auto matches = [&expression](const std::u16string& name) { return expression.match(qs(name)).hasMatch(); };
        searchNames(*session, *results_, matches, *host_, [this, session, filter](const FoundFile& f) {
            if (filter && !filter(f.data, 0)) return;
            // The row's texts are read here; the list is filled on the page's thread.
            const auto texts = session->rowTexts(f.data);
            const Recoverability dataState = session->recoverability(f.data);
            QStringList row{qs(f.path), QString::fromStdString(texts[0]), QString::fromStdString(texts[1]),
                            QString::fromStdString(texts[2]), QString::fromStdString(session->sizeText(f.data)),
                            QString::fromStdString(texts[3])};
            const ItemData record = f.data;
            QMetaObject::invokeMethod(
                this,
                [this, row, record, dataState] {
                    fillingList_ = true;
                    const int r = list_->insertItem(list_->itemCount(), row[0]);
                    for (int c = 1; c < 6; ++c) list_->setItemText(r, c, row[c]);
                    list_->topLevelItem(r)->setData(0, kRowRecordRole, static_cast<qulonglong>(record));
                    showDataState(list_->topLevelItem(r), dataState);
                    fillingList_ = false;
                },
                Qt::QueuedConnection);
        });
    });
}

void ScanPage::onSearchFinished() {
    stopPressed = false;
    // Room for the paths of the results.
    list_->resizeColumnToContents(0);
    list_->setColumnWidth(0, std::clamp(list_->columnWidth(0), 80, 360));
    showNotice(this, QStringLiteral("Searching Finished"));
    setStatus(QStringLiteral("Searching Finished"));
    setBusyControls(false);
}

// ---- Saving ----

bool ScanPage::chooseFolder() {
    QString folder = folderChooser ? folderChooser(this) : QString();
    if (!folder.isEmpty()) folder = QFileInfo(folder).absoluteFilePath();
    outputFolder_->setText(folder);
    if (folder.isEmpty()) {
        showNotice(this, QStringLiteral("select output folder"));
        return false;
    }
    // Writing onto the device being recovered can overwrite the very files being recovered.
    const FileReadSeek* reader = session_ ? session_->reader() : nullptr;
    if (reader != nullptr) {
        const std::string device = platform::folderOnSourceDevice(reader->path(), folder.toStdString());
        if (!device.empty() &&
            !askQuestion(this, QStringLiteral("The folder %1 lies on %2, the device being recovered: writing there can "
                                              "overwrite the very files being recovered. Save there anyway?")
                                   .arg(folder, QString::fromStdString(device)))) {
            outputFolder_->clear();
            return false;
        }
    }
    return true;
}

QString saveProblemsText(const SaveResult& result) {
    // The same summary the command line gives: every incomplete file with the bytes that could
    // not be read, every file that could not be written with the reason.
    constexpr int kShown = 20;
    QStringList lines;
    if (!result.outputFull.empty())
        lines << QStringLiteral("The output folder is full: %1 could not be completed and was removed.")
                     .arg(QString::fromStdString(result.outputFull));
    const std::uint64_t incomplete = result.incomplete();
    if (incomplete > 0) lines << QStringLiteral("%1 file(s) could not be written completely:").arg(incomplete);
    int shown = 0;
    for (const SaveProblem& p : result.problems) {
        if (!p.error.empty()) continue;
        if (shown++ < kShown)
            lines << QStringLiteral("  %1 (%2 byte(s) could not be read)")
                         .arg(QString::fromStdString(p.path))
                         .arg(static_cast<qulonglong>(p.missingBytes));
    }
    if (shown > kShown) lines << QStringLiteral("  ... and %1 more").arg(shown - kShown);
    if (result.failed > 0) lines << QStringLiteral("%1 file(s) could not be written:").arg(result.failed);
    shown = 0;
    for (const SaveProblem& p : result.problems) {
        if (p.error.empty()) continue;
        if (shown++ < kShown)
            lines << QStringLiteral("  %1 (%2)").arg(QString::fromStdString(p.path), QString::fromStdString(p.error));
    }
    if (shown > kShown) lines << QStringLiteral("  ... and %1 more").arg(shown - kShown);
    if (result.beyondVolume)
        lines << QStringLiteral("The saved files hold more bytes than the volume: some of them share their data, or "
                                "come from damaged records.");
    return lines.join(QLatin1Char('\n'));
}

void ScanPage::collectChecked(QTreeWidgetItem* item, const std::string& dir, std::vector<SaveGroup>& groups) {
    const int state = tree_->stateImage(item) & 3;
    if (state == kStateUnchecked || state == 0) return;
    const ItemData record = tree_->itemData(item);
    const bool valid = session_->isValid(record);
    if (state == kStateChecked && valid) {
        auto it = std::find_if(groups.begin(), groups.end(), [&](const SaveGroup& g) { return g.dir == dir; });
        if (it == groups.end()) it = groups.insert(groups.end(), SaveGroup{dir, {}});
        it->records.push_back(record);
        return;
    }
    // Partly checked (or the root): the checked items below it, under its folder path.
    std::string childDir = dir;
    if (valid) childDir += "/" + savedName(session_->saveName(record));
    for (int i = 0; i < item->childCount(); ++i) collectChecked(item->child(i), childDir, groups);
}

std::vector<ScanPage::SaveGroup> ScanPage::checkedGroups() {
    std::vector<SaveGroup> groups;
    const std::string out = outputFolder().toStdString();
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = tree_->topLevelItem(i);
        const int state = tree_->stateImage(top) & 3;
        if (state == kStateChecked && top == tree_->topLevelItem(0)) {
            // The whole volume.
            groups.push_back(SaveGroup{out, topLevelRecords(*session_, *results_)});
            continue;
        }
        collectChecked(top, out, groups);
    }
    return groups;
}

void ScanPage::onSave() {
    if (busy()) return;
    if (!chooseFolder()) return;
    std::vector<SaveGroup> groups = checkedGroups();
    if (groups.empty()) {
        QTreeWidgetItem* selected = tree_->currentItem();
        const ItemData record = selected != nullptr ? tree_->itemData(selected) : 0;
        if (!session_->isSavableFolder(record)) return;
        groups.push_back(SaveGroup{outputFolder().toStdString(), session_->children(record)});
    }
    std::uint64_t count = 0;
    const FileFilter filter = intactOnly_->isChecked() ? intactFilesOnly(*session_) : FileFilter{};
    for (const SaveGroup& g : groups) count += countFiles(*session_, g.records, filter);
    if (!askQuestion(this, QStringLiteral("number of files found inside this folder = %1 .do u want to continue dumping "
                                          "these files..?")
                               .arg(static_cast<long long>(count))))
        return;
    startSave(std::move(groups), count, false, QString());
}

void ScanPage::onExport() {
    if (busy()) return;
    const FileReadSeek* reader = session_->reader();
    const std::string source = reader != nullptr ? reader->path() : std::string();
    exportList(this, source, [this, &source](ListFormat format, std::ostream& out) {
        const SessionGuard guard(*sessionLock_);
        writeReport(*session_, topLevelRecords(*session_, *results_), format, out, false,
                    {terminalSafe(source), static_cast<std::uint64_t>(std::max<std::int64_t>(volume.startSector, 0)) * kSectorSize});
    });
}

void ScanPage::startSave(std::vector<SaveGroup> groups, std::uint64_t count, bool quick,
                              const QString& dumpedMessage) {
    stopPressed = false;
    quickSave_ = quick;
    saveCount_ = count;
    saveResult_ = {};
    dumpedMessage_ = dumpedMessage;
    setBusyControls(true);
    host_->setProgressRange(0, static_cast<std::int64_t>(std::min<std::uint64_t>(count, INT64_MAX)));
    host_->setProgressPos(0);
    work_ = Work::Save;
    preview_->waitForWorker();
    ScanSession* session = session_.get();
    // The quick save of one file the user picked is not filtered.
    const FileFilter filter = !quick && intactOnly_->isChecked() ? intactFilesOnly(*session) : FileFilter{};
    worker_->start([this, session, filter, groups = std::move(groups)] {
        SaveResult total;
        for (const SaveGroup& g : groups) {
            if (host_->stopRequested() || !total.outputFull.empty()) break;
            SaveResult r = saveRecords(*session, g.records, g.dir, *host_, filter);
            total.files += r.files;
            total.written += r.written;
            total.failed += r.failed;
            total.bytes += r.bytes;
            total.mediumBytes += r.mediumBytes;
            if (!r.error.empty()) total.error = r.error;
            if (!r.outputFull.empty()) total.outputFull = r.outputFull;
            total.problems.insert(total.problems.end(), r.problems.begin(), r.problems.end());
        }
        total.beyondVolume = total.mediumBytes > session->volumeBytes();
        total.stopped = total.stopped || !total.outputFull.empty();
        saveResult_ = std::move(total);
    });
}

void ScanPage::onSaveFinished() {
    setBusyControls(false);
    status2_->clear();
    const bool stopped = stopPressed;
    stopPressed = false;
    if (stopped) {
        showNotice(this, QStringLiteral("Saving stopped: %1 of %2 files written.")
                             .arg(static_cast<qulonglong>(saveResult_.written))
                             .arg(static_cast<qulonglong>(saveCount_)));
        return;
    }
    progress_->setValue(progress_->maximum());
    if (!saveResult_.error.empty()) showNotice(this, QString::fromStdString(saveResult_.error));
    if (saveResult_.failed > 0 || saveResult_.incomplete() > 0) showNotice(this, saveProblemsText(saveResult_));
    if (!quickSave_)
        showNotice(this, QStringLiteral("work done"));
    else if (!dumpedMessage_.isEmpty())
        showNotice(this, dumpedMessage_);
}

bool ScanPage::stopWorkerFirst() {
    if (!worker_->running()) return false;
    worker_->release();
    setStatus(QStringLiteral("All thread Stopped"));
    for (QPushButton* b : {backButton(), save_, export_, search_, pause_, resume_, stop_}) b->setEnabled(false);
    return true;
}

void ScanPage::beforeLeaving() {
    leaving_ = true;
    worker_->stopAndWait();
}

void ScanPage::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape never close this page.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    WizardPage::keyPressEvent(event);
}

}  // namespace corvello::ui
