#include "ui/VolumeListPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "platform/RawFile.h"
#include "scan/FamilyTable.h"
#include "scan/Volumes.h"
#include "ui/WizardApp.h"
#include "ui/MessageBoxes.h"
#include "ui/PageParts.h"
#include "ui/QtScanHost.h"
#include "ui/QtText.h"
#include "ui/SectorSpinBox.h"

namespace corvello::ui {

namespace {

constexpr int kRecordRole = Qt::UserRole;  // index into the page's row copies
constexpr int kSectorsRole = Qt::UserRole + 1;  // the row's exact length in bytes (0: not known)

// The name the parsers know for an entry of "Treat file system as:" (a family's row, or "RAW",
// which names none).
QString overrideName(const QString& entry) {
    for (const FamilyRow& row : families())
        if (entry == QLatin1String(row.name)) return QString::fromLatin1(row.typedName);
    return {};
}

}  // namespace

VolumeListPage::VolumeListPage(WizardPage* parent)
    : WizardPage(parent, kVolumeListPage, QStringLiteral("Select a volume"), true) {
    body()->addWidget(new QLabel(QStringLiteral("Volume List:"), this));
    list_ = new QTableWidget(0, 4, this);
    list_->setHorizontalHeaderLabels({QStringLiteral("VOLUME"), QStringLiteral("FILE_SYSTEM"),
                                      QStringLiteral("VOLUME_SIZE"), QStringLiteral("START_SECTOR")});
    const int widths[] = {80, 80, 80, 100};
    for (int c = 0; c < 4; ++c) {
        // At least wide enough for the column's title in this font.
        const int title = list_->fontMetrics().horizontalAdvance(list_->horizontalHeaderItem(c)->text()) + 16;
        list_->setColumnWidth(c, std::max(widths[c], title));
        list_->horizontalHeaderItem(c)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->setMinimumHeight(130);
    body()->addWidget(list_, 1);

    auto* listButtons = new QHBoxLayout;
    filter_ = new QPushButton(QStringLiteral("Filter Entries"), this);
    filter_->setToolTip(QStringLiteral("Filter volume entries."));
    addCustom_ = new QPushButton(QStringLiteral("Add Custom Volume"), this);
    addCustom_->setToolTip(QStringLiteral("Add Custom Volume entry."));
    for (QPushButton* b : {filter_, addCustom_}) b->setAutoDefault(false);
    listButtons->addWidget(filter_);
    listButtons->addWidget(addCustom_);
    listButtons->addStretch(1);
    body()->addLayout(listButtons);

    custom_ = new QCheckBox(QStringLiteral("Custom Settings For Selected Volume "), this);
    body()->addWidget(custom_);
    frame_ = new QGroupBox(this);
    auto* grid = new QGridLayout(frame_);
    selectedLabel_ = new QLabel(QStringLiteral("Selected Volume :"), frame_);
    selectedValue_ = new QLabel(frame_);
    startLabel_ = new QLabel(QStringLiteral("Start Sector:"), frame_);
    endLabel_ = new QLabel(QStringLiteral("End Sector :"), frame_);
    treatAsLabel_ = new QLabel(QStringLiteral("Treat file system as:"), frame_);
    start_ = new SectorSpinBox(frame_);
    end_ = new SectorSpinBox(frame_);
    treatAs_ = new QComboBox(frame_);
    grid->addWidget(selectedLabel_, 0, 0);
    grid->addWidget(selectedValue_, 0, 1);
    grid->addWidget(treatAsLabel_, 0, 2);
    grid->addWidget(treatAs_, 0, 3);
    grid->addWidget(startLabel_, 1, 0);
    grid->addWidget(start_, 1, 1);
    grid->addWidget(endLabel_, 1, 2);
    grid->addWidget(end_, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    body()->addWidget(frame_);

    progress_ = pageProgressBar(this);
    body()->addWidget(progress_);
    status_ = pageStatusLine(this);
    body()->addWidget(status_);

    stop_ = pageButton(QStringLiteral("Stop"), this, 90);
    buttonRow()->insertWidget(buttonRow()->indexOf(backButton()), stop_);

    host_ = new QtScanHost(this);
    connect(host_, &QtScanHost::statusText, this, &VolumeListPage::setStatus);
    forwardProgress(host_, progress_);
    connect(host_, &QtScanHost::volumesFound, this, &VolumeListPage::onVolumesFound);
    connect(host_, &QtScanHost::filterEnabled, filter_, &QPushButton::setEnabled);

    connect(stop_, &QPushButton::clicked, this, &VolumeListPage::onStop);
    connect(filter_, &QPushButton::clicked, this, &VolumeListPage::onFilterEntries);
    connect(addCustom_, &QPushButton::clicked, this, &VolumeListPage::onAddCustomVolume);
    connect(custom_, &QCheckBox::clicked, this, &VolumeListPage::onCustomCheck);
    connect(nextButton(), &QPushButton::clicked, this, &VolumeListPage::onNext);
    connect(list_, &QTableWidget::itemSelectionChanged, this, &VolumeListPage::onSelectionChanged);
    connect(list_, &QTableWidget::cellClicked, this, [this](int row, int) { onRowClicked(row); });
}

VolumeListPage::~VolumeListPage() { stopWorker(); }

bool VolumeListPage::initPage() {
    custom_->setEnabled(false);
    enableCustomControls(false);
    for (const FamilyRow& row : families()) treatAs_->addItem(QString::fromLatin1(row.name));
    treatAs_->addItem(QStringLiteral("RAW"));
    treatAs_->model()->sort(0);
    treatAs_->setCurrentIndex(-1);
    app().newReader();
    if (scanMode == 1) {
        progress_->setRange(0, 1000);
        standardScan();
        progress_->setValue(1000);
    } else {
        advancedScan();
    }
    return true;
}

void VolumeListPage::setStatus(const QString& text) {
    if (!leaving_) status_->setText(text);
}

void VolumeListPage::enableCustomControls(bool enable) {
    for (QWidget* w : {static_cast<QWidget*>(frame_), static_cast<QWidget*>(selectedLabel_),
                       static_cast<QWidget*>(selectedValue_), static_cast<QWidget*>(startLabel_),
                       static_cast<QWidget*>(start_), static_cast<QWidget*>(endLabel_), static_cast<QWidget*>(end_),
                       static_cast<QWidget*>(treatAsLabel_), static_cast<QWidget*>(treatAs_)})
        w->setEnabled(enable);
}

void VolumeListPage::clearList() {
    list_->setRowCount(0);
    rowRecords_.clear();
}

void VolumeListPage::insertRow(int row, const VolumeRecord& record) {
    rowRecords_.push_back(record);
    list_->insertRow(row);
    const QString texts[] = {qs(record.locator), qs(record.fileSystem), qs(record.sizeText),
                             QString::number(record.startSector)};
    for (int c = 0; c < 4; ++c) list_->setItem(row, c, new QTableWidgetItem(texts[c]));
    list_->item(row, 0)->setData(kRecordRole, static_cast<qulonglong>(rowRecords_.size() - 1));
    list_->item(row, 0)->setData(kSectorsRole, static_cast<qlonglong>(record.byteLength));
}

VolumeRecord* VolumeListPage::rowRecord(int row) {
    if (row < 0 || row >= list_->rowCount() || list_->item(row, 0) == nullptr) return nullptr;
    const qulonglong index = list_->item(row, 0)->data(kRecordRole).toULongLong();
    return index < rowRecords_.size() ? &rowRecords_[index] : nullptr;
}

bool VolumeListPage::scanRunning() const { return worker_ != nullptr && worker_->isRunning(); }

void VolumeListPage::standardScan() {
    addCustom_->hide();
    app().newReader();
    app().selection.totalSectors = 0;
    FileReadSeek* reader = app().reader();
    if (reader == nullptr) {
        showNotice(this, QStringLiteral("information lost ..go back and parse again"));
        return;
    }
    clearList();
    volumes.clear();
    if (!reader->open(devicePath.toStdString())) {
        showNotice(this, QStringLiteral("file not opened.."));
    } else {
        const int error = readVolumeTables(*reader, gptFormat, volumes, host_);
        for (std::size_t i = 0; i < volumes.size(); ++i) insertRow(static_cast<int>(i), volumes[i]);
        if (!volumes.empty()) custom_->setEnabled(true);
        if (error != 0)
            showNotice(this, QStringLiteral("The partition table of %1 could not be read whole: %2.")
                                 .arg(devicePath, QString::fromStdString(volumeTablesErrorText(error))));
    }
    filter_->setEnabled(true);
    setStatus(QStringLiteral("Finished Scanning."));
    progress_->hide();
    stop_->hide();
    setStatus(QStringLiteral("Select volume and click next button..."));
}

void VolumeListPage::advancedScan() {
    addCustom_->setEnabled(false);
    nextButton()->setEnabled(false);
    filter_->setEnabled(false);  // the scan enables it again when it ends
    BootScanRange range;
    range.skipVolumeSize = !doNotSkipVolumeSize;
    if (customEndSector >= 0) {
        range.start = customStartSector;
        range.end = customEndSector;
    }
    FileReadSeek* reader = app().newReader();
    if (!reader->open(devicePath.toStdString())) {
        nextButton()->setEnabled(true);
        showNotice(this, QStringLiteral("file not opened.."));
        return;
    }
    clearList();
    volumes.clear();
    host_->takeVolumes();  // none of an earlier scan's
    host_->clearStop();

    // The worker reads through the current reader; nothing else uses it while Back and Next
    // are disabled.
    QtScanHost* host = host_;
    workerResult_ = 1;
    worker_ = QThread::create([this, host, reader, range] { workerResult_ = scanBootRecords(*reader, *host, *host, range); });
    connect(worker_, &QThread::finished, this, &VolumeListPage::onAdvancedScanFinished);
    if (QPushButton* back = backButton()) back->setEnabled(false);
    stop_->setEnabled(true);
    worker_->start();
}

void VolumeListPage::onVolumesFound() {
    std::vector<VolumeRecord> found = host_->takeVolumes();
    if (leaving_) return;
    for (VolumeRecord& record : found) {
        insertRow(list_->rowCount(), record);
        volumes.push_back(std::move(record));
    }
}

void VolumeListPage::onStop() {
    host_->requestStop();
    if (QPushButton* back = backButton()) back->setEnabled(true);
}

void VolumeListPage::stopWorker() {
    if (worker_ == nullptr) return;
    host_->requestStop();
    host_->abandonWaiting();
    worker_->wait();
    disconnect(worker_, nullptr, this, nullptr);
    delete worker_;
    worker_ = nullptr;
}

void VolumeListPage::onAdvancedScanFinished() {
    if (leaving_ || worker_ == nullptr) return;
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    onVolumesFound();  // any the worker found after the last batch was taken
    setStatus(QStringLiteral("Scanned Partitions"));
    const int result = workerResult_;
    if (result != 1)
        showNotice(this, QStringLiteral("Reading %1 stopped: %2.")
                             .arg(devicePath, QString::fromStdString(platform::errorText(result))));
    showNotice(this, QStringLiteral("populated partitions...."));
    setStatus(QStringLiteral("Finished Scanning."));
    if (QPushButton* back = backButton()) back->setEnabled(true);
    if (!volumes.empty()) custom_->setEnabled(true);
    addCustom_->setEnabled(true);
    progress_->hide();
    stop_->hide();
    nextButton()->setEnabled(true);
    setStatus(QStringLiteral("Select volume and click next button..."));
    emit advancedScanEnded();
}

void VolumeListPage::onSelectionChanged() {
    const QList<QTableWidgetSelectionRange> ranges = list_->selectedRanges();
    if (ranges.isEmpty()) return;
    const int row = ranges.front().topRow();
    selectedValue_->setText(list_->item(row, VolumeColumn)->text());
    const std::int64_t start = parseInt64(list_->item(row, StartSectorColumn)->text());
    const std::int64_t size = parseInt64(list_->item(row, VolumeSizeColumn)->text());
    const std::int64_t exact = (list_->item(row, VolumeColumn)->data(kSectorsRole).toLongLong() + 511) / 512;
    // The size comes from the disk: keep the arithmetic from overflowing on a hostile table.
    std::int64_t endSector = 0;
    if (exact > 0) {
        // The volume's own last sector, not the last one of its whole MiB.
        if (__builtin_add_overflow(start, exact - 1, &endSector)) endSector = std::numeric_limits<std::int64_t>::max();
    } else if (size > 0) {
        std::int64_t sectors = 0;
        if (__builtin_mul_overflow(size, std::int64_t{2048}, &sectors) ||
            __builtin_add_overflow(start, sectors - 1, &endSector))
            endSector = std::numeric_limits<std::int64_t>::max();
    }
    start_->setText(QString::number(start));
    end_->setText(QString::number(endSector));
}

void VolumeListPage::onRowClicked(int row) {
    if (row < 0 || row >= list_->rowCount()) return;
    const QString fs = list_->item(row, FileSystemColumn)->text();
    if (fs.isEmpty()) return;
    for (int i = 0; i < treatAs_->count(); ++i) {
        if (treatAs_->itemText(i).startsWith(fs, Qt::CaseInsensitive)) {
            treatAs_->setCurrentIndex(i);
            return;
        }
    }
}

void VolumeListPage::onCustomCheck() { enableCustomControls(custom_->isChecked()); }

void VolumeListPage::onAddCustomVolume() {
    VolumeRecord record;
    record.locator = u16(QString::number(list_->rowCount()));
    record.setFileSystem(u"CUSTOM ");
    record.sizeText = std::u16string(1, u'0');
    record.startSector = 0;
    volumes.push_back(record);
    custom_->setEnabled(true);
    custom_->setChecked(true);
    enableCustomControls(true);
    insertRow(0, record);
    list_->selectRow(0);
    start_->setText(QStringLiteral("0"));
    end_->setText(QStringLiteral("0"));
}

void VolumeListPage::onFilterEntries() {
    clearList();
    if (volumes.size() <= 1) return;
    for (std::size_t i = 1; i < volumes.size(); ++i) {
        if (volumes[i].startSector != volumes[i - 1].startSector + 1) continue;
        volumes[i].locator = u16(QString::number(i));
        insertRow(0, volumes[i]);
    }
}

void VolumeListPage::onNext() {
    const QList<QTableWidgetSelectionRange> ranges = list_->selectedRanges();
    VolumeRecord* record = ranges.isEmpty() ? nullptr : rowRecord(ranges.front().topRow());
    if (record == nullptr) {
        showNotice(this, QStringLiteral("please select a valid volume."));
        return;
    }
    const int row = ranges.front().topRow();
    selectedVolume = record;

    if (!custom_->isChecked() && customApplied) {
        record->locator = u16(list_->item(row, VolumeColumn)->text());
        record->setFileSystem(u16(list_->item(row, FileSystemColumn)->text()));
        QString size = list_->item(row, VolumeSizeColumn)->text();
        size.remove(QStringLiteral("MB"));
        record->sizeText = u16(size.trimmed());
        record->startSector = parseInt64(list_->item(row, StartSectorColumn)->text());
        record->byteLength = list_->item(row, VolumeColumn)->data(kSectorsRole).toLongLong();
    }
    if (custom_->isChecked()) {
        customApplied = true;
        const std::int64_t start = start_->number();
        const std::int64_t end = end_->number();
        record->startSector = start;
        // end > start, so end - start is positive, but may not fit when start is negative.
        std::int64_t span = 0;
        if (end > start && __builtin_sub_overflow(end, start, &span)) span = std::numeric_limits<std::int64_t>::max() - 1;
        record->sizeText = end > start ? u16(QString::number((span + 1) / 2048)) : std::u16string(u"0");
        record->byteLength = end > start && span < std::numeric_limits<std::int64_t>::max() / 512 - 1 ? (span + 1) * 512 : 0;
        const QString name = treatAs_->currentIndex() >= 0 ? overrideName(treatAs_->currentText()) : QString();
        if (!name.isEmpty()) record->setFileSystem(u16(name));
    }

    if (treatAs_->currentIndex() >= 0 && treatAs_->currentText() == QLatin1String("RAW")) {
        record->setFileSystem(u"RAW");
        openStep(app().rawRecoveryPage, QString::fromLatin1(kRawRecoveryUnavailable));
    } else if (equalsIgnoreCase(record->fileSystem, u"unknown")) {
        showNotice(this, QStringLiteral("can not parse unknown volume"));
    } else {
        openStep(app().recoveryModePage, QString::fromLatin1(kRecoveryModeUnavailable));
    }
}

void VolumeListPage::beforeLeaving() {
    stopWorker();
    leaving_ = true;
    rowRecords_.clear();
    list_->setRowCount(0);
}

}  // namespace corvello::ui
