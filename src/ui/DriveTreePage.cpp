#include "ui/DriveTreePage.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/Text.h"
#include "device/DriveEnumeration.h"
#include "platform/RawFile.h"
#include "platform/SystemInfo.h"
#include "scan/Volumes.h"
#include "ui/WizardApp.h"
#include "ui/PartitionScanModePage.h"
#include "ui/MessageBoxes.h"
#include "ui/PageParts.h"
#include "ui/QtText.h"
#include "ui/VolumeInformationPage.h"

namespace corvello::ui {

DriveTreePage::DriveTreePage(QWidget* parent)
    : WizardPage(parent, kDriveTreePage, QStringLiteral("Select a drive or a volume"), false) {
    auto* hint = new QLabel(QStringLiteral("Select the drive or volume to recover files from and click Next...."), this);
    body()->addWidget(hint);

    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setIconSize(QSize(16, 16));
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    body()->addWidget(tree_, 1);

    auto* row = new QHBoxLayout;
    openImage_ = new QPushButton(QStringLiteral("Open disk image..."), this);
    openImage_->setToolTip(QStringLiteral("Work on a disk or volume image file instead of a drive."));
    openImage_->setAutoDefault(false);
    row->addWidget(openImage_);
    elevate_ = new QPushButton(QStringLiteral("Restart as administrator..."), this);
    elevate_->setObjectName(QStringLiteral("restartAsAdministrator"));
    elevate_->setToolTip(QStringLiteral("Start Corvello again with administrator rights, to read the drives."));
    elevate_->setAutoDefault(false);
    elevate_->hide();
    row->addWidget(elevate_);
    row->addStretch(1);
    body()->addLayout(row);

    status_ = pageStatusLine(this);
    status_->setWordWrap(true);
    body()->addWidget(status_);

    connect(nextButton(), &QPushButton::clicked, this, &DriveTreePage::onNext);
    connect(openImage_, &QPushButton::clicked, this, &DriveTreePage::onOpenImage);
    connect(elevate_, &QPushButton::clicked, this, [this] { app().restartAsAdministrator(); });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item != nullptr && item->parent() != nullptr) onNext();
    });
}

bool DriveTreePage::initPage() {
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    volumesRoot_ = new QTreeWidgetItem(tree_, QStringList(QStringLiteral("     VOLUMES:")));
    drivesRoot_ = new QTreeWidgetItem(tree_, QStringList(QStringLiteral("     PHYSICAL DRIVES:")));
    volumesRoot_->setIcon(0, icon);
    drivesRoot_->setIcon(0, icon);
    enumeratePhysicalDrives();
    enumerateVolumes();
    volumesRoot_->setExpanded(true);
    drivesRoot_->setExpanded(true);

    QStringList lines;
    const int denied = deniedDrives_ + deniedVolumes_;
    const bool offer = denied > 0 && app().elevationPossible;
    if (offer)
        lines << QStringLiteral("%1 drive(s) or volume(s) could not be opened: reading them needs administrator "
                                "rights. Click \"Restart as administrator...\" to list them; the images you opened "
                                "stay open.")
                     .arg(denied);
    else if (denied > 0)
        lines << QStringLiteral("%1 drive(s) or volume(s) could not be opened: reading them needs administrator "
                                "rights. Start Corvello as administrator (root) to list them.")
                     .arg(denied);
    elevate_->setVisible(offer);
    if (drivesRoot_->childCount() == 0)
        lines << QStringLiteral("No physical drive can be read here; use \"Open disk image...\" to work on an image "
                                "file.");
    status_->setText(lines.join(QLatin1Char('\n')));
    return true;
}

void DriveTreePage::enumeratePhysicalDrives() {
    const DriveListing listing = corvello::enumeratePhysicalDrives(app().systemRoots);
    deniedDrives_ = listing.problems.permissionDenied;
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const PhysicalDrive& d : listing.drives) {
        auto* item = new QTreeWidgetItem(drivesRoot_, QStringList(QString::fromStdString(d.label)));
        item->setIcon(0, icon);
        item->setData(0, DriveNumberRole, d.number);
        item->setData(0, DevicePathRole, QString::fromStdString(d.devicePath));
        item->setToolTip(0, QStringLiteral("%1, %2 GB")
                                .arg(QString::fromStdString(d.devicePath))
                                .arg(static_cast<double>(d.sizeBytes) / 1073741824.0, 0, 'f', 2));
    }
}

