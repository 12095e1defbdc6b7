// An MP4 from a local HTTP server (python's http.server, which ignores Range requests: hence faststart):
// it has a length, so it plays like a file.
#include "PlayerProbe.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class HttpTest : public QObject
{
    Q_OBJECT

private slots:
    void playsHttpMp4ToItsEnd()
    {
        QTemporaryDir dir;
        QVERIFY(TestMedia::ffmpeg(dir.path(), "-f lavfi -i smptebars=size=320x240:rate=25:duration=2 -c:v "
                                              "libx264 -pix_fmt yuv420p -movflags +faststart bars.mp4"));
        QProcess server;
        const QString port = QString::number(TestMedia::startHttpServer(server, dir.path()));
        QVERIFY(port != "0");
        const QString url = "http://127.0.0.1:" + port + "/bars.mp4";
        PlayerRun run;
        run.player.setUrl(url);
        QVERIFY(run.player.currentSettings().isNetwork);
        QVERIFY(run.play(url));
        server.kill();
        server.waitForFinished();
        QCOMPARE(run.order, QStringList({"start", "finish"}));
        QCOMPARE(run.images().size(), 50);
        QCOMPARE(run.lengths.size(), 1);
        QVERIFY(!run.player.currentSettings().isNetwork); // a known length makes it a file
        QCOMPARE(TestMedia::smpteBarsMismatch(run.images().first()), QString());
        QCOMPARE(TestMedia::smpteBarsMismatch(run.images().last()), QString());
    }
};

QTEST_GUILESS_MAIN(HttpTest)
#include "tst_media_http.moc"
