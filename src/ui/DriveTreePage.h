#pragma once
// The first page: the machine's drives and volumes in a tree, and disk images the user opens.
// (Physical_DriveDialog in the original design.)

#include <QString>
#include <QStringList>
#include <vector>

#include "common/VolumeRecord.h"
#include "ui/WizardPage.h"

class QTreeWidget;
class QTreeWidgetItem;
class QLabel;
class QPushButton;

namespace corvello::ui {

class PartitionScanModePage;
class VolumeInformationPage;

class DriveTreePage : public WizardPage {
    Q_OBJECT
public:
    // Item data roles of the tree.
    enum Role {
        DriveNumberRole = Qt::UserRole,      // int: the drive's number (-1 for an image file)
        DevicePathRole = Qt::UserRole + 1,   // QString: what the reader opens
        VolumeIndexRole = Qt::UserRole + 2,  // int: the record's index in logicalVolumes
    };

    explicit DriveTreePage(QWidget* parent = nullptr);

    bool initPage() override;

    // Puts an image file under the physical drives (a disk image) or the volumes (the image of
    // one volume, recognised by its first sectors) and selects it; false when it cannot be read.
    bool addImageFile(const QString& path);

    QTreeWidget* tree() const { return tree_; }
    QTreeWidgetItem* volumesRoot() const { return volumesRoot_; }
    QTreeWidgetItem* drivesRoot() const { return drivesRoot_; }
    QLabel* statusLabel() const { return status_; }
    // "Restart as administrator": shown when drives could not be opened for lack of rights.
    QPushButton* elevateButton() const { return elevate_; }

    // What the next pages read from here.
    QTreeWidgetItem* selectedItem() const;
    QString selectedDevicePath() const;
    const VolumeRecord* selectedLogicalVolume() const;

    std::vector<VolumeRecord> logicalVolumes;
    QStringList openedImages;  // the image files opened, in order (absolute paths)

public slots:
    void onNext();
    void onOpenImage();

private:
    void enumeratePhysicalDrives();
    void enumerateVolumes();

    QTreeWidget* tree_ = nullptr;
    QTreeWidgetItem* volumesRoot_ = nullptr;
    QTreeWidgetItem* drivesRoot_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* openImage_ = nullptr;
    QPushButton* elevate_ = nullptr;
    int deniedDrives_ = 0;
    int deniedVolumes_ = 0;
};

}  // namespace corvello::ui
