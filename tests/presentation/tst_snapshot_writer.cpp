// Snapshots written whole or not at all: to a folder made on the way, to a read-only folder and to a
// full disk (small tmpfs mounts; skipped where mounting is not allowed).
#include "presentation/SnapshotWriter.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class tst_snapshot_writer : public QObject
{
    Q_OBJECT

private slots:
    void write_data()
    {
        QTest::addColumn<QString>("mount"); // tmpfs options for the folder; empty: a plain folder
        QTest::addColumn<bool>("ok");
        QTest::newRow("new folder") << QString() << true;
        QTest::newRow("read-only folder") << "ro,size=1m" << false;
        QTest::newRow("full disk") << "size=64k" << false;
    }

    void write()
    {
        QFETCH(QString, mount);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const QString folder = dir.filePath("mounted");
        QVERIFY(QDir().mkpath(folder));
        if (!mount.isEmpty() &&
            QProcess::execute("mount", {"-t", "tmpfs", "-o", mount, "tmpfs", folder}) != 0)
            QSKIP("cannot mount a tmpfs here (it takes root)");
        const auto unmount = qScopeGuard([&] {
            if (!mount.isEmpty())
                QProcess::execute("umount", {folder});
        });

        // Noise: a PNG of over 1 MB that no compression shrinks below the small disk.
        QImage image(640, 512, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] = 0xff000000u | (QRandomGenerator::global()->generate() & 0xffffffu);
        }
        SnapshotWriter writer;
        QSignalSpy written(&writer, &SnapshotWriter::written);
        const QString path = folder + "/Tarn Player/shot.png";
        writer.write(image, path);
        QVERIFY(written.wait(30000));
        QCOMPARE(written.first().at(0).toString(), path);
        QCOMPARE(written.first().at(1).toBool(), ok);
        if (ok) {
            QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), image);
        } else {
            QVERIFY(!written.first().at(2).toString().isEmpty());
            // Nothing half-written is left, under its name or a temporary one.
            QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
            QVERIFY2(!files.hasNext(), qPrintable(files.hasNext() ? files.next() : QString()));
        }
    }
};

QTEST_GUILESS_MAIN(tst_snapshot_writer)
#include "tst_snapshot_writer.moc"
