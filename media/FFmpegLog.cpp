#include "media/FFmpegLog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QByteArray>
#include <QDebug>

// Off unless QT_LOGGING_RULES asks for it.
Q_LOGGING_CATEGORY(lcFFmpeg, "tarn.ffmpeg", QtInfoMsg)

namespace {
// FFmpeg's threads: one line at a time, assembled per thread (FFmpeg writes a line in pieces).
void forward(void *avcl, int level, const char *format, va_list args)
{
    if (level > av_log_get_level())
        return;
    thread_local int printPrefix = 1;
    thread_local QByteArray pending;
    char line[1024];
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &printPrefix);
    pending += line;
    if (!pending.endsWith('\n'))
        return;
    pending.chop(1);
    const char *kind = level <= AV_LOG_ERROR ? "error: " : level <= AV_LOG_WARNING ? "warning: " : "";
    qCDebug(lcFFmpeg).noquote() << QString::fromUtf8(kind + pending.trimmed());
    pending.clear();
}
} // namespace

void FFmpegLog::install()
{
    if (!lcFFmpeg().isDebugEnabled()) {
        av_log_set_level(AV_LOG_QUIET);
        return;
    }
    av_log_set_level(AV_LOG_VERBOSE);
    av_log_set_callback(forward);
}
