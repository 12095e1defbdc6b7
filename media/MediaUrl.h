#pragma once
// The player's URL rules as plain functions: how a URL is classified, the size and frame-rate suffix
// of a capture device, the host and port of the TCP pre-check, and the options each input is opened
// with. Pure functions of their arguments (checkConnect aside), callable from any thread.

#include <QString>

struct AVDictionary;
struct PlayerSettings;

namespace MediaUrl {

// "rtsp", "rtmp" or "http" at the start, in any letter case.
bool isNetwork(const QString &url);
// "video=NAME" (case-sensitive) or "/dev/...". A file whose name merely starts with "video" is a file.
bool isDevice(const QString &url);

// A device URL split at its "|" pieces: "video=Cam|1280x720|25".
struct DeviceSuffix
{
    QString url; // the first piece: what names the device
    bool hasSize = false;
    QString sizePart; // the second piece as written
    int width = 0;    // a piece that is not a number gives 0
    int height = 0;
    bool hasRate = false;
    int frameRate = 0;
};
// The suffix of a device URL that contains both "|" and "x"; hasSize is false for any other URL.
DeviceSuffix parseDeviceSuffix(const QString &url);

// Where the TCP pre-check connects: the first dotted IPv4 address in the URL (else the whole URL,
// which fails), and the port after the address (after user:password@ when the URL has one), 554 when
// the URL names none.
struct ConnectTarget
{
    QString host;
    quint16 port = 554;
};
ConnectTarget connectTarget(const QString &url);
// TCP reachability of a stream's host within timeoutMs; runs a local event loop on the calling thread.
bool checkConnect(const QString &url, int timeoutMs);

// Adds the options the input of settings is opened with to *options (keys already there are kept
// unless set here). The time-outs bound every socket wait of the protocol in microseconds.
void addInputOptions(AVDictionary **options, const PlayerSettings &settings);

// Stores url in settings and classifies it; a device URL's "|WxH|N" suffix becomes the requested size
// and frame rate, with the "Adjust the size" and "Adjust the FPS" lines. An empty URL only is stored.
void applyUrl(PlayerSettings &settings, const QString &url);

// What the open step decides from the URL before opening: capture devices always decode in software,
// and an RTMP input records raw H.264 and AAC.
void applyOpenRules(PlayerSettings &settings);
// Whether an opened input may record: it needs a video stream, and only network inputs and HTTP URLs
// ending "mp4" record; files and capture devices never do.
bool mayRecord(const PlayerSettings &settings, bool hasVideo);

} // namespace MediaUrl
