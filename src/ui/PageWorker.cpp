#include "ui/PageWorker.h"

#include "ui/QtScanHost.h"

namespace corvello::ui {

PageWorker::PageWorker(QtScanHost* host, QObject* parent) : QObject(parent), host_(host) {}

PageWorker::~PageWorker() { stopAndWait(); }

bool PageWorker::start(std::function<void()> work) {
    if (thread_.joinable()) return false;
    host_->clearStop();
    // The end is told through the page's event queue, after everything the work posted there.
    const int generation = ++generation_;
    thread_ = std::thread([this, generation, work = std::move(work)] {
        work();
        QMetaObject::invokeMethod(this, [this, generation] { onThreadFinished(generation); }, Qt::QueuedConnection);
    });
    return true;
}

void PageWorker::onThreadFinished(int generation) {
    // A notice from a work that stopAndWait already joined is stale.
    if (generation != generation_ || !thread_.joinable()) return;
    // What the work wrote is visible once it is joined.
    thread_.join();
    if (paused_) {
        paused_ = false;
        host_->pauseGate().resume();
    }
    emit finished();
}

bool PageWorker::pause() {
    if (!thread_.joinable() || paused_) return false;
    paused_ = true;
    host_->pauseGate().pause();
    return true;
}

bool PageWorker::resume() {
    if (!paused_) return false;
    paused_ = false;
    host_->pauseGate().resume();
    return true;
}

void PageWorker::requestStop() { host_->requestStop(); }

void PageWorker::release() {
    host_->requestStop();
    host_->abandonWaiting();
    resume();
}

void PageWorker::stopAndWait() {
    if (!thread_.joinable()) return;
    release();
    thread_.join();
    ++generation_;  // its end notice, still queued, is stale
}

}  // namespace corvello::ui
