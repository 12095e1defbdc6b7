#include "media/FFmpegSync.h"

#include "media/FFmpegThread.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/time.h>
}

#include <QMutexLocker>

FFmpegSync::FFmpegSync(Kind kind, FFmpegThread *owner) : kind(kind), owner(owner)
{
    setObjectName(kind == Audio ? QStringLiteral("FFmpegSync-audio") : QStringLiteral("FFmpegSync-video"));
}

FFmpegSync::~FFmpegSync()
{
    stop();
    wait();
    for (AVPacket *p : packets)
        av_packet_free(&p);
}

void FFmpegSync::append(AVPacket *packet)
{
    QMutexLocker locker(&mutex);
    packets.append(packet);
    queued = packets.size();
}

int FFmpegSync::packetCount() const
{
    return queued;
}

void FFmpegSync::reset()
{
    clock = -1;
    lastPositionTime = 0;
    clockOffset = 0;
    syncStart = av_gettime();
}

void FFmpegSync::stop()
{
    stopped = true;
}

void FFmpegSync::run()
{
    // The queue is filled only in sync mode, which nothing selects yet: idle until stopped, then drain.
    lastPositionTime = 0;
    clockOffset = 0;
    clock = -1;
    syncStart = av_gettime();
    while (!stopped)
        msleep(1);

    QMutexLocker locker(&mutex);
    for (AVPacket *p : packets)
        av_packet_free(&p);
    packets.clear();
    queued = 0;
    stopped = false;
}
