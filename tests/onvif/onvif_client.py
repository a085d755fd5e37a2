"""A small ONVIF client for the tests: starting the simulator, SOAP calls, WS-Discovery probes.

Every call has a time-out; nothing here waits for ever.
"""
import base64
import datetime
import hashlib
import json
import os
import re
import secrets
import select
import socket
import struct
import subprocess
import sys
import time
import urllib.error
import urllib.request
import uuid
from xml.etree import ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
SIM = os.path.join(HERE, "onvif_sim.py")
SOAP_NS = "http://www.w3.org/2003/05/soap-envelope"
TDS = "http://www.onvif.org/ver10/device/wsdl"
TRT = "http://www.onvif.org/ver10/media/wsdl"
TT = "http://www.onvif.org/ver10/schema"
WSD_GROUP, WSD_PORT = "239.255.255.250", 3702
STRCMP0 = "http://schemas.xmlsoap.org/ws/2005/04/discovery/strcmp0"


def local(tag):
    return tag.rsplit("}", 1)[-1]


def find(elem, name):
    """First descendant with this local name, or None."""
    for e in elem.iter():
        if local(e.tag) == name:
            return e
    return None


def text(elem, name, default=None):
    e = find(elem, name)
    return e.text if e is not None and e.text is not None else default


class Simulator:
    """The simulator as a child process; its standard input is our pipe, so it ends with us."""

    def __init__(self, *args, env=None, timeout=60):
        full_env = dict(os.environ)
        # The simulator runs none of our code: a sanitizer's runtime preloaded into the test's own
        # interpreter would only judge the simulator's libraries (and stop it on their locking).
        full_env.pop("LD_PRELOAD", None)
        full_env.update(env or {})
        self.proc = subprocess.Popen([sys.executable, SIM, "--exit-on-eof", *args], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, env=full_env)
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        line = self.proc.stdout.readline() if ready else b""
        if not line:
            self.close()
            raise RuntimeError("the simulator did not start")
        self.info = json.loads(line)
        self.control = "http://127.0.0.1:%d" % self.info["control"]

    def get(self, path):
        with urllib.request.urlopen(self.control + path, timeout=10) as r:
            return json.loads(r.read())

    def post(self, path, body=None):
        req = urllib.request.Request(self.control + path, data=json.dumps(body or {}).encode(),
                                     headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(req, timeout=10) as r:
            return json.loads(r.read())

    def device(self, i):
        return self.get("/devices/%d" % i)

    def wait_for(self, predicate, timeout=30, what="condition"):
        """Polls the control port until predicate(state of all devices) holds."""
        deadline = time.monotonic() + timeout
        while True:
            devices = self.get("/devices")
            if predicate(devices):
                return devices
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for " + what)
            time.sleep(0.02)

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()
                self.proc.wait(timeout=10)
            except (subprocess.TimeoutExpired, OSError):
                self.proc.kill()
                self.proc.wait(timeout=10)
        self.proc.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class SoapError(Exception):
    def __init__(self, status, subcode, body):
        super().__init__("HTTP %s %s" % (status, subcode))
        self.status, self.subcode, self.body = status, subcode, body


def username_token(user, password, offset=0.0, kind="digest"):
    created = datetime.datetime.fromtimestamp(time.time() + offset, datetime.timezone.utc)
    created = created.strftime("%Y-%m-%dT%H:%M:%SZ")
    nonce = secrets.token_bytes(16)
    if kind == "digest":
        pw = base64.b64encode(hashlib.sha1(nonce + created.encode() + password.encode()).digest()).decode()
        pw_type = "PasswordDigest"
    else:
        pw, pw_type = password, "PasswordText"
    return ('<s:Header><wsse:Security xmlns:wsse="http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-'
            'wssecurity-secext-1.0.xsd" xmlns:wsu="http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-'
            'wssecurity-utility-1.0.xsd"><wsse:UsernameToken><wsse:Username>%s</wsse:Username><wsse:Password '
            'Type="http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0#%s">%s'
            '</wsse:Password><wsse:Nonce>%s</wsse:Nonce><wsu:Created>%s</wsu:Created></wsse:UsernameToken>'
            '</wsse:Security></s:Header>') % (user, pw_type, pw, base64.b64encode(nonce).decode(), created)


def envelope(body, header=""):
    return ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope xmlns:s="%s" xmlns:tds="%s" xmlns:trt="%s" '
            'xmlns:tt="%s">%s<s:Body>%s</s:Body></s:Envelope>') % (SOAP_NS, TDS, TRT, TT, header, body)


def post(url, data, headers=None, timeout=5.0):
    """(status, headers, body) of a POST; HTTP errors are answers too."""
    req = urllib.request.Request(url, data=data, headers=headers or {}, method="POST")
    try:
        with urllib.request.urlopen(req, timeout=timeout) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read()


def call(url, body, user=None, password=None, offset=0.0, kind="digest", timeout=5.0, raw=None):
    """Root element of a SOAP answer; a fault or an HTTP error raises SoapError."""
    header = username_token(user, password, offset, kind) if user is not None else ""
    data = raw if raw is not None else envelope(body, header).encode()
    status, _, reply = post(url, data, {"Content-Type": "application/soap+xml; charset=utf-8"}, timeout)
    root = None
    try:
        root = ET.fromstring(reply)
    except ET.ParseError:
        pass
    fault = find(root, "Fault") if root is not None else None
    if status != 200 or fault is not None:
        sub = None
        if fault is not None:
            values = [e.text for e in fault.iter() if local(e.tag) == "Value"]
            sub = values[1] if len(values) > 1 else None
        raise SoapError(status, sub, reply)
    return root


