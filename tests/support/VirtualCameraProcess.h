#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// A test process with the virtual UVC camera loaded into it: the camera library, the player and the
// search talk to /dev/video<node> through the libc calls the camera answers.
class VirtualCameraProcess
{
public:
    // Called first in main(): when the camera is not loaded yet, sets LD_PRELOAD, the node number and
    // a control FIFO, and starts the same program again in place (execv); returns when it is loaded.
    static void load(char **argv, int node);
    // The library to preload into child processes.
    static QByteArray library();
    // Sends a control line ("unplug", "plug", "stall", "resume", "fail N ERRNO", "slow-open MS",
    // "slow-read MS": see vcam/Faults.h) to the camera of this process; false
    // when it does not listen yet (it listens from the first open of its node).
    static bool send(const QByteArray &command);
    // What the camera saw so far, one entry per line of its journal ("open video0 ok", "contrast 5",
    // "command unplug"; see vcam/Journal.h).
    static QByteArrayList journal();
    // Removes the control FIFO and the journal (at the end of the test).
    static void removeControl();
};
