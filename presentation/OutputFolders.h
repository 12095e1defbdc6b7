#pragma once

#include <QDateTime>
#include <QString>

// Where the viewer keeps what the user saves: snapshots under the user's pictures folder and clips
// under the videos folder, each in a "Tarn Player" folder of its own, named by date and time to the
// millisecond.
namespace OutputFolders {
QString pictures();
QString videos();
// A file name in DIR for something made at WHEN: "2026-12-07 16-05-09.123" and SUFFIX (".png"), with
// " (2)", " (3)"... added while the name is taken.
QString stampedFile(const QString &dir, const QString &suffix,
                    const QDateTime &when = QDateTime::currentDateTime());
} // namespace OutputFolders
