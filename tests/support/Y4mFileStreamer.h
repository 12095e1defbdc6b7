#pragma once

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QTimer>

class QLocalSocket;

// A live YUV4MPEG stream on a UNIX socket, like the simulated camera: the y4m header, then one frame
// per tick at the stream's rate, looping over the frames of a file made by ffmpeg. It can fall silent
// after a number of frames while keeping the connection open (a camera that hangs).
class Y4mFileStreamer : public QObject
{
    Q_OBJECT
public:
    // y4mFile: "-f yuv4mpegpipe" output of ffmpeg; 8-bit 4:2:0 frames without frame parameters.
    bool load(const QString &y4mFile, int width, int height);
    bool listen(const QString &socketPath, int fps = 25);
    void setSilentAfter(int frames) { silentAfter = frames; }
    int framesSent() const { return sent; }

private:
    void tick();

    QLocalServer server;
    QTimer timer;
    QByteArray header;
    QList<QByteArray> frames;
    QList<QLocalSocket *> clients;
    int silentAfter = -1;
    int sent = 0;
    int next = 0;
};
