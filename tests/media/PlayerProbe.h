#pragma once

#include "media/FFmpegThread.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSignalSpy>
#include <QTest>

// The player with its state opened up for tests.
class PlayerProbe : public FFmpegThread
{
public:
    using FFmpegThread::captureResolver;
    using FFmpegThread::checkTime;
    using FFmpegThread::duration;
    using FFmpegThread::formatName;
    using FFmpegThread::frameRate;
    using FFmpegThread::hardware;
    using FFmpegThread::initOption;
    using FFmpegThread::interval;
    using FFmpegThread::isDevice;
    using FFmpegThread::isNetwork;
    using FFmpegThread::options;
    using FFmpegThread::readTime;
    using FFmpegThread::rotate;
    using FFmpegThread::saveFile;
    using FFmpegThread::saveMp4;
    using FFmpegThread::url;
    using FFmpegThread::videoFps;
    using FFmpegThread::videoHeight;
    using FFmpegThread::videoWidth;

    ~PlayerProbe() override
    {
        stop();
        wait();
    }

    QString option(const char *key) const
    {
        const AVDictionaryEntry *entry = av_dict_get(options.get(), key, nullptr, 0);
        return entry ? QString::fromUtf8(entry->value) : QString();
    }
};

// Watches one run of a player from the main thread: its lifecycle signals (queued) and every image it
// hands out, kept as received (a receiver that holds on to them, like a slow video surface).
class PlayerWatch : public QObject
{
public:
    explicit PlayerWatch(FFmpegThread *player)
        : started(player, &FFmpegThread::receivePlayStart), errors(player, &FFmpegThread::receivePlayError),
          finished(player, &FFmpegThread::receivePlayFinsh), lengths(player, &FFmpegThread::fileLengthReceive)
    {
        connect(player, &FFmpegThread::receiveImage, this,
                [this](const QImage &image) { images.append(image); });
    }

    bool waitForImages(int count, int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return images.size() >= count; }, timeoutMs);
    }
    bool waitForFinish(int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return finished.count() > 0; }, timeoutMs);
    }

    QSignalSpy started;
    QSignalSpy errors;
    QSignalSpy finished;
    QSignalSpy lengths;
    QList<QImage> images;
};
