import QtQuick 2.12

// The temperatures over the picture of a radiometric camera: a cross at the centre, markers on the
// coldest and the hottest pixel, a pinned spot, the tracking box round the hottest spot, and the readings
// in a line at the top. It lies over the picture's own rectangle, whose content may be magnified about
// its middle (zoom); markers follow both, and hide when the zoom puts them outside.
Item {
    id: overlay

    // The temperature reader: picture size, readings and points in picture pixels.
    property var reader: null
    // The viewer's magnification of the picture about its middle (1..4).
    property real zoom: 1
    property bool fahrenheit: false
    property bool tracking: false

    readonly property bool ready: reader !== null && reader.active && reader.pictureWidth > 0

    function degrees(celsius) {
        var value = fahrenheit ? celsius * 9 / 5 + 32 : celsius
        return value.toFixed(1) + (fahrenheit ? " °F" : " °C")
    }

    // Item coordinates of the middle of picture pixel (px, py).
    function mapX(px) {
        return ((px + 0.5) - reader.pictureWidth / 2) * zoom * width / reader.pictureWidth + width / 2
    }
    function mapY(py) {
        return ((py + 0.5) - reader.pictureHeight / 2) * zoom * height / reader.pictureHeight + height / 2
    }
    // The picture pixel under item point (x, y).
    function pixelX(x) {
        return Math.floor((x - width / 2) / (zoom * width / reader.pictureWidth) + reader.pictureWidth / 2)
    }
    function pixelY(y) {
        return Math.floor((y - height / 2) / (zoom * height / reader.pictureHeight) + reader.pictureHeight / 2)
    }

    visible: ready

    component Marker: Item {
        id: marker

        property point at: Qt.point(0, 0)
        property color color: "white"
        property string label: ""
        property bool cross: false

        x: overlay.ready ? overlay.mapX(at.x) : 0
        y: overlay.ready ? overlay.mapY(at.y) : 0
        visible: x >= 0 && x <= overlay.width && y >= 0 && y <= overlay.height

        Rectangle {
            visible: !marker.cross
            x: -8
            y: -8
            width: 16
            height: 16
            radius: 8
            color: "transparent"
            border.width: 3
            border.color: marker.color
        }
        Rectangle {
            visible: marker.cross
            x: -12
            y: -1
            width: 24
            height: 3
            color: marker.color
        }
        Rectangle {
            visible: marker.cross
            x: -1
            y: -12
            width: 3
            height: 24
            color: marker.color
        }
        Text {
            x: 12
            y: 8
            text: marker.label
            color: marker.color
            style: Text.Outline
            styleColor: "#000000"
            font.pointSize: 12
            font.bold: true
        }
    }

    Marker {
        objectName: "thermalCentre"
        cross: true
        at: overlay.ready ? Qt.point(Math.floor(reader.pictureWidth / 2), Math.floor(reader.pictureHeight / 2))
                          : Qt.point(0, 0)
        color: "#ffffff"
        label: overlay.ready ? overlay.degrees(reader.centreCelsius) : ""
    }
    Marker {
        objectName: "thermalMin"
        at: overlay.ready ? reader.minPoint : Qt.point(0, 0)
        color: "#40a0ff"
        label: overlay.ready ? overlay.degrees(reader.minCelsius) : ""
    }
    Marker {
        objectName: "thermalMax"
        at: overlay.ready ? reader.maxPoint : Qt.point(0, 0)
        color: "#ff4030"
        label: overlay.ready ? overlay.degrees(reader.maxCelsius) : ""
    }
    Marker {
        objectName: "thermalSpot"
        cross: true
        visible: overlay.ready && reader.spotPinned && x >= 0 && x <= overlay.width && y >= 0 && y <= overlay.height
        at: overlay.ready ? reader.spotPoint : Qt.point(0, 0)
        color: "#fcea10"
        label: overlay.ready ? overlay.degrees(reader.spotCelsius) : ""
    }

    // Tracking: a box round the hottest spot.
    Rectangle {
        objectName: "thermalTrackingBox"
        visible: overlay.ready && overlay.tracking
        width: Math.max(24, overlay.width / 8)
        height: width
        x: overlay.ready ? overlay.mapX(reader.maxPoint.x) - width / 2 : 0
        y: overlay.ready ? overlay.mapY(reader.maxPoint.y) - height / 2 : 0
        color: "transparent"
        border.width: 3
        border.color: "#ff4030"
    }

    // The readings in words, top right.
    Rectangle {
        objectName: "thermalReadings"
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: 12
        width: idReadings.contentWidth + 24
        height: idReadings.contentHeight + 16
        radius: 8
        color: "#cc000000"

        Text {
            id: idReadings
            objectName: "thermalReadingsText"
            anchors.centerIn: parent
            color: "#ffffff"
            font.pointSize: 13
            text: !overlay.ready ? "" : "centre " + overlay.degrees(reader.centreCelsius)
                                        + "   min " + overlay.degrees(reader.minCelsius)
                                        + "   max " + overlay.degrees(reader.maxCelsius)
                                        + (reader.spotPinned ? "   spot " + overlay.degrees(reader.spotCelsius) : "")
        }
    }
}
