#include "ui/RawRecoveryDialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <sys/stat.h>

#include "common/ScanHost.h"
#include "common/Text.h"
#include "common/VolumeRecord.h"
#include "device/FileReadSeek.h"
#include "platform/Files.h"
#include "platform/ProgramPath.h"
#include "ui/WizardApp.h"
#include "ui/CheckTree.h"
#include "ui/MessageBoxes.h"
#include "ui/PageParts.h"
#include "ui/VolumeListPage.h"
#include "ui/PreviewPane.h"
#include "ui/QtResultTree.h"
#include "ui/QtScanHost.h"
#include "ui/QtText.h"
#include "ui/RawSettingDlg.h"

namespace corvello::ui {

namespace {

constexpr int kRowItemRole = Qt::UserRole;  // a file-list row's tree item

}  // namespace

// --- RawRecoveryDialog ----------------------------------------------------------------------

RawRecoveryDialog::RawRecoveryDialog(WizardPage* parent)
    : WizardPage(parent, kRawRecoveryPage, QStringLiteral("Raw recovery"), true) {
    group_ = new QGroupBox(
        QStringLiteral("Click Parse button to add default file settings or create your own file to process raw recovery."),
        this);
    auto* grid = new QGridLayout(group_);
    settingsPath_ = new QLineEdit(group_);
    browseSettings_ = new QPushButton(QStringLiteral("..."), group_);
    browseSettings_->setAutoDefault(false);
    browseSettings_->setMaximumWidth(36);
    parse_ = pageButton(QStringLiteral("Parse"), group_);
    loadDefaults_ = new QCheckBox(QStringLiteral("Load Default Items"), group_);
    setting_ = pageButton(QStringLiteral("Setting"), group_);
    settingHint_ = new QLabel(QStringLiteral("[Add new signatures in \n new/existing file]"), group_);
    grid->addWidget(settingsPath_, 0, 0);
    grid->addWidget(browseSettings_, 0, 1);
    grid->addWidget(parse_, 0, 2, Qt::AlignLeft);
    grid->addWidget(loadDefaults_, 1, 0);
    auto* settingRow = new QHBoxLayout;
    settingRow->addWidget(setting_);
    settingRow->addWidget(settingHint_);
    settingRow->addStretch(1);
    grid->addLayout(settingRow, 1, 1, 1, 2);
    grid->setColumnStretch(0, 1);
    body()->addWidget(group_);

    auto* results = new QHBoxLayout;
    tree_ = new CheckTree(this);
    fileList_ = new QTableWidget(0, 1, this);
    fileList_->setHorizontalHeaderLabels({QStringLiteral("FILES LIST ")});
    fileList_->setColumnWidth(0, 300);
    fileList_->horizontalHeader()->setStretchLastSection(true);
    fileList_->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    fileList_->verticalHeader()->hide();
    fileList_->verticalHeader()->setDefaultSectionSize(fileList_->fontMetrics().height() + 6);
    fileList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fileList_->setShowGrid(true);
    preview_ = new PreviewPane(this);
    results->addWidget(tree_, 1);
    results->addWidget(fileList_, 1);
    results->addWidget(preview_, 1);
    body()->addLayout(results, 1);

    progress_ = pageProgressBar(this);
    body()->addWidget(progress_);
    status_ = pageStatusLine(this);
    body()->addWidget(status_);

    // The hidden folder chooser of Save.
    browseFolder_ = new QPushButton(QStringLiteral("Browse"), this);
    browseFolder_->setAutoDefault(false);
    browseFolder_->hide();
    folderPath_ = new QLineEdit(this);
    folderPath_->hide();

    pause_ = pageButton(QStringLiteral("Pause"), this);
    resume_ = pageButton(QStringLiteral("Resume"), this);
    stop_ = pageButton(QStringLiteral("Stop"), this);
    save_ = pageButton(QStringLiteral("Save"), this);
    for (QPushButton* b : {pause_, resume_, stop_}) buttonRow()->insertWidget(buttonRow()->indexOf(backButton()), b);
    buttonRow()->addWidget(save_);
    nextButton()->hide();

    host_ = new QtScanHost(this);
    connect(host_, &QtScanHost::statusText, this, &RawRecoveryDialog::setStatus);
    // Carving counts clusters: a disk of terabytes has more of them than the bar's int can hold.
    forwardProgress(host_, progress_);

    results_ = new QtResultTree(tree_, this);
    connect(results_, &QtResultTree::itemShown, this, &RawRecoveryDialog::onItemShown);
    connect(results_, &QtResultTree::itemRemoving, this, &RawRecoveryDialog::onItemRemoving);
    connect(results_, &QtResultTree::allRemoved, this, &RawRecoveryDialog::onAllRemoved);

    connect(browseSettings_, &QPushButton::clicked, this, &RawRecoveryDialog::onBrowseSettings);
    connect(parse_, &QPushButton::clicked, this, &RawRecoveryDialog::onParse);
    connect(setting_, &QPushButton::clicked, this, &RawRecoveryDialog::onSetting);
    connect(pause_, &QPushButton::clicked, this, &RawRecoveryDialog::onPause);
    connect(resume_, &QPushButton::clicked, this, &RawRecoveryDialog::onResume);
    connect(stop_, &QPushButton::clicked, this, &RawRecoveryDialog::onStop);
    connect(save_, &QPushButton::clicked, this, &RawRecoveryDialog::onSave);
    connect(browseFolder_, &QPushButton::clicked, this, &RawRecoveryDialog::onBrowseFolder);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { onCurrentItemChanged(current); });
    connect(tree_, &CheckTree::labelClicked, this, &RawRecoveryDialog::onCurrentItemChanged);
    connect(fileList_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        QTableWidgetItem* cell = row >= 0 ? fileList_->item(row, 0) : nullptr;
        if (cell != nullptr) previewFound(reinterpret_cast<QTreeWidgetItem*>(cell->data(kRowItemRole).value<quintptr>()));
    });

    chooseSettingsFile = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Signature settings file"),
                                            QFileInfo(settingsPath_->text()).absolutePath(),
                                            QStringLiteral("Signature settings (*.txt);;All files (*)"));
    };
    chooseFolder = [this] {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Please choose a folder."), folderPath_->text(),
                                                 QFileDialog::ShowDirsOnly);
    };
}

