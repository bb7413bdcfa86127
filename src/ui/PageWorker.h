#pragma once
// The one worker thread of a page: started with a piece of work, paused and resumed through
// the host's counted pause gate (never by suspending the thread), stopped through the host's
// stop flag. The page learns that the work has ended through finished(), on its own thread.

#include <QObject>
#include <functional>
#include <thread>

namespace corvello::ui {

class QtScanHost;

class PageWorker : public QObject {
    Q_OBJECT
public:
    PageWorker(QtScanHost* host, QObject* parent);
    // Waits for the work to end (it is asked to stop first).
    ~PageWorker() override;

    // Starts work on a new thread; false when a work is still running.
    bool start(std::function<void()> work);
    bool running() const { return thread_.joinable(); }

    // Pause holds the work where it next polls its stop flag; a second Pause while paused, or a
    // Resume while not paused, changes nothing. Both answer whether they did something.
    bool pause();
    bool resume();
    bool paused() const { return paused_; }

    // Asks the work to stop (a paused work stays paused until Resume).
    void requestStop();
    // Asks the work to stop and lets it run on to its end: used before the page goes. No
    // question or notice of the work reaches the user any more.
    void release();
    // release(), then waits until the work has ended (blocking).
    void stopAndWait();

signals:
    // The work has ended and its thread is gone.
    void finished();

private:
    void onThreadFinished(int generation);

    QtScanHost* host_;
    std::thread thread_;
    int generation_ = 0;  // numbers the works started (user-interface thread only)
    bool paused_ = false;
};

}  // namespace corvello::ui
