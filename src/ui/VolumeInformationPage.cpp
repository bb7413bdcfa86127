#include "ui/VolumeInformationPage.h"

#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/WizardApp.h"
#include "ui/DriveTreePage.h"
#include "ui/VolumeListPage.h"
#include "ui/QtText.h"

namespace corvello::ui {

VolumeInformationPage::VolumeInformationPage(WizardPage* parent)
    : WizardPage(parent, kVolumeInformationPage, QStringLiteral("Volume information"), true) {
    auto* form = new QFormLayout;
    form->setHorizontalSpacing(24);
    form->setVerticalSpacing(12);
    name_ = new QLabel(this);
    fileSystem_ = new QLabel(this);
    size_ = new QLabel(this);
    device_ = new QLabel(this);
    for (QLabel* l : {name_, fileSystem_, size_, device_}) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    form->addRow(QStringLiteral("Volume Name:"), name_);
    form->addRow(QStringLiteral("Volume File System:"), fileSystem_);
    form->addRow(QStringLiteral("Volume Size:"), size_);
    form->addRow(QStringLiteral("Device:"), device_);
    body()->addSpacing(12);
    body()->addLayout(form);

    auto* selectedLabel = new QLabel(QStringLiteral("SELECTED VOLUME :"), this);
    selected_ = new QLabel(this);
    selectedLabel->hide();
    selected_->hide();
    body()->addStretch(1);
    body()->addWidget(new QLabel(QStringLiteral("Click Next to choose how to recover the files of this volume...."), this));

    connect(nextButton(), &QPushButton::clicked, this, &VolumeInformationPage::onNext);
}

bool VolumeInformationPage::initPage() {
    if (auto* first = qobject_cast<DriveTreePage*>(parentPage())) {
        if (QTreeWidgetItem* item = first->selectedItem()) selected_->setText(item->text(0));
        selectedVolume = first->selectedLogicalVolume();
    }
    if (selectedVolume != nullptr) {
        name_->setText(qs(selectedVolume->displayName));
        fileSystem_->setText(qs(selectedVolume->fileSystem));
        size_->setText(qs(selectedVolume->sizeText));
        device_->setText(qs(selectedVolume->locator));
    }
    nextButton()->setEnabled(true);
    return true;
}

void VolumeInformationPage::onNext() { openStep(app().recoveryModePage, QString::fromLatin1(kRecoveryModeUnavailable)); }

}  // namespace corvello::ui
