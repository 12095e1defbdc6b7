#include "media/AudioOutput.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QThread>

#include <algorithm>

namespace {
std::atomic<bool> opened{false};
} // namespace

AudioOutput::AudioOutput() = default;

AudioOutput::~AudioOutput()
{
    close();
}

bool AudioOutput::open(int sampleRate, int sampleSize, int channelCount)
{
    close();
    written = 0;
    dropped = 0;
    const QAudioDeviceInfo info = QAudioDeviceInfo::defaultOutputDevice();
    format = info.preferredFormat();
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setSampleRate(sampleRate);
    format.setSampleSize(sampleSize * 8);
    format.setChannelCount(channelCount);
    format.setSampleType(QAudioFormat::SignedInt);
    format.setByteOrder(QAudioFormat::LittleEndian);
    if (info.isNull() || !info.isFormatSupported(format))
        return false;

    ::opened = true;
    output = std::make_unique<QAudioOutput>(info, format);
    output->setBufferSize(kBufferBytes);
    output->setVolume(1.0);
    device = output->start();
    if (!device) {
        output.reset();
        return false;
    }
    bytesPerSecond = sampleRate * sampleSize * channelCount;
    pending.clear();
    pending.reserve(bytesPerSecond / 1000 * kPendingMs);
    return true;
}

bool AudioOutput::everOpened()
{
    return ::opened;
}

int AudioOutput::preferredRate()
{
    const QAudioDeviceInfo info = QAudioDeviceInfo::defaultOutputDevice();
    return info.isNull() ? 0 : info.preferredFormat().sampleRate();
}

void AudioOutput::close()
{
    if (output) {
        output->stop();
        output.reset();
    }
    device = nullptr;
    pending.clear();
    playing.invalidate();
    sent = 0;
}

int AudioOutput::volumePercent() const
{
    return output ? int(output->volume() * 100) : 0;
}

qint64 AudioOutput::flush()
{
    if (pending.isEmpty())
        return 0;
    const qint64 taken = device->write(pending.constData(), pending.size());
    if (taken <= 0)
        return 0;
    written += taken;
    sent += taken;
    pending.remove(0, int(taken));
    return taken;
}

qint64 AudioOutput::write(const char *data, qint64 bytes)
{
    if (!device)
        return 0;
    // Empty: just opened, or the writer fell behind and the sound ran out. The sound server would wait
    // until its whole buffer is full before it plays again (seconds of silence, then that much delay);
    // a short lead of silence and a restart make it play at once. (Qt's free-byte count does not show
    // what the server still holds, so the level is reckoned from the time since the restart.)
    const bool empty = pending.isEmpty() && levelBytes() == 0;
    if (empty) {
        playing.start();
        sent = 0;
        pending.fill(0, bytesPerSecond / 1000 * kLeadMs / 4 * 4);
        // Counted as sound is only what the input gave.
        written -= pending.size();
        flush();
    }
    const auto restart = qScopeGuard([&] {
        if (empty) {
            output->suspend();
            output->resume();
        }
    });
    qint64 taken = flush();
    qint64 direct = 0;
    if (pending.isEmpty()) {
        direct = std::max<qint64>(device->write(data, bytes), 0);
        written += direct;
        sent += direct;
    }
    const qint64 rest = bytes - direct;
    const qint64 room = pending.capacity() - pending.size();
    const qint64 queued = std::min(rest, room);
    pending.append(data + direct, int(queued));
    dropped += rest - queued;
    return taken + direct;
}

qint64 AudioOutput::microsecondsWritten() const
{
    const int rate = bytesPerSecond;
    return rate > 0 ? written * 1000000 / rate : 0;
}

qint64 AudioOutput::levelBytes() const
{
    const int rate = bytesPerSecond;
    if (!output || rate <= 0 || !playing.isValid())
        return 0;
    const qint64 played = playing.nsecsElapsed() / 1000 * rate / 1000000;
    return std::max<qint64>(sent - played, 0);
}

qint64 AudioOutput::microsecondsBuffered() const
{
    const int rate = bytesPerSecond;
    return rate > 0 ? levelBytes() * 1000000 / rate : 0;
}

void AudioOutput::drain(const std::atomic<bool> &stop)
{
    if (!output)
        return;
    const int rate = bytesPerSecond;
    const QDeadlineTimer deadline(
        2 * (kBufferMs + microsecondsBuffered() / 1000 + pending.size() * 1000LL / rate));
    while (!stop && !deadline.hasExpired() && (!pending.isEmpty() || levelBytes() > 0)) {
        flush();
        QThread::msleep(5);
    }
}
