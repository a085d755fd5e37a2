#!/usr/bin/python3
"""An RTSP server streaming a moving test pattern, for the simulated cameras' stream URIs.

    rtsp_server.py [--address 127.0.0.1] [--port 8554] [--path /live] [--codec h264|jpeg]

GStreamer's RTSP server through python3-gi (Debian: gir1.2-gst-rtsp-server-1.0; jpegenc from
gstreamer1.0-plugins-good, openh264enc from gstreamer1.0-plugins-bad). Serves RTP over UDP and
interleaved over the RTSP connection (TCP). Prints one JSON line when it listens.
"""
import argparse
import json
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

ENCODERS = {
    # The ball moves, so every frame differs and a decoder that counts frames sees progress.
    "jpeg": "jpegenc quality=60 ! rtpjpegpay name=pay0 pt=26",
    "h264": ("openh264enc bitrate=256000 gop-size=15 ! video/x-h264,profile=constrained-baseline "
             "! h264parse config-interval=-1 ! rtph264pay name=pay0 pt=96 config-interval=1"),
}


def launch_line(codec, width, height, fps):
    return ("( videotestsrc pattern=ball is-live=true ! video/x-raw,width=%d,height=%d,framerate=%d/1 "
            "! videoconvert ! video/x-raw,format=I420 ! %s )") % (width, height, fps, ENCODERS[codec])


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--address", default="127.0.0.1")
    p.add_argument("--port", type=int, default=8554)
    p.add_argument("--path", default="/live")
    p.add_argument("--codec", choices=sorted(ENCODERS), default="h264")
    p.add_argument("--size", default="320x240")
    p.add_argument("--fps", type=int, default=15)
    p.add_argument("--exit-on-eof", action="store_true", help="stop when standard input closes")
    args = p.parse_args()
    width, height = (int(x) for x in args.size.split("x"))

    Gst.init(None)
    missing = [e for e in ("videotestsrc", "jpegenc" if args.codec == "jpeg" else "openh264enc")
               if Gst.ElementFactory.find(e) is None]
    if missing:
        print("SKIP: GStreamer elements missing: %s" % " ".join(missing), file=sys.stderr, flush=True)
        return 77

    server = GstRtspServer.RTSPServer()
    server.set_address(args.address)
    server.set_service(str(args.port))
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(launch_line(args.codec, width, height, args.fps))
    # A pipeline per client: a shared one can abort the server when two clients join it while it
    # is still being prepared (the RTSP server's get_rates assertion).
    factory.set_shared(False)
    server.get_mount_points().add_factory(args.path, factory)
    if server.attach(None) == 0:
        print("cannot listen on %s:%d" % (args.address, args.port), file=sys.stderr, flush=True)
        return 1
    loop = GLib.MainLoop()
    if args.exit_on_eof:
        def on_stdin(source, condition):
            if condition & (GLib.IO_HUP | GLib.IO_ERR) or not source.read(4096):
                loop.quit()
                return False
            return True
        channel = GLib.IOChannel.unix_new(sys.stdin.fileno())
        channel.set_encoding(None)
        GLib.io_add_watch(channel, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, on_stdin)
    print(json.dumps({"rtsp": "rtsp://%s:%d%s" % (args.address, server.get_bound_port(), args.path),
                      "port": server.get_bound_port(), "codec": args.codec}), flush=True)
    try:
        loop.run()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
