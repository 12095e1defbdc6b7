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
    // The picture keeps the camera's aspect (black bars) instead of filling the pane.
    readonly property bool fitPicture: viewerSettings.pictureShape === "fit"
    // A split camera leaves the zoom to the viewer.
    readonly property bool viewerZooms: idMainControl.pictureLayout === "split"

    function toggleFullScreen() {
        viewerSettings.fullScreen = !viewerSettings.fullScreen
    }

    function togglePictureShape() {
        viewerSettings.pictureShape = fitPicture ? "stretch" : "fit"
    }

    // Zoom moves through the slider, so the camera gets exactly what a drag to that value sends.
    function zoomBy(steps) {
        var next = Math.round((control.value + steps * control.stepSize) * 10) / 10
        control.value = Math.max(control.from, Math.min(control.to, next))
    }

    function openMenu(x, y) {
        idMenu.popup(idCenterPane, x, y)
    }

    width: 1024
    height: 768
    visible: true
    visibility: viewerSettings.fullScreen ? Window.FullScreen : Window.Maximized
    color: bgColor
    title: "Tarn Player V1.1 - SN: " + strSN

    ButtonControl {
        id: btnRecord
        objectName: "btnRecord"
        toolTipText: "Record: the camera's own recording on or off (1)"
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
        toolTipText: "Next palette (2)"
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
        toolTipText: "Tracking box round the hottest spot on or off (3)"
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
        available: idMainControl.flatFieldTaken
        toolTipText: available ? "Flat-field correction: the camera evens out its picture (4)"
                               : "This camera does not take flat-field correction"
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

        // The picture's own rectangle: the whole pane when stretched, the camera's aspect centred in it
        // when fitted. Everything drawn over the picture lies in it and so follows its shape.
        Item {
            id: idPicture
            objectName: "idPicture"

            readonly property real frameAspect: frameProvider.frameSize.width > 0 && frameProvider.frameSize.height > 0
                                                ? frameProvider.frameSize.width / frameProvider.frameSize.height : 0
            readonly property bool fitted: root.fitPicture && frameAspect > 0

            clip: true
            anchors.centerIn: parent
            width: fitted ? Math.min(parent.width, parent.height * frameAspect) : parent.width
            height: fitted ? Math.min(parent.height, parent.width / frameAspect) : parent.height

            // The picture itself, magnified about its middle where the viewer zooms (a split camera).
            Item {
                id: idPictureContent
                anchors.fill: parent
                scale: root.viewerZooms ? idMainControl.viewerZoom : 1

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
            }

            // A radiometric camera's temperatures; a click pins a spot, another click moves it.
            ThermalOverlay {
                id: idThermal
                objectName: "idThermal"
                anchors.fill: parent
                reader: idMainControl.thermal
                zoom: idPictureContent.scale
                fahrenheit: viewerSettings.temperatureUnit === "F"
                tracking: idMainControl.viewerTracking

                MouseArea {
                    anchors.fill: parent
                    enabled: idThermal.ready
                    onClicked: idThermal.reader.pinSpot(idThermal.pixelX(mouse.x), idThermal.pixelY(mouse.y))
                }
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

            // While a clip is written: a red dot and its running time, top left.
            Rectangle {
                objectName: "idClipBadge"
                anchors.left: parent.left
                anchors.top: parent.top
                anchors.margins: 16
                width: idClipText.contentWidth + 44
                height: 40
                radius: 8
                color: "#cc000000"
                visible: idMainControl.clipRecording

                Rectangle {
                    anchors.left: parent.left
                    anchors.leftMargin: 12
                    anchors.verticalCenter: parent.verticalCenter
                    width: 16
                    height: 16
                    radius: 8
                    color: "#e02020"
                }

                Text {
                    id: idClipText
                    anchors.left: parent.left
                    anchors.leftMargin: 36
                    anchors.verticalCenter: parent.verticalCenter
                    color: "#ffffff"
                    font.pointSize: 14
                    font.bold: true
                    text: {
                        var s = idMainControl.clipSeconds
                        var m = Math.floor(s / 60)
                        return "REC " + (m < 10 ? "0" : "") + m + ":" + (s % 60 < 10 ? "0" : "") + s % 60
                    }
                }
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
                    width: idPicture.width - 80
                    text: idMainControl.statusText
                    wrapMode: Text.Wrap
                    horizontalAlignment: Text.AlignHCenter
                    color: "#fcea10"
                    font.pointSize: 16
                }
            }
        }

        // The wheel zooms; a right click opens the menu.
        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.RightButton
            onClicked: root.openMenu(mouse.x, mouse.y)
            onWheel: {
                var steps = Math.round(wheel.angleDelta.y / 120)
                if (steps !== 0)
                    root.zoomBy(steps)
            }
        }

        Menu {
            id: idMenu
            objectName: "idMenu"

            MenuItem {
                objectName: "menuSnapshot"
                text: "Snapshot (S)"
                onTriggered: idMainControl.slotSnapshot()
            }
            MenuItem {
                objectName: "menuClip"
                text: (idMainControl.clipRecording ? "Stop the clip" : "Start a clip") + " (R)"
                onTriggered: idMainControl.slotClip()
            }
            MenuItem {
                objectName: "menuFullScreen"
                text: (viewerSettings.fullScreen ? "Leave full screen" : "Full screen") + " (F11)"
                onTriggered: root.toggleFullScreen()
            }
            MenuItem {
                objectName: "menuShape"
                text: (root.fitPicture ? "Stretch the picture over the pane" : "Keep the picture's shape") + " (A)"
                onTriggered: root.togglePictureShape()
            }
            MenuSeparator {}
            MenuItem {
                objectName: "menuPictures"
                text: "Open the snapshots folder"
                onTriggered: idMainControl.openFolder(idMainControl.picturesFolder)
            }
            MenuItem {
                objectName: "menuVideos"
                text: "Open the clips folder"
                onTriggered: idMainControl.openFolder(idMainControl.videosFolder)
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
        stepSize: 0.1

        ToolTip.visible: hovered || visualFocus
        ToolTip.delay: visualFocus ? 0 : 600
        ToolTip.text: "Zoom 1.0X to 4.0X (+ and -, or the mouse wheel over the picture)"
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
            border.width: control.visualFocus ? 4 : 1
            border.color: control.pressed || control.visualFocus ? control.btnHighlightColor : control.btnIconColor

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

    // The keys. Single letters act wherever the focus is; Space and Enter press the focused button.
    Shortcut {
        sequence: "F11"
        onActivated: root.toggleFullScreen()
    }
    Shortcut {
        // A pinned spot goes first, then full screen.
        sequence: "Esc"
        enabled: idThermal.ready && idThermal.reader.spotPinned || viewerSettings.fullScreen
        onActivated: {
            if (idThermal.ready && idThermal.reader.spotPinned)
                idThermal.reader.clearSpot()
            else
                viewerSettings.fullScreen = false
        }
    }
    Shortcut {
        // Temperatures in °C or °F.
        sequence: "U"
        onActivated: viewerSettings.temperatureUnit = viewerSettings.temperatureUnit === "F" ? "C" : "F"
    }
    Shortcut {
        // As closing the window: the session ends and the program exits with 0.
        sequence: "Ctrl+Q"
        // Even with the menu open.
        context: Qt.ApplicationShortcut
        onActivated: root.close()
    }
    Shortcut {
        sequence: "1"
        onActivated: btnRecord.clicked()
    }
    Shortcut {
        sequence: "2"
        onActivated: btnPalette.clicked()
    }
    Shortcut {
        sequence: "3"
        onActivated: btnTrack.clicked()
    }
    Shortcut {
        sequence: "4"
        onActivated: btnFFC.clicked()
    }
    Shortcut {
        sequences: ["+", "=", "Ctrl++"]
        onActivated: root.zoomBy(1)
    }
    Shortcut {
        sequences: ["-", "Ctrl+-"]
        onActivated: root.zoomBy(-1)
    }
    Shortcut {
        sequence: "S"
        onActivated: idMainControl.slotSnapshot()
    }
    Shortcut {
        sequence: "R"
        onActivated: idMainControl.slotClip()
    }
    Shortcut {
        sequence: "A"
        onActivated: root.togglePictureShape()
    }
    Shortcut {
        sequence: "Menu"
        onActivated: root.openMenu(idCenterPane.width / 2, idCenterPane.height / 2)
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
        // The keyboard focus starts in the window, so that Tab reaches the buttons and the slider.
        root.contentItem.forceActiveFocus()
        idMainControl.slotStartUVCConnect()
    }

    Component.onDestruction: {
        idMainControl.slotEndUVCConnect()
        console.log("qml destruction...")
    }
}
