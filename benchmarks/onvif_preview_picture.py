#!/usr/bin/python3
"""The README's picture of the ONVIF preview: a simulated device's RTSP test pattern (GStreamer's
RTSP server) decoded by the camera library's ONVIF backend into an X window of a virtual display.

    sh tests/onvif/netns_run.sh --addr 192.168.1.1/24 /usr/bin/python3 benchmarks/onvif_preview_picture.py \\
        BUILD_DIR docs/onvif-preview.png

Needs Xvfb and ImageMagick's `import`; must run inside the namespace that netns_run.sh makes.
"""
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "onvif"))
import onvif_client as oc  # noqa: E402

WIDTH, HEIGHT = 640, 480


def start_display():
    """A virtual display on a free number; (process, name)."""
    for number in range(90, 120):
        if os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and xvfb.poll() is None:
            if os.path.exists("/tmp/.X11-unix/X%d" % number):
                return xvfb, ":%d" % number
            time.sleep(0.05)
        xvfb.kill()
    raise RuntimeError("no virtual display could be started")


def main():
    oc.require_namespace()
    if len(sys.argv) != 3:
        sys.exit("usage: onvif_preview_picture.py BUILD_DIR OUT.png")
    build, out = sys.argv[1], sys.argv[2]
    for tool in ("Xvfb", "import"):
        if shutil.which(tool) is None:
            sys.exit("%s is not installed" % tool)
    xvfb, display = start_display()
    os.environ["DISPLAY"] = display
    os.environ["RUDAVADO_BACKEND"] = "onvif"
    try:
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XCreateSimpleWindow.restype = ctypes.c_ulong
        x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                            ctypes.c_uint, ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong,
                                            ctypes.c_ulong]
        x11.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        dpy = x11.XOpenDisplay(display.encode())
        window = x11.XCreateSimpleWindow(dpy, x11.XDefaultRootWindow(dpy), 0, 0, WIDTH, HEIGHT, 0, 0, 0)
        x11.XMapWindow(dpy, window)
        x11.XSync(dpy, 0)

        lib = ctypes.CDLL(os.path.join(build, "third_part", "RuDAVADO", "libRuDAVADO.so"))
        lib.KpLPRClient_Open.restype = ctypes.c_void_p
        lib.KpLPRClient_Open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p]
        lib.KpLPRClient_StartRealPlay.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        lib.KpLPRClient_Close.argtypes = [ctypes.c_void_p]
        lib.RuDAVADO_PlayFrames.restype = ctypes.c_longlong
        with oc.Simulator("--devices", "1", "--first-ip", "192.168.1.10", "--port", "80", "--rtsp",
                          "--rtsp-codec", "h264", timeout=60) as sim:
            if not sim.info["rtsp"]:
                sys.exit("the RTSP server did not start: %s" % sim.info["rtsp_reason"])
            lib.KpLPRClient_Setup()
            handle = lib.KpLPRClient_Open(b"192.168.1.10", 80, b"admin", b"tolvi")
            if not handle:
                sys.exit("login refused: %d" % lib.KpLPRClient_GetLastError())
            play = lib.KpLPRClient_StartRealPlay(handle, ctypes.c_void_p(window))
            if play < 0:
                sys.exit("no preview: %d" % lib.KpLPRClient_GetLastError())
            deadline = time.monotonic() + 30
            while lib.RuDAVADO_PlayFrames(play) < 45 and time.monotonic() < deadline:
                time.sleep(0.1)
            frames = lib.RuDAVADO_PlayFrames(play)
            with tempfile.TemporaryDirectory() as tmp:
                shot = os.path.join(tmp, "preview.png")
                subprocess.run(["import", "-display", display, "-window", "0x%x" % window, shot], check=True)
                shutil.copyfile(shot, out)
            lib.KpLPRClient_StopRealPlay(play)
            lib.KpLPRClient_Close(handle)
            lib.KpLPRClient_Cleanup()
        print("%s: %d frames decoded before the picture" % (out, frames))
    finally:
        xvfb.kill()
        xvfb.wait()


if __name__ == "__main__":
    main()
