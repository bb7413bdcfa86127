#pragma once
// The signature editor: a modal dialog that appends signature definitions, one record per
// Save, to a settings file the user creates with "...".

#include <QDialog>
#include <functional>

#include "scan/Carving.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace corvello::ui {

class QtScanHost;

class RawSettingDlg : public QDialog {
    Q_OBJECT
public:
    explicit RawSettingDlg(QWidget* parent);
    ~RawSettingDlg() override;

    // The help buttons' tooltips; the extension's changes once its button is pressed.
    static const char* const kExtensionHelpOnOpen;
    static const char* const kExtensionHelp;
    static const char* const kStartHelp;
    static const char* const kEndHelp;
    static const char* const kSizeOffsetHelp;
    static const char* const kSizeWidthHelp;
    static const char* const kIncludesHeaderHelp;
    static const char* const kHeaderSizeHelp;
    static const char* const kSkipHelp;
    static const char* const kApproxHelp;
    static const char* const kCategoryHelp;

    // The save dialog of "...", replaceable by tests; an empty answer is a cancel.
    std::function<QString()> chooseFile;

    // The fields as typed.
    DefinitionFields fields() const;
    bool fileOpen() const { return file_.isOpen(); }

    QLineEdit* extensionBox() const { return extension_; }
    QLineEdit* startSignatureBox() const { return start_; }
    QLineEdit* endSignatureBox() const { return end_; }
    QLineEdit* sizeOffsetBox() const { return sizeOffset_; }
    QLineEdit* sizeWidthBox() const { return sizeWidth_; }
    QCheckBox* includesHeaderCheck() const { return includesHeader_; }
    QLineEdit* headerSizeBox() const { return headerSize_; }
    QLineEdit* skipSizeBox() const { return skipSize_; }
    QLineEdit* approxSizeBox() const { return approxSize_; }
    QLineEdit* categoryBox() const { return category_; }
    QLineEdit* pathBox() const { return path_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    // The help buttons, in the order of the fields.
    const QList<QToolButton*>& helpButtons() const { return help_; }

public slots:
    void onBrowse();
    void onSave();
    void done(int result) override;

private:
    QToolButton* addHelp(const QString& tip);

    QLineEdit* extension_ = nullptr;
    QLineEdit* start_ = nullptr;
    QLineEdit* end_ = nullptr;
    QLineEdit* sizeOffset_ = nullptr;
    QLineEdit* sizeWidth_ = nullptr;
    QCheckBox* includesHeader_ = nullptr;
    QLineEdit* headerSize_ = nullptr;
    QLineEdit* skipSize_ = nullptr;
    QLineEdit* approxSize_ = nullptr;
    QLineEdit* category_ = nullptr;
    QLineEdit* path_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QList<QToolButton*> help_;

    QtScanHost* host_ = nullptr;
    DefinitionFile file_;
};

}  // namespace corvello::ui
