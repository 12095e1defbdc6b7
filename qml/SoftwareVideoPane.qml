import QtQuick 2.12
import TarnVideo 1.0

// The picture where the window renders in software: the same images, stretched over the pane.
SoftwareVideo {
    objectName: "idSoftwareVideo"
    source: frameProvider
}
