#include "media/FFmpegSync.h"

#include "media/FFmpegThread.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include <QMutexLocker>

namespace {
// A packet this far past the clock makes the clock catch up with it.
constexpr qint64 kCatchUpLead = 100000;
// Stream time between two position reports.
constexpr qint64 kPositionStep = 200000;
} // namespace

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
    syncStart = av_gettime_relative();
}

void FFmpegSync::stop()
{
    stopped = true;
}

qint64 FFmpegSync::streamClock() const
{
    return av_gettime_relative() + clockOffset - syncStart;
}

void FFmpegSync::run()
{
    reset();
    // Facts of the open input; they do not change while the queues run (the player stops them first).
    const bool rawH264 = owner->source.formatName == QLatin1String("h264");
    const double fps = owner->active.videoFps;
    const double frameMs = fps > 0 ? 1000.0 / fps - 5 : 0;
    const int rawSleepMs = frameMs >= 1 ? int(frameMs) : 0;
    const qint64 tolerance = kind == Audio ? kAudioTolerance : kVideoTolerance;
    const bool reportsPosition = !owner->active.isNetwork && !owner->active.isDevice &&
                                 (kind == Video) == (owner->source.videoIndex >= 0);
    const AVFormatContext *input = owner->source.session.context();

    while (!stopped) {
        if (owner->paused || queued == 0) {
            msleep(1);
            continue;
        }
        AVPacket *packet = nullptr;
        {
            QMutexLocker locker(&mutex);
            packet = packets.first();
        }
        if (rawH264 && rawSleepMs > 0)
            msleep(unsigned(rawSleepMs));

        const qint64 stamp =
            packet->dts != AV_NOPTS_VALUE ? packet->dts : (packet->pts != AV_NOPTS_VALUE ? packet->pts : 0);
        const AVRational base =
            input && packet->stream_index >= 0 && unsigned(packet->stream_index) < input->nb_streams
                ? input->streams[packet->stream_index]->time_base
                : AVRational{0, 1};
        const double time = av_q2d(base) * double(stamp) * 1000000.0;
        packetTime = time;
        if (time > 0) {
            // Ahead of the clock by more than the lead: the clock jumps to 100 ms past this packet.
            const qint64 previous = clock;
            if (time > double(previous + kCatchUpLead))
                clockOffset += qint64(time - double(previous) + kCatchUpLead);
            const qint64 now = streamClock();
            clock = now;
            if (time >= double(now) && time - double(now) > double(tolerance)) {
                msleep(1);
                continue;
            }
        }

        if (reportsPosition) {
            const qint64 now = clock;
            if (now - lastPositionTime > kPositionStep) {
                lastPositionTime = now;
                emit filePositionReceive(now / 1000);
            }
        }
        emit packetDue(qint64(time));
        if (kind == Audio)
            owner->decodeAudio(packet);
        else
            owner->decodeVideo(packet);

        {
            QMutexLocker locker(&mutex);
            av_packet_free(&packets.first());
            packets.removeFirst();
            queued = packets.size();
        }
        msleep(1);
    }

    QMutexLocker locker(&mutex);
    for (AVPacket *p : packets)
        av_packet_free(&p);
    packets.clear();
    queued = 0;
    stopped = false;
}
