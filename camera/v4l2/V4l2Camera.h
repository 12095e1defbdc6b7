#pragma once

#include "capture/V4l2DeviceDirectory.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QPair>
#include <QSet>

#include <atomic>

// The vendor camera library's behaviour for real UVC cameras on Linux: one current camera, selected
// by its V4L2 card name, reached through its video-capture node. The two commands travel as the V4L2
// controls the UVC driver maps to the camera's processing unit: contrast and saturation.
//
// Threads: every member may be called from any thread. open, close, the commands and refresh take
// the camera's mutex (they talk to the device); isOpen, width, height and the string getters read
// atomics and never wait for the device. The strings returned stay valid for the life of the process
// (every distinct text is kept once), so a caller on another thread can copy them at leisure.
class V4l2Camera
{
public:
    static constexpr int SdkVersion = 110;

    V4l2Camera();
    ~V4l2Camera();
    V4l2Camera(const V4l2Camera &) = delete;
    V4l2Camera &operator=(const V4l2Camera &) = delete;

    // The camera behind the UVC_CAMERA_ functions of this process.
    static V4l2Camera &instance();

    // What later opens look for; the last call wins. By card name: the card name itself, the part after
    // its last ": " or a name uvcvideo cut (CameraName), case included. By device: a node path such as
    // /dev/video2 or a link to one (/dev/v4l/by-id/...), followed at each open. By serial: the USB
    // serial number of the camera's device. None of them touches an open camera.
    void select(const QByteArray &cardName);
    void selectDevice(const QByteArray &path);
    void selectSerial(const QByteArray &serialNumber);
    // Opens the lowest-numbered video-capture node that matches the selection, reads its current
    // capture size, its controls with their ranges and its USB serial number. A matching node that
    // cannot be opened is reported in one log line (once, until its reason changes) and passed over.
    // True when open (also when it already was). Otherwise lastError() tells why: ENOENT when nothing
    // matched, else the errno of the first matching node that failed.
    bool open();
    int lastError() const { return error.load(); }
    // Capture nodes that matched the selection at the last open.
    int matchCount() const { return matches.load(); }
    // The open camera's node ("/dev/video0"); after a failed open the node that failed, if one did;
    // else "".
    const char *devicePath() const { return path.load(); }
    void close();
    bool isOpen() const { return fd.load() >= 0; }

    // Current capture size of the open camera; 0 when closed.
    int width() const { return frameWidth.load(); }
    int height() const { return frameHeight.load(); }
    // The open camera's full card name (the name the capture layer knows it by); "" when closed.
    const char *friendlyName() const { return name.load(); }

    // Sets a control on the open camera. 0 when the device took it, else an errno: ENODEV when closed,
    // ERANGE when the value lies outside the control's range read at open (then nothing is sent: the
    // device would clamp it into another command; logged once per control and value), or the device's
    // answer (EINVAL for a control it lacks, EIO or ETIMEDOUT for a request it stalled or left
    // unanswered).
    int setContrast(int value);
    int setSaturation(int value);
    // Reads contrast and saturation back from the open camera; false when closed or when the device did
    // not answer (the getters then keep their previous values). The serial number was read at open.
    bool refresh();
    // Values of the last refresh (or of the open).
    int contrast() const { return contrastValue.load(); }
    int saturation() const { return saturationValue.load(); }
    // Serial number of the camera's USB device, read at open; "" when unknown.
    const char *serialNumber() const { return serial.load(); }

private:
    // Kept for the life of the process: one copy of every distinct string ever handed out.
    static const char *intern(const QByteArray &text);
    void closeLocked();
    int setControl(unsigned int id, int value);
    bool selectedLocked(const V4l2DeviceDirectory::Node &node, const QString &wantedPath) const;
    bool readControlsLocked();
    void readRangesLocked();

    struct Range
    {
        bool known = false;
        int minimum = 0;
        int maximum = 0;
    };

    mutable QMutex mutex; // guards the device: openNode and every device call
    V4l2DeviceDirectory directory;
    enum class Selection
    {
        Name,
        Device,
        Serial
    };
    Selection selection = Selection::Name;
    QByteArray selectedName;                // the card name, device path or serial, after selection
    QString openNode;                       // "video0" while open
    QHash<QString, int> reportedOpenErrors; // node path -> errno already logged
    QHash<unsigned int, Range> ranges;      // control id -> range, read at open
    QSet<QPair<unsigned int, int>> reportedOutOfRange;

    std::atomic<int> fd{-1};
    std::atomic<int> frameWidth{0};
    std::atomic<int> frameHeight{0};
    std::atomic<int> contrastValue{0};
    std::atomic<int> saturationValue{0};
    std::atomic<const char *> name;
    std::atomic<const char *> serial;
    std::atomic<const char *> path;
    std::atomic<int> error{0};
    std::atomic<int> matches{0};
};
