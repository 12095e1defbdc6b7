// The engine's parts on their own: the audio conversion and decoding, the timestamp rebase, the device
// wait and the converter's fixed output.
#include "media/AudioDecoder.h"
#include "media/AudioResampler.h"
#include "media/DeviceWaiter.h"
#include "media/FrameConverter.h"
#include "media/InputSession.h"

#include "TestMedia.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {
qint64 threadCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// A frame of the given size filled with one grey level (yuv420p).
av::FramePtr greyFrame(int width, int height, int luma)
{
    av::FramePtr frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(frame.get(), 0);
    memset(frame->data[0], luma, size_t(frame->linesize[0]) * height);
    memset(frame->data[1], 128, size_t(frame->linesize[1]) * height / 2);
    memset(frame->data[2], 128, size_t(frame->linesize[2]) * height / 2);
    return frame;
}
} // namespace

class MediaPartsTest : public QObject
{
    Q_OBJECT

private slots:
    // A frame longer than the conversion buffer comes out whole, in order.
    void resampler_frameLongerThanItsBuffer_convertedWhole()
    {
        constexpr int samples = 100000;
        av::CodecContextPtr decoder(avcodec_alloc_context3(nullptr));
        decoder->sample_rate = 48000;
        decoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_default(&decoder->ch_layout, 2);
        AudioResampler resampler;
        QVERIFY(resampler.open(decoder.get()));

        av::FramePtr frame(av_frame_alloc());
        frame->nb_samples = samples;
        frame->format = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_default(&frame->ch_layout, 2);
        QCOMPARE(av_frame_get_buffer(frame.get(), 0), 0);
        for (int i = 0; i < samples; ++i) {
            reinterpret_cast<float *>(frame->data[0])[i] = float(i % 1000) / 1000 - 0.5f;
            reinterpret_cast<float *>(frame->data[1])[i] = 0.25f;
        }
        QByteArray out;
        int pieces = 0;
        QCOMPARE(resampler.convert(frame.get(),
                                   [&](const char *data, int bytes) {
                                       out.append(data, bytes);
                                       ++pieces;
                                   }),
                 samples);
        QCOMPARE(out.size(), samples * 4);
        QCOMPARE(pieces, 2);
        const auto *pcm = reinterpret_cast<const qint16 *>(out.constData());
        for (int i = 0; i < samples; ++i) {
            const int left = int(std::lrint((float(i % 1000) / 1000 - 0.5f) * 32768));
            if (std::abs(pcm[2 * i] - left) > 1 || std::abs(pcm[2 * i + 1] - 8192) > 1)
                QFAIL(qPrintable(
                    QStringLiteral("sample %1: %2 %3").arg(i).arg(pcm[2 * i]).arg(pcm[2 * i + 1])));
        }
    }

    // Packets that carry two AAC frames each give both, and nothing stays in the decoder at the end.
    void audioDecoder_takesEveryFrame()
    {
        QTemporaryDir dir;
        QVERIFY(TestMedia::ffmpeg(dir.path(), "-f lavfi -i sine=duration=1 -c:a aac -f adts a.aac"));
        av::InputContextPtr input;
        QCOMPARE(avformat_open_input(av::out(input), qPrintable(dir.filePath("a.aac")), nullptr, nullptr), 0);
        QVERIFY(avformat_find_stream_info(input.get(), nullptr) >= 0);
        AudioDecoder decoder;
        QVERIFY(decoder.open(input.get(), "Ch1"));

        av::PacketPtr packet(av_packet_alloc()), pair(av_packet_alloc());
        av::FramePtr frame(av_frame_alloc());
        QByteArray joined;
        int packets = 0, decoded = 0;
        const auto count = [&decoded](AVFrame *f) {
            decoded += f->nb_samples;
        };
        const auto decodeJoined = [&] {
            QCOMPARE(av_new_packet(pair.get(), int(joined.size())), 0);
            memcpy(pair->data, joined.constData(), size_t(joined.size()));
            QVERIFY(decoder.decode(pair.get(), frame.get(), count) >= 0);
            av_packet_unref(pair.get());
            joined.clear();
        };
        while (av_read_frame(input.get(), packet.get()) >= 0) {
            joined.append(reinterpret_cast<const char *>(packet->data), packet->size);
            av_packet_unref(packet.get());
            if (++packets % 2 == 0)
                decodeJoined();
        }
        if (!joined.isEmpty())
            decodeJoined();
        QVERIFY(decoder.decode(nullptr, frame.get(), count) >= 0);
        QVERIFY(packets > 40);
        QCOMPARE(decoded, packets * 1024);
    }

