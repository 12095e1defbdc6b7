#pragma once

// What the camera saw, for tests and benchmarks that watch it from outside the process: with
// TARN_VCAM_JOURNAL set to a path, one line is appended per open of the node ("open video0 ok",
// "open video0 EBUSY"), per control write as the device received it ("contrast 5", "saturation 25";
// every write, also a repeat of the same value) and per control-channel command carried out
// ("command unplug"). Each line goes out in one write, so lines of several threads never mix.
// Any thread; never fails the caller.
namespace Journal {
void write(const char *format, ...) __attribute__((format(printf, 1, 2)));
}
