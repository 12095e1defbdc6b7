#pragma once

#include <QByteArray>
#include <QString>

// A path named on the command line, in the bytes the system gave, which need not be valid in the
// locale's encoding (a file copied from another system). Qt decodes arguments into text and cannot
// give such bytes back, so the program keeps argv: a path is checked with the system's own calls on its
// real bytes, and handed to readers that take text (FFmpeg, a child process) under a name that reaches
// the same file.
class ArgumentPath
{
public:
    enum class Kind
    {
        Missing,
        File,
        Directory,
        Fifo,
        Other, // a device, a socket
    };

    // The program's arguments as the system gave them; main() calls it once, before any ArgumentPath.
    static void setRawArguments(int argc, char **argv);

    // argument: one of QCoreApplication::arguments().
    explicit ArgumentPath(const QString &argument);
    ~ArgumentPath();
    ArgumentPath(const ArgumentPath &) = delete;
    ArgumentPath &operator=(const ArgumentPath &) = delete;

    Kind kind() const;
    // The path for messages.
    QString display() const { return text; }
    // A name under which FFmpeg or a child process opens this path: the path itself when its text gives
    // its bytes back, else /proc/PID/fd/N of a descriptor held for it (a FIFO is held without waiting
    // for a writer). Empty when such a path cannot be opened.
    QString openName();
    // "no such file: P", "P is a directory", ...: why the path is not a file to read; empty for a
    // file (and, with fifoReadable, a FIFO).
    QString notAFileReason(bool fifoReadable) const;

private:
    QString text;
    QByteArray bytes;
    int descriptor = -1;
};
