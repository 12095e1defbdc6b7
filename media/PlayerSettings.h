#pragma once

#include <QDateTime>
#include <QString>

// The player's settings as one value. The setters write the player's copy under its lock; each open
// takes one snapshot of it, so a setter called during playback acts on the next open. The open step
// writes back what it decides for later opens (a device decodes in software, RTMP records raw, the
// recording gate, whether the input is a network stream).
struct PlayerSettings
{
    // Input address: a capture device ("video=NAME" or "/dev/..."), a network stream or a file.
    QString url;
    // Classification of url (setUrl; isNetwork is decided again from the input's length at open).
    bool isNetwork = false;
    bool isDevice = false;
    // Video decoding: "none" (software), "qsv", or an FFmpeg hardware device type name.
    QString hardware = QStringLiteral("none");
    // RTSP transport.
    QString transport = QStringLiteral("tcp");
    // FFmpegThread::ImageFlag: the scaler flag, and whether audio paces the loop.
    int imageFlag = 1;
    // Frame rate; 0 takes the stream's own rate at open.
    double videoFps = 0.0;
    // Stored only.
    int sleepTime = 0;
    // Read and open time-outs of the interrupt callback, and the pre-check's time-out, in ms.
    int readTime = 8000;
    int checkTime = 3000;
    bool checkConn = false;
    bool playRepeat = false;
    bool playAudio = false;
    // A file without sound is shown at its own pace, frame by frame on its timestamps, as a viewer
    // wants it; off, it is read as fast as it decodes (sound, when there is some, paces every input).
    bool paceVideo = false;
    // Stored only, with the requested capture size below.
    bool multiMode = false;
    // Requested capture size (setMultiMode, or a device URL's "|WxH" suffix) and its frame rate ("|N").
    int videoWidth = 640;
    int videoHeight = 480;
    int frameRate = 0;
    // Recording.
    bool saveFile = false;
    int saveInterval = 0;
    QString savePath;
    QString fileFlag = QStringLiteral("Ch1");
    QString fileName;
    QDateTime saveTime;
    bool saveMp4 = true;

    // What an open decided (after, from the snapshot before) that later opens keep; a setting the
    // open left alone keeps whatever a setter stored meanwhile.
    void keepDecisions(const PlayerSettings &before, const PlayerSettings &after)
    {
        if (after.hardware != before.hardware)
            hardware = after.hardware;
        if (after.saveMp4 != before.saveMp4)
            saveMp4 = after.saveMp4;
        if (after.saveFile != before.saveFile)
            saveFile = after.saveFile;
        if (after.isNetwork != before.isNetwork)
            isNetwork = after.isNetwork;
        if (after.videoFps != before.videoFps)
            videoFps = after.videoFps;
    }
};
