#pragma once
// FFmpeg's own messages (a device that refuses a format, a damaged frame) on Qt's debug stream, in the
// category tarn.ffmpeg, which is off by default: QT_LOGGING_RULES='tarn.ffmpeg.debug=true' brings
// them back when a camera misbehaves.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcFFmpeg)

class FFmpegLog
{
public:
    // Once, before FFmpeg is used: routes FFmpeg's log (every level, as debug lines that say "error:"
    // or "warning:") into tarn.ffmpeg when that category's debug level is on, and keeps FFmpeg quiet
    // (nothing formatted at all) when it is off.
    static void install();
};
