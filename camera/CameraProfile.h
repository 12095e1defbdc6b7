#pragma once

#include <QSize>
#include <QString>
#include <QVector>

#include <array>

// What the viewer knows about a kind of camera: how its frame is laid out and where each command goes.
// A small table in CameraProfile.cpp says it per kind, matched by V4L2 card name, USB ids (when the
// table and the camera both know them) and the YUYV sizes the camera offers:
// - whole: the frame is the picture; the commands are control writes to the camera (as the viewer has
//   always sent them);
// - split: a frame of W x 2H whose top half is the picture and whose bottom half holds one 16-bit
//   little-endian value per pixel of the same scene, kelvin x 64. The viewer draws the picture from
//   those values itself, so palette, tracking and zoom are the viewer's; the camera may take no command.
// A camera the table does not know is whole, with every command to the camera. Pure functions; any thread.
class CameraProfile
{
public:
    enum class Layout
    {
        Whole,
        Split,
    };
    // The --layout choice: auto takes the profile's layout.
    enum class LayoutOverride
    {
        Auto,
        Whole,
        Split,
    };
    enum class Target
    {
        Camera,  // a control write, as today
        Viewer,  // the viewer does it (the picture it draws, the clip it writes)
        Nowhere, // the camera does not take it and the viewer cannot stand in
    };
    enum Command
    {
        Record,
        Palette,
        Tracking,
        FlatField,
        Zoom,
        CommandCount,
    };

    // What the camera tells about itself once opened (or listed).
    struct Facts
    {
        QString cardName;
        quint16 vendorId = 0; // USB ids; 0: unknown
        quint16 productId = 0;
        QVector<QSize> yuyvSizes; // the YUYV frame sizes it offers
        QSize currentSize;        // the size it is set to now
    };

    // The profile of a camera, with the override applied.
    static CameraProfile choose(const Facts &facts, LayoutOverride override = LayoutOverride::Auto);
    // Whether the choice for a camera of that card name depends on the sizes it offers. Listing them
    // opens the node once more; a camera whose profile the name settles is spared that.
    static bool needsSizes(const QString &cardName, LayoutOverride override);
    // "whole", "split" or "auto"; false for anything else.
    static bool parseOverride(const QString &text, LayoutOverride *override);
    static QString layoutName(Layout layout);

    QString name; // the table's name for the kind of camera
    Layout layout = Layout::Whole;
    std::array<Target, CommandCount> targets{};
    QSize requestSize; // what the session asks the camera for; invalid: the camera's current size
    QSize frameSize;   // the frame the session expects: requestSize, else the current size
    QSize pictureSize; // the picture in it: the top half of a split frame

    Target target(Command command) const { return targets[size_t(command)]; }
    // For --list-cameras: "whole (picture 640x512)" or "split (picture 256x192 over temperatures)".
    QString layoutText() const;
};
