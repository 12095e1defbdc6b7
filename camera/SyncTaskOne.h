#pragma once

#include <QString>

// The property refresh: reads the zoom factor and the serial number back from the camera. Runs on the
// camera worker's thread (CameraWorker::refresh), which makes every camera call in turn, so no
// command talks to the camera meanwhile.
class SyncTaskOne
{
public:
    struct Result
    {
        bool ok = false; // the camera answered the refresh
        double zoom = 0;
        QString sn;
    };

    // Camera worker thread only: may wait on the camera as long as it answers slowly.
    static Result run();
};
