#include "ui/VolumeScanDlg.h"

#include <QComboBox>
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

#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "ui/CBrevantApp.h"
#include "ui/CCheckListCtrl.h"
#include "ui/CXHtmlTree.h"
#include "ui/MessageBoxes.h"
#include "ui/PageWorker.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/ProgressForwarding.h"
#include "ui/QtResultTree.h"
#include "ui/QtScanHost.h"
#include "ui/QtText.h"
#include "ui/advanceOptions.h"

namespace corvello::ui {

namespace {

constexpr const char* kOtherProcess = "Please wait for other process to complete";
constexpr const char* kScanDone = "Scanning processing done.Select save button to save the data.";

QPushButton* pageButton(const QString& text, QWidget* parent, int width = 80) {
    auto* b = new QPushButton(text, parent);
    b->setToolTip(text);
    b->setAutoDefault(false);
    b->setMinimumWidth(width);
    return b;
}

}  // namespace

VolumeScanDlg::VolumeScanDlg(WizardPage* parent)
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
    body()->addLayout(searchRow);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    tree_ = new CXHtmlTree(splitter);
    list_ = new CCheckListCtrl(splitter);
    splitter->addWidget(tree_);
    splitter->addWidget(list_);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    body()->addWidget(splitter, 1);

    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(14);
    body()->addWidget(progress_);
    auto* threadRow = new QHBoxLayout;
    pause_ = pageButton(QStringLiteral("Pause"), this);
    resume_ = pageButton(QStringLiteral("Resume"), this);
    stop_ = pageButton(QStringLiteral("Stop"), this);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusText"));
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
    nextButton()->hide();

    host_ = new QtScanHost(this);
    results_ = new QtResultTree(tree_, this);
    worker_ = new PageWorker(host_, this);
    connect(host_, &QtScanHost::statusText, this, &VolumeScanDlg::setStatus);
    forwardProgress(host_, progress_);
    connect(worker_, &PageWorker::finished, this, &VolumeScanDlg::onScanFinished);
    connect(pause_, &QPushButton::clicked, this, &VolumeScanDlg::onPause);
    connect(resume_, &QPushButton::clicked, this, &VolumeScanDlg::onResume);
    connect(stop_, &QPushButton::clicked, this, &VolumeScanDlg::onStop);
    connect(save_, &QPushButton::clicked, this, &VolumeScanDlg::onSave);
    connect(search_, &QPushButton::clicked, this, &VolumeScanDlg::onSearch);
    // A parser may clear the stop flag between its phases; Stop holds for the whole scan.
    connect(host_, &QtScanHost::statusText, this, [this] {
        if (stopPressed && worker_->running()) host_->requestStop();
    });
    connect(host_, &QtScanHost::progressPos, this, [this] {
        if (stopPressed && worker_->running()) host_->requestStop();
    });
}

VolumeScanDlg::~VolumeScanDlg() {
    worker_->stopAndWait();
    // The tree's items refer to the session's records: the items go first.
    tree_->DeleteAllItems();
}

ParceModeNtfsDlg* VolumeScanDlg::modePage() const {
    WizardPage* parent = parentPage();
    if (auto* mode = qobject_cast<ParceModeNtfsDlg*>(parent)) return mode;
    return parent != nullptr ? qobject_cast<ParceModeNtfsDlg*>(parent->parentPage()) : nullptr;
}

advanceOptions* VolumeScanDlg::advancedPage() const { return qobject_cast<advanceOptions*>(parentPage()); }

bool VolumeScanDlg::workerRunning() const { return worker_->running(); }

void VolumeScanDlg::setStatus(const QString& text) {
    if (!leaving_) status_->setText(text);
}

void VolumeScanDlg::setThreadControlsVisible(bool visible) {
    for (QWidget* w : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(pause_),
                       static_cast<QWidget*>(resume_), static_cast<QWidget*>(stop_)})
        w->setVisible(visible);
}

void VolumeScanDlg::copyAdvancedLists(advanceOptions* from) {
    const auto copy = [](QComboBox* source, QComboBox* target) {
        for (int i = 0; i < source->count(); ++i) target->addItem(source->itemText(i), source->itemData(i));
        target->setCurrentIndex(source->currentIndex());
    };
    copy(from->tfsList(), tfs_);
    copy(from->clusterList(), spc_);
    copy(from->heapList(), heap_);
    maxCandidates_ = from->maxCount;
}

