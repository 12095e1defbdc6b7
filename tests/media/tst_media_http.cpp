// An MP4 with faststart from a local HTTP server: it has a length, so it plays like a file.
#include "PlayerProbe.h"

#include "HttpServer.h"
#include "TestMedia.h"

#include <QTemporaryDir>
#include <QtTest>

class HttpTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void playsHttpMp4ToItsEnd()
    {
        QVERIFY(dir.isValid());
        QVERIFY(TestMedia::ffmpeg({"-f", "lavfi", "-i", "smptebars=size=320x240:rate=25:duration=2", "-c:v",
                                   "libx264", "-pix_fmt", "yuv420p", "-movflags", "+faststart",
                                   dir.filePath("bars.mp4")}));
        HttpServer server(dir.path());
        QVERIFY(server.start());
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(server.url("bars.mp4"));
        QVERIFY(player.isNetwork);
        player.play();
        player.start();
        QVERIFY(watch.waitForFinish(30000));
        QCOMPARE(watch.started.count(), 1);
        QCOMPARE(watch.errors.count(), 0);
        QCOMPARE(watch.images.size(), 50);
        QCOMPARE(watch.lengths.count(), 1);
        QVERIFY(!player.isNetwork); // a known length makes it a file
        QString why;
        QVERIFY2(TestMedia::showsSmpteBars(watch.images.first(), 40, &why), qPrintable(why));
        QVERIFY2(TestMedia::showsSmpteBars(watch.images.last(), 40, &why), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(HttpTest)
#include "tst_media_http.moc"
