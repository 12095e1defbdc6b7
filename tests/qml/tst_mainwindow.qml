import QtQuick 2.12
import QtQuick.Window 2.12
import QtTest 1.12

// The real main window and its buttons from the compiled resources, with the controller double behind it.
TestCase {
    id: testCase
    name: "MainWindow"
    when: windowShown

    readonly property string titlePrefix: "Tarn Player V1.1 - SN: "
    // The test picture's quarters: top left, top right, bottom left, bottom right.
    readonly property var quarters: [Qt.rgba(0.9, 0.15, 0.15, 1), Qt.rgba(0.15, 0.8, 0.25, 1),
                                     Qt.rgba(0.15, 0.3, 0.9, 1), Qt.rgba(0.95, 0.95, 0.95, 1)]

    property var window: null

    // Within 6 % on each channel.
    function near(actual, expected) {
        return Math.abs(actual.r - expected.r) <= 0.06 && Math.abs(actual.g - expected.g) <= 0.06
                && Math.abs(actual.b - expected.b) <= 0.06
    }

    function init() {
        harness.clear()
        var component = Qt.createComponent("qrc:/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        window = component.createObject(null)
        verify(window !== null, "the window could not be created")
        tryVerify(function() { return window.visible && window.contentItem.width > 0 })
    }

    function cleanup() {
        if (!window)
            return
        window.destroy()
        window = null
        tryVerify(function() { return harness.control === null }, 5000, "the controller outlived its window")
    }

    function item(name) {
        var found = findChild(window.contentItem, name)
        verify(found !== null, "no item " + name)
        return found
    }

    function slider() { return item("control") }
    function handleLabel() { return findChild(slider().handle, "handleLabel") }

    // The window's own log lines and the calls it made, in order, since the last clear.
    function windowLines() {
        return harness.lines().filter(function(line) { return /^(qml |MainControl double: )/.test(line) })
    }

    function test_lifecycle_startsSessionAfterLaunchLineAndEndsItBeforeDestructionLine() {
        compare(windowLines(), ["qml launch...", "MainControl double: slotStartUVCConnect"])
        harness.clear()
        cleanup()
        compare(windowLines(), ["MainControl double: slotEndUVCConnect", "qml destruction..."])
    }

    function test_title_followsSerialNumber_data() {
        return [
            {tag: "serial number", serial: "TC0640-21A7"},
            {tag: "empty", serial: ""},
        ]
    }

    function test_title_followsSerialNumber(data) {
        compare(window.title, titlePrefix + "Unknown")
        harness.control.sigUpdateSN(data.serial)
        compare(window.title, titlePrefix + data.serial)
        harness.control.sigUpdateSN("second")
        compare(window.title, titlePrefix + "second")
    }

    function test_zoomReport_movesSliderWithoutSendingItBack_data() {
        return [
            {tag: "4.5 is ignored", before: 2.5, report: 4.5, value: 2.5, label: "2.5X"},
            {tag: "1 is accepted", before: 2.5, report: 1, value: 1, label: "1.0X"},
            {tag: "4 is accepted", before: 2.5, report: 4, value: 4, label: "4.0X"},
            {tag: "just below 1 is ignored", before: 2.5, report: 0.999, value: 2.5, label: "2.5X"},
            {tag: "one decimal on the label", before: 1, report: 3.14159, value: 3.14159, label: "3.1X"},
        ]
    }

    function test_zoomReport_movesSliderWithoutSendingItBack(data) {
        var control = slider()
        compare(control.value, 1)
        compare(handleLabel().text, "1.0X")
        harness.control.sigUpdateZoomValue(data.before)
        var handleY = control.handle.mapToItem(window.contentItem, 0, 0).y

        harness.control.sigUpdateZoomValue(data.report)

        fuzzyCompare(control.value, data.value, 1e-9)
        compare(handleLabel().text, data.label)
        verify(!control.lockCmd)
        compare(harness.zoomValues(), [], "a reported zoom was sent back to the camera")
        // The handle moves down the upright slider as the value grows, and stays put when ignored.
        var moved = control.handle.mapToItem(window.contentItem, 0, 0).y - handleY
        compare(Math.sign(Math.round(moved)), Math.sign(data.value - data.before))
    }

    // Each button shows its icon, the highlighted one while pressed, and sends its command on release.
    function test_button_data() {
        return [
            {tag: "record", button: "btnRecord", slot: "slotRecord", icon: "photo"},
            {tag: "palette", button: "btnPalette", slot: "slotPalette", icon: "color"},
            {tag: "tracking", button: "btnTrack", slot: "slotTrack", icon: "tracking"},
            {tag: "flat-field correction", button: "btnFFC", slot: "slotFFC", icon: "correction"},
        ]
    }

    function test_button(data) {
        var button = item(data.button)
        var icon = findChild(button, "icon")
        tryCompare(icon, "status", Image.Ready)
        compare(icon.source.toString(), "qrc:/res/" + data.icon + ".svg")
        harness.clear()
        mousePress(button)
        compare(icon.source.toString(), "qrc:/res/" + data.icon + "Highlight.svg")
        tryCompare(icon, "status", Image.Ready)
        mouseRelease(button)
        compare(harness.callNames(), [data.slot])
        compare(icon.source.toString(), "qrc:/res/" + data.icon + ".svg")
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

        // Every control lies inside the window and clear of the others and of the picture's pane.
        var control = slider()
        var names = ["btnRecord", "btnPalette", "btnTrack", "btnFFC", "idCenterPane"]
        var rects = names.map(function(name) {
            var it = item(name)
            return it.mapToItem(window.contentItem, 0, 0, it.width, it.height)
        })
        rects.push(control.background.mapToItem(window.contentItem, 0, 0, control.background.width,
                                                control.background.height))
        for (var i = 0; i < rects.length; ++i) {
            var r = rects[i]
            verify(r.x >= 0 && r.y >= 0 && r.x + r.width <= data.width + 0.5 && r.y + r.height <= data.height + 0.5,
                   (names[i] || "slider") + " leaves the window")
            for (var j = 0; j < i; ++j) {
                var q = rects[j]
                verify(r.x >= q.x + q.width || q.x >= r.x + r.width || r.y >= q.y + q.height || q.y >= r.y + r.height,
                       (names[i] || "slider") + " overlaps " + names[j])
            }
        }
        var handle = control.handle
        var label = handleLabel()
        verify(label.contentWidth <= handle.height && label.contentHeight <= handle.width,
               "the label does not fit its handle")
        var pane = item("idCenterPane")

        // The picture is stretched over the whole pane: each corner of the pane shows its quarter.
        var x2 = pane.width - 7, y2 = pane.height - 7
        var corners = [[6, 6], [x2, 6], [6, y2], [x2, y2]]
        tryVerify(function() {
            harness.showPicture(320, 256, quarters)
            var image = grabImage(pane)
            return corners.every(function(p, c) { return near(image.pixel(p[0], p[1]), quarters[c]) })
        }, 5000, "the pane's corners do not show the picture's quarters")
    }

    // Keys and menu entries, by what reaches the controller or what the window does: exactly, where the
    // window test under X (tst_viewer_e2e) sees their effects on the camera, the files and the window.
    function test_keysAndMenu_data() {
        return [
            {tag: "1", keys: [Qt.Key_1], calls: ["slotRecord"]},
            {tag: "4", keys: [Qt.Key_4], calls: ["slotFFC"]},
            {tag: "+ twice, -", keys: [Qt.Key_Plus, Qt.Key_Plus, Qt.Key_Minus], zooms: [1.1, 1.2, 1.1]},
            {tag: "wheel", wheel: [120, 240, -120], zooms: [1.1, 1.3, 1.2]},
            {tag: "R", keys: [Qt.Key_R], calls: ["slotClip"]},
            {tag: "A", keys: [Qt.Key_A], shape: "fit"},
            {tag: "A twice", keys: [Qt.Key_A, Qt.Key_A], shape: "stretch"},
            {tag: "F11, Esc", keys: [Qt.Key_F11, Qt.Key_Escape], fullScreen: false},
            {tag: "Tab, Space", keys: [Qt.Key_Tab, Qt.Key_Space], calls: ["slotRecord"]},
            {tag: "Tab twice, Enter", keys: [Qt.Key_Tab, Qt.Key_Tab, Qt.Key_Return], calls: ["slotPalette"]},
            {tag: "menu: clip", menu: "menuClip", calls: ["slotClip"]},
            {tag: "menu: shape", menu: "menuShape", shape: "fit"},
            {tag: "menu: pictures", menu: "menuPictures", calls: ["openFolder /pictures"]},
            {tag: "menu: videos", menu: "menuVideos", calls: ["openFolder /videos"]},
        ]
    }

    function test_keysAndMenu(data) {
        window.requestActivate()
        tryVerify(function() { return window.active })
        harness.clear()
        var i
        for (i = 0; data.keys && i < data.keys.length; ++i)
            keyClick(data.keys[i])
        for (i = 0; data.wheel && i < data.wheel.length; ++i)
            mouseWheel(item("idCenterPane"), 100, 100, 0, data.wheel[i])
        if (data.menu) {
            mouseClick(item("idCenterPane"), 100, 100, Qt.RightButton)
            var entry = item(data.menu)
            tryVerify(function() { return entry.visible && entry.width > 0 })
            mouseClick(entry)
        }
        if (data.calls !== undefined)
            compare(harness.callNames(), data.calls)
        if (data.zooms !== undefined) {
            compare(harness.zoomValues(), data.zooms)
            compare(slider().value, data.zooms[data.zooms.length - 1])
        }
        if (data.shape !== undefined)
            compare(viewerSettings.pictureShape, data.shape)
        if (data.fullScreen !== undefined)
            tryCompare(window, "visibility", data.fullScreen ? Window.FullScreen : Window.Maximized)
        // The focus ring is on the focused button only.
        if (data.tag.indexOf("Tab") === 0)
            compare(item(data.calls[0] === "slotRecord" ? "btnRecord" : "btnPalette").background.border.width, 4)
        viewerSettings.pictureShape = "stretch"
        viewerSettings.fullScreen = false
    }

    // "fit" keeps the camera's aspect in the middle of the pane, within a pixel; "stretch" fills it.
    function test_pictureShape_data() {
        return [
            {tag: "fit 256x384", shape: "fit", width: 256, height: 384},
            {tag: "fit 640x512", shape: "fit", width: 640, height: 512},
            {tag: "stretch 256x384", shape: "stretch", width: 256, height: 384},
        ]
    }

    function test_pictureShape(data) {
        viewerSettings.pictureShape = data.shape
        harness.showPicture(data.width, data.height, quarters)
        var pane = item("idCenterPane")
        var picture = item("idPicture")
        var r = picture.mapToItem(pane, 0, 0, picture.width, picture.height)
        if (data.shape === "stretch") {
            compare(Qt.rect(r.x, r.y, r.width, r.height), Qt.rect(0, 0, pane.width, pane.height))
        } else {
            verify(Math.abs(r.width / r.height - data.width / data.height) * r.height <= 1,
                   "picture " + r.width + "x" + r.height)
            verify(r.width === pane.width || r.height === pane.height, "the picture does not fill the pane")
            fuzzyCompare(r.x + r.width / 2, pane.width / 2, 0.5)
            fuzzyCompare(r.y + r.height / 2, pane.height / 2, 0.5)
            // The bars beside the picture are black; the picture's own corners show its quarters.
            var image = grabImage(pane)
            verify(r.width === pane.width || near(image.pixel(2, pane.height / 2), Qt.rgba(0, 0, 0, 1)))
            tryVerify(function() {
                harness.showPicture(data.width, data.height, quarters)
                image = grabImage(pane)
                return near(image.pixel(r.x + 4, r.y + 4), quarters[0])
                        && near(image.pixel(r.x + r.width - 5, r.y + r.height - 5), quarters[3])
            }, 5000, "the picture is not where its rectangle is")
        }
        viewerSettings.pictureShape = "stretch"
    }
}
