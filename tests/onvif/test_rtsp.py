#!/usr/bin/python3
"""The stream behind a simulated camera's stream URI: GStreamer's RTSP server, decoded by FFmpeg
over RTSP/TCP as the preview will, frame by frame.

Runs inside netns_run.sh's namespace (192.168.1.0/24 on loopback); skips elsewhere, and when
GStreamer's RTSP server or ffmpeg is missing.
"""
import shutil
import subprocess
import unittest

import onvif_client as oc

USER, PASSWORD = "admin", "tolvi"
FRAMES = 20


def decode(uri, frames, transport="tcp"):
    """MD5 of each of the first `frames` decoded pictures (ffmpeg's framemd5 muxer)."""
    result = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", transport, "-timeout", "5000000",
                             "-i", uri, "-map", "0:v:0", "-frames:v", str(frames), "-f", "framemd5", "-"],
                            capture_output=True, text=True, timeout=60)
    lines = [line for line in result.stdout.splitlines() if line and not line.startswith("#")]
    return result.returncode, [line.split(",")[-1].strip() for line in lines], result.stderr


class RtspTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not shutil.which("ffmpeg"):
            raise unittest.SkipTest("ffmpeg is not installed")
        try:
            import gi
            gi.require_version("GstRtspServer", "1.0")
        except (ImportError, ValueError) as e:
            raise unittest.SkipTest("GStreamer's RTSP server is not available to python3-gi: %s" % e)

    def stream_uri(self, sim, i):
        dev = sim.device(i)
        media = "http://%s/onvif/media_service" % dev["ip"]
        token = oc.find(oc.call(media, "<trt:GetProfiles/>", USER, PASSWORD), "Profiles").get("token")
        reply = oc.call(media, "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport>"
                        "<tt:Protocol>RTSP</tt:Protocol></tt:Transport></trt:StreamSetup><trt:ProfileToken>%s"
                        "</trt:ProfileToken></trt:GetStreamUri>" % token, USER, PASSWORD)
        return oc.text(reply, "Uri")

    def test_stream_decodes_over_tcp(self):
        for codec in ("h264", "jpeg"):
            with self.subTest(codec=codec), oc.Simulator("--devices", "2", "--first-ip", "192.168.1.10", "--port",
                                                         "80", "--rtsp", "--rtsp-codec", codec) as sim:
                if not sim.info["rtsp"]:
                    self.skipTest(sim.info["rtsp_reason"])
                uris = [self.stream_uri(sim, i) for i in range(2)]
                self.assertEqual(uris, ["rtsp://192.168.1.10:8554/live", "rtsp://192.168.1.11:8554/live"])
                # Two cameras at once, as two preview windows would.
                procs = [subprocess.Popen(["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-timeout", "5000000",
                                           "-select_streams", "v:0", "-show_entries", "stream=codec_name,width,height",
                                           "-of", "csv=p=0", uri], stdout=subprocess.PIPE, text=True) for uri in uris]
                for p in procs:
                    out, _ = p.communicate(timeout=30)
                    self.assertEqual(out.strip(), "%s,320,240" % ("h264" if codec == "h264" else "mjpeg"))
                rc, hashes, err = decode(uris[0], FRAMES)
                self.assertEqual(rc, 0, err)
                self.assertEqual(len(hashes), FRAMES, err)
                # A moving picture: most frames differ from the one before.
                changes = sum(a != b for a, b in zip(hashes, hashes[1:]))
                self.assertGreaterEqual(changes, FRAMES // 2, hashes)

    def test_wrong_path_is_refused(self):
        with oc.Simulator("--devices", "1", "--first-ip", "192.168.1.10", "--port", "80", "--rtsp",
                          "--rtsp-codec", "jpeg") as sim:
            if not sim.info["rtsp"]:
                self.skipTest(sim.info["rtsp_reason"])
            rc, hashes, err = decode("rtsp://192.168.1.10:8554/nothing-here", 1)
            self.assertNotEqual(rc, 0)
            self.assertEqual(hashes, [])


if __name__ == "__main__":
    oc.require_namespace()
    unittest.main(verbosity=2)