ScanRequest VolumeScanDlg::makeRequest(FileReadSeek* reader) const {
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
        if (spc_->currentIndex() >= 0) {
            const std::int64_t n = parseInt64(spc_->currentText());
            if (n > 0 && n <= 65536) request.sectorsPerCluster = static_cast<std::uint32_t>(n);
        }
    }
    return request;
}

bool VolumeScanDlg::initPage() {
    tree_->InitCheckTree();
    tree_->SetSmartCheckBox(true);
    outputFolder_->hide();
    backButton()->setEnabled(false);
    scanInProgress = true;

    list_->setColumnCount(6);
    list_->setHeaderLabels({QStringLiteral("File(s) List"), QStringLiteral("Creation Time"),
                            QStringLiteral("Access Time"), QStringLiteral("Modification Time"), QStringLiteral("Size"),
                            QStringLiteral("Attribute")});
    const int widths[] = {80, 90, 90, 90, 80, 70};
    for (int c = 0; c < 6; ++c) {
        list_->setColumnWidth(c, widths[c]);
        list_->headerItem()->setTextAlignment(c, Qt::AlignLeft | Qt::AlignVCenter);
    }
    list_->init();

    ParceModeNtfsDlg* mode = modePage();
    if (mode == nullptr) return false;
    volume = mode->volume;
    if (advanceOptions* advanced = advancedPage()) copyAdvancedLists(advanced);
    volumeData_->setText(qs(volume.displayName.empty() ? volume.locator : volume.displayName));
    recoveryMode = mode->recoveryMode;
    advancedBox_->hide();

    family = familyOf(volume.fileSystem);
    if (family == Family::None) {
        refuse(QStringLiteral("not a valid drive."), QStringLiteral("Not a valid Drive .Go back"), true);
        return true;
    }
    FileReadSeek* reader = app().reader();
    if (reader == nullptr) {
        refuse(QStringLiteral("Please Restart the program to re begin necessary initialization..."), QString(), false);
        return true;
    }
    if (family == Family::Ntfs) setStatus(QStringLiteral("ntfs partition selected...."));
    if (app().selection.isVolume) reader->open(toUtf8(volume.locator));

    const ScanRequest request = makeRequest(reader);
    state_ = State::Scanning;
    worker_->start([this, request] {
        std::unique_ptr<ScanSession> session = runScan(request, *host_, *results_);
        if (session) completeScan(*session, *results_, *host_);
        session_ = std::move(session);
    });
    return true;
}

void VolumeScanDlg::refuse(const QString& message, const QString& status, bool allowBack) {
    state_ = State::Refused;
    showNotice(this, message);
    if (allowBack) backButton()->setEnabled(true);
    if (!status.isEmpty()) setStatus(status);
}

void VolumeScanDlg::onScanFinished() {
    if (leavePending()) {
        workerEnded();
        return;
    }
    if (leaving_) return;
    const bool completed = session_ != nullptr || family == Family::Ext;
    if (family == Family::HfsPlus) {
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

void VolumeScanDlg::onPause() {
    if (worker_->pause()) setStatus(QStringLiteral("Pause button pressed"));
}

void VolumeScanDlg::onResume() {
    if (worker_->resume()) setStatus(QStringLiteral("Resume button pressed"));
}

void VolumeScanDlg::onStop() {
    if (!worker_->running()) return;
    stopPressed = true;
    worker_->requestStop();
    setStatus(QStringLiteral("stop button pressed.Please wait for the process to be stopped."));
}

void VolumeScanDlg::onSave() {
    if (scanInProgress) {
        showNotice(this, QString::fromLatin1(kOtherProcess));
        return;
    }
}

void VolumeScanDlg::onSearch() {
    if (scanInProgress) {
        showNotice(this, QString::fromLatin1(kOtherProcess));
        return;
    }
}

bool VolumeScanDlg::stopWorkerFirst() {
    if (!worker_->running()) return false;
    worker_->release();
    setStatus(QStringLiteral("All thread Stopped"));
    for (QPushButton* b : {backButton(), save_, search_, pause_, resume_, stop_}) b->setEnabled(false);
    return true;
}

void VolumeScanDlg::beforeLeaving() {
    leaving_ = true;
    worker_->stopAndWait();
}

void VolumeScanDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape never close this page.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    WizardPage::keyPressEvent(event);
}

}  // namespace corvello::ui
