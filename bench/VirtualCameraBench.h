#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <vector>

// What the camera benchmarks share: the virtual UVC camera loaded into the benchmark itself, stamping
// its capture times, with a control FIFO of its own; the clock both sides read; the figures.
namespace VirtualCameraBench {
// Called in main() before any camera work: when the camera is not loaded yet, sets LD_PRELOAD,
// TARN_VCAM_STAMP=1 and the control FIFO /tmp/<name>-<pid>, and starts the same program again in place
// (execv keeps the process id); returns once it is loaded.
void load(char **argv, const QByteArray &name);
// Sends one control line ("unplug", "plug", "stall", "resume") to the camera; false when it does not
// listen yet (it listens from the first open of its node).
bool send(const QByteArray &command);
// Removes the control FIFO (at the end of the run).
void removeControl();
// CLOCK_MONOTONIC in ns: the clock the camera stamps its frames with.
qint64 steadyNs();
// The p-th percentile (0 to 100) of values, nearest rank; 0 for none.
double percentile(std::vector<double> values, double p);
// A message handler that drops every line: the session's log would drown the figures.
void quietHandler(QtMsgType, const QMessageLogContext &, const QString &);
} // namespace VirtualCameraBench
