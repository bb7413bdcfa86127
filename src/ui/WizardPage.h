#pragma once
// What every wizard page shares: the title "Corvello", the Help menu, Back and Next, the close
// question, and the page chain. A later page is a child of the page before it and is shown
// while its creator is hidden; Back shows the creator again and destroys the page.

#include <QDialog>
#include <QPointer>
#include <functional>

class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class QHBoxLayout;

namespace corvello::ui {

class WizardApp;

// The resource numbers of the pages, by which a page tells who created it.
enum PageId : int {
    kDriveTreePage = 130,
    kVolumeListPage = 134,
    kVolumeInformationPage = 135,
    kRecoveryModePage = 136,
    kScanPage = 139,
    kRawRecoveryPage = 151,
    kPartitionScanModePage = 152,
    kAdvancedInputPage = 153,
};

class WizardPage : public QDialog {
    Q_OBJECT
public:
    // heading: the line at the top of the page; hasBack: every page but the first.
    WizardPage(QWidget* parent, int pageId, const QString& heading, bool hasBack);
    ~WizardPage() override;

    int pageId() const { return pageId_; }
    int parentPageId = 0;  // the creator's page id
    WizardPage* parentPage() const;

    // The page's opening; false when the page cannot be shown.
    virtual bool initPage() { return true; }

    QPushButton* nextButton() const { return next_; }
    QPushButton* backButton() const { return back_; }
    QToolButton* helpButton() const { return help_; }

    // Shows page (already constructed as a child of this one) after its opening, hides this
    // one. Returns false (and deletes page) when its opening fails.
    bool showNextPage(WizardPage* page, int parentId);
    // Goes on to a later step through its factory (WizardApp); while that step does not exist
    // yet, says so with unavailableText and stays.
    bool openStep(const std::function<WizardPage*(WizardPage*, int)>& factory, const QString& unavailableText);

public slots:
    // Back: shows the parent again and destroys this page.
    virtual void goBack();
    // Close box, Escape and Cancel: asks "Do you want to Close Application ?".
    void reject() override;
    // The OK command: ends the application without asking.
    void accept() override;

protected:
    // Clean-up before the page goes (Back) or the application ends (close, OK).
    virtual void beforeLeaving() {}
    // A page whose worker still runs asks it to stop here and answers true; it calls
    // workerEnded() once the worker has ended, and the Back, close or OK that was asked for
    // goes on then. The page stays responsive meanwhile.
    virtual bool stopWorkerFirst() { return false; }
    void workerEnded();
    // A Back, close or OK waits for the worker.
    bool leavePending() const { return pending_ != Pending::None; }
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

    QVBoxLayout* body() const { return body_; }
    QHBoxLayout* buttonRow() const { return buttons_; }
    WizardApp& app() const;

private:
    bool askToClose();
    void endApplication();

    enum class Pending { None, Back, End };
    Pending pending_ = Pending::None;

    int pageId_;
    QVBoxLayout* body_ = nullptr;
    QHBoxLayout* buttons_ = nullptr;
    QToolButton* help_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* exit_ = nullptr;
    bool leaving_ = false;
};

// The maker's pages the Help menu opens.
inline constexpr const char* kHelpUrl = "https://www.quillmark.com/corvello/guide/";
inline constexpr const char* kWebPageUrl = "https://www.quillmark.com/corvello/";
inline constexpr const char* kSupportMail = "support@quillmark.com";

// The About dialog of the Help menu.
class CQuillmarkAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CQuillmarkAboutDlg(QWidget* parent);
};

}  // namespace corvello::ui
