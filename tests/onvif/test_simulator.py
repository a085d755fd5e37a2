#!/usr/bin/python3
"""The simulated ONVIF cameras against our own small client: what the backend's tests rely on.

Runs inside netns_run.sh's namespace (192.168.1.0/24 on loopback); skips elsewhere.
"""
import base64
import http.client
import os
import re
import socket
import subprocess
import sys
import time
import unittest

import onvif_client as oc
from onvif_client import SoapError

DEVICES = 8
USER, PASSWORD = "admin", "tolvi"


class SimulatorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = oc.Simulator("--devices", str(DEVICES), "--first-ip", "192.168.1.10", "--port", "80",
                               "--reboot-seconds", "4", "--upgrade-seconds", "4", "--network-seconds", "4",
                               env={"KP_TIME_SCALE": "0.1"})
        cls.hello = oc.HelloListener()

    @classmethod
    def tearDownClass(cls):
        cls.hello.close()
        cls.sim.close()

    def url(self, i):
        return oc.device_url(self.sim.device(i))

    def login_call(self, i, body, password=PASSWORD, **kw):
        return oc.call(self.url(i), body, USER, password, **kw)

    def assertFault(self, subcode, fn, *args, **kw):
        with self.assertRaises(SoapError) as ctx:
            fn(*args, **kw)
        self.assertEqual(ctx.exception.subcode, subcode)
        return ctx.exception

    # --- discovery --------------------------------------------------------------------
    def test_probe_types_and_replies(self):
        """A probe reaches every online device; each answers from its own address with its XAddr."""
        cases = [("dn:NetworkVideoTransmitter", DEVICES), ("", DEVICES), ("tds:Device", DEVICES)]
        for types, expected in cases:
            with self.subTest(types=types):
                found = oc.probe(window=3.0, types=types, expect=expected)
                self.assertEqual(len(found), expected)
                for i in range(DEVICES):
                    dev = self.sim.device(i)
                    xaddrs, source = found["urn:uuid:" + dev["uuid"]]
                    self.assertEqual(source, dev["ip"])
                    self.assertEqual(xaddrs, ["http://%s/onvif/device_service" % dev["ip"]])
        # A type of another namespace is not ours: nobody answers.
        other = oc.probe_message("p:Printer").replace(
            'xmlns:dn=', 'xmlns:p="http://example.org/printers" xmlns:dn=').encode()
        self.assertEqual(oc.probe(window=0.5, payload=other), {})

    def test_probe_to_one_address(self):
        """A probe sent to a device's address rather than the group is answered by that device alone."""
        dev = self.sim.device(2)
        found = oc.probe(window=1.0, target=dev["ip"])
        self.assertEqual(list(found), ["urn:uuid:" + dev["uuid"]])

    def test_probe_scopes(self):
        """Scopes narrow a probe: whole path segments by default, exact strings with strcmp0."""
        cases = [("onvif://www.onvif.org/hardware/KP-LPR-V3", "", DEVICES),
                 ("onvif://www.onvif.org/Profile", "", DEVICES),
                 ("onvif://www.onvif.org/hardware/KP-LPR", "", 0),  # not a whole segment
                 ("onvif://www.onvif.org/hardware/KP-LPR-V3 onvif://www.onvif.org/location/elsewhere", "", 0),
                 ("onvif://www.onvif.org/Profile", ' MatchBy="%s"' % oc.STRCMP0, 0),
                 ("onvif://www.onvif.org/location/lab", ' MatchBy="%s"' % oc.STRCMP0, DEVICES),
                 ("onvif://www.onvif.org/location/lab", ' MatchBy="urn:some:other:rule"', 0)]
        for scopes, match_by, expected in cases:
            with self.subTest(scopes=scopes, match_by=match_by):
                message = oc.probe_message().replace(
                    "</d:Types>", "</d:Types><d:Scopes%s>%s</d:Scopes>" % (match_by, scopes)).encode()
                found = oc.probe(window=1.0 if expected == 0 else 3.0, payload=message, expect=expected or None)
                self.assertEqual(len(found), expected)

    def test_malformed_probes_are_ignored(self):
        for junk in (b"", b"<s:Envelope", b"\xff\xfe garbage", b"<a/>" * 10000,
                     oc.probe_message().encode().replace(b"Probe>", b"Resolve>")):
            with self.subTest(junk=junk[:20]):
                self.assertEqual(oc.probe(window=0.3, payload=junk), {})
        # Still answering afterwards.
        self.assertEqual(len(oc.probe(window=3.0, expect=DEVICES)), DEVICES)

    def test_serial_words_in_endpoint_reference(self):
        dev = self.sim.device(3)
        words = oc.uuid_of("urn:uuid:" + dev["uuid"]).split("-")
        self.assertEqual("%s-%s" % (words[0], words[4][4:]), dev["serial"])
        info = self.login_call(3, "<tds:GetDeviceInformation/>")
        self.assertEqual(oc.text(info, "SerialNumber"), dev["serial"])
        self.assertEqual(oc.text(self.login_call(3, "<tds:GetEndpointReference/>"), "GUID"), "urn:uuid:" + dev["uuid"])

    # --- login ------------------------------------------------------------------------
    def test_login_table(self):
        url = self.url(0)
        body = "<tds:GetDeviceInformation/>"
        for op in ("GetSystemDateAndTime", "GetCapabilities", "GetServices", "GetHostname", "GetEndpointReference"):
            with self.subTest(before_login=op):
                self.assertIsNotNone(oc.call(url, "<tds:%s/>" % op))
        cases = [
            ("digest", PASSWORD, 0, None),
            ("digest", "wrong", 0, "ter:NotAuthorized"),
            ("digest", PASSWORD, 3600, "ter:NotAuthorized"),  # Created an hour off the device clock
            ("text", PASSWORD, 0, None),
            ("text", "wrong", 0, "ter:NotAuthorized"),
        ]
        for kind, password, offset, fault in cases:
            with self.subTest(kind=kind, password=password, offset=offset):
                if fault:
                    err = self.assertFault(fault, oc.call, url, body, USER, password, offset, kind)
                    self.assertEqual(err.status, 400)
                else:
                    self.assertEqual(oc.text(oc.call(url, body, USER, password, offset, kind), "Model"),
                                     "KP-LPR-V3")
        self.assertGreaterEqual(self.sim.device(0)["cleartext_logins"], 2)

    def test_http_digest_and_challenge(self):
        url = self.url(1)
        data = oc.envelope("<tds:GetDeviceInformation/>").encode()
        status, headers, _ = oc.post(url, data)
        self.assertEqual(status, 401)
        self.assertIn("Digest", headers["WWW-Authenticate"])
        for password, expected in ((PASSWORD, 200), ("wrong", 401)):
            with self.subTest(password=password):
                mgr = oc.urllib.request.HTTPPasswordMgrWithDefaultRealm()
                mgr.add_password(None, url, USER, password)
                opener = oc.urllib.request.build_opener(oc.urllib.request.HTTPDigestAuthHandler(mgr))
                try:
                    with opener.open(oc.urllib.request.Request(url, data=data), timeout=5) as r:
                        status = r.status
                except oc.urllib.error.HTTPError as e:
                    status = e.code
                self.assertEqual(status, expected)

    def test_clock_offset_must_be_applied(self):
        """A device whose clock is a day ahead refuses a token made with our clock, and takes one made
        with the offset read from GetSystemDateAndTime."""
        self.sim.post("/devices/2/set", {"clock_offset": 86400})
        try:
            url = self.url(2)
            offset = oc.device_clock(url) - time.time()
            self.assertAlmostEqual(offset, 86400, delta=5)
            self.assertFault("ter:NotAuthorized", oc.call, url, "<tds:GetUsers/>", USER, PASSWORD)
            users = oc.call(url, "<tds:GetUsers/>", USER, PASSWORD, offset)
            self.assertEqual(oc.text(users, "Username"), USER)
        finally:
            self.sim.post("/devices/2/set", {"clock_offset": 0})

    # --- time, users, media -----------------------------------------------------------
    def test_set_time_reads_back(self):
        body = ("<tds:SetSystemDateAndTime><tds:DateTimeType>Manual</tds:DateTimeType><tds:DaylightSavings>false"
                "</tds:DaylightSavings><tds:TimeZone><tt:TZ>CST-8</tt:TZ></tds:TimeZone><tds:UTCDateTime>"
                "<tt:Date><tt:Year>%d</tt:Year><tt:Month>%d</tt:Month><tt:Day>%d</tt:Day></tt:Date><tt:Time>"
                "<tt:Hour>%d</tt:Hour><tt:Minute>%d</tt:Minute><tt:Second>%d</tt:Second></tt:Time>"
                "</tds:UTCDateTime></tds:SetSystemDateAndTime>")
        target = time.time() - 7200
        g = time.gmtime(target)
        self.login_call(4, body % (g.tm_year, g.tm_mon, g.tm_mday, g.tm_hour, g.tm_min, g.tm_sec),
                        offset=0)
        self.assertAlmostEqual(oc.device_clock(self.url(4)), target, delta=5)
        self.assertAlmostEqual(self.sim.device(4)["clock_offset"], -7200, delta=5)
        # Invalid values are refused and change nothing.
        offset = self.sim.device(4)["clock_offset"]
        for bad in ((2026, 13, 1, 0, 0, 0), (2026, 1, 1, 25, 0, 0), (1800, 1, 1, 0, 0, 0)):
            with self.subTest(bad=bad):
                self.assertFault("ter:InvalidArgVal", self.login_call, 4, body % bad, offset=offset)
        self.assertAlmostEqual(self.sim.device(4)["clock_offset"], offset, delta=1)
        self.sim.post("/devices/4/set", {"clock_offset": 0})

    def test_set_user_password(self):
        body = ("<tds:SetUser><tds:User><tt:Username>%s</tt:Username><tt:Password>%s</tt:Password>"
                "<tt:UserLevel>Administrator</tt:UserLevel></tds:User></tds:SetUser>")
        self.assertFault("ter:InvalidArgVal", self.login_call, 5, body % (USER, ""))
        self.assertFault("ter:InvalidArgVal", self.login_call, 5, body % ("nobody", "x1"))
        self.login_call(5, body % (USER, "N3w-pass"))
        self.assertFault("ter:NotAuthorized", self.login_call, 5, "<tds:GetUsers/>")
        self.login_call(5, body % (USER, PASSWORD), password="N3w-pass")
        self.assertEqual(self.sim.device(5)["users"][USER]["password"], PASSWORD)

    def test_stream_uri_and_profiles(self):
        dev = self.sim.device(0)
        media = "http://%s/onvif/media_service" % dev["ip"]
        profiles = oc.call(media, "<trt:GetProfiles/>", USER, PASSWORD)
        token = oc.find(profiles, "Profiles").get("token")
        uri = oc.call(media, "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport>"
                      "<tt:Protocol>RTSP</tt:Protocol></tt:Transport></trt:StreamSetup><trt:ProfileToken>%s"
                      "</trt:ProfileToken></trt:GetStreamUri>" % token, USER, PASSWORD)
        self.assertEqual(oc.text(uri, "Uri"), "rtsp://%s:8554/live" % dev["ip"])
        self.assertFault("ter:InvalidArgVal", oc.call, media,
                         "<trt:GetStreamUri><trt:ProfileToken>nope</trt:ProfileToken></trt:GetStreamUri>",
                         USER, PASSWORD)
        # The encoder says what the stream carries (H.264 unless --rtsp-codec jpeg).
        vec = oc.find(profiles, "VideoEncoderConfiguration").get("token")
        config = oc.call(media, "<trt:GetVideoEncoderConfiguration><trt:ConfigurationToken>%s</trt:ConfigurationToken>"
                         "</trt:GetVideoEncoderConfiguration>" % vec, USER, PASSWORD)
        self.assertEqual((oc.text(config, "Encoding"), oc.text(config, "Width")), ("H264", "320"))
        self.assertFault("ter:InvalidArgVal", oc.call, media, "<trt:GetVideoEncoderConfiguration>"
                         "<trt:ConfigurationToken/></trt:GetVideoEncoderConfiguration>", USER, PASSWORD)

    # --- faults -----------------------------------------------------------------------
    def test_injected_faults(self):
        url = self.url(6)
        self.sim.post("/devices/6/faults", {"fault_ops": {"GetDeviceInformation": "busy"}})
        err = self.assertFault("ter:Action", self.login_call, 6, "<tds:GetDeviceInformation/>")
        self.assertEqual(err.status, 500)
        self.login_call(6, "<tds:GetUsers/>")  # other operations still work
        self.sim.post("/devices/6/faults", {"fault_ops": {}, "wrong_password": True})
        self.assertFault("ter:NotAuthorized", self.login_call, 6, "<tds:GetUsers/>")
        self.sim.post("/devices/6/faults", {"wrong_password": False, "silent": True})
        started = time.monotonic()
        with self.assertRaises(OSError):  # socket.timeout / URLError: the camera holds and says nothing
            oc.call(url, "<tds:GetSystemDateAndTime/>", timeout=0.5)
        self.assertLess(time.monotonic() - started, 5)
        self.sim.post("/devices/6/faults", {"silent": False, "delay": 0.4})
        started = time.monotonic()
        oc.call(url, "<tds:GetSystemDateAndTime/>")
        self.assertGreaterEqual(time.monotonic() - started, 0.4)
        # A slow device still answers a reboot before it goes down, and comes back.
        uuid = "urn:uuid:" + self.sim.device(6)["uuid"]
        started = time.monotonic()
        self.login_call(6, "<tds:SystemReboot/>")
        self.assertGreaterEqual(time.monotonic() - started, 0.4)
        self.hello.wait_bye(uuid)
        self.hello.wait_hello(uuid)
        self.sim.post("/devices/6/faults", {"delay": 0, "probe_silent": True})
        found = oc.probe(window=1.5, expect=DEVICES - 1)
        self.assertNotIn("urn:uuid:" + self.sim.device(6)["uuid"], found)
        self.sim.post("/devices/6/faults", {"probe_silent": False})
        self.assertEqual(self.sim.device(6)["faults"], {})
        # A bad request changes nothing, not even its good entries.
        for bad in ({"silent": True, "no_such_fault": 1}, {"silent": True, "fault_ops": ["GetUsers"]},
                    {"silent": True, "delay": "slow"}, {"delay": -1}, ["silent"]):
            with self.subTest(bad=bad):
                with self.assertRaises(oc.urllib.error.HTTPError) as ctx:
                    self.sim.post("/devices/6/faults", bad)
                self.assertEqual(ctx.exception.code, 400)
                self.assertEqual(self.sim.device(6)["faults"], {})

    def test_bad_requests_get_faults_not_crashes(self):
        url = self.url(7)
        cases = [
            (b"<s:Envelope", "ter:WellFormed"),
            (b"<notsoap/>", "ter:WellFormed"),
            (oc.envelope("").encode(), "ter:WellFormed"),
            (oc.envelope("<tds:NoSuchThing/>").encode(), "ter:ActionNotSupported"),
        ]
        for raw, subcode in cases:
            with self.subTest(raw=raw[:30]):
                self.assertFault(subcode, oc.call, url, None, raw=raw)
        self.assertEqual(self.sim.device(7)["state"], "online")

    def test_requests_framed_however_they_arrive(self):
        ip = self.sim.device(5)["ip"]
        body = oc.envelope("<tds:GetSystemDateAndTime/>").encode()

        def request(extra=b"", close=False, payload=None):
            payload = body if payload is None else payload
            return (b"POST /onvif/device_service HTTP/1.1\r\nHost: %s\r\n" % ip.encode() + extra +
                    (b"Connection: close\r\n" if close else b"") +
                    (b"" if b"chunked" in extra else b"Content-Length: %d\r\n" % len(payload)) + b"\r\n" + payload)

        whole = request(close=True)
        chunked = request(b"Transfer-Encoding: chunked\r\n", True, b"%x\r\n%s\r\n0\r\n\r\n" % (len(body), body))
        cases = [
            ("in pieces", [whole[:7], whole[7:90], whole[90:-5], whole[-5:]], [b"200"]),
            ("two in one write", [request() + whole], [b"200", b"200"]),
            ("chunked body", [chunked], [b"200"]),
            ("too many headers", [request(b"X-A: b\r\n" * 150, True)], [b"431"]),
        ]
        for name, parts, statuses in cases:
            with self.subTest(name):
                with socket.create_connection((ip, 80), timeout=5) as s:
                    for part in parts:
                        s.sendall(part)
                    answer = b"".join(iter(lambda: s.recv(65536), b""))
                self.assertEqual(re.findall(rb"HTTP/1.1 (\d+) ", answer), statuses)
        # A client that waits for "100 Continue" before its body gets it, then its answer.
        with socket.create_connection((ip, 80), timeout=5) as s:
            head, _, rest = request(b"Expect: 100-continue\r\n", True).partition(b"\r\n\r\n")
            s.sendall(head + b"\r\n\r\n")
            self.assertTrue(s.recv(100).startswith(b"HTTP/1.1 100 Continue\r\n\r\n"))
            s.sendall(rest)
            answer = b"".join(iter(lambda: s.recv(65536), b""))
        self.assertEqual(re.findall(rb"HTTP/1.1 (\d+) ", answer), [b"200"])
        self.assertEqual(self.sim.device(5)["state"], "online")

    # --- restarts ---------------------------------------------------------------------
    def test_reboot_goes_offline_and_says_hello(self):
        dev = self.sim.device(7)
        # A connection kept open across the reboot is dropped, as the camera's TCP stack goes.
        kept = http.client.HTTPConnection(dev["ip"], 80, timeout=5)
        kept.request("POST", "/onvif/device_service", oc.envelope("<tds:GetSystemDateAndTime/>").encode())
        self.assertEqual(kept.getresponse().read()[:5], b"<?xml")
        # Down long enough (2 s) to look at it however busy the machine is.
        self.sim.post("/devices/7/set", {"down_seconds": 20})
        heard = self.sim.get("/status")["probes"]
        self.login_call(7, "<tds:SystemReboot/>")
        self.assertEqual(self.hello.wait_bye("urn:uuid:" + dev["uuid"]), dev["ip"])
        self.assertTrue(oc.refused(dev["ip"], 80))
        self.assertEqual(self.sim.device(7)["state"], "rebooting")
        with self.assertRaises((OSError, http.client.HTTPException)):
            kept.request("POST", "/onvif/device_service", oc.envelope("<tds:GetSystemDateAndTime/>").encode())
            kept.getresponse().read()
        kept.close()
        source, xaddrs = self.hello.wait_hello("urn:uuid:" + dev["uuid"])
        self.assertEqual(source, dev["ip"])
        self.assertEqual(self.sim.device(7)["state"], "online")
        # Its own Bye and Hello came back to the discovery socket, read as messages that are no probe.
        deadline = time.monotonic() + 10
        probes = self.sim.get("/status")["probes"]
        while probes["other_messages"] < heard["other_messages"] + 2 and time.monotonic() < deadline:
            time.sleep(0.02)
            probes = self.sim.get("/status")["probes"]
        self.assertGreaterEqual(probes["other_messages"], heard["other_messages"] + 2, probes)
        self.assertEqual(probes["unparsable"], heard["unparsable"], probes)
        self.assertEqual(self.sim.device(7)["reboots"], dev["reboots"] + 1)
        self.login_call(7, "<tds:GetDeviceInformation/>")
        self.sim.post("/devices/7/set", {"down_seconds": None})

    def test_network_move_and_factory_default(self):
        dev = self.sim.device(5)
        body = ("<tds:SetNetworkInterfaces><tds:InterfaceToken>eth0</tds:InterfaceToken><tds:NetworkInterface>"
                "<tt:Enabled>true</tt:Enabled><tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Manual><tt:Address>%s"
                "</tt:Address><tt:PrefixLength>24</tt:PrefixLength></tt:Manual><tt:DHCP>false</tt:DHCP></tt:IPv4>"
                "</tds:NetworkInterface></tds:SetNetworkInterfaces>")
        for bad in ("192.168.1.11", "239.1.1.1", "300.1.1.1", ""):  # taken, multicast, malformed, empty
            with self.subTest(bad=bad):
                self.assertFault("ter:InvalidArgVal", self.login_call, 5, body % bad)
        self.login_call(5, "<tds:SetNetworkDefaultGateway><tds:IPv4Address>192.168.1.254</tds:IPv4Address>"
                        "</tds:SetNetworkDefaultGateway>")
        reply = self.login_call(5, body % "192.168.1.200")
        self.assertEqual(oc.text(reply, "RebootNeeded"), "false")
        source, xaddrs = self.hello.wait_hello("urn:uuid:" + dev["uuid"])
        self.assertEqual((source, xaddrs), ("192.168.1.200", ["http://192.168.1.200/onvif/device_service"]))
        self.assertTrue(oc.refused(dev["ip"], 80))
        new_url = "http://192.168.1.200/onvif/device_service"
        self.assertEqual(oc.text(oc.call(new_url, "<tds:GetNetworkDefaultGateway/>", USER, PASSWORD),
                                 "IPv4Address"), "192.168.1.254")
        # Soft keeps the address and users; Hard puts both back.
        oc.call(new_url, "<tds:SetUser><tds:User><tt:Username>admin</tt:Username><tt:Password>Other1"
                "</tt:Password><tt:UserLevel>Administrator</tt:UserLevel></tds:User></tds:SetUser>", USER, PASSWORD)
        oc.call(new_url, "<tds:SetSystemFactoryDefault><tds:FactoryDefault>Soft</tds:FactoryDefault>"
                "</tds:SetSystemFactoryDefault>", USER, "Other1")
        self.hello.wait_hello("urn:uuid:" + dev["uuid"])
        state = self.sim.device(5)
        self.assertEqual((state["ip"], state["users"][USER]["password"]), ("192.168.1.200", "Other1"))
        self.assertFault("ter:InvalidArgVal", oc.call, new_url, "<tds:SetSystemFactoryDefault><tds:FactoryDefault>"
                         "Medium</tds:FactoryDefault></tds:SetSystemFactoryDefault>", USER, "Other1")
        oc.call(new_url, "<tds:SetSystemFactoryDefault><tds:FactoryDefault>Hard</tds:FactoryDefault>"
                "</tds:SetSystemFactoryDefault>", USER, "Other1")
        source, _ = self.hello.wait_hello("urn:uuid:" + dev["uuid"])
        state = self.sim.device(5)
        self.assertEqual((source, state["ip"], state["gateway"], state["users"][USER]["password"]),
                         (dev["ip"], dev["ip"], dev["gateway"], PASSWORD))

    def test_firmware_upload(self):
        dev = self.sim.device(3)
        start = "<tds:StartFirmwareUpgrade/>"
        cases = [
            (oc.firmware_package("KP-LPR-V1", "1.9.0.0"), 415),  # another model's package
            (oc.firmware_package("KP-LPR-V3", "3.3.0.0", damaged=True), 400),
            (b"not a package at all", 415),
        ]
        for data, status in cases:
            with self.subTest(status=status, head=data[:12]):
                uri = oc.text(self.login_call(3, start), "UploadUri")
                got, _, _ = oc.post(uri, data, {"Content-Type": "application/octet-stream"})
                self.assertEqual(got, status)
                self.assertEqual(self.sim.device(3)["state"], "online")
        # A token is good for one upload only; an unknown one is refused.
        self.assertEqual(oc.post("http://%s/firmware/upload/feed" % dev["ip"], b"x")[0], 404)
        uri = oc.text(self.login_call(3, start), "UploadUri")
        self.assertEqual(oc.post(uri, oc.firmware_package("KP-LPR-V3", "3.3.0.0"))[0], 200)
        self.hello.wait_hello("urn:uuid:" + dev["uuid"])
        self.assertEqual(oc.text(self.login_call(3, "<tds:GetDeviceInformation/>"), "FirmwareVersion"), "3.3.0.0")
        self.assertEqual(oc.post(uri, oc.firmware_package("KP-LPR-V3", "3.3.0.1"))[0], 404)
        # A slow link: the upload takes as long as its size at that rate, then installs as before.
        self.sim.post("/devices/3/faults", {"upload_rate": 20000})
        uri = oc.text(self.login_call(3, start), "UploadUri")
        package = oc.firmware_package("KP-LPR-V3", "3.3.0.2")
        began = time.monotonic()
        self.assertEqual(oc.post(uri, package, timeout=10)[0], 200)
        self.assertGreaterEqual(time.monotonic() - began, len(package) / 20000 * 0.9)
        self.sim.post("/devices/3/faults", {"upload_rate": 0})
        self.hello.wait_hello("urn:uuid:" + dev["uuid"])
        self.assertEqual(self.sim.device(3)["firmware"], "3.3.0.2")

    def test_upgrade_system_firmware_mtom(self):
        dev = self.sim.device(4)
        package = oc.firmware_package("KP-LPR-V3", "3.4.0.0")
        boundary = "MIMEBoundary"
        soap = oc.envelope('<tds:UpgradeSystemFirmware><tds:Firmware><xop:Include '
                           'xmlns:xop="http://www.w3.org/2004/08/xop/include" href="cid:fw@sim"/></tds:Firmware>'
                           '</tds:UpgradeSystemFirmware>', oc.username_token(USER, PASSWORD)).encode()
        body = (b"--" + boundary.encode() + b"\r\nContent-Type: application/xop+xml\r\nContent-ID: <root>\r\n\r\n"
                + soap + b"\r\n--" + boundary.encode() + b"\r\nContent-Type: application/octet-stream\r\n"
                b"Content-ID: <fw@sim>\r\n\r\n" + package + b"\r\n--" + boundary.encode() + b"--\r\n")
        ctype = 'multipart/related; type="application/xop+xml"; boundary="%s"; start="<root>"' % boundary
        status, _, _ = oc.post(self.url(4), body, {"Content-Type": ctype})
        self.assertEqual(status, 200)
        self.hello.wait_hello("urn:uuid:" + dev["uuid"])
        self.assertEqual(self.sim.device(4)["firmware"], "3.4.0.0")
        # Inline base64 of a damaged package: refused, version kept.
        damaged = base64.b64encode(oc.firmware_package("KP-LPR-V3", "3.5.0.0", damaged=True)).decode()
        self.assertFault("ter:InvalidArgVal", self.login_call, 4,
                         "<tds:UpgradeSystemFirmware><tds:Firmware>%s</tds:Firmware></tds:UpgradeSystemFirmware>"
                         % damaged)
        self.assertEqual(self.sim.device(4)["firmware"], "3.4.0.0")

    def test_power_off_and_open_connections(self):
        dev = self.sim.device(2)
        held = socket.create_connection((dev["ip"], 80), timeout=5)
        self.sim.wait_for(lambda ds: ds[2]["open_connections"] >= 1, what="an open connection")
        held.close()
        self.sim.wait_for(lambda ds: ds[2]["open_connections"] == 0, what="the connection to close")
        self.sim.post("/devices/2/power", {"on": False})
        self.sim.wait_for(lambda ds: ds[2]["state"] == "offline", what="power off")
        self.assertTrue(oc.refused(dev["ip"], 80))
        self.sim.post("/devices/2/power", {"on": True})
        self.hello.wait_hello("urn:uuid:" + dev["uuid"])
        oc.call(self.url(2), "<tds:GetSystemDateAndTime/>")


