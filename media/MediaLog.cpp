#include "media/MediaLog.h"

extern "C" {
#include <libavutil/error.h>
}

Q_LOGGING_CATEGORY(lcMedia, "tarn.media")
Q_LOGGING_CATEGORY(lcMediaInterrupt, "tarn.media.interrupt")
Q_LOGGING_CATEGORY(lcClip, "tarn.clip")

namespace media {
QString errorText(int errorCode)
{
    char buffer[256] = {0};
    av_strerror(errorCode, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}
} // namespace media
