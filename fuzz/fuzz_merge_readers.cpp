// The merge's readers: FFmpegTool's merge of a raw H.264 file and an ADTS AAC file into MP4, on files
// made of the fuzzer's bytes. The bytes up to the first kSeparator are the H.264 file, those after it the
// AAC file; without a separator the merge gets video alone (no AAC file), as the tool allows.
//
// The merge opens its inputs by name, so the two parts are written to files in /dev/shm (memory, named
// after this process so that parallel fuzzers do not share them), and the MP4 it writes goes there too.

#include "tools/FFmpegTool.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {
const char kSeparator[] = "\n--ADTS--\n";

QString h264Path;
QString aacPath;
QString mp4Path;

bool writeFile(const QString &path, const uint8_t *data, size_t size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size);
}

void removeFiles()
{
    for (const QString *path : {&h264Path, &aacPath, &mp4Path})
        QFile::remove(*path);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    av_log_set_level(AV_LOG_QUIET);
    QLoggingCategory::setFilterRules(QStringLiteral("tarn.*=false"));
    // The tool is a QObject with a child process: give it the application object it expects.
    new QCoreApplication(*argc, *argv);
    const QString stem = QStringLiteral("/dev/shm/tarn-fuzz-merge-%1").arg(getpid());
    h264Path = stem + QStringLiteral(".h264");
    aacPath = stem + QStringLiteral(".aac");
    mp4Path = stem + QStringLiteral(".mp4");
    std::atexit(removeFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t separatorSize = sizeof kSeparator - 1;
    const auto *end = data + size;
    const auto *separator = static_cast<const uint8_t *>(memmem(data, size, kSeparator, separatorSize));
    const size_t h264Size = separator ? size_t(separator - data) : size;
    QFile::remove(aacPath);
    if (!writeFile(h264Path, data, h264Size))
        std::abort();
    if (separator && !writeFile(aacPath, separator + separatorSize, size_t(end - separator) - separatorSize))
        std::abort();

    FFmpegTool tool;
    tool.h264ToMp4ByCode(h264Path, aacPath, mp4Path);
    return 0;
}
