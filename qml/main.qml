import QtQuick 2.12
import QtQuick.Window 2.12
import QtQuick.Controls 2.12
import QtMultimedia 5.12
import MainControl 1.0

// The viewer's one window: the live picture in a black centre pane, record, palette and tracking
// buttons down the left edge, flat-field correction at the top right with the upright zoom slider
// below it, and the camera's serial number in the title.
Window {
    id: root

    property color bgColor: "#1a3027"
    property int btnHSpace: 20
    property int btnVSpace: 60
    property string strSN: "Unknown"

    width: 1024
    height: 768
    visible: true
    visibility: Window.Maximized
    color: bgColor
    title: "Tarn Player V1.1 - SN: " + strSN

    ButtonControl {
        id: btnRecord
        objectName: "btnRecord"
        anchors.left: parent.left
        anchors.leftMargin: root.btnHSpace
        anchors.top: parent.top
        anchors.topMargin: root.btnHSpace
        defaultIconSource: "qrc:/res/photo.svg"
        highlightedIconSource: "qrc:/res/photoHighlight.svg"
        onClicked: idMainControl.slotRecord()
    }

    ButtonControl {
        id: btnPalette
        objectName: "btnPalette"
        anchors.left: parent.left
        anchors.leftMargin: root.btnHSpace
        anchors.top: btnRecord.bottom
        anchors.topMargin: root.btnVSpace
        defaultIconSource: "qrc:/res/color.svg"
        highlightedIconSource: "qrc:/res/colorHighlight.svg"
        onClicked: idMainControl.slotPalette()
    }

    ButtonControl {
        id: btnTrack
        objectName: "btnTrack"
        anchors.left: parent.left
        anchors.leftMargin: root.btnHSpace
        anchors.top: btnPalette.bottom
        anchors.topMargin: root.btnVSpace
        defaultIconSource: "qrc:/res/tracking.svg"
        highlightedIconSource: "qrc:/res/trackingHighlight.svg"
        onClicked: idMainControl.slotTrack()
    }

    ButtonControl {
        id: btnFFC
        objectName: "btnFFC"
        anchors.right: parent.right
        anchors.rightMargin: root.btnHSpace
        anchors.top: parent.top
        anchors.topMargin: root.btnHSpace
        defaultIconSource: "qrc:/res/correction.svg"
        highlightedIconSource: "qrc:/res/correctionHighlight.svg"
        onClicked: idMainControl.slotFFC()
    }

    Rectangle {
        id: idCenterPane
        objectName: "idCenterPane"
        anchors.left: btnRecord.right
        anchors.leftMargin: root.btnHSpace
        anchors.right: btnFFC.left
        anchors.rightMargin: root.btnHSpace
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        color: "#000000"

        // The OpenGL road; where the window renders in software (no GPU), VideoOutput draws nothing
        // and the pane below shows the picture instead.
        VideoOutput {
            id: idVideoOutput
            objectName: "idVideoOutput"
            anchors.fill: parent
            fillMode: VideoOutput.Stretch
            visible: frameProvider.renderRoad !== "software"
            source: visible ? frameProvider : null
        }

        Loader {
            objectName: "idSoftwareVideoLoader"
            anchors.fill: parent
            active: frameProvider.renderRoad === "software"
            source: "qrc:/SoftwareVideoPane.qml"
        }

        // Over whichever picture item is active: a picture that is not live is dimmed, never shown as
        // if it were, and the session's state is said in plain words.
        Rectangle {
            id: idPictureMark
            objectName: "idPictureMark"
            anchors.fill: parent
            color: "#000000"
            opacity: 0.65
            visible: idMainControl.pictureMarked
        }

        Rectangle {
            objectName: "idStatusBox"
            anchors.horizontalCenter: parent.horizontalCenter
            // In the middle of a marked picture; at the foot of a live one, out of the way.
            anchors.verticalCenter: parent.verticalCenter
            anchors.verticalCenterOffset: idMainControl.pictureMarked ? 0 : (parent.height - height) / 2 - 20
            width: Math.min(parent.width - 40, idStatusText.contentWidth + 40)
            height: idStatusText.contentHeight + 24
            radius: 10
            color: "#cc1a3027"
            border.color: "#82c9b0"
            visible: idStatusText.text !== ""

            Text {
                id: idStatusText
                objectName: "idStatusText"
                anchors.centerIn: parent
                width: idCenterPane.width - 80
                text: idMainControl.statusText
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                color: "#fcea10"
                font.pointSize: 16
            }
        }
    }

    // Built horizontally and turned a quarter clockwise about (defaultWidth, 0), so that it stands
    // upright under btnFFC with 1.0X at the top; the label turns back to read upright.
    Slider {
        id: control
        objectName: "control"

        property int defaultWidth: 100
        property int handleWidth: 60
        property color btnIconColor: "#82c9b0"
        property color btnBgColor: "#2c4b3f"
        property color btnHighlightColor: "#fcea10"
        // Raised while a zoom reported by the camera is written, so that it is not sent back.
        property bool lockCmd: false

        from: 1
        to: 4
        value: 1
        anchors.top: btnFFC.bottom
        anchors.topMargin: 150
        anchors.left: btnFFC.left
        anchors.leftMargin: 6

        transform: Rotation {
            origin.x: control.defaultWidth
            origin.y: 0
            angle: 90
        }

        background: Rectangle {
            x: control.leftPadding
            y: control.topPadding + control.availableHeight / 2 - height / 2
            implicitWidth: control.to * control.handleWidth
            implicitHeight: control.defaultWidth
            width: control.availableWidth
            height: implicitHeight
            radius: 10
            color: control.btnBgColor
            border.width: 1
            border.color: control.pressed ? control.btnHighlightColor : control.btnIconColor

            Rectangle {
                width: control.visualPosition * parent.width
                height: parent.height
                color: control.btnBgColor
                radius: 10
                border.width: 1
                border.color: control.pressed ? control.btnHighlightColor : control.btnIconColor
            }
        }

        handle: Rectangle {
            objectName: "handle"
            x: control.leftPadding + control.visualPosition * (control.availableWidth - width)
            y: control.topPadding + control.availableHeight / 2 - height / 2
            implicitWidth: control.handleWidth
            implicitHeight: control.defaultWidth
            color: "#3b6153"
            radius: 10
            border.color: control.pressed ? control.btnHighlightColor : control.btnIconColor

            Text {
                objectName: "handleLabel"
                anchors.centerIn: parent
                text: control.value.toFixed(1) + "X"
                font.pointSize: 20
                font.bold: true
                rotation: -90
                color: control.pressed ? control.btnHighlightColor : control.btnIconColor
            }
        }

        onValueChanged: {
            if (!lockCmd)
                idMainControl.slotZoom(value)
        }
    }

    MainControl {
        id: idMainControl

        onSigUpdateSN: root.strSN = value
        onSigUpdateZoomValue: {
            if (value >= control.from && value <= control.to) {
                control.lockCmd = true
                control.value = value
                control.lockCmd = false
            }
        }
    }

    Component.onCompleted: {
        console.log("qml launch...")
        idMainControl.slotStartUVCConnect()
    }

    Component.onDestruction: {
        idMainControl.slotEndUVCConnect()
        console.log("qml destruction...")
    }
}
