#pragma once

#include "media/AdtsHeader.h"
#include "media/AvPointers.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>

// The player's recorder: copies the packets of the input it plays, without re-encoding, into an MP4
// file or into a raw H.264 file (start-code form) with a raw AAC file (ADTS) beside it, in slices under
// a directory per day.
//
// - Every video packet is written as it is read; each file starts at a key frame, so every frame in it
//   has what it refers to. Each packet keeps its own timestamps, shifted so that the file starts at 0.
// - MP4 is written fragmented (a fragment at each key frame and at least each half second, the index up
//   front) and flushed with each fragment, so a file cut short by a crash plays up to its last fragment.
// - The raw AAC file gets an ADTS header made from the stream's real profile, rate and channels. A frame
//   too long for the header's length field is left out and counted.
// - Every write is checked. The first one that fails (a full disk above all) ends the recording: what is
//   open is closed so that it plays (an MP4 file gets its trailer, if the disk still takes it), no file
//   is opened until the next attach, and recordFailed says why.
//
// Threads: attach/detach and the writers run on the player thread; the slice switch and the closes may
// run on any thread. Every public call takes the recorder's mutex, so a write, a slice switch and a
// close exclude each other. fileClosed and recordFailed are emitted without the mutex held.
class PlaybackInput;
struct PlayerSettings;

class Recorder : public QObject
{
    Q_OBJECT

public:
    // What the recorder takes from the player when an input opens.
    struct Settings
    {
        bool saveFile = false;
        bool saveMp4 = true;
        int saveInterval = 0;
        QString savePath;
        QString fileFlag;
        QString fileName;
        QString url;
        QDateTime saveTime;
        bool playAudio = false;
        double videoFps = 0;
        AVRational codecTimeBase{0, 1}; // the video decoder's, for the log line
    };

    explicit Recorder(QObject *parent = nullptr);
    ~Recorder() override;

    // Player thread, after an input opened: its video and audio streams (null when absent) and the
    // settings taken for this open. The stream parameters are copied.
    void attach(const AVStream *video, const AVStream *audio, const Settings &settings);
    // The same for the player's open input and the snapshot of its settings.
    void attach(const PlaybackInput &input, const PlayerSettings &active);
    // Player thread, when the input is released: closes what is open and forgets the input.
    void detach();

    bool enabled() const;
    bool saveMp4() const;
    int saveInterval() const;
    QString fileName() const;
    bool isOpen() const;
    // Audio packets left out of the raw AAC file since the last attach (too long for an ADTS header).
    qint64 skippedAudioPackets() const;
    // initSaveFileName: a new file name under today's directory, which is made if missing.
    QString nextFileName();
    bool openMp4(const QString &fileName);
    bool openRaw(const QString &fileName);
    // A new slice: a new file name, and a file of the current mode in place of the open one from the
    // next key frame on.
    void switchSlice();
    void close();
    void closeMp4();
    void closeRaw();

    // Player thread: one packet as read (after the player's rebase).
    void writeVideo(const AVPacket *packet);
    void writeAudio(const AVPacket *packet);
    // Player thread, after each video packet: true once when a single-file recording is past its end
    // time; the end time is then cleared.
    bool takeScheduledStop();

    // The end time that means "none": 1970-01-01 00:00:00.
    static QDateTime noSaveTime();
    // Whole seconds from now to saveTime negative, for a single-file recording with an end time set.
    static bool stopDue(const QDateTime &saveTime, int saveInterval, const QDateTime &now);
    // The raw AAC file beside a raw H.264 file: the same name with the suffix "aac".
    static QString aacFileName(const QString &videoFileName);
    // "DIR/yyyy-MM-dd/FLAG_yyyy-MM-dd-HH-mm-ss.mp4" for now; the day's directory is made if missing.
    static QString makeFileName(const QString &savePath, const QString &fileFlag, const QDateTime &now);
    // A relative directory is taken from the application's directory; made with its parents if missing.
    static QString ensureDir(const QString &path);

signals:
    // A recording file was closed (the raw mode's AAC file too); path as it was opened.
    void fileClosed(const QString &path);
    // The recording stopped on a failure: error is the FFmpeg error code (AVERROR(ENOSPC) for a full
    // disk), reason a line naming the file and the error. Emitted once per attach, before the fileClosed
    // of the files it closed.
    void recordFailed(int error, const QString &reason);

private:
    bool openMp4Locked(QStringList &closed, const QString &fileName);
    bool openRawLocked(QStringList &closed, const QString &fileName);
    void closeMp4Locked(QStringList &closed);
    void closeRawLocked(QStringList &closed);
    void closeLocked(QStringList &closed);
    void emitClosed(const QStringList &closed);
    // The recording ends here: the first failure is kept for emitClosed to report, and what is open is
    // closed.
    void failLocked(QStringList &closed, int error, const QString &reason);
    // A copy of stream's codec parameters into parameters (kind: "video" or "audio" for the failure line);
    // a failed copy leaves it null and, while recording is on, fails the recording.
    void copyParametersLocked(const AVStream *stream, av::CodecParametersPtr &parameters, const char *kind,
                              QStringList &closed);
    // A failed operation of a raw file, as failLocked takes it.
    void failFileLocked(QStringList &closed, const QString &fileName, QFileDevice::FileError kind,
                        const QString &text);
    // The whole of data, or a failure; the file is then cut back to wholeTo (-1: where it stood).
    bool writeFileLocked(QStringList &closed, QFile &file, const char *data, qint64 size,
                         qint64 wholeTo = -1);
    QString nextFileNameLocked();
    void openNextLocked(QStringList &closed);
    bool startAtKey(const AVPacket *packet);
    void writeMp4(QStringList &closed, const AVPacket *packet);
    void writeRaw(QStringList &closed, const AVPacket *packet);
    bool writeRawPayload(QStringList &closed, const uint8_t *data, int size);

    mutable QMutex mutex;
    Settings settings;
    av::CodecParametersPtr videoParameters;
    av::CodecParametersPtr audioParameters;
    AVRational videoTimeBase{0, 1};
    AVRational frameRate{25, 1};
    bool attached = false;
    bool adtsUsable = false;
    AdtsHeader::Config adts;

    // The open file: an MP4 muxer, or the raw files.
    av::OutputContextPtr outputCtx;
    AVRational outputTimeBase{0, 1};
    QString mp4Name;
    qint64 mp4Whole = 0; // bytes of the MP4 file that whole writes put on the disk
    QFile videoFile;
    QFile audioFile;
    av::BsfContextPtr annexb;
    av::PacketPtr filtered;
    av::PacketPtr outPacket;

    // Where the open file stands: waiting for its first key frame, then writing.
    bool started = false;
    bool switchPending = false;
    int untimedKeys = 0;
    qint64 baseDts = 0;
    qint64 lastDts = 0;
    qint64 saveFrameIndex = 0;

    // Since the last attach: the first failure (reported once, by emitClosed), the audio left out.
    bool failed = false;
    int failureError = 0;
    QString failureReason;
    bool failureReported = false;
    qint64 skippedAudio = 0;
};
