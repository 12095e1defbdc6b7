#pragma once

#include <QString>

// Which other program holds a device node open, as /proc tells: "name (pid N)" of the first process
// other than this one with a descriptor on it, or "" when none is found (or /proc does not show the
// other user's processes). Reads only files; any thread.
class NodeHolders
{
public:
    static QString describe(const QString &devicePath, const QString &procRoot = QStringLiteral("/proc"));
};
