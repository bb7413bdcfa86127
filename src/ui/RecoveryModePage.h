#pragma once
// The recovery-mode page: how the chosen volume's file system is read. Standard trusts its
// structures, Advanced searches the volume for candidate structures first (the advanced-input
// page), Deep finds the records by scanning (NTFS, and HFS+ catalog nodes).
// (ParceModeNtfsDlg in the original design.)

#include <QString>

#include "common/VolumeRecord.h"
#include "ui/WizardPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace corvello::ui {

class RecoveryModePage : public WizardPage {
    Q_OBJECT
public:
    explicit RecoveryModePage(WizardPage* parent);

    bool initPage() override;

    VolumeRecord volume;   // a copy of the volume the previous page chose
    QString fsPrefix;      // the first three characters of its file-system text, leading blanks removed
    int recoveryMode = 1;  // 1 Standard, 2 Advanced, 3 Deep
    // The max-count box as the advanced search reads it: a value of 0 or less counts as 3.
    std::int64_t maxFileSystems() const;

    QRadioButton* standardMode() const { return standard_; }
    QRadioButton* advancedMode() const { return advanced_; }
    QRadioButton* deepMode() const { return deep_; }
    QLineEdit* maxCountEdit() const { return maxEdit_; }
    QCheckBox* formattedCheck() const { return formatted_; }

public slots:
    void onStandard();
    void onAdvanced();
    void onDeep();
    void onFormatted();
    void onNext();

private:
    void showMaxCount(bool show);
    void resetFormatted();

    QRadioButton* standard_ = nullptr;
    QRadioButton* advanced_ = nullptr;
    QRadioButton* deep_ = nullptr;
    QLabel* maxLabel_ = nullptr;
    QLineEdit* maxEdit_ = nullptr;
    QLabel* maxNote_ = nullptr;
    QCheckBox* formatted_ = nullptr;
    QLabel* volumeText_ = nullptr;
};

}  // namespace corvello::ui
