#pragma once

#include "media/FFmpegThread.h"
#include "TestMedia.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QTest>

// The player with its state opened up for tests.
class PlayerProbe : public FFmpegThread
{
public:
    using FFmpegThread::captureResolver;
    using FFmpegThread::checkTime;
    using FFmpegThread::formatName;
    using FFmpegThread::frameRate;
    using FFmpegThread::hardware;
    using FFmpegThread::initOption;
    using FFmpegThread::isDevice;
    using FFmpegThread::isNetwork;
    using FFmpegThread::options;
    using FFmpegThread::saveMp4;
    using FFmpegThread::url;
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

// A player watched from the main thread: its lifecycle signals in the order they arrived (queued), the
// lengths it reported and every image it handed out, kept as received (like a slow video surface).
class PlayerRun : public QObject
{
public:
    PlayerRun()
    {
        connect(&player, &FFmpegThread::receivePlayStart, this, [this] { order << "start"; });
        connect(&player, &FFmpegThread::receivePlayError, this, [this] { order << "error"; });
        connect(&player, &FFmpegThread::receivePlayFinsh, this, [this] { order << "finish"; });
        connect(&player, &FFmpegThread::fileLengthReceive, this, [this](qlonglong ms) { lengths << ms; });
        connect(&player, &FFmpegThread::receiveImage, this, [this](const QImage &image) { images << image; });
    }
    bool waitForImages(int count, int timeoutMs = 30000)
    {
        return QTest::qWaitFor([&] { return images.size() >= count; }, timeoutMs);
    }
    bool waitForFinish(int timeoutMs = 30000)
    {
        return QTest::qWaitFor([&] { return order.contains("finish"); }, timeoutMs);
    }
    void start(const QString &url)
    {
        player.setUrl(url);
        player.play();
        player.start();
    }
    // Plays url until it ends by itself or, with stopAfter > 0, until that many images came and stop()
    // ended it. False when that did not happen in time.
    bool play(const QString &url, int stopAfter = 0, int timeoutMs = 30000)
    {
        start(url);
        if (stopAfter > 0) {
            if (!waitForImages(stopAfter, timeoutMs))
                return false;
            player.stop();
        }
        return waitForFinish(timeoutMs);
    }
    // What every live input shows when played for ten images: one start and one finish, no length, its
    // format, and the bars in the last image.
    void verifyLive(const QString &url, const QString &format, QSize size = {320, 240}, int level = 191)
    {
        QVERIFY(play(url, 10));
        QCOMPARE(order, QStringList({"start", "finish"}));
        QVERIFY(lengths.isEmpty());
        QCOMPARE(player.formatName, format);
        QCOMPARE(images.last().size(), size);
        QCOMPARE(TestMedia::smpteBarsMismatch(images.last(), 40, level), QString());
    }

    PlayerProbe player;
    QStringList order;
    QList<qlonglong> lengths;
    QList<QImage> images;
};
