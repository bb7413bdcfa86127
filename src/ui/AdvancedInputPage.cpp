#include "ui/AdvancedInputPage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "ui/WizardApp.h"
#include "ui/MessageBoxes.h"
#include "ui/PageParts.h"
#include "ui/PageWorker.h"
#include "ui/RecoveryModePage.h"
#include "ui/QtScanHost.h"
#include "ui/QtText.h"
#include "ui/ScanPage.h"

namespace corvello::ui {

AdvancedInputPage::AdvancedInputPage(WizardPage* parent)
    : WizardPage(parent, kAdvancedInputPage, QStringLiteral("Advanced input"), true) {
    auto* box = new QGroupBox(QStringLiteral("ADVANCED INPUT :"), this);
    auto* grid = new QGridLayout(box);
    tfsLabel_ = new QLabel(QStringLiteral("TFS :"), box);
    tfs_ = new QComboBox(box);
    spcLabel_ = new QLabel(QStringLiteral("Sector Per Cluster :"), box);
    spc_ = new QComboBox(box);
    heapLabel_ = new QLabel(QStringLiteral("Heap Offset :"), box);
    heap_ = new QComboBox(box);
    for (QComboBox* c : {tfs_, spc_, heap_}) c->setMinimumWidth(220);
    grid->addWidget(tfsLabel_, 0, 0);
    grid->addWidget(tfs_, 0, 1);
    grid->addWidget(spcLabel_, 1, 0);
    grid->addWidget(spc_, 1, 1);
    grid->addWidget(heapLabel_, 2, 0);
    grid->addWidget(heap_, 2, 1);
    grid->setColumnStretch(2, 1);
    body()->addWidget(box);
    body()->addStretch(1);

    progress_ = pageProgressBar(this);
    body()->addWidget(progress_);
    auto* threadRow = new QHBoxLayout;
    pause_ = pageButton(QStringLiteral("Pause"), this);
    resume_ = pageButton(QStringLiteral("Resume"), this);
    stop_ = pageButton(QStringLiteral("Stop"), this);
    threadRow->addWidget(pause_);
    threadRow->addWidget(resume_);
    threadRow->addWidget(stop_);
    threadRow->addStretch(1);
    body()->addLayout(threadRow);
    status_ = pageStatusLine(this);
    status_->setWordWrap(true);
    body()->addWidget(status_);

    host_ = new QtScanHost(this);
    worker_ = new PageWorker(host_, this);
    connect(host_, &QtScanHost::statusText, this, &AdvancedInputPage::setStatus);
    forwardProgress(host_, progress_);
    connect(worker_, &PageWorker::finished, this, &AdvancedInputPage::onSearchEnded);
    connect(pause_, &QPushButton::clicked, this, &AdvancedInputPage::onPause);
    connect(resume_, &QPushButton::clicked, this, &AdvancedInputPage::onResume);
    connect(stop_, &QPushButton::clicked, this, &AdvancedInputPage::onStop);
    connect(nextButton(), &QPushButton::clicked, this, &AdvancedInputPage::onNext);
}

AdvancedInputPage::~AdvancedInputPage() { worker_->stopAndWait(); }

RecoveryModePage* AdvancedInputPage::modePage() const { return qobject_cast<RecoveryModePage*>(parentPage()); }

bool AdvancedInputPage::searchRunning() const { return worker_->running(); }

void AdvancedInputPage::setStatus(const QString& text) {
    if (!leaving_) status_->setText(text);
}

bool AdvancedInputPage::initPage() {
    nextButton()->setEnabled(false);
    backButton()->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(spcLabel_), static_cast<QWidget*>(spc_),
                       static_cast<QWidget*>(heapLabel_), static_cast<QWidget*>(heap_)})
        w->hide();
    RecoveryModePage* mode = modePage();
    if (mode == nullptr) return false;
    maxCount = mode->maxFileSystems();
    const VolumeRecord& volume = mode->volume;

    family_ = familyOf(volume.fileSystemKind());
    if (!hasCandidateSearch(family_)) {
        // No search for this file system: the way out is Back.
        backButton()->setEnabled(true);
        hideThreadControls();
        return true;
    }
    const FamilyWizardTexts& texts = wizardTexts(family_);
    if (texts.selected != nullptr) setStatus(QString::fromLatin1(texts.selected));
    spcLabel_->setVisible(texts.clusterChoices);
    spc_->setVisible(texts.clusterChoices);
    heapLabel_->setVisible(texts.heapChoices);
    heap_->setVisible(texts.heapChoices);
    if (texts.tablesTitle != nullptr) tfsLabel_->setText(QString::fromLatin1(texts.tablesTitle));

    FileReadSeek* reader = app().reader();
    if (reader == nullptr) {
        showNotice(this, QStringLiteral("Please Restart the program to re begin necessary initialization..."));
        backButton()->setEnabled(true);
        return true;
    }
    if (app().selection.isVolume) reader->open(toUtf8(volume.locator));

    ScanRequest request;
    request.reader = reader;
    request.volume = volume;
    request.mode = RecoveryMode::Advanced;
    request.driveFormatted = app().selection.driveFormatted;
    request.maxCandidates = maxCount;
    worker_->start([this, request] { found_ = findCandidates(request, *host_); });
    return true;
}

