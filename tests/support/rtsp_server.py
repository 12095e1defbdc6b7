#!/usr/bin/python3
# A GStreamer RTSP server for tests: a live H.264 stream of the SMPTE bars (no length, like a camera) at
# rtsp://127.0.0.1:PORT/test, or the stream of the launch line given as the first argument. Prints
# "ready PORT" once it listens.
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

Gst.init(None)
server = GstRtspServer.RTSPServer()
server.set_address("127.0.0.1")
server.set_service("0")
factory = GstRtspServer.RTSPMediaFactory()
factory.set_launch(
    sys.argv[1] if len(sys.argv) > 1 else
    "( videotestsrc is-live=true pattern=smpte ! video/x-raw,width=320,height=240,framerate=25/1"
    " ! x264enc tune=zerolatency speed-preset=ultrafast key-int-max=25"
    " ! rtph264pay name=pay0 pt=96 config-interval=1 )"
)
factory.set_shared(False)
server.get_mount_points().add_factory("/test", factory)
server.attach(None)
print("ready %d" % server.get_bound_port(), flush=True)
GLib.MainLoop().run()
