import QtQuick 2.12
import QtQuick.Window 2.12
import QtMultimedia 5.12

// The smallest window that shows the provider's picture the way the viewer does.
Window {
    width: 320
    height: 240
    visible: true
    color: "#1a3027"

    Rectangle {
        anchors.fill: parent
        color: "#000000"

        VideoOutput {
            objectName: "video"
            anchors.fill: parent
            fillMode: VideoOutput.Stretch
            source: frameProvider
        }
    }
}
