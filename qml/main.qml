import QtQuick 2.12
import QtQuick.Window 2.12
import QtMultimedia 5.12

Window {
    id: root
    width: 1024
    height: 768
    visible: true
    visibility: Window.Maximized
    title: "Tarn Player V1.1 - SN: Unknown"
    color: "#1a3027"

    Rectangle {
        id: idCenterPane
        anchors.fill: parent
        anchors.leftMargin: 140
        anchors.rightMargin: 140
        color: "#000000"

        VideoOutput {
            id: idVideoOutput
            anchors.fill: parent
            fillMode: VideoOutput.Stretch
            source: frameProvider
        }
    }
}
