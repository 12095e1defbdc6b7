#pragma once

#include <QRunnable>

#include <atomic>

// The property refresh: on a pool thread, under syncMutex, reads the zoom factor and the serial number
// back from the camera and posts them to the controller as sigUpdateZoomValue, then sigUpdateSN.
// One object is started again and again (auto-delete off).
class SyncTaskOne : public QRunnable
{
public:
    SyncTaskOne();
    ~SyncTaskOne() override;

    void run() override;

    // Main thread: queue one run on the global pool.
    void startOnPool();
    // Main thread: take back runs that have not started and wait for the ones that have.
    void cancelAndWait();

private:
    // Runs queued or running on the pool.
    std::atomic<int> outstanding{0};
};