class MixedModelsTest(unittest.TestCase):
    def test_models_in_turn_take_their_own_packages(self):
        with oc.Simulator("--devices", "4", "--first-ip", "192.168.1.100", "--port", "80", "--model",
                          "KP-LPR-V3,KP-FACE-F2", "--firmware", "3.2.1.15,2.1.0.0", "--upgrade-seconds", "1",
                          env={"KP_TIME_SCALE": "0.1"}) as sim:
            models = [(d["model"], d["firmware"]) for d in sim.get("/devices")]
            self.assertEqual(models, [("KP-LPR-V3", "3.2.1.15"), ("KP-FACE-F2", "2.1.0.0")] * 2)
            package = oc.firmware_package("KP-FACE-F2", "2.1.1.0")
            for i, status in ((0, 415), (1, 200)):
                with self.subTest(device=i):
                    url = oc.device_url(sim.device(i))
                    uri = oc.text(oc.call(url, "<tds:StartFirmwareUpgrade/>", USER, PASSWORD), "UploadUri")
                    self.assertEqual(oc.post(uri, package)[0], status)
            sim.wait_for(lambda ds: ds[1]["firmware"] == "2.1.1.0" and ds[1]["state"] == "online",
                         what="the face camera's upgrade")
            self.assertEqual(sim.device(0)["firmware"], "3.2.1.15")


class WithSimTest(unittest.TestCase):
    def test_command_sees_the_devices_and_its_code_passes_through(self):
        check = ("import os, sys, urllib.request; d = os.environ['KP_ONVIF_SIM_DEVICES'].split(','); "
                 "s = urllib.request.urlopen(os.environ['KP_ONVIF_SIM_CONTROL'] + '/status', timeout=5).read(); "
                 "sys.exit(3 if d == ['192.168.1.150:8080', '192.168.1.151:8080'] and b'\"online\": 2' in s else 1)")
        rc = subprocess.call([sys.executable, os.path.join(oc.HERE, "with_sim.py"), "--devices", "2", "--first-ip",
                              "192.168.1.150", "--", sys.executable, "-c", check], timeout=60)
        self.assertEqual(rc, 3)


if __name__ == "__main__":
    oc.require_namespace()
    unittest.main(verbosity=2)
