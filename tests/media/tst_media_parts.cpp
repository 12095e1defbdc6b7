// The engine's parts on their own: the audio conversion and decoding, the timestamp rebase, the device
// wait and the converter's fixed output.
#include "media/AudioDecoder.h"
#include "media/AudioResampler.h"
#include "media/DeviceWaiter.h"
#include "media/FrameConverter.h"
#include "media/InputSession.h"

#include "TestMedia.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {
// A frame of one grey level: luma 200 (packed YUYV: 200 and 128 in turn), chroma neutral.
av::FramePtr flatFrame(QSize size, AVPixelFormat format)
{
    av::FramePtr frame(av_frame_alloc());
    frame->width = size.width();
    frame->height = size.height();
    frame->format = format;
    av_frame_get_buffer(frame.get(), 0);
    // The scaler reads ahead past the rows too: the padding gets defined values.
    for (int i = 0; i < AV_NUM_DATA_POINTERS && frame->buf[i]; ++i)
        memset(frame->buf[i]->data, 128, frame->buf[i]->size);
    const int chromaShift = av_pix_fmt_desc_get(format)->log2_chroma_h;
    for (int plane = 0; plane < 4 && frame->data[plane]; ++plane) {
        const int rows = plane == 0 ? size.height() : AV_CEIL_RSHIFT(size.height(), chromaShift);
        memset(frame->data[plane], plane == 0 ? 200 : 128, size_t(frame->linesize[plane]) * rows);
    }
    if (format == AV_PIX_FMT_YUYV422) {
        for (int i = 1; i < frame->linesize[0] * size.height(); i += 2)
            frame->data[0][i] = 128;
    }
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

    // Nothing else in the suite notices a rebase that is missing or moves an unset stamp.
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

    // A device with nothing to read is waited on until data, a hang-up or a stop ends the wait, or, when
    // none comes, for the whole time asked, on the player's own clock.
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
        // Only the event can end a wait of an hour.
        const int timeoutMs = event == "none" ? 200 : 3600000;
        std::atomic<int> result{-1};
        const qint64 startUs = av_gettime_relative();
        qint64 endUs = 0;
        std::thread waiting([&] {
            result = waiter.wait(timeoutMs);
            endUs = av_gettime_relative();
        });
        if (event == "data") [[maybe_unused]]
            const ssize_t written = ::write(pipeEnds[1], "x", 1);
        else if (event == "hangup")
            ::close(std::exchange(pipeEnds[1], -1));
        else if (event == "stop")
            stopped = true;
        const bool ended = QTest::qWaitFor([&] { return result >= 0; }, 20000);
        stopped = true; // a wait the event did not end ends now
        waiting.join();
        QVERIFY(ended);
        QCOMPARE(bool(result), ready);
        if (event == "none") // the whole time, to the millisecond it counts in
            QVERIFY2(endUs - startUs > (timeoutMs - 1) * 1000, qPrintable(QString::number(endUs - startUs)));
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

    // The scaler writes whole vectors, past the end of a row whose width is not a multiple of 16 pixels:
    // at every width, nothing lands past an image's buffer and the image is exactly the picture's size
    // with the picture's colour up to its last pixel. Also run under valgrind (tst_media_parts_valgrind).
    void converterWritesNothingPastItsImages_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("grey"); // the picture's colour on screen
        QTest::newRow("yuv420p") << int(AV_PIX_FMT_YUV420P) << 0 << 214;
        QTest::newRow("yuyv422 (cameras)") << int(AV_PIX_FMT_YUYV422) << 0 << 214;
        QTest::newRow("nv12") << int(AV_PIX_FMT_NV12) << 0 << 214;
        QTest::newRow("gray") << int(AV_PIX_FMT_GRAY8) << 0 << 200;
        QTest::newRow("yuv420p turned 90") << int(AV_PIX_FMT_YUV420P) << 90 << 214;
    }
    void converterWritesNothingPastItsImages()
    {
        QFETCH(int, format);
        QFETCH(int, rotation);
        QFETCH(int, grey);
        QList<QSize> sizes;
        for (int width = 1; width <= 64; ++width)
            sizes << QSize(width, 2 + width % 3);
        sizes << QSize(120, 90) << QSize(200, 150) << QSize(426, 240) << QSize(360, 640) << QSize(1000, 562)
              << QSize(1080, 1920);
        for (const QSize size : sizes) {
            FrameConverter converter;
            QVERIFY(converter.configure(size.width(), size.height(), rotation, SWS_BICUBIC));
            const av::FramePtr frame = flatFrame(size, AVPixelFormat(format));
            for (int round = 0; round < 3; ++round) { // the pool's images in turn
                const QImage *image = nullptr;
                QCOMPARE(converter.convert(frame.get(), image), FrameConverter::Result::Converted);
                QVERIFY2(converter.guardsIntact(), qPrintable(QStringLiteral("written past an image at %1x%2")
                                                                  .arg(size.width())
                                                                  .arg(size.height())));
                QCOMPARE(image->size(), rotation ? size.transposed() : size);
                QCOMPARE(image->format(), QImage::Format_RGB32);
                const QRgb last = image->pixel(image->width() - 1, image->height() - 1);
                QVERIFY2(qAbs(qGreen(last) - grey) <= 3 && qAbs(qRed(last) - grey) <= 3,
                         qPrintable(QString::number(last, 16)));
                const QImage held = *image; // a receiver keeps it: the next round takes another image
                Q_UNUSED(held);
            }
        }
    }

    // The pixel limit is checked before anything of the picture's size is allocated.
    void converterRefusesPicturesAboveTheLimit()
    {
        FrameConverter converter;
        QVERIFY(!converter.configure(16000, 16000, 0, SWS_BICUBIC));
        QVERIFY(!converter.configure(20000, 100, 0, SWS_BICUBIC));
        QVERIFY(converter.configure(8192, 8192, 0, SWS_FAST_BILINEAR));
    }
};

QTEST_GUILESS_MAIN(MediaPartsTest)
#include "tst_media_parts.moc"
