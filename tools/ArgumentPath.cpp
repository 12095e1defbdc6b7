#include "tools/ArgumentPath.h"

#include <QCoreApplication>
#include <QFile>
#include <QVector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QVector<QByteArray> &rawArguments()
{
    static QVector<QByteArray> arguments;
    return arguments;
}
} // namespace

void ArgumentPath::setRawArguments(int argc, char **argv)
{
    rawArguments().clear();
    for (int i = 0; i < argc; ++i)
        rawArguments().append(QByteArray(argv[i]));
}

ArgumentPath::ArgumentPath(const QString &argument) : text(argument), bytes(QFile::encodeName(argument))
{
    // The argument as the system gave it: the raw one that decodes to the same text.
    for (const QByteArray &raw : rawArguments()) {
        if (raw != bytes && QFile::decodeName(raw) == argument) {
            bytes = raw;
            break;
        }
    }
}

ArgumentPath::~ArgumentPath()
{
    if (descriptor >= 0)
        ::close(descriptor);
}

ArgumentPath::Kind ArgumentPath::kind() const
{
    struct stat info
    {
    };
    if (bytes.isEmpty() || ::stat(bytes.constData(), &info) != 0)
        return Kind::Missing;
    if (S_ISREG(info.st_mode))
        return Kind::File;
    if (S_ISDIR(info.st_mode))
        return Kind::Directory;
    if (S_ISFIFO(info.st_mode))
        return Kind::Fifo;
    return Kind::Other;
}

QString ArgumentPath::notAFileReason(bool fifoReadable) const
{
    switch (kind()) {
    case Kind::File:
        return {};
    case Kind::Fifo:
        return fifoReadable ? QString() : text + QStringLiteral(" is a FIFO");
    case Kind::Missing:
        return QStringLiteral("no such file: ") + text;
    case Kind::Directory:
        return text + QStringLiteral(" is a directory");
    case Kind::Other:
        break;
    }
    return text + QStringLiteral(" is not a file");
}

QString ArgumentPath::openName()
{
    if (QFile::encodeName(text) == bytes)
        return text;
    if (descriptor < 0)
        descriptor = ::open(bytes.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return {};
    return QStringLiteral("/proc/%1/fd/%2").arg(QCoreApplication::applicationPid()).arg(descriptor);
}