RawRecoveryDialog::~RawRecoveryDialog() {
    preview_->clear();
    preview_->waitForWorker();
    stopWorker();
}

bool RawRecoveryDialog::initPage() {
    tree_->initCheckTree();
    tree_->setSmartCheckBox(true);
    tree_->setReadOnlyChecks(false);
    tree_->setImages(true);
    loadDefaults_->setChecked(true);
    showRunControls(false);

    // share/corvello/ as installed, beside the program, or the data folder of a build tree.
    const QString dir = QCoreApplication::applicationDirPath();
    const std::string found = platform::dataFilePathFrom(dir.toStdString(), "FileSetting.txt");
    defaultSettingsPath = found.empty() ? QDir(dir).filePath(QStringLiteral("FileSetting.txt"))
                                        : QDir::cleanPath(QString::fromStdString(found));
    settingsPath_->setText(defaultSettingsPath);
    loadedCount = 0;
    setStatus(QStringLiteral("Click Parse to search the volume for files by their signatures."));
    return true;
}

void RawRecoveryDialog::setStatus(const QString& text) {
    if (!leaving_) status_->setText(text);
}

void RawRecoveryDialog::showRunControls(bool show) {
    for (QWidget* w : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(pause_),
                       static_cast<QWidget*>(resume_), static_cast<QWidget*>(stop_)})
        w->setVisible(show);
}

void RawRecoveryDialog::enableControls(bool enable) {
    for (QWidget* w : {static_cast<QWidget*>(backButton()), static_cast<QWidget*>(browseSettings_),
                       static_cast<QWidget*>(settingsPath_), static_cast<QWidget*>(setting_),
                       static_cast<QWidget*>(parse_), static_cast<QWidget*>(loadDefaults_),
                       static_cast<QWidget*>(save_)})
        w->setEnabled(enable);
}

const VolumeRecord* RawRecoveryDialog::selectedVolume() const {
    const auto* list = qobject_cast<const VolumeListPage*>(parentPage());
    return list == nullptr ? nullptr : list->selectedVolume;
}

