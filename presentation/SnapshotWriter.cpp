#include "presentation/SnapshotWriter.h"

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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        *error = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
