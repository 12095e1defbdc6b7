#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

// Writes snapshots as PNG files on a thread of its own ("tarn-snapshot"), so that a slow disk never
// holds the window. A file is written whole or not at all: it is written under a temporary name and
// renamed when complete, so a full disk leaves no half picture behind.
class SnapshotWriter : public QObject
{
    Q_OBJECT

public:
    // Something written beside the PNG (the temperatures of a radiometric camera): given the path
    // without ".png", it returns false with a reason on failure.
    using Companion = std::function<bool(const QString &stem, QString *error)>;

    explicit SnapshotWriter(QObject *parent = nullptr);
    ~SnapshotWriter() override;

    // GUI thread: queues IMAGE for PATH (made with its folder); written() follows. The image is shared,
    // not copied.
    void write(const QImage &image, const QString &path, const Companion &companion = {});

    // Writes IMAGE to PATH at once, on the caller's thread; false with a reason on failure.
    static bool writePng(const QImage &image, const QString &path, QString *error);

signals:
    // ok false: error says why; nothing is left at path.
    void written(const QString &path, bool ok, const QString &error);

private:
    QThread thread;
    QObject *context;
};
