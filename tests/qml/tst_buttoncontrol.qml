import QtQuick 2.12
import QtTest 1.12

// The button component on its own, loaded from the compiled resources, on a white stage.
Rectangle {
    id: stage
    width: 200
    height: 200
    color: "white"

    TestCase {
        id: testCase
        name: "ButtonControl"
        when: windowShown

        readonly property color darkGreen: "#2c4b3f"
        readonly property color paleGreen: "#82c9b0"
        readonly property color yellow: "#fcea10"

        property var component: Qt.createComponent("qrc:/ButtonControl.qml")

        Component {
            id: clickSpy
            SignalSpy { signalName: "clicked" }
        }

        function near(actual, expected, tolerance) {
            return Math.abs(actual.r - expected.r) <= tolerance && Math.abs(actual.g - expected.g) <= tolerance
                    && Math.abs(actual.b - expected.b) <= tolerance
        }

        function verifyColor(image, x, y, expected, what) {
            var actual = image.pixel(x, y)
            verify(near(actual, expected, 0.06), what + ": pixel (" + x + ", " + y + ") is " + actual
                   + ", expected " + expected)
        }

        function createButton(properties) {
            compare(component.status, Component.Ready, component.errorString())
            var button = createTemporaryObject(component, stage, properties)
            verify(button !== null)
            button.x = 50
            button.y = 50
            return button
        }

        function iconOf(button) {
            return findChild(button, "icon")
        }

        function test_withoutIcons_showsOnlyTheRoundedDarkSquareWithPaleBorder() {
            var button = createButton({})
            compare(button.width, 100)
            compare(button.height, 100)
            compare(button.text, "")
            var image = grabImage(button)
            verifyColor(image, 50, 50, darkGreen, "centre")
            verifyColor(image, 20, 20, darkGreen, "inside near the corner")
            verifyColor(image, 50, 0, paleGreen, "top border")
            verifyColor(image, 0, 50, paleGreen, "left border")
            verifyColor(image, 99, 50, paleGreen, "right border")
            verifyColor(image, 50, 99, paleGreen, "bottom border")
            // The corners are rounded off: the test window's white shows through.
            verifyColor(image, 0, 0, Qt.rgba(1, 1, 1, 1), "rounded corner")
            compare(iconOf(button).status, Image.Null)
        }

        function test_icon_isDrawn75By75InTheMiddle() {
            var button = createButton({
                defaultIconSource: "qrc:/res/photo.svg",
                highlightedIconSource: "qrc:/res/photoHighlight.svg"
            })
            var icon = iconOf(button)
            tryCompare(icon, "status", Image.Ready)
            compare(icon.width, 75)
            compare(icon.height, 75)
            compare(icon.x, 12.5)
            compare(icon.y, 12.5)
            // The disc fills the icon: it reaches from 12.5 to 87.5 across the 100 x 100 button.
            var image = grabImage(button)
            verifyColor(image, 50, 50, paleGreen, "disc centre")
            verifyColor(image, 50, 15, paleGreen, "disc top")
            verifyColor(image, 15, 50, paleGreen, "disc left")
            verifyColor(image, 85, 50, paleGreen, "disc right")
            verifyColor(image, 50, 85, paleGreen, "disc bottom")
            verifyColor(image, 50, 9, darkGreen, "above the disc")
            verifyColor(image, 9, 50, darkGreen, "left of the disc")
            verifyColor(image, 90, 50, darkGreen, "right of the disc")
            verifyColor(image, 50, 90, darkGreen, "below the disc")
        }

        function test_press_showsHighlightAndClicksOnceOnRelease() {
            var button = createButton({
                defaultIconSource: "qrc:/res/photo.svg",
                highlightedIconSource: "qrc:/res/photoHighlight.svg"
            })
            var spy = createTemporaryObject(clickSpy, testCase, {target: button})
            var icon = iconOf(button)
            tryCompare(icon, "status", Image.Ready)

            mousePress(button)
            verify(button.down)
            compare(icon.source.toString(), "qrc:/res/photoHighlight.svg")
            tryCompare(icon, "status", Image.Ready)
            var pressed = grabImage(button)
            verifyColor(pressed, 50, 50, yellow, "highlighted icon")
            verifyColor(pressed, 50, 0, yellow, "border while pressed")
            compare(spy.count, 0)

            mouseRelease(button)
            verify(!button.down)
            compare(spy.count, 1)
            compare(icon.source.toString(), "qrc:/res/photo.svg")
            var released = grabImage(button)
            verifyColor(released, 50, 50, paleGreen, "plain icon again")
            verifyColor(released, 50, 0, paleGreen, "border again")
        }

        function test_pressDraggedOff_doesNotClick() {
            var button = createButton({})
            var spy = createTemporaryObject(clickSpy, testCase, {target: button})
            mousePress(button, 50, 50)
            mouseMove(button, 150, 150, -1, Qt.LeftButton)
            mouseRelease(button, 150, 150)
            compare(spy.count, 0)
            verify(!button.down)
        }
    }
}
