#include "ui/PartitionScanModePage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "device/FileReadSeek.h"
#include "ui/WizardApp.h"
#include "ui/MessageBoxes.h"
#include "ui/DriveTreePage.h"
#include "ui/VolumeListPage.h"
#include "ui/QtText.h"

namespace corvello::ui {

PartitionScanModePage::PartitionScanModePage(WizardPage* parent)
    : WizardPage(parent, kPartitionScanModePage, QStringLiteral("Choose how to find the volumes"), true) {
    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(new QLabel(QStringLiteral("Currently Selected Drive :"), this));
    driveValue_ = new QLabel(this);
    driveValue_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = driveValue_->font();
    bold.setBold(true);
    driveValue_->setFont(bold);
    driveRow->addWidget(driveValue_, 1);
    body()->addLayout(driveRow);
    body()->addSpacing(8);

    auto* standardBox = new QGroupBox(this);
    auto* standardLayout = new QVBoxLayout(standardBox);
    standard_ = new QRadioButton(QStringLiteral("Standard Scan"), standardBox);
    gpt_ = new QCheckBox(QStringLiteral("GPT format"), standardBox);
    auto* gptHint = new QLabel(QStringLiteral("* Check If Partition type is GPT"), standardBox);
    gptHint->setIndent(24);
    auto* gptRow = new QHBoxLayout;
    gptRow->addSpacing(20);
    gptRow->addWidget(gpt_);
    gptRow->addWidget(gptHint, 1);
    standardLayout->addWidget(standard_);
    standardLayout->addLayout(gptRow);
    body()->addWidget(standardBox);

    auto* advanceBox = new QGroupBox(this);
    auto* advanceLayout = new QVBoxLayout(advanceBox);
    advance_ = new QRadioButton(QStringLiteral("Advance Scan"), advanceBox);
    noSkip_ = new QCheckBox(QStringLiteral("Do not Skip Volume Size While Parsing in Advance  Scan "), advanceBox);
    custom_ = new QCheckBox(QStringLiteral("Custom Setting:"), advanceBox);
    startLabel_ = new QLabel(QStringLiteral("Starting Sector:"), advanceBox);
    endLabel_ = new QLabel(QStringLiteral("Ending Sector:"), advanceBox);
    startEdit_ = new QLineEdit(advanceBox);
    endEdit_ = new QLineEdit(advanceBox);
    startEdit_->setMaximumWidth(180);
    endEdit_->setMaximumWidth(180);
    auto indented = [&](QWidget* w) {
        auto* row = new QHBoxLayout;
        row->addSpacing(20);
        row->addWidget(w);
        row->addStretch(1);
        return row;
    };
    advanceLayout->addWidget(advance_);
    advanceLayout->addLayout(indented(noSkip_));
    advanceLayout->addLayout(indented(custom_));
    auto* range = new QFormLayout;
    range->setContentsMargins(40, 0, 0, 0);
    range->addRow(startLabel_, startEdit_);
    range->addRow(endLabel_, endEdit_);
    advanceLayout->addLayout(range);
    body()->addWidget(advanceBox);

    body()->addStretch(1);
    body()->addWidget(new QLabel(QStringLiteral("Choose any one of the mode and Click Next...."), this));

    connect(standard_, &QRadioButton::clicked, this, &PartitionScanModePage::onStandardScan);
    connect(advance_, &QRadioButton::clicked, this, &PartitionScanModePage::onAdvanceScan);
    connect(custom_, &QCheckBox::clicked, this, &PartitionScanModePage::onCustomSetting);
    connect(nextButton(), &QPushButton::clicked, this, &PartitionScanModePage::onNext);
}

bool PartitionScanModePage::initPage() {
    enableRange(false);
    if (auto* first = qobject_cast<DriveTreePage*>(parentPage())) devicePath = first->selectedDevicePath();
    // The result is not looked at here: the volume-list page opens the device again and says so.
    if (FileReadSeek* reader = app().reader()) reader->open(devicePath.toStdString());
    driveValue_->setText(devicePath);
    startEdit_->setText(QStringLiteral("0"));
    endEdit_->setText(QStringLiteral("0"));
    onStandardScan();
    return true;
}

void PartitionScanModePage::enableRange(bool enable) {
    for (QWidget* w : {static_cast<QWidget*>(startLabel_), static_cast<QWidget*>(endLabel_),
                       static_cast<QWidget*>(startEdit_), static_cast<QWidget*>(endEdit_)})
        w->setEnabled(enable);
}

void PartitionScanModePage::onStandardScan() {
    standard_->setChecked(true);
    advance_->setChecked(false);
    noSkip_->setEnabled(false);
    custom_->setEnabled(false);
    if (custom_->isChecked()) {
        custom_->setChecked(false);
        enableRange(false);
    }
}

void PartitionScanModePage::onAdvanceScan() {
    standard_->setChecked(false);
    advance_->setChecked(true);
    noSkip_->setEnabled(true);
    custom_->setEnabled(true);
}

void PartitionScanModePage::onCustomSetting() { enableRange(custom_->isChecked()); }

void PartitionScanModePage::onNext() {
    auto* page = new VolumeListPage(this);
    page->scanMode = standard_->isChecked() ? 1 : 2;
    page->devicePath = devicePath;
    page->doNotSkipVolumeSize = noSkip_->isChecked();
    page->gptFormat = gpt_->isChecked();
    if (custom_->isChecked()) {
        const std::int64_t start = parseInt64(startEdit_->text());
        const std::int64_t end = parseInt64(endEdit_->text());
        if (end >= 0) {
            page->customStartSector = start;
            page->customEndSector = end;
        }
    }
    if (!showNextPage(page, kPartitionScanModePage))
        showNotice(this, QStringLiteral("error creating PopulateDriveDlgptr"));
}

}  // namespace corvello::ui
