#pragma once

#include "camera/CameraProfile.h"

#include <QMetaType>
#include <QString>
#include <QStringList>

// What one open attempt of the camera worker found: the camera opened (its node, size and card name),
// or why not, with what the session tells the user about it.
struct CameraOpenReport
{
    bool ok = false;
    int error = 0;      // errno of a failed open: ENOENT when nothing matched, EACCES, EBUSY, ...
    int matches = 0;    // capture cameras that matched the choice
    QString devicePath; // the node opened, or the node that failed
    QString cardName;   // of the node opened
    int width = 0;      // the size to capture at: the profile's frame size
    int height = 0;
    CameraProfile profile; // of the camera opened: its name, layout and where the commands go
    QStringList found;     // after a failed open: every capture camera seen, "card (node)"
    QString holder;        // after EBUSY: the program holding the node, when /proc tells
};
Q_DECLARE_METATYPE(CameraOpenReport)
