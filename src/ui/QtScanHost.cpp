#include "ui/QtScanHost.h"

#include <QThread>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#include "ui/MessageBoxes.h"

namespace corvello::ui {

namespace {

// One question a worker waits on.
struct PendingAnswer {
    std::mutex mutex;
    std::condition_variable done;
    bool answered = false;
    bool yes = false;
};

}  // namespace

QtScanHost::QtScanHost(QWidget* page) : QObject(page), page_(page) {}

void QtScanHost::setProgressRange(std::int64_t low, std::int64_t high) { emit progressRange(low, high); }
void QtScanHost::setProgressPos(std::int64_t pos) { emit progressPos(pos); }
void QtScanHost::setStatus(const std::string& text) { emit statusText(QString::fromStdString(text)); }
void QtScanHost::setDetail(const std::string& text) { emit detailText(QString::fromStdString(text)); }
void QtScanHost::appendVolume(const VolumeRecord& record) {
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(volumesMutex_);
        first = volumes_.empty();
        volumes_.push_back(record);
    }
    // One signal per batch: the page takes every waiting volume when it runs.
    if (first) emit volumesFound();
}

std::vector<VolumeRecord> QtScanHost::takeVolumes() {
    std::lock_guard<std::mutex> lock(volumesMutex_);
    return std::exchange(volumes_, {});
}
void QtScanHost::scanRunning(bool running) { emit filterEnabled(!running); }

void QtScanHost::notice(const std::string& text) { ask(false, QString::fromStdString(text)); }
bool QtScanHost::question(const std::string& text) { return ask(true, QString::fromStdString(text)); }

bool QtScanHost::ask(bool isQuestion, const QString& text) {
    if (QThread::currentThread() == thread()) {
        if (!isQuestion) {
            showNotice(page_, text);
            return true;
        }
        return askQuestion(page_, text);
    }
    if (abandoned_) return false;
    auto pending = std::make_shared<PendingAnswer>();
    QMetaObject::invokeMethod(
        this,
        [this, pending, isQuestion, text] {
            bool yes = false;
            if (!abandoned_) {
                if (isQuestion) {
                    yes = askQuestion(page_, text);
                } else {
                    showNotice(page_, text);
                    yes = true;
                }
            }
            std::lock_guard<std::mutex> lock(pending->mutex);
            pending->answered = true;
            pending->yes = yes;
            pending->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(pending->mutex);
    while (!pending->answered) {
        if (abandoned_) return false;
        pending->done.wait_for(lock, std::chrono::milliseconds(50));
    }
    return pending->yes;
}

}  // namespace corvello::ui
