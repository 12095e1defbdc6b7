#include "presentation/OutputFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
QString under(QStandardPaths::StandardLocation location)
{
    QString base = QStandardPaths::writableLocation(location);
    if (base.isEmpty())
        base = QDir::homePath();
    return QDir(base).filePath(QStringLiteral("Tarn Player"));
}
} // namespace

QString OutputFolders::pictures()
{
    return under(QStandardPaths::PicturesLocation);
}

QString OutputFolders::videos()
{
    return under(QStandardPaths::MoviesLocation);
}

QString OutputFolders::stampedFile(const QString &dir, const QString &suffix, const QDateTime &when)
{
    const QString stem = QDir(dir).filePath(when.toString(QStringLiteral("yyyy-MM-dd HH-mm-ss.zzz")));
    QString name = stem + suffix;
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(suffix);
    return name;
}