std::int64_t RawRecoveryDialog::volumeLength() const {
    const VolumeRecord* volume = selectedVolume();
    if (volume == nullptr) return 0;
    const FileReadSeek* reader = WizardApp::instance() != nullptr ? WizardApp::instance()->reader() : nullptr;
    if (reader == nullptr) return volume->startSector < 0 ? 0 : volume->sizeBytes();
    return volumeCarveRange(*reader, *volume).length;
}

bool RawRecoveryDialog::running() const { return worker_ != nullptr && worker_->isRunning(); }

QString RawRecoveryDialog::outputFolder() const { return folderPath_->text(); }

QTreeWidgetItem* RawRecoveryDialog::rootItem() const { return tree_->topLevelItemCount() > 0 ? tree_->topLevelItem(0) : nullptr; }

QTreeWidgetItem* RawRecoveryDialog::fileItem(std::size_t index) const {
    const auto it = fileItems_.find(index);
    return it == fileItems_.end() ? nullptr : it->second;
}

std::vector<std::size_t> RawRecoveryDialog::checkedFiles() const {
    std::vector<std::size_t> out;
    QTreeWidgetItem* root = rootItem();
    if (root == nullptr) return out;
    for (int c = 0; c < root->childCount(); ++c) {
        QTreeWidgetItem* category = root->child(c);
        for (int f = 0; f < category->childCount(); ++f) {
            QTreeWidgetItem* file = category->child(f);
            if (tree_->isChecked(file)) out.push_back(static_cast<std::size_t>(tree_->itemData(file)));
        }
    }
    return out;
}

// --- The tree, as the carving worker fills it -----------------------------------------------

void RawRecoveryDialog::onItemShown(QTreeWidgetItem* item, IconKind icon) {
    if (icon != IconKind::File) return;
    fileItems_[static_cast<std::size_t>(tree_->itemData(item))] = item;
    // A new file under the category the list shows appears in the list at once.
    if (tree_->currentItem() != nullptr && tree_->currentItem() == item->parent()) {
        const int row = fileList_->rowCount();
        fileList_->insertRow(row);
        auto* cell = new QTableWidgetItem(item->text(0));
        cell->setData(kRowItemRole, QVariant::fromValue(reinterpret_cast<quintptr>(item)));
        fileList_->setItem(row, 0, cell);
    }
}

void RawRecoveryDialog::onItemRemoving(QTreeWidgetItem* item) {
    for (auto f = fileItems_.begin(); f != fileItems_.end();) {
        bool below = false;
        for (QTreeWidgetItem* p = f->second; p != nullptr && !below; p = p->parent()) below = p == item;
        f = below ? fileItems_.erase(f) : std::next(f);
    }
    fileList_->setRowCount(0);
}

void RawRecoveryDialog::onAllRemoved() {
    fileList_->setRowCount(0);
    fileItems_.clear();
}

void RawRecoveryDialog::onCurrentItemChanged(QTreeWidgetItem* item) {
    if (item != nullptr && item->childCount() == 0) previewFound(item);
    if (item == nullptr || item->childCount() == 0) return;
    fileList_->setRowCount(0);
    fileList_->setRowCount(item->childCount());
    for (int i = 0; i < item->childCount(); ++i) {
        auto* cell = new QTableWidgetItem(item->child(i)->text(0));
        cell->setData(kRowItemRole, QVariant::fromValue(reinterpret_cast<quintptr>(item->child(i))));
        fileList_->setItem(i, 0, cell);
    }
}

void RawRecoveryDialog::previewFound(QTreeWidgetItem* item) {
    const QTreeWidgetItem* root = rootItem();
    // File items sit below a category below the root.
    if (item == nullptr || running() || !engine_ || root == nullptr || item->parent() == nullptr ||
        item->parent()->parent() != root) {
        preview_->clear();
        return;
    }
    const auto index = static_cast<std::size_t>(tree_->itemData(item));
    const VolumeView view = engine_->view;
    if (index >= engine_->carvedFiles.size() || !view.valid()) {
        preview_->clear();
        return;
    }
    const CarvedFile file = engine_->carvedFiles[index];
    QString details = QStringLiteral("Size: %1 bytes   Offset: %2")
                          .arg(static_cast<qlonglong>(file.size))
                          .arg(static_cast<qlonglong>(file.offset));
    if (file.partial) details += QStringLiteral("\nDamaged or cut: only its sound part is kept.");
    preview_->showFile(item->parent()->text(0) + QLatin1Char('\\') + item->text(0), details,
                       static_cast<std::uint64_t>(std::max<std::int64_t>(file.size, 0)),
                       [view, file](std::size_t limit) {
                           platform::OutputFile out;
                           out.openMemory(limit);
                           out.setStopAtLimit(true);  // the rest of the file is not read
                           bool unreadable = false;
                           writeCarvedFile(view, file, out, unreadable);
                           return out.bytes();
                       });
}

