#pragma once

#include <QString>

// The text of --list-cameras: every video-capture camera the kernel lists, one block each: its node,
// card name and USB serial number, then each format it offers with its frame sizes, then the layout the
// viewer takes for it (CameraProfile: "layout: split (picture 256x192 over temperatures)"). Opens each
// node briefly (a node it may not open says why). Reads only; any thread.
class CameraListing
{
public:
    static QString text(const QString &sysfsRoot = QStringLiteral("/sys/class/video4linux"),
                        const QString &devRoot = QStringLiteral("/dev"));
};
