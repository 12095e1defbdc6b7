#pragma once
// The engine's logging categories. Every line keeps its fixed text; the categories only let
// QT_LOGGING_RULES quiet a chatty part, for example "tarn.media.interrupt.debug=false" silences the
// line the interrupt callback writes on every call.

#include <QLoggingCategory>
#include <QString>

// Open, play loop, decoders, conversion: the player's own lines.
Q_DECLARE_LOGGING_CATEGORY(lcMedia)
// "AVInterruptCallBackFun", once per call of the interrupt callback (many per open and per read).
Q_DECLARE_LOGGING_CATEGORY(lcMediaInterrupt)
// The clip recorder (ClipRecorder): each clip's start, format, end and failure.
Q_DECLARE_LOGGING_CATEGORY(lcClip)

namespace media {
// av_strerror text of an FFmpeg error code.
QString errorText(int errorCode);
} // namespace media