// --- Buttons --------------------------------------------------------------------------------

void RawRecoveryDialog::onBrowseSettings() {
    const QString path = chooseSettingsFile ? chooseSettingsFile() : QString();
    if (!path.isEmpty()) settingsPath_->setText(path);
}

void RawRecoveryDialog::onSetting() {
    RawSettingDlg editor(this);
    editor.exec();
}

FileReadSeek* RawRecoveryDialog::prepareReader() {
    WizardApp& a = app();
    FileReadSeek* reader = a.reader();
    if (reader == nullptr) reader = a.newReader();
    // A reader that was replaced since the volume list read the disk is opened on it again.
    const auto* list = qobject_cast<const VolumeListPage*>(parentPage());
    if (!reader->isOpen() && list != nullptr && !list->devicePath.isEmpty()) reader->open(list->devicePath.toStdString());
    return reader;
}

void RawRecoveryDialog::onParse() {
    if (running()) return;
    showRunControls(true);
    progress_->setRange(0, 1000);
    progress_->setValue(0);

    // Each Parse starts from a fresh engine, so the counts and the found files are this run's.
    auto engine = std::make_unique<CarvingEngine>();
    if (loadDefaults_->isChecked()) loadDefinitions(*engine, defaultSettingsPath.toStdString(), true, *host_);
    const QString userFile = settingsPath_->text();
    if (!userFile.isEmpty() && !loadDefinitions(*engine, userFile.toStdString(), false, *host_)) {
        backButton()->setEnabled(true);
        setStatus(QStringLiteral("Processing done"));
        showRunControls(false);
        return;
    }
    enableControls(false);

    FileReadSeek* reader = prepareReader();
    const std::int64_t length = volumeLength();
    if (length <= 0) {
        enableControls(true);
        showNotice(this, QStringLiteral("zero size volume.."));
        showRunControls(false);
        setStatus(QStringLiteral("Processing done"));
        return;
    }

    prepareCarving(*engine, *reader, volumeCarveRange(*reader, *selectedVolume()), *results_, *host_);
    loadedCount = static_cast<int>(engine->definitionCount());

    results_->deleteAllItems();
    engine_ = std::move(engine);
    CarvingEngine* run = engine_.get();
    startWorker(
        [this, run] {
            host_->setStatus("Processing.....");
            run->carve();
        },
        false);
}

void RawRecoveryDialog::startWorker(std::function<void()> work, bool save) {
    // The preview reads through the same reader: it is done before the run begins.
    preview_->clear();
    preview_->waitForWorker();
    host_->clearStop();
    releasePause();
    saveRun_ = save;
    worker_ = QThread::create(std::move(work));
    connect(worker_, &QThread::finished, this, &RawRecoveryDialog::onRunFinished);
    enableControls(false);
    pause_->setEnabled(true);
    resume_->setEnabled(true);
    stop_->setEnabled(true);
    worker_->start();
}

void RawRecoveryDialog::onRunFinished() {
    if (leaving_ || worker_ == nullptr) return;
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    releasePause();
    enableControls(true);
    showRunControls(false);
    if (saveRun_) {
        finishSave();
    } else {
        setStatus(QStringLiteral("Processing done"));
    }
    saveRun_ = false;
    emit runEnded();
}

void RawRecoveryDialog::releasePause() {
    for (; pauses_ > 0; --pauses_) host_->pauseGate().resume();
}

void RawRecoveryDialog::onPause() {
    if (!running()) return;
    // One pause at a time from this page: a second press changes nothing, one Resume goes on.
    if (pauses_ == 0) {
        host_->pauseGate().pause();
        ++pauses_;
    }
    setStatus(QStringLiteral("Pause button pressed"));
}

