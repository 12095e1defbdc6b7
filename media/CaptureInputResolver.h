#pragma once

#include <QString>

// Turns a capture-device URL of the player ("video=NAME" or "/dev/...", size suffix already removed)
// into what FFmpeg opens and the input format that opens it.
//
// Linux: "video=NAME" is the V4L2 capture node whose card name is NAME, found under the sysfs root,
// opened with "v4l2". A "/dev/..." URL is that node. A name nothing answers to still goes to "v4l2",
// whose open then fails. Windows: every device URL goes to "dshow" unchanged.
//
// Reads only files; any thread may call resolve().
class CaptureInputResolver
{
public:
    struct Input
    {
        QString url;    // handed to avformat_open_input
        QString format; // short name of the input format
    };

    explicit CaptureInputResolver(QString sysfsRoot = QStringLiteral("/sys/class/video4linux"),
                                  QString devRoot = QStringLiteral("/dev"));

    Input resolve(const QString &deviceUrl) const;

private:
    QString sysfsRoot;
    QString devRoot;
};
