#include "ui/RawSettingDlg.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include "ui/WizardApp.h"
#include "ui/MessageBoxes.h"
#include "ui/QtScanHost.h"
#include "ui/QtText.h"

namespace corvello::ui {

const char* const RawSettingDlg::kExtensionHelpOnOpen =
    "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)";
const char* const RawSettingDlg::kExtensionHelp =
    "here enter the file extentiom .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)";
const char* const RawSettingDlg::kStartHelp =
    "here enter the file signature that happens to be in the starting of the file.\n example 0x89,0x50,0x4E,0x47  for "
    "png File";
const char* const RawSettingDlg::kEndHelp =
    "here enter the file signature that happens to be in the end of the file.\n Example "
    "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 for png File.\n its optional Field .you can leave it if you dont know .";
const char* const RawSettingDlg::kSizeOffsetHelp =
    "if  the size of file is given in the header and you know its offset please enter that offset here.\n its optional "
    "Field .you can leave it if you don't know.";
const char* const RawSettingDlg::kSizeWidthHelp =
    "if  you know how many bytes represents size please enter that number of bytes  here.\n its optional Field .you can "
    "leave it ifyou  don't know.";
const char* const RawSettingDlg::kIncludesHeaderHelp =
    "check this checkbox if the size alkso includes the header size else leave it.\n its optional Field .you can leave "
    "it if you don't know.";
const char* const RawSettingDlg::kHeaderSizeHelp =
    "please enter the header size in bytes here.\n its optional Field .you can leave it if you don't know.";
const char* const RawSettingDlg::kSkipHelp =
    "when we find the file signature you mentioned  above we can skip further file scanning by an amount you enter "
    "here.\n For example mp3 are generally greater then 2 mb .so you can enter 2097152 bytes here.\n its optional Field "
    ".you can leave it .";
const char* const RawSettingDlg::kApproxHelp =
    "please enter approx file size here.\n its optional Field .you can leave it if you don't know.";
const char* const RawSettingDlg::kCategoryHelp = "here enter the name of category you want to put these files under";

RawSettingDlg::RawSettingDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    setModal(true);
    setMinimumWidth(560);
    host_ = new QtScanHost(this);

    auto* layout = new QVBoxLayout(this);
    auto* fieldsBox = new QGroupBox(QStringLiteral("Signature definition"), this);
    auto* grid = new QGridLayout(fieldsBox);
    grid->setColumnStretch(1, 1);
    int row = 0;
    const auto addField = [&](const QString& label, QWidget* field, const char* tip) {
        grid->addWidget(new QLabel(label, fieldsBox), row, 0);
        grid->addWidget(field, row, 1);
        grid->addWidget(addHelp(QString::fromLatin1(tip)), row, 2);
        ++row;
    };
    const auto box = [&] { return new QLineEdit(fieldsBox); };
    extension_ = box();
    start_ = box();
    end_ = box();
    sizeOffset_ = box();
    sizeWidth_ = box();
    headerSize_ = box();
    skipSize_ = box();
    approxSize_ = box();
    category_ = box();
    includesHeader_ = new QCheckBox(QStringLiteral("Size includes header size"), fieldsBox);

    addField(QStringLiteral("File Extention :"), extension_, kExtensionHelpOnOpen);
    addField(QStringLiteral("Starting Signature :"), start_, kStartHelp);
    addField(QStringLiteral("Ending Signature :"), end_, kEndHelp);
    addField(QStringLiteral("Offset to Size Byte :"), sizeOffset_, kSizeOffsetHelp);
    addField(QStringLiteral("Number Of Bytes In Size :"), sizeWidth_, kSizeWidthHelp);
    grid->addWidget(includesHeader_, row, 0, 1, 2);
    grid->addWidget(addHelp(QString::fromLatin1(kIncludesHeaderHelp)), row, 2);
    ++row;
    addField(QStringLiteral("Header size :"), headerSize_, kHeaderSizeHelp);
    addField(QStringLiteral("Size_to_skip_WhileParsing :"), skipSize_, kSkipHelp);
    addField(QStringLiteral("Approx file size :"), approxSize_, kApproxHelp);
    addField(QStringLiteral("Put Under Category :"), category_, kCategoryHelp);
    layout->addWidget(fieldsBox);

    auto* pathBox = new QGroupBox(QStringLiteral("Select Path to Save Entries"), this);
    auto* pathRow = new QHBoxLayout(pathBox);
    path_ = new QLineEdit(pathBox);
    path_->setReadOnly(true);
    browse_ = new QPushButton(QStringLiteral("..."), pathBox);
    browse_->setMaximumWidth(36);
    save_ = new QPushButton(QStringLiteral("Save"), pathBox);
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(browse_);
    pathRow->addWidget(save_);
    layout->addWidget(pathBox);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    for (QPushButton* b : {browse_, save_, ok_, cancel_}) b->setAutoDefault(false);

    // The extension's help says a little more once its button has been pressed.
    connect(help_.front(), &QToolButton::clicked, this,
            [this] { help_.front()->setToolTip(QString::fromLatin1(kExtensionHelp)); });
    connect(browse_, &QPushButton::clicked, this, &RawSettingDlg::onBrowse);
    connect(save_, &QPushButton::clicked, this, &RawSettingDlg::onSave);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    chooseFile = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save signature definitions"), QString(),
                                            QStringLiteral("Signature settings (*.txt);;All files (*)"));
    };
}

RawSettingDlg::~RawSettingDlg() { file_.close(); }

QToolButton* RawSettingDlg::addHelp(const QString& tip) {
    auto* b = new QToolButton(this);
    b->setText(QStringLiteral("?"));
    b->setToolTip(tip);
    b->setAutoRaise(true);
    // Pressing the button shows its text at once, without waiting for the hover delay.
    connect(b, &QToolButton::clicked, this, [b] { QToolTip::showText(b->mapToGlobal(b->rect().bottomLeft()), b->toolTip(), b); });
    help_.push_back(b);
    return b;
}

DefinitionFields RawSettingDlg::fields() const {
    DefinitionFields f;
    f.extension = u16(extension_->text());
    f.startSignature = u16(start_->text());
    f.endSignature = u16(end_->text());
    f.sizeOffset = u16(sizeOffset_->text());
    f.sizeWidth = u16(sizeWidth_->text());
    f.headerSize = u16(headerSize_->text());
    f.sizeIncludesHeader = includesHeader_->isChecked();
    f.approximateSize = u16(approxSize_->text());
    f.skipSize = u16(skipSize_->text());
    f.category = u16(category_->text());
    return f;
}

void RawSettingDlg::onBrowse() {
    const QString path = chooseFile ? chooseFile() : QString();
    if (path.isEmpty()) return;
    file_.close();
    if (!file_.create(path.toStdString())) {
        path_->clear();
        showNotice(this, QStringLiteral("file can not be created"));
        return;
    }
    path_->setText(path);
}

void RawSettingDlg::onSave() { writeDefinition(file_, fields(), *host_); }

void RawSettingDlg::done(int result) {
    file_.close();
    QDialog::done(result);
}

}  // namespace corvello::ui
