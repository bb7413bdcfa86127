#pragma once
// ScanHost and PartitionOwner for a page: what a worker reports arrives on the user-interface
// thread through queued signals (direct calls when the work runs on that thread). Workers
// never touch a widget.

#include <QObject>
#include <QString>
#include <atomic>
#include <mutex>
#include <vector>

#include "common/ScanHost.h"
#include "common/VolumeRecord.h"

namespace corvello::ui {

class QtScanHost : public QObject, public ScanHost, public PartitionOwner {
    Q_OBJECT
public:
    // parent: the page; it lives on the user-interface thread.
    explicit QtScanHost(QWidget* page);

    void setProgressRange(std::int64_t low, std::int64_t high) override;
    void setProgressPos(std::int64_t pos) override;
    void setStatus(const std::string& text) override;
    void setDetail(const std::string& text) override;
    // Notices and questions wait for the user's answer; a worker waits meanwhile (until the page
    // gives up waiting for it, see abandonWaiting).
    void notice(const std::string& text) override;
    bool question(const std::string& text) override;

    // Found volumes wait here, under a lock of ours, until the page takes them on its own thread;
    // volumesFound tells it that some wait.
    void appendVolume(const VolumeRecord& record) override;
    std::vector<VolumeRecord> takeVolumes();
    // The Filter Entries button waits while a boot-record scan runs.
    void scanRunning(bool running) override;

    // The page is about to wait for its worker: a worker waiting for an answer gets "No" at once
    // and no further message is shown, so that the two never wait for each other.
    void abandonWaiting() { abandoned_ = true; }

signals:
    void progressRange(qint64 low, qint64 high);
    void progressPos(qint64 pos);
    void statusText(const QString& text);
    void detailText(const QString& text);
    void volumesFound();
    void filterEnabled(bool enabled);

private:
    bool ask(bool isQuestion, const QString& text);

    QWidget* page_;
    std::atomic<bool> abandoned_{false};
    std::mutex volumesMutex_;
    std::vector<VolumeRecord> volumes_;
};

}  // namespace corvello::ui
