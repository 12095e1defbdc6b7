#pragma once

#include "media/AvPointers.h"
#include "media/FrameTap.h"

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class QThread;

// A clip of the live picture, encoded: the viewer's R key starts one and stops it. The frames come from
// the player as a FrameTap (in the camera's own format), are converted to yuv420p and encoded with
// libx264 into a fragmented MP4 file, so that a clip cut short by a crash or a power loss plays up to
// its last fragment (a fragment a second: one GOP).
//
// Use: add the recorder to the player once (FFmpegThread::addFrameTap; it takes no frame while it does
// not record) and remove it before destroying it. Then, on the GUI thread:
//   start(file)  ->  ...frames...  ->  stop()            finished(file, frames, ms)
//                                  ->  a write fails     failed(error, reason), then finished(...)
// - start() returns false (errorText() says why) for an empty name, a clip already running or a folder
//   that does not exist or cannot be written. The file is opened at the first frame, when the picture's
//   size, format and rate are known; a failure there is reported by failed().
// - stop() ends the clip: what is queued is encoded, the encoder is drained, the trailer written and the
//   file closed before it returns. It may come at any time, also when no frame comes any more (an
//   unplugged camera). A clip that got no frame at all makes no file and reports failed(ENODATA).
// - The first failed write (AVERROR(ENOSPC) for a full disk, reason "disk full: ...") ends the clip at
//   once: the file is cut back to its last whole fragment, so it plays, and recording stops by itself
//   (isRecording() turns false; stop() is then only a formality).
// - finished() comes once per clip that made a file, with the frames and the time the file holds (after
//   a failure: up to its last whole fragment). Both signals are emitted on the encoder thread, so a
//   receiver on the GUI thread gets them queued.
//
// Time: each frame is timed by its capture time (FrameTap::Facts::captureUs), less the first one's, in a
// 1/90000 time base, put on the grid of the declared frame rate (the camera's; 25 when the input
// declares none) so that jitter does not hide the rate: the slot nearest the capture time, or the next
// free one up to a frame ahead; a frame with no slot (a camera faster than it says, a capture time that
// did not move forward) is left out and counted with the dropped ones. The stream's SPS declares the
// rate too.
//
// Threads: tapFrame on the player thread (one player per recorder) copies the frame into one of
// kQueueFrames frames allocated at the first frames of a given size and then reused (a full queue drops
// the frame and counts it); the encoder thread "tarn-clip" does the rest. Everything else is for the GUI
// thread; isRecording, elapsedMs and droppedFrames may be read from any thread.
class ClipRecorder : public QObject, public FrameTap
{
    Q_OBJECT

public:
    // Frames waiting for the encoder at most: some 0.3 s at 25 fps, for the encoder's slow moments.
    static constexpr int kQueueFrames = 8;
    // The encoder's settings, the same as bench/clip-bench.sh gives the ffmpeg command line: libx264,
    // yuv420p, preset veryfast, tune zerolatency (no B-frames, no look-ahead: each frame comes out as it
    // goes in), quality 23 and a key frame (a fragment) every second of frames.
    static constexpr const char *kPreset = "veryfast";
    static constexpr const char *kTune = "zerolatency";
    static constexpr int kCrf = 23;

    explicit ClipRecorder(QObject *parent = nullptr);
    // Stops a running clip (as stop()). Remove the tap from the player first.
    ~ClipRecorder() override;

    bool start(const QString &fileName);
    void stop();
    bool isRecording() const { return recording.load(); }
    // Any thread: record only the top ROWS of each frame (a split camera's picture over its
    // temperatures); 0 (the default), or as many rows as the frame has, records whole frames.
    void setPictureRows(int rows) { pictureRows = rows; }
    // Capture time from the clip's first frame to its latest one; 0 before the first frame.
    qint64 elapsedMs() const;
    // Frames left out of this clip: the queue was full, or the frame had no slot on the time line.
    qint64 droppedFrames() const { return dropped.load(); }
    // Why start() returned false.
    QString errorText() const { return lastError; }

    // Player thread.
    void tapFrame(const AVFrame &frame, const Facts &facts) override;

signals:
    void finished(const QString &fileName, qint64 frames, qint64 durationMs);
    void failed(int error, const QString &reason);

private:
    struct Slot
    {
        av::FramePtr frame;
        int64_t captureUs = 0;
        AVRational frameRate{0, 1};
    };

    // Encoder thread: the whole clip, and its steps.
    void encodeLoop();
    int open(const Slot &first);
    // The frame's time in the file; AV_NOPTS_VALUE: it has none and is left out.
    int64_t timeFor(int64_t captureUs);
    int convert(const Slot &slot, int64_t pts);
    int encode(AVFrame *frame); // null: drains the encoder
    int writePacket();
    void finish(int error, const QString &what);

    // --- the queue: queue[head..head+count) wait for the encoder; the tap fills the one after them.
    // std's rather than Qt's: ThreadSanitizer sees their hand-over in a wait (Debian's Qt is not
    // instrumented).
    std::mutex mutex;
    std::condition_variable wake;
    std::array<Slot, kQueueFrames> queue;
    int head = 0;
    int count = 0;
    bool stopRequested = false;

    // --- any thread
    std::atomic<bool> recording{false};
    std::atomic<qint64> dropped{0};
    std::atomic<int> pictureRows{0};
    std::atomic<int64_t> firstCaptureUs{0};
    std::atomic<int64_t> lastCaptureUs{0};
    std::atomic<bool> hasFirst{false};

    // --- GUI thread
    QString lastError;
    std::unique_ptr<QThread> thread;

    // --- encoder thread (and start(), before it runs)
    QString fileName;
    av::CodecContextPtr encoder;
    av::OutputContextPtr output;
    av::SwsContextPtr scaler;
    int scalerWidth = 0;
    int scalerHeight = 0;
    int scalerFormat = -1;
    bool scalerFullRange = false;
    av::FramePtr picture; // the yuv420p frame the encoder takes
    av::PacketPtr packet;
    int64_t lastPts = AV_NOPTS_VALUE;
    int64_t frameTicks = 3600; // one frame at the declared rate, in the 1/90000 time base
    // Whole writes: the file's length after the last write that reached the disk, the frames before
    // that point and where the last of them ends.
    int64_t wholeBytes = 0;
    qint64 wholeFrames = 0;
    int64_t wholeEndPts = 0;
    qint64 packetsWritten = 0;
    int64_t writtenEndPts = 0;
};
