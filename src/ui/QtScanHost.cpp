#include "ui/QtScanHost.h"

#include <QThread>
#include <QWidget>

#include "ui/MessageBoxes.h"

namespace corvello::ui {

QtScanHost::QtScanHost(QWidget* page) : QObject(page), page_(page) {
    qRegisterMetaType<corvello::VolumeRecord>();
}

void QtScanHost::setProgressRange(std::int64_t low, std::int64_t high) { emit progressRange(low, high); }
void QtScanHost::setProgressPos(std::int64_t pos) { emit progressPos(pos); }
void QtScanHost::setStatus(const std::string& text) { emit statusText(QString::fromStdString(text)); }
void QtScanHost::appendVolume(const VolumeRecord& record) { emit volumeFound(record); }
void QtScanHost::setFilterEnabled(bool enabled) { emit filterEnabled(enabled); }

void QtScanHost::notice(const std::string& text) {
    const QString q = QString::fromStdString(text);
    if (QThread::currentThread() == thread())
        showNoticeHere(q);
    else
        QMetaObject::invokeMethod(this, "showNoticeHere", Qt::BlockingQueuedConnection, Q_ARG(QString, q));
}

bool QtScanHost::question(const std::string& text) {
    const QString q = QString::fromStdString(text);
    if (QThread::currentThread() == thread()) return askHere(q);
    bool yes = false;
    QMetaObject::invokeMethod(this, "askHere", Qt::BlockingQueuedConnection, Q_RETURN_ARG(bool, yes), Q_ARG(QString, q));
    return yes;
}

void QtScanHost::showNoticeHere(const QString& text) { showNotice(page_, text); }
bool QtScanHost::askHere(const QString& text) { return askQuestion(page_, text); }

}  // namespace corvello::ui
