import QtQuick 2.0
import QtQuick.Controls 2.12

// A square push button with rounded corners that shows one icon: the plain icon at rest, the
// highlighted one (and a yellow border) while it is held down; a thick yellow ring while it has the
// keyboard focus. Users handle the inherited clicked().
Button {
    id: btn

    property string defaultIconSource: ""
    property string highlightedIconSource: ""
    property color btnIconColor: "#82c9b0"
    property color btnBgColor: "#2c4b3f"
    property color btnHighlightColor: "#fcea10"
    // What the button does and its key, shown on hover and when focused.
    property string toolTipText: ""
    // False: the command has nowhere to go on this camera. The button is drawn faded; its tooltip says
    // why, and the controller answers a press with a notice.
    property bool available: true

    opacity: available ? 1 : 0.35

    text: ""
    width: 100
    height: 100

    ToolTip.visible: toolTipText !== "" && (hovered || visualFocus)
    ToolTip.delay: visualFocus ? 0 : 600
    ToolTip.text: toolTipText

    // Space presses a focused button (the control's own); Enter and Return too.
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    background: Rectangle {
        color: btn.btnBgColor
        radius: 10
        // A focus ring: thick and yellow while the keyboard focus is here.
        border.width: btn.visualFocus ? 4 : 1
        border.color: btn.down || btn.visualFocus ? btn.btnHighlightColor : btn.btnIconColor
    }

    Image {
        id: icon
        objectName: "icon"
        width: 75
        height: 75
        anchors.centerIn: parent
        // Exactly centred: a 12.5 margin all round, not rounded to whole pixels.
        anchors.alignWhenCentered: false
        sourceSize.width: 75
        sourceSize.height: 75
        source: btn.down ? btn.highlightedIconSource : btn.defaultIconSource
    }
}
