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
        readonly property var photoIcons: ({defaultIconSource: "qrc:/res/photo.svg",
                                            highlightedIconSource: "qrc:/res/photoHighlight.svg"})

        property var component: Qt.createComponent("qrc:/ButtonControl.qml")

        Component {
            id: clickSpy
            SignalSpy { signalName: "clicked" }
        }

        // Each [x, y] of points in the grabbed item shows expected (within 6 %).
        function verifyColors(item, expected, points, what) {
            var image = grabImage(item)
            for (var i = 0; i < points.length; ++i) {
                var actual = image.pixel(points[i][0], points[i][1])
                verify(Math.abs(actual.r - expected.r) <= 0.06 && Math.abs(actual.g - expected.g) <= 0.06
                       && Math.abs(actual.b - expected.b) <= 0.06,
                       what + ": pixel " + points[i] + " is " + actual + ", expected " + expected)
            }
        }

        function createButton(properties) {
            compare(component.status, Component.Ready, component.errorString())
            var button = createTemporaryObject(component, stage, properties)
            verify(button !== null)
            button.x = 50
            button.y = 50
            return button
        }

        function test_withoutIcons_showsOnlyTheRoundedDarkSquareWithPaleBorder() {
            var button = createButton({})
            compare(Qt.size(button.width, button.height), Qt.size(100, 100))
            compare(button.text, "")
            verifyColors(button, darkGreen, [[50, 50], [20, 20]], "inside")
            verifyColors(button, paleGreen, [[50, 0], [0, 50], [99, 50], [50, 99]], "border")
            // The corners are rounded off: the test window's white shows through.
            verifyColors(button, Qt.rgba(1, 1, 1, 1), [[0, 0]], "rounded corner")
            compare(findChild(button, "icon").status, Image.Null)
        }

        function test_icon_isDrawn75By75InTheMiddle() {
            var button = createButton(photoIcons)
            var icon = findChild(button, "icon")
            tryCompare(icon, "status", Image.Ready)
            compare(Qt.rect(icon.x, icon.y, icon.width, icon.height), Qt.rect(12.5, 12.5, 75, 75))
            // The disc fills the icon: it reaches from 12.5 to 87.5 across the 100 x 100 button.
            verifyColors(button, paleGreen, [[50, 50], [50, 15], [15, 50], [85, 50], [50, 85]], "disc")
            verifyColors(button, darkGreen, [[50, 9], [9, 50], [90, 50], [50, 90]], "around the disc")
        }

        function test_press_showsHighlightAndClicksOnceOnRelease() {
            var button = createButton(photoIcons)
            var spy = createTemporaryObject(clickSpy, testCase, {target: button})
            var icon = findChild(button, "icon")
            tryCompare(icon, "status", Image.Ready)

            mousePress(button)
            verify(button.down)
            compare(icon.source.toString(), "qrc:/res/photoHighlight.svg")
            tryCompare(icon, "status", Image.Ready)
            verifyColors(button, yellow, [[50, 50], [50, 0]], "highlighted icon and border while pressed")
            compare(spy.count, 0)

            mouseRelease(button)
            verify(!button.down)
            compare(spy.count, 1)
            compare(icon.source.toString(), "qrc:/res/photo.svg")
            verifyColors(button, paleGreen, [[50, 50], [50, 0]], "plain icon and border again")
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
