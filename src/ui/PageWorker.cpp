#include "ui/PageWorker.h"

#include <QThread>

#include "ui/QtScanHost.h"

namespace corvello::ui {

PageWorker::PageWorker(QtScanHost* host, QObject* parent) : QObject(parent), host_(host) {}

PageWorker::~PageWorker() { stopAndWait(); }

bool PageWorker::start(std::function<void()> work) {
    if (thread_ != nullptr) return false;
    host_->clearStop();
    thread_ = QThread::create(std::move(work));
    connect(thread_, &QThread::finished, this, &PageWorker::onThreadFinished, Qt::QueuedConnection);
    thread_->start();
    return true;
}

void PageWorker::onThreadFinished() {
    if (thread_ == nullptr) return;
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    if (paused_) {
        paused_ = false;
        host_->pauseGate().resume();
    }
    emit finished();
}

bool PageWorker::pause() {
    if (thread_ == nullptr || paused_) return false;
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
    if (thread_ == nullptr) return;
    release();
    thread_->wait();
    disconnect(thread_, nullptr, this, nullptr);
    delete thread_;
    thread_ = nullptr;
}

}  // namespace corvello::ui