void RawRecoveryDialog::onResume() {
    if (!running()) return;
    releasePause();
    setStatus(QStringLiteral("Resume button pressed"));
}

void RawRecoveryDialog::onStop() {
    if (!running()) return;
    host_->requestStop();
    // A paused worker has to run on to see the request.
    releasePause();
    setStatus(QStringLiteral("Stop button pressed.Please wait for the process to stop"));
}

void RawRecoveryDialog::stopWorker() {
    if (worker_ == nullptr) return;
    host_->requestStop();
    host_->abandonWaiting();
    releasePause();
    worker_->wait();
    disconnect(worker_, nullptr, this, nullptr);
    delete worker_;
    worker_ = nullptr;
}

void RawRecoveryDialog::beforeLeaving() {
    stopWorker();
    leaving_ = true;
}

// --- Save -----------------------------------------------------------------------------------

void RawRecoveryDialog::onBrowseFolder() {
    const QString folder = chooseFolder ? chooseFolder() : QString();
    if (!folder.isEmpty()) folderPath_->setText(folder);
}

void RawRecoveryDialog::onSave() {
    if (running()) return;
    std::vector<std::size_t> indices = checkedFiles();
    if (engine_ == nullptr || indices.empty()) {
        showNotice(this, QStringLiteral("Please Select item from tree to save"));
        return;
    }
    const QString before = folderPath_->text();
    folderPath_->clear();
    onBrowseFolder();
    const QString folder = folderPath_->text();
    if (folder.isEmpty()) {
        folderPath_->setText(before);
        return;
    }
    if (!QFileInfo(folder).isDir()) {
        showNotice(this, QStringLiteral("The folder %1 cannot be used for saving.").arg(folder));
        return;
    }

    saveIndices_ = std::move(indices);
    saveFolder_ = QDir::cleanPath(folder).toStdString();
    saveResult_ = CarveSaveResult{};
    saveResult_.files = saveIndices_.size();
    // Save reads through the view of the volume the carving ran on.
    if (!engine_->view.valid() || selectedVolume() == nullptr) {
        showNotice(this, QStringLiteral("information lost ..go back and parse again"));
        return;
    }

    showRunControls(true);
    pause_->hide();
    resume_->hide();
    progress_->setRange(0, static_cast<int>(std::min<std::size_t>(saveIndices_.size(), INT32_MAX)));
    progress_->setValue(0);
    const CarvingEngine* engine = engine_.get();
    startWorker(
        [this, engine] {
            // Files are created new in their category folders; a name that is there already
            // gets " (2)", " (3)" ..., and no link in the folder is followed.
            saveResult_ = saveCarvedFiles(*engine, saveIndices_, saveFolder_, *host_);
        },
        true);
}

void RawRecoveryDialog::finishSave() {
    const CarveSaveResult& r = saveResult_;
    const QString folder = QString::fromStdString(saveFolder_);
    setStatus(QStringLiteral("%1 of %2 file(s) saved into %3%4")
                  .arg(r.written)
                  .arg(r.files)
                  .arg(folder, r.stopped ? QStringLiteral(" (stopped)") : QString()));
    if (!r.outputFull.empty())
        showNotice(this, QStringLiteral("The output folder is full: %1 could not be completed and was removed.")
                             .arg(QString::fromStdString(r.outputFull)));
    if (r.unreadable > 0)
        showNotice(this, QStringLiteral("%1 file(s) hold unreadable sectors, written as zeros.").arg(r.unreadable));
    // Files whose structure breaks off are kept up to their last sound part; the user is told
    // which kind of file that was, as the command line lists them.
    std::size_t partial = 0;
    if (engine_ != nullptr)
        for (std::size_t i : saveIndices_)
            if (i < engine_->carvedFiles.size() && engine_->carvedFiles[i].partial) ++partial;
    if (partial > 0)
        showNotice(this, QStringLiteral("%1 file(s) are damaged or cut; each was saved up to its last sound part.")
                             .arg(static_cast<qulonglong>(partial)));
    if (r.failed > 0) showNotice(this, QStringLiteral("%1 file(s) could not be written into %2.").arg(r.failed).arg(folder));
}

}  // namespace corvello::ui
