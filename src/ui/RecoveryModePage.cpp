#include "ui/RecoveryModePage.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/WizardApp.h"
#include "ui/VolumeListPage.h"
#include "ui/QtText.h"
#include "ui/VolumeInformationPage.h"
#include "ui/ScanPage.h"
#include "ui/AdvancedInputPage.h"
#include "scan/FamilyTable.h"

namespace corvello::ui {

RecoveryModePage::RecoveryModePage(WizardPage* parent)
    : WizardPage(parent, kRecoveryModePage, QStringLiteral("Choose the recovery mode"), true) {
    auto* volumeRow = new QHBoxLayout;
    volumeRow->addWidget(new QLabel(QStringLiteral("Selected Volume :"), this));
    volumeText_ = new QLabel(this);
    QFont bold = volumeText_->font();
    bold.setBold(true);
    volumeText_->setFont(bold);
    volumeText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    volumeRow->addWidget(volumeText_, 1);
    body()->addLayout(volumeRow);
    body()->addSpacing(6);

    auto* standardBox = new QGroupBox(this);
    auto* standardLayout = new QVBoxLayout(standardBox);
    standard_ = new QRadioButton(QStringLiteral("Standard"), standardBox);
    standardLayout->addWidget(standard_);
    body()->addWidget(standardBox);

    auto* advancedBox = new QGroupBox(this);
    auto* advancedLayout = new QVBoxLayout(advancedBox);
    advanced_ = new QRadioButton(QStringLiteral("Advanced"), advancedBox);
    advancedLayout->addWidget(advanced_);
    auto* maxRow = new QHBoxLayout;
    maxRow->addSpacing(20);
    maxLabel_ = new QLabel(QStringLiteral("Please Enter Max File Systems to Find :"), advancedBox);
    maxEdit_ = new QLineEdit(advancedBox);
    maxEdit_->setMaximumWidth(80);
    maxNote_ = new QLabel(QStringLiteral("( By  Default  it's  = 3 )"), advancedBox);
    maxRow->addWidget(maxLabel_);
    maxRow->addWidget(maxEdit_);
    maxRow->addWidget(maxNote_);
    maxRow->addStretch(1);
    advancedLayout->addLayout(maxRow);
    auto* formattedRow = new QHBoxLayout;
    formattedRow->addSpacing(20);
    formatted_ = new QCheckBox(QStringLiteral("Is Drive Formated..?"), advancedBox);
    formattedRow->addWidget(formatted_);
    formattedRow->addStretch(1);
    advancedLayout->addLayout(formattedRow);
    body()->addWidget(advancedBox);

    auto* deepBox = new QGroupBox(this);
    auto* deepLayout = new QVBoxLayout(deepBox);
    deep_ = new QRadioButton(QStringLiteral("Deep"), deepBox);
    deepLayout->addWidget(deep_);
    body()->addWidget(deepBox);

    body()->addStretch(1);
    body()->addWidget(new QLabel(QStringLiteral("Choose any one of the mode and Click Next...."), this));

    // The radios sit in separate boxes; the page keeps exactly one checked itself.
    for (QRadioButton* r : {standard_, advanced_, deep_}) r->setAutoExclusive(false);
    connect(standard_, &QRadioButton::clicked, this, &RecoveryModePage::onStandard);
    connect(advanced_, &QRadioButton::clicked, this, &RecoveryModePage::onAdvanced);
    connect(deep_, &QRadioButton::clicked, this, &RecoveryModePage::onDeep);
    connect(formatted_, &QCheckBox::clicked, this, &RecoveryModePage::onFormatted);
    connect(nextButton(), &QPushButton::clicked, this, &RecoveryModePage::onNext);
}

bool RecoveryModePage::initPage() {
    showMaxCount(false);
    formatted_->hide();
    maxEdit_->setText(QStringLiteral("3"));
    onStandard();

    const VolumeRecord* chosen = nullptr;
    if (parentPageId == kVolumeListPage) {
        if (auto* list = qobject_cast<VolumeListPage*>(parentPage())) chosen = list->selectedVolume;
    } else if (parentPageId == kVolumeInformationPage) {
        if (auto* info = qobject_cast<VolumeInformationPage*>(parentPage())) chosen = info->selectedVolume;
    }
    if (chosen != nullptr) volume = *chosen;
    volumeText_->setText(QStringLiteral("%1   %2   %3")
                             .arg(qs(volume.displayName.empty() ? volume.locator : volume.displayName),
                                  qs(volume.fileSystem), qs(volume.sizeText)));

    fsPrefix = qs(volume.fileSystem);
    while (fsPrefix.startsWith(QLatin1Char(' '))) fsPrefix.remove(0, 1);
    fsPrefix = fsPrefix.left(3);
    const auto is = [this](const char* prefix) {
        return fsPrefix.compare(QLatin1String(prefix), Qt::CaseInsensitive) == 0;
    };
    // The modes the volume's family is read in; a text no family reads is judged by its start.
    if (const FamilyRow* row = familyRow(familyOf(volume.fileSystemKind()))) {
        if (!row->takes(RecoveryMode::Deep)) deep_->parentWidget()->hide();
        if (!row->takes(RecoveryMode::Advanced)) advanced_->parentWidget()->hide();
    } else if (is("fat") || is("exF")) {
        deep_->parentWidget()->hide();
    } else if (is("ext")) {
        deep_->parentWidget()->hide();
        advanced_->parentWidget()->hide();
    } else if (is("HFS")) {
        advanced_->parentWidget()->hide();
    }
    return true;
}

std::int64_t RecoveryModePage::maxFileSystems() const {
    const std::int64_t n = parseInt64(maxEdit_->text());
    return n > 0 ? n : 3;
}

void RecoveryModePage::showMaxCount(bool show) {
    for (QWidget* w : {static_cast<QWidget*>(maxLabel_), static_cast<QWidget*>(maxEdit_), static_cast<QWidget*>(maxNote_)})
        w->setVisible(show);
}

void RecoveryModePage::resetFormatted() {
    app().selection.driveFormatted = false;
    formatted_->setChecked(false);
}

void RecoveryModePage::onStandard() {
    resetFormatted();
    showMaxCount(false);
    formatted_->hide();
    standard_->setChecked(true);
    advanced_->setChecked(false);
    deep_->setChecked(false);
    recoveryMode = 1;
}

void RecoveryModePage::onAdvanced() {
    resetFormatted();
    showMaxCount(true);
    standard_->setChecked(false);
    advanced_->setChecked(true);
    deep_->setChecked(false);
    formatted_->setVisible(fsPrefix.compare(QLatin1String("fat"), Qt::CaseInsensitive) == 0);
    recoveryMode = 2;
}

void RecoveryModePage::onDeep() {
    resetFormatted();
    showMaxCount(false);
    formatted_->hide();
    deep_->setChecked(true);
    standard_->setChecked(false);
    advanced_->setChecked(false);
    recoveryMode = 3;
}

void RecoveryModePage::onFormatted() { app().selection.driveFormatted = formatted_->isChecked(); }

void RecoveryModePage::onNext() {
    if (recoveryMode == 2)
        showNextPage(new AdvancedInputPage(this), kRecoveryModePage);
    else
        showNextPage(new ScanPage(this), kRecoveryModePage);
}

}  // namespace corvello::ui
