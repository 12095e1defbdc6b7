#include "presentation/SnapshotWriter.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

SnapshotWriter::SnapshotWriter(QObject *parent) : QObject(parent), context(new QObject)
{
    thread.setObjectName(QStringLiteral("tarn-snapshot"));
    context->moveToThread(&thread);
    connect(&thread, &QThread::finished, context, &QObject::deleteLater);
    thread.start();
}

SnapshotWriter::~SnapshotWriter()
{
    // What is queued is still written: a snapshot taken just before the window closed is kept.
    thread.quit();
    thread.wait();
}

void SnapshotWriter::write(const QImage &image, const QString &path, const Companion &companion)
{
    QMetaObject::invokeMethod(context, [this, image, path, companion] {
        QString error;
        bool ok = writePng(image, path, &error);
        if (ok && companion) {
            const QString stem = path.endsWith(QLatin1String(".png")) ? path.chopped(4) : path;
            ok = companion(stem, &error);
        }
        QMetaObject::invokeMethod(this, [this, path, ok, error] { emit written(path, ok, error); });
    });
}

bool SnapshotWriter::writePng(const QImage &image, const QString &path, QString *error)
{
    if (image.isNull()) {
        *error = QStringLiteral("no picture");
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot make the folder %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    // Encoded in memory first: the disk's failures then come from the file's writes alone, not from
    // inside the PNG encoder.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "png").write(image)) {
        *error = QStringLiteral("cannot encode the picture");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
