import QtQuick 2.12
import QtQuick.Window 2.12
import QtTest 1.12

// The real main window from the compiled resources, with the controller double behind it.
TestCase {
    id: testCase
    name: "MainWindow"
    when: windowShown

    readonly property string titlePrefix: "Tarn Player V1.1 - SN: "
    readonly property color paleGreen: "#82c9b0"
    readonly property color yellow: "#fcea10"

    property var window: null

    Component {
        id: valueSpy
        SignalSpy { signalName: "valueChanged" }
    }

    function near(actual, expected) {
        return Math.abs(actual.r - expected.r) <= 0.06 && Math.abs(actual.g - expected.g) <= 0.06
                && Math.abs(actual.b - expected.b) <= 0.06
    }

    function createWindow() {
        var component = Qt.createComponent("qrc:/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        var created = component.createObject(null)
        verify(created !== null, "the window could not be created")
        tryVerify(function() { return created.visible && created.contentItem.width > 0 })
        return created
    }

    function destroyWindow() {
        if (!window)
            return
        window.destroy()
        window = null
        tryVerify(function() { return journal.control === null }, 5000, "the controller outlived its window")
    }

    function init() {
        journal.clear()
        window = createWindow()
    }

    function cleanup() { destroyWindow() }

    function item(name) {
        var found = findChild(window.contentItem, name)
        verify(found !== null, "no item " + name)
        return found
    }

    function slider() { return item("control") }
    function handleLabel() { return findChild(slider().handle, "handleLabel") }

    // Where the slider's point (x, y) is in the window, after the slider's quarter turn.
    function sliderPointInWindow(x, y) {
        return slider().mapToItem(window.contentItem, x, y)
    }

    function test_lifecycle_startsSessionAfterLaunchLineAndEndsItBeforeDestructionLine() {
        compare(journal.callNames(), ["slotStartUVCConnect"])
        var launch = journal.lineIndex("qml launch...")
        var start = journal.lineIndex("MainControl double: slotStartUVCConnect")
        verify(launch >= 0, "no launch line")
        verify(launch < start, "the session started before the launch line")

        journal.clear()
        destroyWindow()
        compare(journal.callNames(), ["slotEndUVCConnect"])
        var end = journal.lineIndex("MainControl double: slotEndUVCConnect")
        var destruction = journal.lineIndex("qml destruction...")
        verify(end >= 0, "the session was not ended")
        verify(end < destruction, "the destruction line came before the session ended")
    }

    function test_title_followsSerialNumber_data() {
        return [
            {tag: "serial number", serial: "TC0640-21A7"},
            {tag: "empty", serial: ""},
            {tag: "non-ASCII", serial: "序列号-07"},
        ]
    }

    function test_title_followsSerialNumber(data) {
        compare(window.title, titlePrefix + "Unknown")
        journal.control.sigUpdateSN(data.serial)
        compare(window.title, titlePrefix + data.serial)
        journal.control.sigUpdateSN("second")
        compare(window.title, titlePrefix + "second")
    }

    function test_zoomReport_movesSliderWithoutSendingItBack_data() {
        return [
            {tag: "2.5 from the start", before: [], report: 2.5, value: 2.5, label: "2.5X"},
            {tag: "4.5 is ignored", before: [2.5], report: 4.5, value: 2.5, label: "2.5X"},
            {tag: "1 is accepted", before: [2.5], report: 1, value: 1, label: "1.0X"},
            {tag: "4 is accepted", before: [2.5], report: 4, value: 4, label: "4.0X"},
            {tag: "just below 1 is ignored", before: [2.5], report: 0.999, value: 2.5, label: "2.5X"},
            {tag: "one decimal on the label", before: [], report: 3.14159, value: 3.14159, label: "3.1X"},
        ]
    }

    function test_zoomReport_movesSliderWithoutSendingItBack(data) {
        var control = slider()
        compare(control.value, 1)
        compare(handleLabel().text, "1.0X")
        for (var i = 0; i < data.before.length; ++i)
            journal.control.sigUpdateZoomValue(data.before[i])
        var handleY = control.handle.mapToItem(window.contentItem, 0, 0).y

        journal.control.sigUpdateZoomValue(data.report)

        fuzzyCompare(control.value, data.value, 1e-9)
        compare(handleLabel().text, data.label)
        verify(!control.lockCmd)
        compare(journal.valuesOf("slotZoom"), [], "a reported zoom was sent back to the camera")
        // The handle moves down the upright slider as the value grows, and stays put when ignored.
        var movedY = control.handle.mapToItem(window.contentItem, 0, 0).y
        var before = data.before.length ? data.before[data.before.length - 1] : 1
        if (data.value > before)
            verify(movedY > handleY + 1, "the handle did not move down")
        else if (data.value < before)
            verify(movedY < handleY - 1, "the handle did not move up")
        else
            compare(movedY, handleY)
    }

    function test_userDrag_sendsEveryValueAndEndsOnTheFinalOne() {
        var control = slider()
        var spy = createTemporaryObject(valueSpy, testCase, {target: control})
        var handle = control.handle
        var extent = control.availableWidth - handle.width
        var y = control.topPadding + control.availableHeight / 2
        var from = sliderPointInWindow(control.leftPadding + handle.width / 2, y)
        // One third of the way along: the value 2.
        var to = sliderPointInWindow(control.leftPadding + handle.width / 2 + extent / 3, y)
        // The slider stands upright: the drag goes straight down the window.
        verify(Math.abs(to.x - from.x) < 0.5)
        verify(to.y > from.y + 50)

        // Track, handle and label turn yellow while pressed.
        var colors = function() {
            return [control.background.border.color, handle.border.color, handleLabel().color].map(String)
        }
        compare(colors(), [paleGreen, paleGreen, paleGreen].map(String))
        var target = window.contentItem
        mousePress(target, from.x, from.y)
        verify(control.pressed)
        compare(colors(), [yellow, yellow, yellow].map(String))
        var steps = 16
        for (var i = 1; i <= steps; ++i)
            mouseMove(target, from.x, from.y + (to.y - from.y) * i / steps, -1, Qt.LeftButton)
        mouseRelease(target, to.x, to.y)
        compare(colors(), [paleGreen, paleGreen, paleGreen].map(String))

        fuzzyCompare(control.value, 2, 0.02)
        compare(handleLabel().text, "2.0X")
        var zooms = journal.valuesOf("slotZoom")
        verify(zooms.length > 1, "the drag sent " + zooms.length + " zoom commands")
        compare(zooms.length, spy.count, "not one command per value change")
        compare(zooms[zooms.length - 1], control.value)
        for (var k = 1; k < zooms.length; ++k)
            verify(zooms[k] > zooms[k - 1], "zoom commands out of order: " + zooms)
        compare(journal.callNames().filter(function(name) { return name !== "slotZoom" }),
                ["slotStartUVCConnect"])
    }

    function test_userClickOnTrack_sendsTheValueThere() {
        var control = slider()
        var handle = control.handle
        var y = control.topPadding + control.availableHeight / 2
        var end = sliderPointInWindow(control.leftPadding + control.availableWidth - handle.width / 2, y)
        mouseClick(window.contentItem, end.x, end.y)
        fuzzyCompare(control.value, 4, 0.02)
        compare(handleLabel().text, "4.0X")
        var zooms = journal.valuesOf("slotZoom")
        compare(zooms.length, 1)
        compare(zooms[0], control.value)
    }

    function test_buttonPress_highlightsAndClicksOnceOnRelease_data() {
        return [
            {tag: "record", button: "btnRecord", slot: "slotRecord", icon: "photo"},
            {tag: "palette", button: "btnPalette", slot: "slotPalette", icon: "color"},
            {tag: "tracking", button: "btnTrack", slot: "slotTrack", icon: "tracking"},
            {tag: "flat-field correction", button: "btnFFC", slot: "slotFFC", icon: "correction"},
        ]
    }

    function test_buttonPress_highlightsAndClicksOnceOnRelease(data) {
        var button = item(data.button)
        var icon = findChild(button, "icon")
        var plain = "qrc:/res/" + data.icon + ".svg"
        var highlighted = "qrc:/res/" + data.icon + "Highlight.svg"
        compare(icon.source.toString(), plain)
        tryCompare(icon, "status", Image.Ready)
        journal.clear()

        mousePress(button)
        compare(icon.source.toString(), highlighted)
        tryCompare(icon, "status", Image.Ready)
        compare(journal.callNames(), [], "the button acted on press")

        mouseRelease(button)
        compare(journal.callNames(), [data.slot])
        compare(icon.source.toString(), plain)
    }

    function test_layout_data() {
        return [
            {tag: "1024x768", width: 1024, height: 768},
            {tag: "1920x1080", width: 1920, height: 1080},
        ]
    }

    function test_layout(data) {
        verify(Screen.desktopAvailableWidth >= data.width && Screen.desktopAvailableHeight >= data.height,
               "the screen is smaller than " + data.tag + ": run the tests on a 1920x1080 display")
        compare(window.visibility, Window.Maximized)
        window.visibility = Window.Windowed
        window.x = 0
        window.y = 0
        window.width = data.width
        window.height = data.height
        tryCompare(window.contentItem, "width", data.width)
        tryCompare(window.contentItem, "height", data.height)

        var buttons = [["btnRecord", 20, 20], ["btnPalette", 20, 180], ["btnTrack", 20, 340],
                       ["btnFFC", data.width - 120, 20]]
        for (var i = 0; i < buttons.length; ++i) {
            var b = item(buttons[i][0])
            compare(Qt.rect(b.x, b.y, b.width, b.height), Qt.rect(buttons[i][1], buttons[i][2], 100, 100),
                    buttons[i][0])
        }

        var pane = item("idCenterPane")
        compare(Qt.rect(pane.x, pane.y, pane.width, pane.height), Qt.rect(140, 0, data.width - 280, data.height))
        var video = item("idVideoOutput")
        compare(Qt.size(video.width, video.height), Qt.size(pane.width, pane.height))

        // The upright slider lines up with btnFFC, from about 50 to about 290 below it, inside the window.
        var control = slider()
        var track = control.background
        var a = track.mapToItem(window.contentItem, 0, 0)
        var b2 = track.mapToItem(window.contentItem, track.width, track.height)
        var left = Math.min(a.x, b2.x), right = Math.max(a.x, b2.x)
        var top = Math.min(a.y, b2.y), bottom = Math.max(a.y, b2.y)
        fuzzyCompare(left, data.width - 120, 1)
        fuzzyCompare(right, data.width - 20, 1)
        verify(top > 120 + 40 && top < 120 + 70, "track top at " + top)
        verify(bottom > 120 + 270 && bottom < 120 + 300, "track bottom at " + bottom)
        verify(right <= data.width && bottom <= data.height, "the slider is cut off")
        // The handle starts at the top end, and its label stays inside it.
        var handle = control.handle
        var h = handle.mapToItem(window.contentItem, 0, 0)
        verify(Math.abs(h.y - top) < 2, "handle at " + h.y + ", track top at " + top)
        var label = handleLabel()
        verify(label.contentWidth <= handle.height && label.contentHeight <= handle.width,
               "the label does not fit its handle")

        // The picture is stretched over the whole pane: each corner of the pane shows its quarter.
        var x2 = pane.width - 7, y2 = pane.height - 7
        var corners = [[6, 6], [x2, 6], [6, y2], [x2, y2]]
        tryVerify(function() {
            testPicture.show(320, 256)
            var image = grabImage(pane)
            return corners.every(function(p, c) { return near(image.pixel(p[0], p[1]), testPicture.quarterColor(c)) })
        }, 5000, "the pane's corners do not show the picture's quarters")
    }
}
