#include "ui/WizardPage.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/ProgramPath.h"
#include "ui/WizardApp.h"
#include "ui/MessageBoxes.h"

namespace corvello::ui {

namespace {

QPushButton* imageButton(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setToolTip(text);
    b->setAutoDefault(false);
    b->setMinimumWidth(90);
    return b;
}

}  // namespace

WizardPage::WizardPage(QWidget* parent, int pageId, const QString& heading, bool hasBack)
    : QDialog(parent), pageId_(pageId) {
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    setFixedSize(640, 480);
    setModal(false);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* banner = new QLabel(heading, this);
    banner->setObjectName(QStringLiteral("pageHeading"));
    QFont f = banner->font();
    f.setPointSizeF(f.pointSizeF() * 1.3);
    f.setBold(true);
    banner->setFont(f);
    banner->setContentsMargins(16, 12, 16, 12);
    banner->setAutoFillBackground(true);
    QPalette pal = banner->palette();
    pal.setColor(QPalette::Window, QColor(0x1f, 0x4e, 0x79));
    pal.setColor(QPalette::WindowText, Qt::white);
    banner->setPalette(pal);
    outer->addWidget(banner);

    body_ = new QVBoxLayout;
    body_->setContentsMargins(16, 12, 16, 8);
    body_->setSpacing(6);
    outer->addLayout(body_, 1);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    outer->addWidget(line);

    buttons_ = new QHBoxLayout;
    buttons_->setContentsMargins(16, 8, 16, 12);
    buttons_->setSpacing(8);
    outer->addLayout(buttons_);

    help_ = new QToolButton(this);
    help_->setText(QStringLiteral("Help"));
    help_->setToolTip(QStringLiteral("Help"));
    help_->setPopupMode(QToolButton::InstantPopup);
    help_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    help_->setMinimumWidth(90);
    auto* menu = new QMenu(help_);
    menu->addAction(QStringLiteral("Help"), this, [this] { WizardApp::showHelp(this); });
    menu->addAction(QStringLiteral("Software Webpage"), this,
                    [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebPageUrl))); });
    menu->addAction(QStringLiteral("About"), this, [this] {
        CQuillmarkAboutDlg about(this);
        about.exec();
    });
    help_->setMenu(menu);
    buttons_->addWidget(help_);
    buttons_->addStretch(1);

    // The hidden "EXIT" button carries the OK command.
    exit_ = new QPushButton(QStringLiteral("EXIT"), this);
    exit_->setAutoDefault(false);
    exit_->hide();
    connect(exit_, &QPushButton::clicked, this, &WizardPage::accept);

    if (hasBack) {
        back_ = imageButton(QStringLiteral("Back"), this);
        buttons_->addWidget(back_);
        connect(back_, &QPushButton::clicked, this, &WizardPage::goBack);
    }
    next_ = imageButton(QStringLiteral("Next"), this);
    buttons_->addWidget(next_);
}

WizardPage::~WizardPage() = default;

WizardApp& WizardPage::app() const { return *WizardApp::instance(); }

WizardPage* WizardPage::parentPage() const { return qobject_cast<WizardPage*>(parentWidget()); }

bool WizardPage::showNextPage(WizardPage* page, int parentId) {
    page->parentPageId = parentId;
    if (!page->initPage()) {
        delete page;
        return false;
    }
    page->move(pos());
    page->show();
    hide();
    return true;
}

bool WizardPage::openStep(const std::function<WizardPage*(WizardPage*, int)>& factory,
                          const QString& unavailableText) {
    if (!factory) {
        showNotice(this, unavailableText);
        return false;
    }
    WizardPage* page = factory(this, pageId_);
    return page != nullptr && showNextPage(page, pageId_);
}

void WizardPage::goBack() {
    if (leaving_) return;
    if (stopWorkerFirst()) {
        if (pending_ == Pending::None) pending_ = Pending::Back;
        return;
    }
    pending_ = Pending::None;
    leaving_ = true;
    beforeLeaving();
    if (WizardPage* parent = parentPage()) {
        parent->move(pos());
        parent->show();
    }
    hide();
    deleteLater();
}

bool WizardPage::askToClose() {
    if (pending_ == Pending::End) return true;  // already ending once the worker has stopped
    if (!askQuestion(this, QStringLiteral("Do you want to Close Application ?"))) return false;
    endApplication();
    return true;
}

void WizardPage::endApplication() {
    if (stopWorkerFirst()) {
        pending_ = Pending::End;
        return;
    }
    pending_ = Pending::None;
    beforeLeaving();
    app().endProcess(0);
}

void WizardPage::workerEnded() {
    const Pending pending = pending_;
    if (pending == Pending::Back)
        goBack();
    else if (pending == Pending::End)
        endApplication();
}

void WizardPage::reject() { askToClose(); }

void WizardPage::accept() {
    if (pending_ == Pending::End) return;
    endApplication();
}

void WizardPage::closeEvent(QCloseEvent* event) {
    // The application ends through endProcess; the page itself stays until then.
    event->ignore();
    askToClose();
}

void WizardPage::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (WizardApp* a = WizardApp::instance()) a->setVisiblePage(this);
}

CQuillmarkAboutDlg::CQuillmarkAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Corvello"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("<b>Corvello</b> %1").arg(QString::fromLatin1(platform::programVersion())), this);
    auto* text = new QLabel(QStringLiteral("Recovers files from disks, memory cards, USB sticks and disk images.\n"
                                           "The medium is only ever read, never written."),
                            this);
    auto* web = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(QString::fromLatin1(kWebPageUrl)), this);
    auto* mail =
        new QLabel(QStringLiteral("<a href=\"mailto:%1\">%1</a>").arg(QString::fromLatin1(kSupportMail)), this);
    web->setOpenExternalLinks(true);
    mail->setOpenExternalLinks(true);
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addWidget(web);
    layout->addWidget(mail);
    layout->addWidget(ok);
}

}  // namespace corvello::ui