    void rebaseKeepsUnsetTimestamps_data()
    {
        QTest::addColumn<qint64>("pts");
        QTest::addColumn<qint64>("dts");
        QTest::addColumn<qint64>("expectedPts");
        QTest::addColumn<qint64>("expectedDts");
        const qint64 unset = AV_NOPTS_VALUE;
        QTest::newRow("both set, B-frame order kept")
            << qint64(2000400) << qint64(2000000) << qint64(400) << qint64(0);
        QTest::newRow("pts unset") << unset << qint64(2000040) << unset << qint64(40);
        QTest::newRow("dts unset") << qint64(2000080) << unset << qint64(80) << unset;
    }
    void rebaseKeepsUnsetTimestamps()
    {
        QFETCH(qint64, pts);
        QFETCH(qint64, dts);
        QFETCH(qint64, expectedPts);
        QFETCH(qint64, expectedDts);
        av::PacketPtr packet(av_packet_alloc());
        packet->pts = pts;
        packet->dts = dts;
        InputSession::rebase(packet.get(), 2000000);
        QCOMPARE(packet->pts, expectedPts);
        QCOMPARE(packet->dts, expectedDts);
    }

    // A device with nothing to read is waited on, not asked again and again; a stop, data or a hang-up
    // end the wait.
    void deviceWaitEndsOnDataHangUpOrStop_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("ready");
        QTest::newRow("nothing comes") << "none" << false;
        QTest::newRow("a frame") << "data" << true;
        QTest::newRow("unplugged") << "hangup" << true;
        QTest::newRow("stopped") << "stop" << false;
    }
    void deviceWaitEndsOnDataHangUpOrStop()
    {
        QFETCH(QString, event);
        QFETCH(bool, ready);
        int pipeEnds[2];
        QVERIFY(::pipe(pipeEnds) == 0);
        std::atomic<bool> stopped{false};
        DeviceWaiter waiter(stopped);
        waiter.setDescriptor(pipeEnds[0]);

        // The event comes once the waiter is waiting; "none" lets the whole second run out.
        std::atomic<bool> waiting{false};
        std::thread peer([&] {
            while (!waiting)
                std::this_thread::yield();
            if (event == "data") [[maybe_unused]]
                const ssize_t written = ::write(pipeEnds[1], "x", 1);
            else if (event == "hangup")
                ::close(std::exchange(pipeEnds[1], -1));
            else if (event == "stop")
                stopped = true;
        });
        const qint64 cpuBefore = threadCpuMs();
        QElapsedTimer clock;
        clock.start();
        waiting = true;
        const bool result = waiter.wait(1000);
        const qint64 waited = clock.elapsed();
        peer.join();
        QCOMPARE(result, ready);
        QVERIFY2((waited >= 990) == (event == "none"), qPrintable(QString::number(waited)));
        // Waiting costs no CPU to speak of (a spinning wait burns the whole second).
        QVERIFY2(threadCpuMs() - cpuBefore < 100, qPrintable(QString::number(threadCpuMs() - cpuBefore)));
        ::close(pipeEnds[0]);
        if (pipeEnds[1] >= 0)
            ::close(pipeEnds[1]);
    }

    void deviceDescriptorIsTheOneTheOpenAdded()
    {
        std::atomic<bool> stopped{false};
        DeviceWaiter waiter(stopped);
        const int older = ::open("/dev/null", O_RDONLY);
        waiter.beforeOpen("/dev/null");
        const int opened = ::open("/dev/null", O_RDONLY);
        waiter.afterOpen();
        QCOMPARE(waiter.descriptor(), opened);
        QVERIFY(waiter.descriptor() != older);
        ::close(opened);
        ::close(older);
        waiter.beforeOpen("/tmp");
        waiter.afterOpen();
        QCOMPARE(waiter.descriptor(), -1); // not a character device
    }

    // The output size is fixed when the converter is configured, whatever size the frames come in.
    void convertsIntoTheConfiguredSize()
    {
        FrameConverter converter;
        QVERIFY(converter.configure(64, 48, 90, SWS_BICUBIC));
        QCOMPARE(converter.outputSize(), QSize(48, 64));
        for (const QSize size : {QSize(64, 48), QSize(320, 240), QSize(16, 12)}) {
            const av::FramePtr frame = greyFrame(size.width(), size.height(), 200);
            const QImage *image = nullptr;
            QCOMPARE(converter.convert(frame.get(), image), FrameConverter::Result::Converted);
            QCOMPARE(image->size(), QSize(48, 64));
            QVERIFY2(qAbs(qGreen(image->pixel(47, 63)) - 214) <= 3,
                     qPrintable(QString::number(image->pixel(47, 63), 16)));
        }
    }
};

QTEST_GUILESS_MAIN(MediaPartsTest)
#include "tst_media_parts.moc"