def device_clock(url, timeout=5.0):
    """Device UTC time (seconds since the epoch) from GetSystemDateAndTime, without login."""
    root = call(url, "<tds:GetSystemDateAndTime/>", timeout=timeout)
    utc = find(root, "UTCDateTime")
    fields = [int(text(utc, n)) for n in ("Year", "Month", "Day", "Hour", "Minute", "Second")]
    return datetime.datetime(*fields, tzinfo=datetime.timezone.utc).timestamp()


def device_url(dev):
    return "http://%s:%d/onvif/device_service" % (dev["ip"], dev["port"])


def probe_message(types="dn:NetworkVideoTransmitter", message_id=None):
    types_xml = "<d:Types>%s</d:Types>" % types if types else ""
    return ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope xmlns:s="%s" '
            'xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
            'xmlns:d="http://schemas.xmlsoap.org/ws/2005/04/discovery" '
            'xmlns:dn="http://www.onvif.org/ver10/network/wsdl"><s:Header>'
            '<a:MessageID>%s</a:MessageID><a:To>urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To>'
            '<a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action></s:Header>'
            '<s:Body><d:Probe>%s</d:Probe></s:Body></s:Envelope>') % (
                SOAP_NS, message_id or "urn:uuid:%s" % uuid.uuid4(), types_xml)


def parse_match(data):
    """(kind, endpoint address, xaddrs, relates to) of a ProbeMatch or Hello, or None."""
    try:
        root = ET.fromstring(data)
    except ET.ParseError:
        return None
    for kind in ("ProbeMatch", "Hello", "Bye"):
        m = find(root, kind)
        if m is not None:
            return kind, text(m, "Address"), (text(m, "XAddrs") or "").split(), text(root, "RelatesTo")
    return None


def probe(window=2.0, repeats=1, types="dn:NetworkVideoTransmitter", expect=None, payload=None, rcvbuf=8 << 20,
          target=WSD_GROUP):
    """Endpoints that answered: {address: (xaddrs, source ip)}. Sends `repeats` probes spread over
    the window and stops early once `expect` endpoints answered."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    # Hundreds of cameras answer one probe at the same instant: a small buffer drops most of them.
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    s.bind(("127.0.0.1", 0))
    found = {}
    message_id = "urn:uuid:%s" % uuid.uuid4()
    data = payload if payload is not None else probe_message(types, message_id).encode()
    start = time.monotonic()
    sent = 0
    try:
        while True:
            now = time.monotonic() - start
            if sent < repeats and now >= sent * window / max(repeats, 1):
                s.sendto(data, (target, WSD_PORT))
                sent += 1
            if now >= window or (expect is not None and len(found) >= expect):
                break
            ready, _, _ = select.select([s], [], [], min(0.05, window - now))
            if not ready:
                continue
            reply, peer = s.recvfrom(65536)
            m = parse_match(reply)
            if m and m[0] == "ProbeMatch" and (payload is not None or m[3] == message_id):
                found.setdefault(m[1], (m[2], peer[0]))
    finally:
        s.close()
    return found


class HelloListener:
    """Hello and Bye messages from the multicast group, until closed."""

    def __init__(self):
        self.s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.s.bind((WSD_GROUP, WSD_PORT))
        mreq = struct.pack("4s4s", socket.inet_aton(WSD_GROUP), socket.inet_aton("127.0.0.1"))
        self.s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)

    def wait_hello(self, address, timeout=20.0):
        """Source ip and xaddrs of the next Hello from this endpoint."""
        return self._wait("Hello", address, timeout)

    def wait_bye(self, address, timeout=20.0):
        """Source ip of the next Bye from this endpoint."""
        return self._wait("Bye", address, timeout)[0]

    def _wait(self, kind, address, timeout):
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no %s from %s" % (kind, address))
            ready, _, _ = select.select([self.s], [], [], left)
            if not ready:
                continue
            data, peer = self.s.recvfrom(65536)
            m = parse_match(data)
            if m and m[0] == kind and m[1] == address:
                return peer[0], m[2]

    def close(self):
        self.s.close()


def in_test_namespace():
    return [n for _, n in socket.if_nameindex()] == ["lo"]


def require_namespace():
    """Tests touching multicast run only inside netns_run.sh's namespace: skip (77) elsewhere."""
    if not in_test_namespace():
        print("SKIP: not inside a test network namespace (run through netns_run.sh)", file=sys.stderr)
        sys.exit(77)


def firmware_package(family, version, damaged=False):
    sys.path.insert(0, os.path.join(HERE, "..", "..", "third_part", "RuDAVADO", "tools"))
    import make_firmware
    return make_firmware.package(family, version, damaged, image_size=4096)


def wait_until(predicate, timeout=20.0, what="condition"):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def refused(ip, port, timeout=1.0):
    try:
        socket.create_connection((ip, port), timeout=timeout).close()
    except OSError:
        return True
    return False


def uuid_of(endpoint):
    return re.sub("^urn:uuid:", "", endpoint or "")