void DriveTreePage::enumerateVolumes() {
    VolumeListing listing = listMountedVolumes(app().systemRoots);
    deniedVolumes_ = listing.problems.permissionDenied;
    logicalVolumes = std::move(listing.volumes);
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    // The listing is already in display order (descending, as the letters were).
    for (std::size_t i = 0; i < logicalVolumes.size(); ++i) {
        const VolumeRecord& v = logicalVolumes[i];
        auto* item = new QTreeWidgetItem(volumesRoot_, QStringList(qs(v.displayName)));
        item->setIcon(0, icon);
        item->setData(0, VolumeIndexRole, static_cast<int>(i));
        item->setData(0, DevicePathRole, qs(v.locator));
        item->setToolTip(0, QStringLiteral("%1, %2, %3").arg(qs(v.locator), qs(v.fileSystem), qs(v.sizeText)));
    }
}

bool DriveTreePage::addImageFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    std::vector<std::uint8_t> first(4096);
    const int error = platform::probeRead(absolute.toStdString(), &first);
    if (error != 0) {
        showNotice(this, QStringLiteral("The image file %1 cannot be opened: %2.")
                             .arg(absolute, QString::fromStdString(platform::errorText(error))));
        return false;
    }
    QTreeWidgetItem* item = nullptr;
    const std::u16string fileSystem = fileSystemOf(ByteSpan(first));
    if (!fileSystem.empty()) {
        // The image of a single volume: it goes with the volumes, read from its first byte.
        VolumeRecord volume;
        volume.setFileSystem(fileSystem);
        volume.displayName = u16(absolute);
        volume.locator = u16(absolute);
        volume.sizeText = volumeSizeText(static_cast<std::uint64_t>(QFileInfo(absolute).size()));
        volume.byteLength = QFileInfo(absolute).size();
        logicalVolumes.push_back(volume);
        item = new QTreeWidgetItem(volumesRoot_, QStringList(absolute));
        item->setData(0, VolumeIndexRole, static_cast<int>(logicalVolumes.size() - 1));
        item->setToolTip(0, QStringLiteral("Volume image %1, %2, %3").arg(absolute, qs(volume.fileSystem), qs(volume.sizeText)));
        volumesRoot_->setExpanded(true);
    } else {
        item = new QTreeWidgetItem(drivesRoot_, QStringList(absolute));
        item->setData(0, DriveNumberRole, -1);
        item->setToolTip(0, QStringLiteral("Disk image %1").arg(absolute));
        drivesRoot_->setExpanded(true);
    }
    item->setIcon(0, style()->standardIcon(QStyle::SP_FileIcon));
    item->setData(0, DevicePathRole, absolute);
    tree_->setCurrentItem(item);
    openedImages << absolute;
    return true;
}

void DriveTreePage::onOpenImage() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open disk image"), QString(),
                                                      QStringLiteral("Disk images (*.img *.raw *.dd *.bin *.iso *.001 *.E01 *.vmdk *.vhd *.vhdx *.qcow2 *.qcow);;All files (*)"));
    if (!path.isEmpty()) addImageFile(path);
}

QTreeWidgetItem* DriveTreePage::selectedItem() const {
    const QList<QTreeWidgetItem*> items = tree_->selectedItems();
    return items.isEmpty() ? nullptr : items.front();
}

QString DriveTreePage::selectedDevicePath() const {
    QTreeWidgetItem* item = selectedItem();
    return item != nullptr ? item->data(0, DevicePathRole).toString() : QString();
}

const VolumeRecord* DriveTreePage::selectedLogicalVolume() const {
    QTreeWidgetItem* item = selectedItem();
    if (item == nullptr || item->parent() != volumesRoot_) return nullptr;
    const int index = item->data(0, VolumeIndexRole).toInt();
    if (index < 0 || static_cast<std::size_t>(index) >= logicalVolumes.size()) return nullptr;
    return &logicalVolumes[static_cast<std::size_t>(index)];
}

void DriveTreePage::onNext() {
    QTreeWidgetItem* item = selectedItem();
    const QString parentText = item != nullptr && item->parent() != nullptr ? item->parent()->text(0).trimmed() : QString();
    app().newReader();
    if (parentText == QStringLiteral("VOLUMES:")) {
        app().selection.isVolume = true;
        showNextPage(new VolumeInformationPage(this), kDriveTreePage);
    } else if (parentText == QStringLiteral("PHYSICAL DRIVES:")) {
        app().selection.isVolume = false;
        showNextPage(new PartitionScanModePage(this), kDriveTreePage);
    } else {
        showNotice(this, QStringLiteral("Please select a volume or a drive.."));
    }
}

}  // namespace corvello::ui
