#pragma once

#include "media/AudioDecoder.h"
#include "media/AvPointers.h"
#include "media/CaptureInputResolver.h"
#include "media/FrameConverter.h"
#include "media/InputSession.h"
#include "media/PlayerSettings.h"
#include "media/VideoDecoder.h"

#include <QImage>
#include <QString>

#include <atomic>

// One input opened for playback: the open input, its video and audio decoders and the converter that
// turns its frames into images, opened together by the open step and released together.
//
// The open step takes the snapshot of the player's settings and writes into it what it decides (a
// device decodes in software, RTMP records raw, the picture size, whether the input is a network stream,
// whether it may record).
//
// Player thread only.
class PlaybackInput
{
public:
    // What the open found that the player reports.
    struct Found
    {
        bool isFile = false; // a file of known length: lengthMs is reported
        qint64 lengthMs = 0;
        QImage cover; // an MP3 file's picture
    };

    explicit PlaybackInput(const std::atomic<bool> &stopped) : session(stopped) {}

    // The open step: options, input, video decoder, audio decoder, then what the player needs to read
    // it. False after the failing step's log line; what was opened stays until close().
    bool open(PlayerSettings &settings, av::DictionaryPtr &options, const CaptureInputResolver &resolver,
              Found &found);
    void close();
    // Scaler flag of the player's image flag: bicubic (1), bilinear (2), fast bilinear (any other).
    static int swsFlags(int imageFlag);
    bool isOpen() const { return session.isOpen(); }
    // Why the last open failed, in a few words; empty when no reason is known.
    QString failure() const { return failureText.isEmpty() ? session.failure() : failureText; }

    InputSession session;
    VideoDecoder video;
    AudioDecoder audio;
    FrameConverter converter;

    // Facts of the open input. videoIndex is -1 when its video is not decoded (none, or an MP3 cover).
    int videoIndex = -1;
    int audioIndex = -1;
    qint64 videoStartTime = 0;
    qint64 audioStartTime = 0;
    int rotate = 0;
    qint64 duration = -1;
    QString formatName;

private:
    QString failureText;

    void initOption(PlayerSettings &settings, av::DictionaryPtr &options);
    bool initInput(const PlayerSettings &settings, av::DictionaryPtr &options,
                   const CaptureInputResolver &resolver);
    bool initVideo(PlayerSettings &settings);
    bool initAudio(const PlayerSettings &settings);
    void initData(PlayerSettings &settings, Found &found);
};