void AdvancedInputPage::hideThreadControls() {
    for (QWidget* w : {static_cast<QWidget*>(pause_), static_cast<QWidget*>(resume_), static_cast<QWidget*>(stop_),
                       static_cast<QWidget*>(progress_)})
        w->hide();
}

void AdvancedInputPage::onSearchEnded() {
    if (leavePending()) {
        workerEnded();
        return;
    }
    if (leaving_) return;
    const auto addTables = [this] {
        for (std::size_t i = 0; i < found_.tables.size(); ++i)
            tfs_->addItem(QString::fromStdString(tableLabel(family_, i)), static_cast<qulonglong>(i));
        // The list keeps its entries sorted as text; each entry keeps its candidate's index.
        tfs_->model()->sort(0);
    };
    const auto addChoices = [this] {
        for (std::uint32_t v : found_.clusterChoices) spc_->addItem(QString::number(v));
    };
    const auto selectFirst = [](QComboBox* c) { c->setCurrentIndex(c->count() > 0 ? 0 : -1); };

    const FamilyWizardTexts& texts = wizardTexts(family_);
    if (texts.heapChoices && host_->stopRequested()) {
        // Stopped: the lists are left alone.
        return;
    }
    addTables();
    addChoices();
    if (texts.heapChoices)
        for (std::size_t i = 0; i < found_.heaps.size(); ++i)
            heap_->addItem(QString::fromStdString(corvello::heapLabel(i)), static_cast<qulonglong>(i));
    selectFirst(tfs_);
    selectFirst(spc_);
    selectFirst(heap_);
    nextButton()->setEnabled(true);
    backButton()->setEnabled(true);
    showNotice(this, QString::fromStdString(found_.message));
    hideThreadControls();
    if (!found_.noneFound && texts.searchDone != nullptr) setStatus(QString::fromLatin1(texts.searchDone));
}

void AdvancedInputPage::onPause() {
    if (worker_->pause()) setStatus(QStringLiteral("Pause button pressed"));
}

void AdvancedInputPage::onResume() {
    if (worker_->resume()) setStatus(QStringLiteral("Resume button pressed"));
}

void AdvancedInputPage::onStop() {
    if (!worker_->running()) return;
    worker_->requestStop();
    setStatus(QStringLiteral("stop button pressed"));
    nextButton()->setEnabled(true);
    backButton()->setEnabled(true);
}

void AdvancedInputPage::onNext() {
    // The lists are filled once the search has ended.
    if (worker_->running() || tfs_->currentIndex() < 0 || spc_->currentIndex() < 0) return;
    showNextPage(new ScanPage(this), kAdvancedInputPage);
}

bool AdvancedInputPage::stopWorkerFirst() {
    if (!worker_->running()) return false;
    worker_->release();
    setStatus(QStringLiteral("stop button pressed.Please wait for the process to be stopped."));
    for (QPushButton* b : {nextButton(), backButton(), pause_, resume_, stop_}) b->setEnabled(false);
    return true;
}

void AdvancedInputPage::beforeLeaving() {
    leaving_ = true;
    worker_->stopAndWait();
}

}  // namespace corvello::ui
