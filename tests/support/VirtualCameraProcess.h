#pragma once

#include <QByteArray>
#include <QByteArrayList>

// A test process with the virtual UVC camera loaded into it: the camera library, the player and the
// search talk to /dev/video<node> through the libc calls the camera answers.
class VirtualCameraProcess
{
public:
    // Called first in main(): when the camera is not loaded yet, sets LD_PRELOAD, the node number, a
    // control FIFO and a journal, and starts the same program again in place (execv); returns when it is
    // loaded. The FIFO and the journal are removed when the process exits.
    static void load(char **argv, int node);
    // Sends a control line ("unplug", "plug", "stall", "resume", and the faults of vcam/Faults.h such
    // as "fail N ERRNO", "slow-open MS", "error-frames N") to the camera of this process; false
    // when it does not listen yet (it listens from the first open of its node).
    static bool send(const QByteArray &command);
    // Sends a control line and waits until the camera carried it out (its journal has "command LINE").
    static bool command(const QByteArray &line);
    // Opens the capture node once, so that the camera listens for control lines from then on; true once
    // it does.
    static bool listen(int node);
    // What the camera saw so far, one entry per line of its journal ("open video0 ok", "contrast 5",
    // "command unplug"; see vcam/Journal.h).
    static QByteArrayList journal();
};
