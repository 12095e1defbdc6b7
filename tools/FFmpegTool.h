#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

class QTextDecoder;

// The offline media tool: merges a raw H.264 file and an AAC file into MP4 without re-encoding, and runs
// external commands (ffprobe, ffmpeg, anything else) as a child process whose standard output it relays
// as text. Driven through its signals and slots, so it can live on any thread; the child process belongs
// to the tool's thread. The child's standard error goes to this process's standard error.
class FFmpegTool : public QObject
{
    Q_OBJECT

public:
    explicit FFmpegTool(QObject *parent = nullptr);
    ~FFmpegTool() override;

    // Exit code of the last child process once it finished, -1 when it crashed or could not start.
    int exitCode() const;

    // What the last merge wrote, and what it left out and why.
    struct MergeCounts
    {
        int videoPackets = 0;
        int audioPackets = 0;
        bool audioStream = false; // the AAC input gave an audio stream
        int audioLeft = 0;        // audio packets after the video's end, not written (the merge ends there)
        QString note;             // a rate out of bounds, replaced: which bound and why
    };
    MergeCounts lastMerge() const { return counts; }

signals:
    // The child process is running.
    void started();
    // The child process ended, or could not start (processFailed came first).
    void finished();
    // Child-process standard output, decoded as UTF-8; a character cut between two reads comes whole
    // with the second.
    void receiveData(QString data);
    // Outcome of each h264ToMp4ByCode: ok, or the failure message it logged (empty when the call did
    // nothing because the H.264 file is missing or the MP4 path is empty).
    void mergeFinished(bool ok, QString failure);
    // One line saying the child process could not start (program not found, not executable).
    void processFailed(QString message);

public slots:
    // Emits receiveData once with everything the child wrote to its standard output so far.
    void readData();
    // Starts the child process with a whole command line (split like a shell would, quotes kept together).
    void start(QString command);
    void start(QString program, QStringList arguments);
    // Runs ffprobe on mediaFile (JSON when json is set); its report arrives through receiveData.
    void getMediaInfo(QString mediaFile, bool json = false);
    // Runs ffmpeg to copy the video of h264File and the audio of aacFile into mp4File without
    // re-encoding; video alone when aacFile is empty or names no file.
    void h264ToMp4ByCmd(QString h264File, QString aacFile, QString mp4File);
    // The merge, in the calling thread; ends with mergeFinished.
    void h264ToMp4ByCode(QString h264File, QString aacFile, QString mp4File);

private:
    bool merge(const QString &h264File, const QString &aacFile, const QString &mp4File, QString &failure);
    void onProcessError(QProcess::ProcessError error);

    QProcess process;
    std::unique_ptr<QTextDecoder> decoder;
    MergeCounts counts;
};
