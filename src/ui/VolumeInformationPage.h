#pragma once
// The volume-information page: what the machine says about the chosen mounted volume.
// (VolumeOperations in the original design.)

#include "common/VolumeRecord.h"
#include "ui/WizardPage.h"

class QLabel;

namespace corvello::ui {

class VolumeInformationPage : public WizardPage {
    Q_OBJECT
public:
    explicit VolumeInformationPage(WizardPage* parent);

    bool initPage() override;

    const VolumeRecord* selectedVolume = nullptr;  // a record of the first page's logicalVolumes

    QLabel* volumeName() const { return name_; }
    QLabel* volumeFileSystem() const { return fileSystem_; }
    QLabel* volumeSize() const { return size_; }
    QLabel* selectedItemText() const { return selected_; }

public slots:
    void onNext();

private:
    QLabel* name_ = nullptr;
    QLabel* fileSystem_ = nullptr;
    QLabel* size_ = nullptr;
    QLabel* device_ = nullptr;
    QLabel* selected_ = nullptr;
};

}  // namespace corvello::ui
