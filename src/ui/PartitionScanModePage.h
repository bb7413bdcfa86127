#pragma once
// The partition-scan mode page: the partition tables (standard) or a boot-record scan of a
// sector range (advanced) of the chosen disk.
// (DriveParsingModes in the original design.)

#include <QString>

#include "ui/WizardPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace corvello::ui {

class PartitionScanModePage : public WizardPage {
    Q_OBJECT
public:
    explicit PartitionScanModePage(WizardPage* parent);

    bool initPage() override;

    QString devicePath;

    QRadioButton* standardScan() const { return standard_; }
    QRadioButton* advanceScan() const { return advance_; }
    QCheckBox* gptFormat() const { return gpt_; }
    QCheckBox* doNotSkipVolumeSize() const { return noSkip_; }
    QCheckBox* customSetting() const { return custom_; }
    QLineEdit* startingSector() const { return startEdit_; }
    QLineEdit* endingSector() const { return endEdit_; }
    QLabel* selectedDrive() const { return driveValue_; }

public slots:
    void onStandardScan();
    void onAdvanceScan();
    void onCustomSetting();
    void onNext();

private:
    void enableRange(bool enable);

    QLabel* driveValue_ = nullptr;
    QRadioButton* standard_ = nullptr;
    QRadioButton* advance_ = nullptr;
    QCheckBox* gpt_ = nullptr;
    QCheckBox* noSkip_ = nullptr;
    QCheckBox* custom_ = nullptr;
    QLabel* startLabel_ = nullptr;
    QLabel* endLabel_ = nullptr;
    QLineEdit* startEdit_ = nullptr;
    QLineEdit* endEdit_ = nullptr;
};

}  // namespace corvello::ui
