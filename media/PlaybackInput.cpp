#include "media/PlaybackInput.h"

#include "media/LogTime.h"
#include "media/MediaLog.h"
#include "media/MediaUrl.h"
#include "media/PixelLimit.h"

int PlaybackInput::swsFlags(int imageFlag)
{
    switch (imageFlag) {
    case 1:
        return SWS_BICUBIC;
    case 2:
        return SWS_BILINEAR;
    default: // fast bilinear, and "immediate"
        return SWS_FAST_BILINEAR;
    }
}

bool PlaybackInput::open(PlayerSettings &settings, av::DictionaryPtr &options,
                         const CaptureInputResolver &resolver, Found &found)
{
    close();
    failureText.clear();
    initOption(settings, options);
    if (!initInput(settings, options, resolver) || !initVideo(settings) || !initAudio(settings))
        return false;
    initData(settings, found);
    return true;
}

void PlaybackInput::close()
{
    converter.clear();
    video.close();
    audio.close();
    session.close();
    videoIndex = audioIndex = -1;
    videoStartTime = audioStartTime = 0;
    rotate = 0;
}

void PlaybackInput::initOption(PlayerSettings &settings, av::DictionaryPtr &options)
{
    MediaUrl::addInputOptions(av::out(options), settings);
    MediaUrl::applyOpenRules(settings);
}

bool PlaybackInput::initInput(const PlayerSettings &settings, av::DictionaryPtr &options,
                              const CaptureInputResolver &resolver)
{
    InputSession::Request request;
    request.url = settings.url;
    request.openUrl = settings.url.toUtf8();
    request.fileFlag = settings.fileFlag;
    request.checkTime = settings.checkTime;
    request.readTime = settings.readTime;
    if (settings.isDevice) {
        const CaptureInputResolver::Input device = resolver.resolve(settings.url);
        request.openUrl = device.url.toUtf8();
        const QByteArray format = device.format.toUtf8();
        request.format = format.isEmpty() ? nullptr : av_find_input_format(format.constData());
        qCDebug(lcMedia) << QByteArray("av_find_input_format(\"" + format + "\")").constData()
                         << static_cast<const void *>(request.format);
        // Capture devices are read non-blocking and waited on; other capture sources (a stream on a
        // socket) bound their waits with the interrupt callback.
        request.device = format == "v4l2" || format == "dshow";
    }
    return session.open(request, options);
}

bool PlaybackInput::initVideo(PlayerSettings &settings)
{
    if (!video.open(session.context(), settings.hardware, settings.videoFps, settings.fileFlag))
        return false;
    videoIndex = video.index();
    if (videoIndex < 0)
        return true;
    settings.videoWidth = video.width();
    settings.videoHeight = video.height();
    videoStartTime = video.startTime();
    rotate = FrameConverter::streamRotation(session.context()->streams[videoIndex]);
    if (!media::withinPixelLimit(video.width(), video.height())) {
        failureText = media::pixelLimitText(video.width(), video.height());
        qCDebug(lcMedia) << TIMEMS << settings.fileFlag << failureText << settings.url;
        return false;
    }
    // The images keep this size for the whole input, whatever a setter asks for meanwhile.
    if (!converter.configure(video.width(), video.height(), rotate, swsFlags(settings.imageFlag))) {
        failureText = QStringLiteral("no memory for %1x%2 images").arg(video.width()).arg(video.height());
        return false;
    }
    return true;
}

bool PlaybackInput::initAudio(const PlayerSettings &settings)
{
    if (!audio.open(session.context(), settings.fileFlag))
        return false;
    audioIndex = audio.index();
    audioStartTime = audio.startTime();
    return true;
}

void PlaybackInput::initData(PlayerSettings &settings, Found &found)
{
    if (videoIndex >= 0) {
        qCDebug(lcMedia) << TIMEMS << settings.fileFlag
                         << qUtf8Printable(QStringLiteral("Format Info -> Src Format: %1  Dst Format: %2")
                                               .arg(int(video.sourceFormat()))
                                               .arg(int(AV_PIX_FMT_BGRA)));
    }
    formatName = QString::fromUtf8(session.context()->iformat->name);
    if (formatName == QLatin1String("rm"))
        settings.hardware = QStringLiteral("none");

    duration = session.durationSeconds();
    // A file of known length counts as a file even when its URL begins with "http", and a stream without
    // length counts as network input.
    if (!settings.isDevice)
        settings.isNetwork = duration <= 0;
    found.isFile = !settings.isNetwork && !settings.isDevice;
    found.lengthMs = duration * 1000;
    qCDebug(lcMedia) << TIMEMS << settings.fileFlag
                     << qUtf8Printable(QStringLiteral("File Info -> Format: %1  TimeLen: %2 sec  Decode: %3")
                                           .arg(formatName)
                                           .arg(duration)
                                           .arg(settings.hardware));

    // The picture of an MP3 file is its cover, not video.
    if (formatName == QLatin1String("mp3")) {
        videoIndex = -1;
        found.cover = session.readCover();
    }
    if (!MediaUrl::mayRecord(settings, videoIndex >= 0))
        settings.saveFile = false;
}
