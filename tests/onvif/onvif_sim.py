#!/usr/bin/python3
"""Simulated ONVIF cameras for the tests: many devices in one process.

    onvif_sim.py --devices 20 --first-ip 127.0.0.10 --port 80 [--rtsp-port 8554] ...

Each device listens for HTTP on its own address and port (device and media services), answers
WS-Discovery probes on 239.255.255.250:3702 and announces itself with Hello when it starts or
comes back. A small HTTP/JSON control port lets tests read state and inject faults. See README.md.

Standard library only: it runs on Debian's /usr/bin/python3 without extra packages.
"""
import argparse
import base64
import calendar
import hashlib
import heapq
import io
import ipaddress
import itertools
import json
import os
import queue
import re
import resource
import secrets
import select
import selectors
import socket
import struct
import subprocess
import sys
import threading
import time
import traceback
import uuid
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote
from xml.etree import ElementTree as ET

NS = {
    "s": "http://www.w3.org/2003/05/soap-envelope",
    "tds": "http://www.onvif.org/ver10/device/wsdl",
    "trt": "http://www.onvif.org/ver10/media/wsdl",
    "tt": "http://www.onvif.org/ver10/schema",
    "ter": "http://www.onvif.org/ver10/error",
    "wsse": "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd",
    "wsu": "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd",
    "a": "http://schemas.xmlsoap.org/ws/2004/08/addressing",
    "d": "http://schemas.xmlsoap.org/ws/2005/04/discovery",
    "dn": "http://www.onvif.org/ver10/network/wsdl",
    "xop": "http://www.w3.org/2004/08/xop/include",
}
PASSWORD_DIGEST = ("http://docs.oasis-open.org/wss/2004/01/"
                   "oasis-200401-wss-username-token-profile-1.0#PasswordDigest")
WSD_GROUP = "239.255.255.250"
WSD_PORT = 3702
PROBE_ACTION = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe"
ANONYMOUS = "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"

ENVELOPE_HEAD = (
    '<?xml version="1.0" encoding="UTF-8"?>'
    '<s:Envelope xmlns:s="{s}" xmlns:tds="{tds}" xmlns:trt="{trt}" xmlns:tt="{tt}" '
    'xmlns:ter="{ter}" xmlns:a="{a}" xmlns:d="{d}" xmlns:dn="{dn}">').format(**NS)
OWN_ANNOUNCEMENT_HEAD = (ENVELOPE_HEAD + "<s:Header><a:MessageID>").encode()
# What follows that head in a Hello or Bye of ours (see Simulator._announce), to the action.
OWN_ANNOUNCEMENT = re.compile(rb"urn:uuid:[0-9a-f-]{36}</a:MessageID><a:To>urn:schemas-xmlsoap-org:ws:2005:04:"
                              rb"discovery</a:To><a:Action>http://schemas\.xmlsoap\.org/ws/2005/04/discovery/"
                              rb"(?:Hello|Bye)</a:Action>")


def time_scale():
    try:
        value = float(os.environ.get("KP_TIME_SCALE", "1"))
    except ValueError:
        return 1.0
    return value if value > 0 else 1.0


def xml_text(value):
    return (str(value).replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


def local(tag):
    return tag.rsplit("}", 1)[-1]


def child(elem, name):
    """First child with this local name, whatever its namespace prefix (clients differ)."""
    if elem is None:
        return None
    for c in elem:
        if local(c.tag) == name:
            return c
    return None


def find_path(elem, *names):
    for name in names:
        elem = child(elem, name)
    return elem


def text_of(elem, *names, default=None):
    elem = find_path(elem, *names)
    if elem is None:
        return default
    # Present but empty is a value of its own: an empty password must not read as "unchanged".
    return (elem.text or "").strip()


def parse_firmware_header(data):
    """(family, version, image_intact) of a package, or None when it is not one of ours."""
    if len(data) < 64 or data[:4] != b"KPFW":
        return None
    fmt, size = struct.unpack_from("<HH", data, 4)
    if fmt != 1 or size != 64:
        return None
    if zlib.crc32(data[:56]) != struct.unpack_from("<I", data, 56)[0]:
        return None

    def padded(raw):
        text = raw.split(b"\0", 1)[0]
        if not text or len(text) == len(raw) or raw[len(text):].strip(b"\0"):
            return None
        if any(b < 0x21 or b > 0x7E for b in text):
            return None
        return text.decode("ascii")

    family, version = padded(data[8:32]), padded(data[32:48])
    if family is None or version is None:
        return None
    image_size, image_crc = struct.unpack_from("<II", data, 48)
    intact = len(data) - 64 == image_size and zlib.crc32(data[64:]) == image_crc
    return family, version, intact


class SoapFault(Exception):
    def __init__(self, code, subcode, reason, http_status=400, subsubcode=None):
        super().__init__(reason)
        self.code, self.subcode, self.reason = code, subcode, reason
        self.http_status, self.subsubcode = http_status, subsubcode


def not_authorized():
    return SoapFault("s:Sender", "ter:NotAuthorized", "Sender not Authorized", 400)


class Device:
    """One camera: its settings, its state and its faults. Guarded by the simulator's lock."""

    def __init__(self, sim, index, ip, port, args):
        self.sim, self.index = sim, index
        # Two simulators side by side need --serial-offset to keep their endpoints apart.
        number = index + args.serial_offset
        self.serial_high = 0x4B500000 + number
        self.serial_low = 0x20260000 + number * 7919 % 0xFFFF
        self.uuid = "%08x-0000-4000-8000-0000%08x" % (self.serial_high, self.serial_low)
        self.factory = dict(
            ip=ip, port=port, prefix=24, gateway=args.gateway or self._default_gateway(ip),
            dhcp=False, users={args.user: {"password": args.password, "level": "Administrator"}},
            hostname="camera-%03d" % index, tz="CST-8")
        self.manufacturer = args.manufacturer
        models = args.model.split(",")
        firmwares = args.firmware.split(",")
        self.model = models[index % len(models)]
        self.firmware = firmwares[index % len(models) % len(firmwares)]
        self.hardware_id = "HW-%s-%02d" % (self.model, index % 4)
        self.mac = "02:4b:50:%02x:%02x:%02x" % ((index >> 16) & 0xFF, (index >> 8) & 0xFF, index & 0xFF)
        self.clock_offset = 0.0
        self.dst = False
        self.faults = {}
        self.state = "offline"
        self.pending_network = None
        self.uploads = {}
        self.requests = {}
        self.cleartext_logins = 0
        self.rejected_logins = 0
        self.open_connections = 0
        self.connections = set()
        self.reboots = 0
        self.hellos = 0
        self.byes = 0
        self.probes_answered = 0
        self.restart_timer = None
        self.down_seconds = None  # set: every restart of this device takes that long
        self.listener = None
        self.digest_nonces = set()
        self._apply_factory(hard=True)

    @staticmethod
    def _default_gateway(ip):
        net = ipaddress.ip_network(ip + "/24", strict=False)
        return str(net.network_address + 1)

    def _apply_factory(self, hard):
        if hard:
            self.ip, self.port = self.factory["ip"], self.factory["port"]
            self.prefix, self.gateway = self.factory["prefix"], self.factory["gateway"]
            self.dhcp = self.factory["dhcp"]
            self.users = {k: dict(v) for k, v in self.factory["users"].items()}
        # The clock runs on: a reset changes settings, not the time.
        self.hostname = self.factory["hostname"]
        self.tz = self.factory["tz"]

    # --- state seen by tests -------------------------------------------------------------
    def describe(self):
        return {
            "index": self.index, "uuid": self.uuid, "state": self.state,
            "ip": self.ip, "port": self.port, "prefix": self.prefix, "gateway": self.gateway,
            "mac": self.mac, "serial": self.serial_text(), "model": self.model, "hostname": self.hostname,
            "firmware": self.firmware, "hardware_id": self.hardware_id,
            "clock": self.now(), "clock_offset": self.clock_offset, "tz": self.tz,
            "users": {k: {"password": v["password"], "level": v["level"]} for k, v in self.users.items()},
            "faults": self.faults, "open_connections": self.open_connections,
            "requests": dict(self.requests), "cleartext_logins": self.cleartext_logins,
            "rejected_logins": self.rejected_logins, "reboots": self.reboots,
            "hellos": self.hellos, "byes": self.byes, "probes_answered": self.probes_answered,
            "uploads": {k: dict(v) for k, v in self.uploads.items()},
        }

    def serial_text(self):
        return "%08x-%08x" % (self.serial_high, self.serial_low)

    def now(self):
        return time.time() + self.clock_offset

    def xaddr(self):
        host = self.ip if self.port == 80 else "%s:%d" % (self.ip, self.port)
        return "http://%s/onvif/device_service" % host

    def service_url(self, service):
        host = self.ip if self.port == 80 else "%s:%d" % (self.ip, self.port)
        return "http://%s/onvif/%s" % (host, service)

    def scopes(self):
        return ["onvif://www.onvif.org/type/video_encoder", "onvif://www.onvif.org/type/Network_Video_Transmitter",
                "onvif://www.onvif.org/Profile/Streaming", "onvif://www.onvif.org/hardware/" + self.model,
                "onvif://www.onvif.org/name/" + self.model, "onvif://www.onvif.org/location/lab"]


MAX_HEAD = 256 << 10  # request line and headers; beyond it the request is refused
# The kernel's receive time of a connection's data (SO_TIMESTAMP, and SCM_TIMESTAMP in the
# ancillary data, as struct timeval); Python names neither.
SO_TIMESTAMP = 29
TIMEVAL = struct.Struct("@ll")


class LoopTimer:
    __slots__ = ("fn", "cancelled")

    def __init__(self, fn):
        self.fn, self.cancelled = fn, False

    def cancel(self):
        self.cancelled = True


class Connection:
    """A device's HTTP connection as the loop thread serves it."""
    __slots__ = ("sock", "peer", "device", "inbuf", "outbuf", "busy", "closing", "closed", "continued",
                 "last_active", "events", "arrived")

    def __init__(self, sock, peer, device):
        self.sock, self.peer, self.device = sock, peer, device
        self.inbuf = bytearray()
        self.outbuf = bytearray()
        self.busy = False  # a request is being answered (waiting out a delay, or held silent)
        self.closing = False  # closed once the output is out
        self.closed = False
        self.continued = False  # "100 Continue" sent for the request in the buffer
        self.last_active = time.monotonic()
        self.events = selectors.EVENT_READ
        self.arrived = 0.0  # monotonic time the last data came in, by the kernel's clock


def frame_request(buf):
    """Where the first request in buf ends: ("complete", end, head), ("incomplete", None, head or
    None), ("too_long", None, None), or ("upload", None, head) for a firmware upload. Only the
    framing is read here; the request itself is parsed and judged by DeviceHandler."""
    pos, lines = 0, 0
    head_end = None
    while True:
        nl = buf.find(b"\n", pos)
        if nl < 0:
            return ("too_long", None, None) if len(buf) > MAX_HEAD else ("incomplete", None, None)
        line = bytes(buf[pos:nl + 1])
        pos = nl + 1
        lines += 1
        if lines == 1:
            request_line = line
            if line in (b"\r\n", b"\n"):
                return "complete", pos, None  # a bare line: the handler refuses it
            continue
        if line in (b"\r\n", b"\n"):
            head_end = pos
            break
        if pos > MAX_HEAD or lines > DeviceHandler.MAX_HEADERS + 1:
            # Past what the handler reads: it refuses the request from what is here.
            return "complete", pos, None
    words = request_line.split()
    path = words[1].decode("iso-8859-1") if len(words) > 1 else ""
    head = {"expect": False, "length": None, "chunked": False}
    version = words[2] if len(words) > 2 else b""
    for raw in bytes(buf[:head_end]).split(b"\n")[1:]:
        name, _, value = raw.partition(b":")
        name = name.strip().lower()
        value = value.strip()
        if name == b"content-length":
            head["length"] = value
        elif name == b"transfer-encoding":
            head["chunked"] = value.lower() == b"chunked"
        elif name == b"expect":
            head["expect"] = value.lower() == b"100-continue" and version == b"HTTP/1.1"
    if path.startswith("/firmware/"):
        return "upload", None, head
    if head["chunked"]:
        end = chunked_end(buf, head_end)
        return ("complete", end, head) if end is not None else ("incomplete", None, head)
    try:
        length = int(head["length"]) if head["length"] is not None else 0
    except ValueError:
        length = -1
    if length < 0 or length > DeviceHandler.MAX_BODY:
        return "complete", head_end, head  # the handler answers 400
    if len(buf) < head_end + length:
        return "incomplete", None, head
    return "complete", head_end + length, head


def chunked_end(buf, pos):
    """End of a chunked body starting at pos, or None while it is incomplete (a malformed size
    ends it there, for the handler to refuse)."""
    total = 0
    while True:
        nl = buf.find(b"\n", pos)
        if nl < 0:
            return None
        try:
            size = int(bytes(buf[pos:nl]).split(b";")[0].strip() or b"0", 16)
        except ValueError:
            return nl + 1
        pos = nl + 1
        if size == 0:
            nl = buf.find(b"\n", pos)  # the line closing the body
            return nl + 1 if nl >= 0 else None
        total += size
        if total > DeviceHandler.MAX_BODY:
            return pos
        pos += size
        nl = buf.find(b"\n", pos)
        if nl < 0 or len(buf) < pos:
            return None
        pos = nl + 1


class Simulator:
    def __init__(self, args):
        self.args = args
        self.lock = threading.RLock()
        self.scale = time_scale()
        self.selector = selectors.DefaultSelector()
        self.wake_r, self.wake_w = socket.socketpair()
        self.selector.register(self.wake_r, selectors.EVENT_READ, ("wake", None))
        self.pending = []  # (callable) run on the loop thread
        self.timers = []  # heap of (when, sequence, LoopTimer), loop thread only
        self.timer_seq = itertools.count()
        self.connections = set()  # Connection served by the loop thread
        self.work = queue.SimpleQueue()  # firmware uploads for the workers
        self.idle_workers = 0
        self.stopping = threading.Event()
        self.devices = []
        first = ipaddress.ip_address(args.first_ip)
        for i in range(args.devices):
            ip = str(first + i) if not args.same_ip else str(first)
            port = args.port + (i if args.same_ip else 0)
            self.devices.append(Device(self, i, ip, port, args))
        self.discovery = None
        self.discovery_reason = None
        self.rtsp = None
        self.rtsp_reason = "not started (--rtsp)"
        # What reached the discovery socket, for tests of other implementations' probes.
        self.probes = {"matched": 0, "other_types": 0, "other_messages": 0, "unparsable": 0}
        self.control = None

    # --- the loop thread: every device's listener and HTTP connection, and the timers ------
    # One thread serves every connection: a batch asks hundreds of devices at once, and a
    # thread per connection spends most of its time handing the interpreter lock around.
    # Firmware uploads alone get a thread of their own (slow links are simulated by pacing).
    def call_in_loop(self, fn):
        with self.lock:
            self.pending.append(fn)
        try:
            self.wake_w.send(b"x")
        except OSError:
            pass

    def call_later(self, seconds, fn):
        """Loop thread only: fn runs on the loop thread after `seconds`; the handle cancels it."""
        timer = LoopTimer(fn)
        heapq.heappush(self.timers, (time.monotonic() + max(0.0, seconds), next(self.timer_seq), timer))
        return timer

    def run_loop(self):
        next_sweep = time.monotonic() + 1.0
        while not self.stopping.is_set():
            timeout = 1.0
            if self.timers:
                timeout = max(0.0, min(timeout, self.timers[0][0] - time.monotonic()))
            events = self.selector.select(timeout=timeout)
            # Answers that are due go first, and again between the events of a busy pass: a slow
            # device's answer is worked out when its request comes and costs a send here.
            self._run_due_timers()
            for key, mask in events:
                if self.timers and self.timers[0][0] <= time.monotonic():
                    self._run_due_timers()
                kind, obj = key.data
                if kind == "wake":
                    try:
                        self.wake_r.recv(4096)
                    except OSError:
                        pass
                elif kind == "listen":
                    self._accept(key.fileobj, obj)
                elif kind == "conn":
                    if mask & selectors.EVENT_WRITE:
                        self._flush(obj)
                    if mask & selectors.EVENT_READ and not obj.closed:
                        self._readable(obj)
            self._run_due_timers()
            now = time.monotonic()
            with self.lock:
                jobs, self.pending = self.pending, []
            for job in jobs:
                self._run_job(job)
            if now >= next_sweep:
                next_sweep = now + 1.0
                self._close_idle(now)

    def _run_due_timers(self):
        now = time.monotonic()
        while self.timers and self.timers[0][0] <= now:
            timer = heapq.heappop(self.timers)[2]
            if not timer.cancelled:
                self._run_job(timer.fn)

    @staticmethod
    def _run_job(job):
        try:
            job()
        except Exception:
            traceback.print_exc()

    def _accept(self, listener, device):
        # A burst of connections is taken at once, not one per pass of the loop.
        for _ in range(256):
            try:
                sock, peer = listener.accept()
            except OSError:
                return
            sock.setblocking(False)
            # Headers and body go out as two writes when a worker answers: without this a
            # kept-alive connection would wait for the client's delayed acknowledgement (40 ms).
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            try:
                sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMP, 1)
            except OSError:
                pass  # then a slow answer's delay counts from when the loop read the request
            conn = Connection(sock, peer, device)
            with self.lock:
                device.open_connections += 1
                device.connections.add(sock)
            self.connections.add(conn)
            self.selector.register(sock, selectors.EVENT_READ, ("conn", conn))

    def _readable(self, conn):
        try:
            data, ancillary, _, _ = conn.sock.recvmsg(65536, 64)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            data = b""
        if not data:
            self._close(conn)
            return
        conn.inbuf += data
        conn.last_active = now = time.monotonic()
        conn.arrived = now
        for level, kind, value in ancillary:
            if level == socket.SOL_SOCKET and kind == SO_TIMESTAMP and len(value) >= TIMEVAL.size:
                sec, usec = TIMEVAL.unpack_from(value)
                # When it reached the device, however long this loop took to get to it.
                age = time.time() - (sec + usec / 1e6)
                if 0 <= age < 5:
                    conn.arrived = now - age
        if len(conn.inbuf) > DeviceHandler.MAX_BODY + MAX_HEAD:
            self._close(conn)  # pipelined far beyond any request while one is answered
            return
        self._next_request(conn, conn.arrived)

    def _next_request(self, conn, arrived=None):
        """`arrived`: when the data just read came in; a request left waiting behind another
        one arrives, for the device, once that one is answered."""
        while not (conn.busy or conn.closing or conn.closed) and conn.inbuf:
            kind, end, head = frame_request(conn.inbuf)
            if kind == "incomplete":
                if head is not None and head["expect"] and not conn.continued:
                    # The client holds the body back until told to go on.
                    conn.continued = True
                    conn.outbuf += b"HTTP/1.1 100 Continue\r\n\r\n"
                    self._flush(conn)
                return
            if kind == "too_long":
                conn.outbuf += b"HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n\r\n"
                conn.closing = True
                self._flush(conn)
                return
            if kind == "upload":
                self._hand_to_worker(conn)
                return
            request = bytes(conn.inbuf[:end])
            del conn.inbuf[:end]
            conn.continued = False
            self._start_request(conn, request, arrived if arrived is not None else time.monotonic())
            arrived = None

    def _start_request(self, conn, request, arrived):
        """Silence and slow answers before the request is looked at; a device that is going
        down answers nothing more."""
        with self.lock:
            online = conn.device.state == "online"
            faults = dict(conn.device.faults)
        if not online:
            self._close(conn)
            return
        conn.busy = True
        if faults.get("silent"):
            # Hold the connection and say nothing, as a hung camera does; the client's time-out ends it.
            self._hold_silent(conn, time.monotonic() + 120)
            return
        delay = float(faults.get("delay", 0) or 0)
        if delay > 0:
            # Worked out now and sent when the delay from its arrival is over: hundreds of slow
            # devices due at the same moment then cost this loop a send each, so each answers
            # on time as a camera of its own would.
            answer = self._prepare(conn, request)
            self.call_later(arrived + delay - time.monotonic(), lambda: self._deliver(conn, answer))
        else:
            self._deliver(conn, self._prepare(conn, request), resume=False)  # the caller goes on

    def _hold_silent(self, conn, deadline):
        if conn.closed:
            return
        with self.lock:
            silent = conn.device.faults.get("silent")
        if silent and time.monotonic() < deadline:
            self.call_later(0.05, lambda: self._hold_silent(conn, deadline))
        else:
            self._close(conn)

    @staticmethod
    def _prepare(conn, request):
        """The answer to a request: (bytes, close the connection after it, what the device does
        once it is out)."""
        handler = DeviceHandler.for_request(conn.device, conn.peer, request)
        try:
            handler.handle_one_request()
        except Exception:
            traceback.print_exc()
            handler.close_connection = True
        return handler.wfile.getvalue(), handler.close_connection, getattr(handler, "_after_reply", None)

    def _deliver(self, conn, answer, resume=True):
        data, close, after = answer
        conn.busy = False
        if not conn.closed:
            conn.outbuf += data
            conn.closing = conn.closing or close
            conn.last_active = time.monotonic()
            self._flush(conn)
        # Carried out even when the client has gone meanwhile: a camera does what it read.
        if after is not None:
            self._run_job(after)
        if resume and not conn.closed:
            self._next_request(conn)

    def _flush(self, conn):
        while conn.outbuf and not conn.closed:
            try:
                sent = conn.sock.send(conn.outbuf)
            except (BlockingIOError, InterruptedError):
                break
            except OSError:
                self._close(conn)
                return
            del conn.outbuf[:sent]
        if conn.closed:
            return
        if not conn.outbuf and conn.closing:
            self._close(conn)
            return
        events = selectors.EVENT_READ | (selectors.EVENT_WRITE if conn.outbuf else 0)
        if events != conn.events:
            conn.events = events
            self.selector.modify(conn.sock, events, ("conn", conn))

    def _close(self, conn):
        if conn.closed:
            return
        conn.closed = True
        try:
            self.selector.unregister(conn.sock)
        except (KeyError, ValueError):
            pass
        self.connections.discard(conn)
        with self.lock:
            conn.device.open_connections -= 1
            conn.device.connections.discard(conn.sock)
        try:
            conn.sock.close()
        except OSError:
            pass

    def _close_idle(self, now):
        limit = self.args.idle_timeout
        for conn in [c for c in self.connections if not c.busy and now - c.last_active > limit]:
            self._close(conn)

    def _hand_to_worker(self, conn):
        """A firmware upload: read and answered by a worker thread, from what the loop has read."""
        sock, prefix = conn.sock, bytes(conn.inbuf)
        try:
            self.selector.unregister(sock)
        except (KeyError, ValueError):
            pass
        conn.closed = True
        self.connections.discard(conn)
        with self.lock:
            conn.device.open_connections -= 1
            conn.device.connections.discard(sock)
            spawn = self.idle_workers == 0
            if not spawn:
                self.idle_workers -= 1
        sock.setblocking(True)
        self.work.put((sock, conn.peer, conn.device, prefix))
        if spawn and not self._start_worker():
            sock.close()

    def _start_worker(self):
        try:
            threading.Thread(target=self._worker, daemon=True).start()
            return True
        except RuntimeError:
            return False

    def _worker(self):
        while True:
            conn, peer, device, prefix = self.work.get()
            self._serve_connection(conn, peer, device, prefix)
            with self.lock:
                self.idle_workers += 1

    def _serve_connection(self, conn, peer, device, prefix=b""):
        with self.lock:
            device.open_connections += 1
            device.connections.add(conn)
        try:
            conn.settimeout(self.args.idle_timeout)
            DeviceHandler(conn, peer, device, prefix)
        except Exception:
            pass
        finally:
            with self.lock:
                device.open_connections -= 1
                device.connections.discard(conn)
            try:
                conn.close()
            except OSError:
                pass

    # --- bringing devices up and down ----------------------------------------------------
    def bring_up(self, device):
        """Loop thread only: listen on the device's current address, announce it."""
        if device.listener is not None:
            return
        try:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind((device.ip, device.port))
            s.listen(64)
            s.setblocking(False)
        except OSError as e:
            print("device %d cannot listen on %s:%d: %s" % (device.index, device.ip, device.port, e),
                  file=sys.stderr, flush=True)
            with self.lock:
                device.state = "unreachable"
            return
        device.listener = s
        self.selector.register(s, selectors.EVENT_READ, ("listen", device))
        with self.lock:
            device.state = "online"
        self.send_hello(device)

    def take_down(self, device, state):
        """Loop thread only: stop listening (the address answers nothing) and drop the
        connections a client kept open, as a camera going down does."""
        with self.lock:
            was_online = device.state == "online"
            device.state = state
            open_now = list(device.connections)
        for conn in open_now:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        if device.listener is not None:
            try:
                self.selector.unregister(device.listener)
            except (KeyError, ValueError):
                pass
            device.listener.close()
            device.listener = None
        # A clean restart says goodbye, a power cut does not; once it is heard, the address is
        # already closed.
        if was_online and state != "offline":
            self.send_bye(device)

    def restart(self, device, down_seconds, before_up=None, state="rebooting"):
        """Any thread: the device goes offline now and comes back after down_seconds."""
        with self.lock:
            device.reboots += 1
            if device.restart_timer is not None:
                device.restart_timer.cancel()

        def up():
            with self.lock:
                device.restart_timer = None
                if device.faults.get("power_off"):
                    return
                if before_up is not None:
                    before_up()
            self.bring_up(device)

        def down():
            self.take_down(device, state)
            with self.lock:
                seconds = down_seconds if device.down_seconds is None else device.down_seconds
            timer = self.call_later(seconds * self.scale, up)
            with self.lock:
                device.restart_timer = timer

        self.call_in_loop(down)

    # --- WS-Discovery --------------------------------------------------------------------
    def start_discovery(self):
        if self.args.no_discovery:
            self.discovery_reason = "disabled by --no-discovery"
            return
        names = [name for _, name in socket.if_nameindex()]
        if names != ["lo"] and not self.args.allow_host_multicast_loopback:
            # Multicast only ever inside a namespace of the tests' own: never on real interfaces.
            self.discovery_reason = "interfaces other than lo present (%s): discovery off" % ",".join(names)
            print(self.discovery_reason, file=sys.stderr, flush=True)
            return
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("", WSD_PORT))
        mreq = struct.pack("4s4s", socket.inet_aton(WSD_GROUP), socket.inet_aton("127.0.0.1"))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
        s.setsockopt(socket.IPPROTO_IP, 8, 1)  # IP_PKTINFO: learn which address a probe reached
        s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
        # A batch probes hundreds of addresses at once; the default queue holds about ninety.
        try:
            s.setsockopt(socket.SOL_SOCKET, 33, 8 << 20)  # SO_RCVBUFFORCE
        except OSError:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        s.setblocking(False)
        self.discovery = s
        # Probes on a thread of their own: a burst of them (a batch asks hundreds of addresses
        # at once) must not hold up the connections the same clients open meanwhile.
        threading.Thread(target=self._discovery_loop, daemon=True).start()

    def _discovery_loop(self):
        while not self.stopping.is_set():
            ready, _, _ = select.select([self.discovery], [], [], 1.0)
            if ready:
                self._discovery_packet(self.discovery)

    def _send_from(self, payload, source_ip, dest):
        """Sends a datagram with the device's own address as its source, as a real camera would."""
        pktinfo = struct.pack("I4s4s", 0, socket.inet_aton(source_ip), socket.inet_aton("0.0.0.0"))
        for _ in range(50):
            try:
                self.discovery.sendmsg([payload], [(socket.IPPROTO_IP, 8, pktinfo)], 0, dest)
                return True
            except BlockingIOError:
                time.sleep(0.001)
            except OSError as e:
                print("discovery send from %s failed: %s" % (source_ip, e), file=sys.stderr, flush=True)
                return False
        return False

    def send_hello(self, device):
        self._announce(device, "Hello", lambda: self._match_body(device))

    def send_bye(self, device):
        self._announce(device, "Bye", lambda: '<a:EndpointReference><a:Address>urn:uuid:%s</a:Address>'
                       '</a:EndpointReference>' % device.uuid)

    def _announce(self, device, kind, content):
        """Hello or Bye to the group, from the device's own address."""
        if self.discovery is None:
            return
        with self.lock:
            if device.faults.get("probe_silent"):
                return
            if kind == "Hello":
                device.hellos += 1
            else:
                device.byes += 1
            body = ('<s:Header><a:MessageID>urn:uuid:%s</a:MessageID><a:To>urn:schemas-xmlsoap-org:ws:2005:04:'
                    'discovery</a:To><a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/%s</a:Action>'
                    '<d:AppSequence InstanceId="%d" MessageNumber="1"/></s:Header><s:Body><d:%s>%s</d:%s>'
                    '</s:Body></s:Envelope>') % (uuid.uuid4(), kind, device.reboots + 1, kind, content(), kind)
        self._send_from((ENVELOPE_HEAD + body).encode(), device.ip, (WSD_GROUP, WSD_PORT))

    @staticmethod
    def _match_body(device):
        return ('<a:EndpointReference><a:Address>urn:uuid:%s</a:Address></a:EndpointReference>'
                '<d:Types>dn:NetworkVideoTransmitter tds:Device</d:Types><d:Scopes>%s</d:Scopes>'
                '<d:XAddrs>%s</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion>') % (
                    device.uuid, xml_text(" ".join(device.scopes())), xml_text(device.xaddr()))

    def _discovery_packet(self, sock):
        try:
            data, ancillary, _, peer = sock.recvmsg(65536, 256)
        except OSError:
            return
        # A probe sent straight to one address (not the group) is for the device there only.
        to = None
        for level, kind, value in ancillary:
            if level == socket.IPPROTO_IP and kind == 8 and len(value) >= 12:
                to = socket.inet_ntoa(value[8:12])
        # Our own Hello and Bye come back over multicast loopback: a batch restarting hundreds
        # of devices would otherwise parse each of them while the loop thread waits for the
        # interpreter lock. They count as what parsing them would say.
        if (peer[1] == WSD_PORT and data.startswith(OWN_ANNOUNCEMENT_HEAD)
                and OWN_ANNOUNCEMENT.match(data, len(OWN_ANNOUNCEMENT_HEAD))):
            with self.lock:
                self.probes["other_messages"] += 1
            return
        probe = parse_probe(data)
        with self.lock:
            if probe is None or probe is False:
                kind = "unparsable" if probe is None else "other_messages"
            else:
                kind = "matched" if probe_matches(probe[1]) else "other_types"
            scopes = probe[2] if kind == "matched" else None
            self.probes[kind] += 1
        if kind != "matched":
            return
        message_id = probe[0]
        with self.lock:
            # The address first: a probe sent to one device's address must not cost a look at
            # every other device.
            targets = [d for d in self.devices
                       if (to is None or to == WSD_GROUP or to == d.ip) and d.state == "online"
                       and not d.faults.get("probe_silent") and scopes_match(scopes, d.scopes())]
            for d in targets:
                d.probes_answered += 1
            replies = [(d.ip, self._probe_match(d, message_id)) for d in targets]
        # At once, without the random delay the protocol allows: real cameras answer that way.
        for ip, payload in replies:
            self._send_from(payload, ip, peer)

    def _probe_match(self, device, relates_to):
        body = ('<s:Header><a:MessageID>urn:uuid:%s</a:MessageID><a:RelatesTo>%s</a:RelatesTo>'
                '<a:To>%s</a:To><a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</a:Action>'
                '<d:AppSequence InstanceId="%d" MessageNumber="2"/></s:Header><s:Body><d:ProbeMatches>'
                '<d:ProbeMatch>%s</d:ProbeMatch></d:ProbeMatches></s:Body></s:Envelope>') % (
                    uuid.uuid4(), xml_text(relates_to), ANONYMOUS, device.reboots + 1,
                    self._match_body(device))
        return (ENVELOPE_HEAD + body).encode()

    # --- start and stop ------------------------------------------------------------------
    def start(self):
        # Upload workers only: small stacks keep them cheap.
        threading.stack_size(512 * 1024)
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        want = min(hard, max(soft, 4 * len(self.devices) + 256))
        if want > soft:
            resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))
        self.start_discovery()
        if self.args.rtsp:
            self.start_rtsp()
        for d in self.devices:
            self.bring_up(d)
        self.control = ControlServer(self)
        self.loop_thread = threading.Thread(target=self.run_loop, daemon=True)
        self.loop_thread.start()

    def start_rtsp(self):
        """The stream behind every device's stream URI, in a child that ends with us."""
        inside = [name for _, name in socket.if_nameindex()] == ["lo"]
        # Inside the namespace every device address may carry the stream; outside, loopback only.
        address = "0.0.0.0" if inside else "127.0.0.1"
        if not inside and not self.args.rtsp_host:
            self.args.rtsp_host = "127.0.0.1"
        server = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rtsp_server.py")
        self.rtsp = subprocess.Popen(["/usr/bin/python3", server, "--address", address, "--port",
                                      str(self.args.rtsp_port), "--codec", self.args.rtsp_codec, "--exit-on-eof"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        ready, _, _ = select.select([self.rtsp.stdout], [], [], 30)
        line = self.rtsp.stdout.readline() if ready else b""
        if not line:
            self.rtsp.kill()
            self.rtsp = None
            self.rtsp_reason = "the RTSP server did not start"
            print(self.rtsp_reason, file=sys.stderr, flush=True)
            return
        self.rtsp_reason = None
        self.rtsp_url = json.loads(line)["rtsp"]

    def device_at(self, ip, port):
        with self.lock:
            for d in self.devices:
                if d.ip == ip and d.port == port:
                    return d
        return None


def parse_probe(data):
    """(message id, [(namespace, local name) of each type], (MatchBy, [scope])) of a Probe;
    False for another WS-Discovery message; None for anything unreadable."""
    try:
        root = ET.fromstring(data)
    except ET.ParseError:
        return None
    if local(root.tag) != "Envelope":
        return None
    header, body = child(root, "Header"), child(root, "Body")
    probe = child(body, "Probe")
    if probe is None:
        return False  # Hello, Bye, ProbeMatches of others: well-formed, not for us
    message_id = text_of(header, "MessageID", default="")
    types_elem = child(probe, "Types")
    types = []
    if types_elem is not None and types_elem.text:
        # Prefixes in Types are resolved against the namespaces in scope; ElementTree drops
        # them, so read them back from the raw text.
        prefixes = dict(re.findall(rb'xmlns:([A-Za-z_][\w.-]*)\s*=\s*["\']([^"\']*)["\']', data))
        for qname in types_elem.text.split():
            prefix, _, name = qname.rpartition(":")
            ns = prefixes.get(prefix.encode(), b"").decode() if prefix else ""
            types.append((ns, name))
    scopes_elem = child(probe, "Scopes")
    scopes = ("", [])
    if scopes_elem is not None:
        scopes = (scopes_elem.get("MatchBy", ""), (scopes_elem.text or "").split())
    return message_id, types, scopes


RFC3986 = "http://schemas.xmlsoap.org/ws/2005/04/discovery/rfc3986"
STRCMP0 = "http://schemas.xmlsoap.org/ws/2005/04/discovery/strcmp0"


def scopes_match(scopes, ours):
    """Whether every asked scope names one of ours: by whole path segments (the default), or
    exactly; another matching rule matches nothing."""
    match_by, asked = scopes or ("", [])
    if not asked:
        return True
    if match_by not in ("", RFC3986, STRCMP0):
        return False
    for scope in asked:
        if match_by == STRCMP0:
            hit = scope in ours
        else:
            prefix = scope.rstrip("/").lower()
            hit = any(o.lower() == prefix or o.lower().startswith(prefix + "/") for o in ours)
        if not hit:
            return False
    return True


def probe_matches(types):
    if not types:
        return True  # a Probe without Types asks every service
    ours = {(NS["dn"], "NetworkVideoTransmitter"), (NS["tds"], "Device")}
    for ns, name in types:
        if (ns, name) in ours or (not ns and name in ("NetworkVideoTransmitter", "Device")):
            return True
    return False


class PrefixedReader(io.RawIOBase):
    """Bytes already read from a connection, then the connection itself."""

    def __init__(self, prefix, raw):
        self.prefix, self.raw = memoryview(prefix), raw

    def readable(self):
        return True

    def readinto(self, b):
        if len(self.prefix):
            n = min(len(b), len(self.prefix))
            b[:n] = self.prefix[:n]
            self.prefix = self.prefix[n:]
            return n
        return self.raw.readinto(b)


class RequestHeaders(dict):
    """A request's headers by lower-case name; get() takes any case."""

    def get(self, name, default=None):
        return dict.get(self, name.lower(), default)


class DeviceHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "SimCam/1.0"
    sys_version = ""

    buffered = False  # the request is in memory and its faults were applied by the loop

    def __init__(self, conn, peer, device, prefix=b""):
        self.device = device
        self.sim = device.sim
        self._prefix = prefix
        super().__init__(conn, peer, None)

    def setup(self):
        super().setup()
        if self._prefix:
            # The loop thread read the start of the request already.
            self.rfile = io.BufferedReader(PrefixedReader(self._prefix, socket.SocketIO(self.connection, "rb")))

    @classmethod
    def for_request(cls, device, peer, request):
        """A handler for one whole request read by the loop thread; its answer is in wfile."""
        h = cls.__new__(cls)
        h.device, h.sim = device, device.sim
        h.client_address, h.server, h.request, h.connection = peer, None, None, None
        h.rfile, h.wfile = io.BytesIO(request), io.BytesIO()
        h.close_connection = True
        h.buffered = True
        return h

    def handle_expect_100(self):
        if self.buffered:
            return True  # the loop thread said "100 Continue" when the body was still to come
        return super().handle_expect_100()

    _date = (0, "")

    def date_time_string(self, timestamp=None):
        # One text per second: formatting it anew was a tenth of an answer's time.
        if timestamp is not None:
            return super().date_time_string(timestamp)
        now = int(time.time())
        cached = DeviceHandler._date
        if cached[0] != now:
            cached = DeviceHandler._date = (now, super().date_time_string(now))
        return cached[1]

    def log_message(self, fmt, *args):
        if self.sim.args.verbose:
            sys.stderr.write("[dev %d] %s\n" % (self.device.index, fmt % args))

    MAX_HEADERS = 100

    def parse_request(self):
        """The request line and headers, read without the e-mail parser the standard handler uses:
        that parser is most of a device's time per request when a batch asks hundreds at once."""
        self.command = None
        self.request_version = self.default_request_version
        self.close_connection = True
        self.requestline = str(self.raw_requestline, "iso-8859-1").rstrip("\r\n")
        words = self.requestline.split()
        if len(words) != 3 or words[2] not in ("HTTP/1.0", "HTTP/1.1"):
            self.send_error(400, "Bad request syntax")
            return False
        self.command, self.path, self.request_version = words
        headers = RequestHeaders()
        for _ in range(self.MAX_HEADERS + 1):
            line = self.rfile.readline(65537)
            if len(line) > 65536:
                self.send_error(431, "Header line too long")
                return False
            if line in (b"\r\n", b"\n", b""):
                break
            name, colon, value = line.decode("iso-8859-1").partition(":")
            if not colon or not name.strip():
                self.send_error(400, "Bad header line")
                return False
            headers[name.strip().lower()] = value.strip()
        else:
            self.send_error(431, "Too many headers")
            return False
        self.headers = headers
        connection = headers.get("Connection", "").lower()
        self.close_connection = connection == "close" or (self.request_version == "HTTP/1.0"
                                                          and connection != "keep-alive")
        if headers.get("Expect", "").lower() == "100-continue" and self.request_version == "HTTP/1.1":
            return self.handle_expect_100()
        return True

    def _send(self, status, body, content_type="application/soap+xml; charset=utf-8", extra=None):
        data = body.encode() if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for k, v in (extra or {}).items():
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(data)

    MAX_BODY = 64 << 20

    def _read_body(self, rate=0):
        length = self.headers.get("Content-Length")
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            chunks, total = [], 0
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    self.rfile.readline()
                    break
                total += size
                if total > self.MAX_BODY:
                    raise ValueError("body too large")
                chunks.append(self._read_paced(size, rate))
                self.rfile.readline()
            return b"".join(chunks)
        if length is None:
            return b""
        n = int(length)
        if n < 0 or n > self.MAX_BODY:
            raise ValueError("bad length")
        return self._read_paced(n, rate)

    def _read_paced(self, n, rate):
        """n bytes of the body, no faster than rate bytes/s (a slow link) when rate is set."""
        if not rate:
            return self.rfile.read(n)
        parts, got, start = [], 0, time.monotonic()
        while got < n:
            chunk = self.rfile.read(min(n - got, 16384))
            if not chunk:
                break
            parts.append(chunk)
            got += len(chunk)
            ahead = got / rate - (time.monotonic() - start)
            if ahead > 0:
                time.sleep(ahead)
        return b"".join(parts)

    def _faults(self):
        with self.sim.lock:
            return dict(self.device.faults)

    def _misbehave_first(self, faults):
        """Silence and slow answers, before the request is looked at; a device that is going
        down answers nothing more."""
        if self.buffered:
            return False
        with self.sim.lock:
            if self.device.state != "online":
                self.close_connection = True
                return True
        if faults.get("silent"):
            # Hold the connection and say nothing, as a hung camera does; the client's time-out ends it.
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline and self._faults().get("silent"):
                time.sleep(0.05)
            self.close_connection = True
            return True
        delay = float(faults.get("delay", 0) or 0)
        if delay > 0:
            time.sleep(delay)
        return False

    def do_GET(self):
        faults = self._faults()
        if self._misbehave_first(faults):
            return
        if self.path.startswith("/onvif/"):
            self._send(405, "use POST", "text/plain", {"Allow": "POST"})
        else:
            self._send(404, "not found", "text/plain")

    def do_POST(self):
        faults = self._faults()
        try:
            rate = float(faults.get("upload_rate", 0) or 0) if self.path.startswith("/firmware/") else 0
            body = self._read_body(rate)
        except (ValueError, OSError):
            self._send(400, "bad request", "text/plain")
            self.close_connection = True
            return
        if self._misbehave_first(faults):
            return
        if self.path.startswith("/firmware/"):
            self._firmware_upload(body)
            return
        try:
            op, status, reply, extra = self._soap(body, faults)
        except HttpChallenge as c:
            challenge = 'Digest realm="%s", qop="auth", nonce="%s", algorithm=MD5' % (self.sim.args.realm, c.nonce)
            self._send(401, "unauthorized", "text/plain", {"WWW-Authenticate": challenge})
            return
        except SoapFault as f:
            self._send(f.http_status, fault_envelope(f))
            return
        except Exception:
            traceback.print_exc()
            f = SoapFault("s:Receiver", "ter:Action", "internal error", 500)
            self._send(500, fault_envelope(f))
            return
        self._send(status, reply, extra=extra)
        after = getattr(self, "_after_reply", None)
        if after is not None:
            self.close_connection = True
            if not self.buffered:
                after()  # the loop thread runs it once the answer is out

    # --- SOAP ----------------------------------------------------------------------------
    def _soap(self, raw, faults):
        ctype = self.headers.get("Content-Type", "")
        attachments = {}
        if "multipart/related" in ctype.lower():
            raw, attachments = split_mtom(raw, ctype)
        if not raw.strip():
            # HTTP clients send an empty first request to learn the digest challenge.
            self._authenticate(None, faults)
            raise SoapFault("s:Sender", "ter:WellFormed", "empty request")
        try:
            root = ET.fromstring(raw)
        except ET.ParseError:
            raise SoapFault("s:Sender", "ter:WellFormed", "not well-formed XML")
        if local(root.tag) != "Envelope":
            raise SoapFault("s:Sender", "ter:WellFormed", "not a SOAP envelope")
        header, body = child(root, "Header"), child(root, "Body")
        if body is None or len(body) == 0:
            raise SoapFault("s:Sender", "ter:WellFormed", "empty body")
        request = body[0]
        op = local(request.tag)
        with self.sim.lock:
            self.device.requests[op] = self.device.requests.get(op, 0) + 1
        handler = OPERATIONS.get(op)
        if handler is None:
            raise SoapFault("s:Sender", "ter:ActionNotSupported", "operation %s not supported" % op)
        if op not in ANONYMOUS_OPS:
            self._authenticate(header, faults)
        forced = faults.get("fault_ops", {}).get(op)
        if forced:
            raise SoapFault("s:Receiver", "ter:Action", forced if isinstance(forced, str) else "failed", 500)
        reply = handler(self, request, attachments)
        return op, 200, ENVELOPE_HEAD + "<s:Body>" + reply + "</s:Body></s:Envelope>", None

    def _authenticate(self, header, faults):
        token = find_path(header, "Security", "UsernameToken")
        if token is not None:
            self._check_username_token(token, faults)
            return
        auth = self.headers.get("Authorization", "")
        if auth.lower().startswith("digest "):
            if self._check_http_digest(auth[7:], faults):
                return
        elif auth.lower().startswith("basic "):
            with self.sim.lock:
                self.device.cleartext_logins += 1
        # Neither: ask for HTTP Digest, as cameras do.
        nonce = secrets.token_hex(16)
        with self.sim.lock:
            nonces = self.device.digest_nonces
            if len(nonces) > 1000:
                nonces.clear()
            nonces.add(nonce)
        raise HttpChallenge(nonce)

    def _check_username_token(self, token, faults):
        user = text_of(token, "Username", default="")
        pw_elem = child(token, "Password")
        password = (pw_elem.text or "").strip() if pw_elem is not None else ""
        pw_type = pw_elem.get("Type", "") if pw_elem is not None else ""
        nonce = text_of(token, "Nonce", default="")
        created = text_of(token, "Created", default="")
        with self.sim.lock:
            entry = self.device.users.get(user)
            wrong = faults.get("wrong_password")
            stored = entry["password"] if entry else None
            if pw_type != PASSWORD_DIGEST:  # no Type means PasswordText
                self.device.cleartext_logins += 1
        ok = stored is not None and not wrong
        if ok:
            if pw_type == PASSWORD_DIGEST:
                try:
                    raw_nonce = base64.b64decode(nonce, validate=True)
                except ValueError:
                    raw_nonce = None
                expected = (base64.b64encode(hashlib.sha1(raw_nonce + created.encode() + stored.encode())
                                             .digest()).decode() if raw_nonce is not None else None)
                ok = expected is not None and secrets.compare_digest(expected, password)
            else:
                ok = secrets.compare_digest(stored, password)
        if ok and created and self.sim.args.max_skew > 0:
            when = parse_iso_time(created)
            if when is None or abs(when - self.device.now()) > self.sim.args.max_skew:
                ok = False
        if not ok:
            with self.sim.lock:
                self.device.rejected_logins += 1
            raise not_authorized()

    def _check_http_digest(self, params, faults):
        fields = dict((k, v1 or v2) for k, v1, v2 in re.findall(r'(\w+)=(?:"([^"]*)"|([^,\s]*))', params))
        with self.sim.lock:
            entry = self.device.users.get(fields.get("username", ""))
            known_nonce = fields.get("nonce") in self.device.digest_nonces
        if entry is None or faults.get("wrong_password") or not known_nonce:
            with self.sim.lock:
                self.device.rejected_logins += 1
            return False
        realm = self.sim.args.realm
        ha1 = hashlib.md5(("%s:%s:%s" % (fields["username"], realm, entry["password"])).encode()).hexdigest()
        ha2 = hashlib.md5(("%s:%s" % (self.command, fields.get("uri", ""))).encode()).hexdigest()
        if fields.get("qop"):
            expected = hashlib.md5(("%s:%s:%s:%s:%s:%s" % (ha1, fields["nonce"], fields.get("nc", ""),
                                                           fields.get("cnonce", ""), fields["qop"], ha2))
                                   .encode()).hexdigest()
        else:
            expected = hashlib.md5(("%s:%s:%s" % (ha1, fields["nonce"], ha2)).encode()).hexdigest()
        if secrets.compare_digest(expected, fields.get("response", "")):
            return True
        with self.sim.lock:
            self.device.rejected_logins += 1
        return False

    def _firmware_upload(self, body):
        token = self.path.rsplit("/", 1)[-1]
        d = self.device
        with self.sim.lock:
            upload = d.uploads.get(token)
        if upload is None or upload.get("state") != "waiting":
            self._send(404, "no such upload", "text/plain")
            return
        data = body
        ctype = self.headers.get("Content-Type", "")
        if "multipart/form-data" in ctype.lower():
            data = first_form_part(body, ctype) or b""
        self._take_firmware(data, upload)

    def _take_firmware(self, data, upload):
        d = self.device
        header = parse_firmware_header(data)
        with self.sim.lock:
            upload["bytes"] = len(data)
            if header is None:
                upload["state"] = "refused: not a firmware package"
            elif header[0] != d.model:
                upload["state"] = "refused: package for %s" % header[0]
            elif not header[2]:
                upload["state"] = "refused: damaged image"
            else:
                upload["state"] = "accepted"
                upload["version"] = header[1]
            state = upload["state"]
        if state != "accepted":
            self._send(415 if "package" in state else 400, state, "text/plain")
            return
        self._send(200, "OK", "text/plain")
        self.close_connection = True
        version = header[1]

        def install():
            d.firmware = version
            upload["state"] = "installed"

        self.sim.restart(d, self.sim.args.upgrade_seconds, before_up=install, state="upgrading")


class HttpChallenge(Exception):
    def __init__(self, nonce):
        super().__init__("401")
        self.nonce = nonce


def parse_iso_time(text):
    m = re.match(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.\d+)?(Z|[+-]\d\d:?\d\d)?$", text.strip())
    if not m:
        return None
    y, mo, d, h, mi, s = (int(x) for x in m.groups()[:6])
    try:
        t = calendar.timegm((y, mo, d, h, mi, s, 0, 0, 0))
    except (ValueError, OverflowError):
        return None
    tz = m.group(7)
    if tz and tz != "Z":
        sign = 1 if tz[0] == "+" else -1
        digits = tz[1:].replace(":", "")
        t -= sign * (int(digits[:2]) * 3600 + int(digits[2:]) * 60)
    return t


def split_mtom(raw, ctype):
    """(root part, {content id: bytes}) of a multipart/related request."""
    m = re.search(r'boundary="?([^";]+)"?', ctype)
    if not m:
        raise SoapFault("s:Sender", "ter:WellFormed", "multipart without boundary")
    boundary = b"--" + m.group(1).encode()
    parts = []
    for piece in raw.split(boundary)[1:]:
        if piece.startswith(b"--"):
            break
        head, _, content = piece.partition(b"\r\n\r\n")
        if content.endswith(b"\r\n"):
            content = content[:-2]
        headers = {}
        for line in head.strip().split(b"\r\n"):
            k, _, v = line.partition(b":")
            headers[k.strip().lower().decode("latin-1")] = v.strip().decode("latin-1")
        parts.append((headers, content))
    if not parts:
        raise SoapFault("s:Sender", "ter:WellFormed", "empty multipart")
    attachments = {}
    for headers, content in parts[1:]:
        cid = headers.get("content-id", "").strip("<>")
        attachments[cid] = content
    return parts[0][1], attachments


def first_form_part(raw, ctype):
    try:
        _, attachments = split_mtom(raw, ctype)
    except SoapFault:
        return None
    m = re.search(r'boundary="?([^";]+)"?', ctype)
    boundary = b"--" + m.group(1).encode()
    piece = raw.split(boundary)[1]
    content = piece.partition(b"\r\n\r\n")[2]
    return content[:-2] if content.endswith(b"\r\n") else content


def fault_envelope(f):
    inner = '<s:Subcode><s:Value>%s</s:Value></s:Subcode>' % f.subsubcode if f.subsubcode else ""
    sub = '<s:Subcode><s:Value>%s</s:Value>%s</s:Subcode>' % (f.subcode, inner) if f.subcode else ""
    return (ENVELOPE_HEAD + '<s:Body><s:Fault><s:Code><s:Value>%s</s:Value>%s</s:Code>'
            '<s:Reason><s:Text xml:lang="en">%s</s:Text></s:Reason></s:Fault></s:Body></s:Envelope>') % (
                f.code, sub, xml_text(f.reason))


# --- operations -------------------------------------------------------------------------
def iso(t):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(t))


def date_time_xml(tag, t):
    g = time.gmtime(t)
    return ('<tt:%s><tt:Time><tt:Hour>%d</tt:Hour><tt:Minute>%d</tt:Minute><tt:Second>%d</tt:Second></tt:Time>'
            '<tt:Date><tt:Year>%d</tt:Year><tt:Month>%d</tt:Month><tt:Day>%d</tt:Day></tt:Date></tt:%s>') % (
                tag, g.tm_hour, g.tm_min, g.tm_sec, g.tm_year, g.tm_mon, g.tm_mday, tag)


def tz_offset_seconds(tz):
    """Seconds east of UTC for a POSIX TZ such as CST-8 (sign inverted, as POSIX has it)."""
    m = re.match(r"^[A-Za-z]{3,}([+-]?)(\d{1,2})(?::(\d\d))?", tz or "")
    if not m:
        return 0
    sign = -1 if m.group(1) != "-" else 1
    return sign * (int(m.group(2)) * 3600 + int(m.group(3) or 0) * 60)


def op_get_system_date_and_time(h, req, att):
    d = h.device
    with h.sim.lock:
        now, tz, dst = d.now(), d.tz, d.dst
    return ('<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime>'
            '<tt:DateTimeType>Manual</tt:DateTimeType><tt:DaylightSavings>%s</tt:DaylightSavings>'
            '<tt:TimeZone><tt:TZ>%s</tt:TZ></tt:TimeZone>%s%s</tds:SystemDateAndTime>'
            '</tds:GetSystemDateAndTimeResponse>') % (
                "true" if dst else "false", xml_text(tz), date_time_xml("UTCDateTime", now),
                date_time_xml("LocalDateTime", now + tz_offset_seconds(tz)))


def read_date_time(elem):
    if elem is None:
        return None
    try:
        parts = [int(text_of(elem, "Date", "Year")), int(text_of(elem, "Date", "Month")),
                 int(text_of(elem, "Date", "Day")), int(text_of(elem, "Time", "Hour")),
                 int(text_of(elem, "Time", "Minute")), int(text_of(elem, "Time", "Second"))]
    except (TypeError, ValueError):
        return None
    y, mo, da, hh, mi, ss = parts
    if not (1970 <= y <= 2099 and 1 <= mo <= 12 and 1 <= da <= 31 and 0 <= hh <= 23 and 0 <= mi <= 59
            and 0 <= ss <= 60):
        return None
    return calendar.timegm((y, mo, da, hh, mi, ss, 0, 0, 0))


def op_set_system_date_and_time(h, req, att):
    kind = text_of(req, "DateTimeType", default="Manual")
    tz = text_of(req, "TimeZone", "TZ")
    dst = text_of(req, "DaylightSavings", default="false") == "true"
    when = None
    if kind == "Manual":
        when = read_date_time(child(req, "UTCDateTime"))
        if when is None:
            raise SoapFault("s:Sender", "ter:InvalidArgVal", "invalid date or time", 400)
    if tz is not None and not re.match(r"^[A-Za-z]{3,}[+-]?\d{1,2}(:\d\d)?([A-Za-z]{3,}.*)?$", tz):
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "invalid time zone", 400)
    d = h.device
    with h.sim.lock:
        if when is not None:
            d.clock_offset = when - time.time()
        if tz is not None:
            d.tz = tz
        d.dst = dst
    return "<tds:SetSystemDateAndTimeResponse/>"


def op_get_device_information(h, req, att):
    d = h.device
    with h.sim.lock:
        return ('<tds:GetDeviceInformationResponse><tds:Manufacturer>%s</tds:Manufacturer><tds:Model>%s</tds:Model>'
                '<tds:FirmwareVersion>%s</tds:FirmwareVersion><tds:SerialNumber>%s</tds:SerialNumber>'
                '<tds:HardwareId>%s</tds:HardwareId></tds:GetDeviceInformationResponse>') % tuple(
                    xml_text(x) for x in (d.manufacturer, d.model, d.firmware, d.serial_text(), d.hardware_id))


def op_get_capabilities(h, req, att):
    d = h.device
    return ('<tds:GetCapabilitiesResponse><tds:Capabilities>'
            '<tt:Device><tt:XAddr>%s</tt:XAddr><tt:Network><tt:IPFilter>false</tt:IPFilter>'
            '<tt:ZeroConfiguration>false</tt:ZeroConfiguration><tt:IPVersion6>false</tt:IPVersion6>'
            '<tt:DynDNS>false</tt:DynDNS></tt:Network><tt:System><tt:DiscoveryResolve>false</tt:DiscoveryResolve>'
            '<tt:DiscoveryBye>true</tt:DiscoveryBye><tt:RemoteDiscovery>false</tt:RemoteDiscovery>'
            '<tt:SystemBackup>false</tt:SystemBackup><tt:SystemLogging>false</tt:SystemLogging>'
            '<tt:FirmwareUpgrade>true</tt:FirmwareUpgrade><tt:SupportedVersions><tt:Major>2</tt:Major>'
            '<tt:Minor>60</tt:Minor></tt:SupportedVersions></tt:System>'
            '<tt:Security><tt:TLS1.1>false</tt:TLS1.1><tt:TLS1.2>false</tt:TLS1.2>'
            '<tt:OnboardKeyGeneration>false</tt:OnboardKeyGeneration><tt:AccessPolicyConfig>false'
            '</tt:AccessPolicyConfig><tt:X.509Token>false</tt:X.509Token><tt:SAMLToken>false</tt:SAMLToken>'
            '<tt:KerberosToken>false</tt:KerberosToken><tt:RELToken>false</tt:RELToken></tt:Security>'
            '</tt:Device>'
            '<tt:Media><tt:XAddr>%s</tt:XAddr><tt:StreamingCapabilities><tt:RTPMulticast>false</tt:RTPMulticast>'
            '<tt:RTP_TCP>true</tt:RTP_TCP><tt:RTP_RTSP_TCP>true</tt:RTP_RTSP_TCP></tt:StreamingCapabilities>'
            '</tt:Media></tds:Capabilities></tds:GetCapabilitiesResponse>') % (
                xml_text(d.service_url("device_service")), xml_text(d.service_url("media_service")))


def op_get_services(h, req, att):
    d = h.device
    items = [(NS["tds"], d.service_url("device_service"), 2, 60), (NS["trt"], d.service_url("media_service"), 2, 60)]
    return "<tds:GetServicesResponse>%s</tds:GetServicesResponse>" % "".join(
        '<tds:Service><tds:Namespace>%s</tds:Namespace><tds:XAddr>%s</tds:XAddr><tds:Version>'
        '<tt:Major>%d</tt:Major><tt:Minor>%d</tt:Minor></tds:Version></tds:Service>' % (ns, xml_text(url), ma, mi)
        for ns, url, ma, mi in items)


def op_device_service_capabilities(h, req, att):
    return ('<tds:GetServiceCapabilitiesResponse><tds:Capabilities><tds:Network IPFilter="false" '
            'ZeroConfiguration="false" IPVersion6="false" DynDNS="false" NTP="0"/><tds:Security '
            'UsernameToken="true" HttpDigest="true"/><tds:System DiscoveryResolve="false" DiscoveryBye="true" '
            'RemoteDiscovery="false" SystemBackup="false" SystemLogging="false" FirmwareUpgrade="true" '
            'HttpFirmwareUpgrade="true"/></tds:Capabilities></tds:GetServiceCapabilitiesResponse>')


def op_get_endpoint_reference(h, req, att):
    return ('<tds:GetEndpointReferenceResponse><tds:GUID>urn:uuid:%s</tds:GUID></tds:GetEndpointReferenceResponse>'
            % h.device.uuid)


def op_get_wsdl_url(h, req, att):
    return "<tds:GetWsdlUrlResponse><tds:WsdlUrl>http://www.onvif.org/</tds:WsdlUrl></tds:GetWsdlUrlResponse>"


def op_get_scopes(h, req, att):
    return "<tds:GetScopesResponse>%s</tds:GetScopesResponse>" % "".join(
        '<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef><tt:ScopeItem>%s</tt:ScopeItem></tds:Scopes>' % xml_text(s)
        for s in h.device.scopes())


def op_get_hostname(h, req, att):
    return ('<tds:GetHostnameResponse><tds:HostnameInformation><tt:FromDHCP>false</tt:FromDHCP>'
            '<tt:Name>%s</tt:Name></tds:HostnameInformation></tds:GetHostnameResponse>') % xml_text(h.device.hostname)


def op_get_network_interfaces(h, req, att):
    d = h.device
    with h.sim.lock:
        ip, prefix, dhcp, mac = d.ip, d.prefix, d.dhcp, d.mac
    return ('<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token="eth0"><tt:Enabled>true</tt:Enabled>'
            '<tt:Info><tt:Name>eth0</tt:Name><tt:HwAddress>%s</tt:HwAddress><tt:MTU>1500</tt:MTU></tt:Info>'
            '<tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Config><tt:Manual><tt:Address>%s</tt:Address>'
            '<tt:PrefixLength>%d</tt:PrefixLength></tt:Manual><tt:DHCP>%s</tt:DHCP></tt:Config></tt:IPv4>'
            '</tds:NetworkInterfaces></tds:GetNetworkInterfacesResponse>') % (
                mac, ip, prefix, "true" if dhcp else "false")


def valid_ipv4(text):
    try:
        addr = ipaddress.IPv4Address(text or "")
    except ValueError:
        return False
    return not (addr.is_multicast or addr.is_unspecified or str(addr) == "255.255.255.255")


def op_set_network_interfaces(h, req, att):
    token = text_of(req, "InterfaceToken")
    if token != "eth0":
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "no such interface", 400)
    ipv4 = find_path(req, "NetworkInterface", "IPv4")
    manual = find_path(ipv4, "Manual")
    address = text_of(manual, "Address")
    prefix_text = text_of(manual, "PrefixLength", default="24")
    dhcp = text_of(ipv4, "DHCP", default="false") == "true"
    if address is None and not dhcp:
        return "<tds:SetNetworkInterfacesResponse><tds:RebootNeeded>false</tds:RebootNeeded>" \
               "</tds:SetNetworkInterfacesResponse>"
    try:
        prefix = int(prefix_text)
    except ValueError:
        prefix = -1
    if not valid_ipv4(address) or not 1 <= prefix <= 32:
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "invalid IPv4 address", 400)
    d = h.device
    with h.sim.lock:
        taken = any(o is not d and o.ip == address and o.port == d.port for o in h.sim.devices)
        if taken:
            raise SoapFault("s:Sender", "ter:InvalidArgVal", "address in use", 400)
        d.pending_network = {"ip": address, "prefix": prefix}

    def move():
        net = d.pending_network
        d.pending_network = None
        if net:
            d.ip, d.prefix = net["ip"], net["prefix"]

    # The reply leaves from the old address, then the camera moves after a reboot-like pause.
    h._after_reply = lambda: h.sim.restart(d, h.sim.args.network_seconds, before_up=move, state="moving")
    return "<tds:SetNetworkInterfacesResponse><tds:RebootNeeded>false</tds:RebootNeeded>" \
           "</tds:SetNetworkInterfacesResponse>"


def op_get_gateway(h, req, att):
    return ('<tds:GetNetworkDefaultGatewayResponse><tds:NetworkGateway><tt:IPv4Address>%s</tt:IPv4Address>'
            '</tds:NetworkGateway></tds:GetNetworkDefaultGatewayResponse>') % h.device.gateway


def op_set_gateway(h, req, att):
    gw = text_of(req, "IPv4Address")
    if gw is not None:
        if not valid_ipv4(gw):
            raise SoapFault("s:Sender", "ter:InvalidArgVal", "invalid gateway", 400)
        with h.sim.lock:
            h.device.gateway = gw
    return "<tds:SetNetworkDefaultGatewayResponse/>"


def op_get_dns(h, req, att):
    return ('<tds:GetDNSResponse><tds:DNSInformation><tt:FromDHCP>false</tt:FromDHCP></tds:DNSInformation>'
            '</tds:GetDNSResponse>')


def op_get_ntp(h, req, att):
    return '<tds:GetNTPResponse><tds:NTPInformation><tt:FromDHCP>false</tt:FromDHCP></tds:NTPInformation>' \
           '</tds:GetNTPResponse>'


def op_get_network_protocols(h, req, att):
    port = h.device.port
    return ('<tds:GetNetworkProtocolsResponse><tds:NetworkProtocols><tt:Name>HTTP</tt:Name><tt:Enabled>true'
            '</tt:Enabled><tt:Port>%d</tt:Port></tds:NetworkProtocols><tds:NetworkProtocols><tt:Name>RTSP</tt:Name>'
            '<tt:Enabled>true</tt:Enabled><tt:Port>%d</tt:Port></tds:NetworkProtocols>'
            '</tds:GetNetworkProtocolsResponse>') % (port, h.sim.args.rtsp_port)


def op_get_discovery_mode(h, req, att):
    return '<tds:GetDiscoveryModeResponse><tds:DiscoveryMode>Discoverable</tds:DiscoveryMode>' \
           '</tds:GetDiscoveryModeResponse>'


def op_system_reboot(h, req, att):
    h._after_reply = lambda: h.sim.restart(h.device, h.sim.args.reboot_seconds)
    return '<tds:SystemRebootResponse><tds:Message>Rebooting</tds:Message></tds:SystemRebootResponse>'


def op_factory_default(h, req, att):
    kind = text_of(req, "FactoryDefault")
    if kind not in ("Soft", "Hard"):
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "FactoryDefault must be Soft or Hard", 400)
    d = h.device
    h._after_reply = lambda: h.sim.restart(d, h.sim.args.reboot_seconds,
                                           before_up=lambda: d._apply_factory(hard=kind == "Hard"))
    return "<tds:SetSystemFactoryDefaultResponse/>"


def op_get_users(h, req, att):
    with h.sim.lock:
        users = sorted(h.device.users.items())
    return "<tds:GetUsersResponse>%s</tds:GetUsersResponse>" % "".join(
        '<tds:User><tt:Username>%s</tt:Username><tt:UserLevel>%s</tt:UserLevel></tds:User>' % (
            xml_text(name), u["level"]) for name, u in users)


def read_users(req):
    users = []
    for u in req:
        if local(u.tag) != "User":
            continue
        users.append((text_of(u, "Username"), text_of(u, "Password"), text_of(u, "UserLevel", default="User")))
    if not users:
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "no user", 400)
    return users


def check_password(password):
    # Cameras refuse an empty password; keep only what a web form could type.
    if not password or len(password) > 64 or any(ord(c) < 0x20 for c in password):
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "password not accepted", 400,
                        "ter:PasswordTooWeak")


def op_set_user(h, req, att):
    users = read_users(req)
    d = h.device
    with h.sim.lock:
        for name, password, level in users:
            if name not in d.users:
                raise SoapFault("s:Sender", "ter:InvalidArgVal", "no such user", 400, "ter:UsernameMissing")
            if password is not None:
                check_password(password)
        for name, password, level in users:
            if password is not None:
                d.users[name]["password"] = password
            if level in ("Administrator", "Operator", "User"):
                d.users[name]["level"] = level
    return "<tds:SetUserResponse/>"


def op_create_users(h, req, att):
    users = read_users(req)
    d = h.device
    with h.sim.lock:
        for name, password, level in users:
            if not name or name in d.users:
                raise SoapFault("s:Sender", "ter:OperationProhibited", "user exists", 400, "ter:UsernameClash")
            check_password(password)
        for name, password, level in users:
            d.users[name] = {"password": password, "level": level}
    return "<tds:CreateUsersResponse/>"


def op_delete_users(h, req, att):
    names = [c.text for c in req if local(c.tag) == "Username"]
    d = h.device
    with h.sim.lock:
        for name in names:
            if name not in d.users:
                raise SoapFault("s:Sender", "ter:InvalidArgVal", "no such user", 400, "ter:UsernameMissing")
        for name in names:
            del d.users[name]
    return "<tds:DeleteUsersResponse/>"


def op_start_firmware_upgrade(h, req, att):
    d = h.device
    token = secrets.token_hex(8)
    with h.sim.lock:
        # One upload at a time, as cameras allow.
        for t in [t for t, u in d.uploads.items() if u.get("state") == "waiting"]:
            d.uploads[t]["state"] = "superseded"
        d.uploads[token] = {"state": "waiting", "started": time.time()}
        if len(d.uploads) > 20:
            for t in list(d.uploads)[:-20]:
                del d.uploads[t]
    host = d.ip if d.port == 80 else "%s:%d" % (d.ip, d.port)
    return ('<tds:StartFirmwareUpgradeResponse><tds:UploadUri>http://%s/firmware/upload/%s</tds:UploadUri>'
            '<tds:UploadDelay>PT0S</tds:UploadDelay><tds:ExpectedDownTime>PT%dS</tds:ExpectedDownTime>'
            '</tds:StartFirmwareUpgradeResponse>') % (host, token, max(1, round(h.sim.args.upgrade_seconds)))


def op_upgrade_system_firmware(h, req, att):
    firmware = find_path(req, "Firmware")
    data = None
    include = None
    if firmware is not None:
        include = next((e for e in firmware.iter() if local(e.tag) == "Include"), None)
    if include is not None:
        cid = include.get("href", "")
        cid = cid[4:] if cid.startswith("cid:") else cid
        data = att.get(cid) or att.get(unquote(cid))
    elif firmware is not None and firmware.text:
        try:
            data = base64.b64decode("".join(firmware.text.split()), validate=True)
        except ValueError:
            data = None
    if data is None:
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "no firmware attached", 400)
    d = h.device
    upload = {"state": "waiting", "started": time.time(), "via": "UpgradeSystemFirmware"}
    with h.sim.lock:
        d.uploads["inline-%d" % len(d.uploads)] = upload
    header = parse_firmware_header(data)
    if header is None or header[0] != d.model or not header[2]:
        with h.sim.lock:
            upload["bytes"] = len(data)
            upload["state"] = "refused"
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "firmware not accepted", 400, "ter:InvalidFirmware")
    with h.sim.lock:
        upload["bytes"] = len(data)
        upload["state"] = "accepted"
        upload["version"] = header[1]

    def install():
        d.firmware = header[1]
        upload["state"] = "installed"

    h._after_reply = lambda: h.sim.restart(d, h.sim.args.upgrade_seconds, before_up=install, state="upgrading")
    return ('<tds:UpgradeSystemFirmwareResponse><tds:Message>Upgrading</tds:Message>'
            '</tds:UpgradeSystemFirmwareResponse>')


# Media service: one profile whose stream is the RTSP server's test pattern.
def source_config_xml(tag="tt:VideoSourceConfiguration"):
    return ('<%s token="vsc_1"><tt:Name>vsc</tt:Name><tt:UseCount>1</tt:UseCount><tt:SourceToken>vs_1'
            '</tt:SourceToken><tt:Bounds x="0" y="0" width="320" height="240"/></%s>') % (tag, tag)


def encoder_config_xml(h, tag="tt:VideoEncoderConfiguration"):
    h264 = h.sim.args.rtsp_codec == "h264"
    return ('<%s token="vec_1"><tt:Name>vec</tt:Name><tt:UseCount>1</tt:UseCount><tt:Encoding>%s</tt:Encoding>'
            '<tt:Resolution><tt:Width>320</tt:Width><tt:Height>240</tt:Height></tt:Resolution>'
            '<tt:Quality>5</tt:Quality><tt:RateControl><tt:FrameRateLimit>15</tt:FrameRateLimit>'
            '<tt:EncodingInterval>1</tt:EncodingInterval><tt:BitrateLimit>256</tt:BitrateLimit></tt:RateControl>%s'
            '<tt:Multicast><tt:Address><tt:Type>IPv4</tt:Type><tt:IPv4Address>0.0.0.0</tt:IPv4Address>'
            '</tt:Address><tt:Port>0</tt:Port><tt:TTL>1</tt:TTL><tt:AutoStart>false</tt:AutoStart></tt:Multicast>'
            '<tt:SessionTimeout>PT60S</tt:SessionTimeout></%s>') % (
                tag, "H264" if h264 else "JPEG",
                '<tt:H264><tt:GovLength>15</tt:GovLength><tt:H264Profile>Baseline</tt:H264Profile></tt:H264>'
                if h264 else "", tag)


def profile_xml(h, tag="trt:Profiles"):
    return '<%s token="profile_1" fixed="true"><tt:Name>main</tt:Name>%s%s</%s>' % (
        tag, source_config_xml(), encoder_config_xml(h), tag)


def check_token(req, name, expected, subcode):
    if text_of(req, name) != expected:
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "no such %s" % name, 400, subcode)


def op_get_encoder_config(h, req, att):
    check_token(req, "ConfigurationToken", "vec_1", "ter:NoConfig")
    return ("<trt:GetVideoEncoderConfigurationResponse>%s</trt:GetVideoEncoderConfigurationResponse>"
            % encoder_config_xml(h, "trt:Configuration"))


def op_get_encoder_configs(h, req, att):
    return ("<trt:GetVideoEncoderConfigurationsResponse>%s</trt:GetVideoEncoderConfigurationsResponse>"
            % encoder_config_xml(h, "trt:Configurations"))


def op_get_source_configs(h, req, att):
    return ("<trt:GetVideoSourceConfigurationsResponse>%s</trt:GetVideoSourceConfigurationsResponse>"
            % source_config_xml("trt:Configurations"))


def op_get_encoder_options(h, req, att):
    for name, expected, subcode in (("ConfigurationToken", "vec_1", "ter:NoConfig"),
                                    ("ProfileToken", "profile_1", "ter:NoProfile")):
        if child(req, name) is not None:
            check_token(req, name, expected, subcode)
    res = "<tt:ResolutionsAvailable><tt:Width>320</tt:Width><tt:Height>240</tt:Height></tt:ResolutionsAvailable>"
    ranges = ("<tt:FrameRateRange><tt:Min>1</tt:Min><tt:Max>15</tt:Max></tt:FrameRateRange>"
              "<tt:EncodingIntervalRange><tt:Min>1</tt:Min><tt:Max>1</tt:Max></tt:EncodingIntervalRange>")
    codec = ("<tt:H264>%s<tt:GovLengthRange><tt:Min>1</tt:Min><tt:Max>60</tt:Max></tt:GovLengthRange>%s"
             "<tt:H264ProfilesSupported>Baseline</tt:H264ProfilesSupported></tt:H264>" % (res, ranges)
             if h.sim.args.rtsp_codec == "h264" else "<tt:JPEG>%s%s</tt:JPEG>" % (res, ranges))
    return ("<trt:GetVideoEncoderConfigurationOptionsResponse><trt:Options><tt:QualityRange><tt:Min>1</tt:Min>"
            "<tt:Max>10</tt:Max></tt:QualityRange>%s</trt:Options></trt:GetVideoEncoderConfigurationOptionsResponse>"
            % codec)


def op_get_profiles(h, req, att):
    return "<trt:GetProfilesResponse>%s</trt:GetProfilesResponse>" % profile_xml(h)


def op_get_profile(h, req, att):
    if text_of(req, "ProfileToken") != "profile_1":
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "no such profile", 400, "ter:NoProfile")
    return "<trt:GetProfileResponse>%s</trt:GetProfileResponse>" % profile_xml(h, "trt:Profile")


def stream_uri(h):
    args = h.sim.args
    host = args.rtsp_host or h.device.ip
    return "rtsp://%s:%d%s" % (host, args.rtsp_port, args.rtsp_path)


def op_get_stream_uri(h, req, att):
    if text_of(req, "ProfileToken") != "profile_1":
        raise SoapFault("s:Sender", "ter:InvalidArgVal", "no such profile", 400, "ter:NoProfile")
    return ('<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>%s</tt:Uri><tt:InvalidAfterConnect>false'
            '</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false</tt:InvalidAfterReboot><tt:Timeout>PT60S'
            '</tt:Timeout></trt:MediaUri></trt:GetStreamUriResponse>') % xml_text(stream_uri(h))


def op_get_snapshot_uri(h, req, att):
    raise SoapFault("s:Receiver", "ter:ActionNotSupported", "no snapshots", 500)


def op_get_video_sources(h, req, att):
    return ('<trt:GetVideoSourcesResponse><trt:VideoSources token="vs_1"><tt:Framerate>15</tt:Framerate>'
            '<tt:Resolution><tt:Width>320</tt:Width><tt:Height>240</tt:Height></tt:Resolution></trt:VideoSources>'
            '</trt:GetVideoSourcesResponse>')


def op_media_service_capabilities(h, req, att):
    return ('<trt:GetServiceCapabilitiesResponse><trt:Capabilities SnapshotUri="false" Rotation="false">'
            '<trt:ProfileCapabilities MaximumNumberOfProfiles="1"/><trt:StreamingCapabilities '
            'RTPMulticast="false" RTP_TCP="true" RTP_RTSP_TCP="true"/></trt:Capabilities>'
            '</trt:GetServiceCapabilitiesResponse>')


def op_service_capabilities(h, req, att):
    if "media" in h.path:
        return op_media_service_capabilities(h, req, att)
    return op_device_service_capabilities(h, req, att)


OPERATIONS = {
    "GetSystemDateAndTime": op_get_system_date_and_time,
    "SetSystemDateAndTime": op_set_system_date_and_time,
    "GetDeviceInformation": op_get_device_information,
    "GetCapabilities": op_get_capabilities,
    "GetServices": op_get_services,
    "GetServiceCapabilities": op_service_capabilities,
    "GetScopes": op_get_scopes,
    "GetEndpointReference": op_get_endpoint_reference,
    "GetWsdlUrl": op_get_wsdl_url,
    "GetHostname": op_get_hostname,
    "GetNetworkInterfaces": op_get_network_interfaces,
    "SetNetworkInterfaces": op_set_network_interfaces,
    "GetNetworkDefaultGateway": op_get_gateway,
    "SetNetworkDefaultGateway": op_set_gateway,
    "GetDNS": op_get_dns,
    "GetNTP": op_get_ntp,
    "GetNetworkProtocols": op_get_network_protocols,
    "GetDiscoveryMode": op_get_discovery_mode,
    "SystemReboot": op_system_reboot,
    "SetSystemFactoryDefault": op_factory_default,
    "GetUsers": op_get_users,
    "SetUser": op_set_user,
    "CreateUsers": op_create_users,
    "DeleteUsers": op_delete_users,
    "StartFirmwareUpgrade": op_start_firmware_upgrade,
    "UpgradeSystemFirmware": op_upgrade_system_firmware,
    "GetProfiles": op_get_profiles,
    "GetProfile": op_get_profile,
    "GetStreamUri": op_get_stream_uri,
    "GetSnapshotUri": op_get_snapshot_uri,
    "GetVideoSources": op_get_video_sources,
    "GetVideoEncoderConfiguration": op_get_encoder_config,
    "GetVideoEncoderConfigurations": op_get_encoder_configs,
    "GetVideoEncoderConfigurationOptions": op_get_encoder_options,
    "GetVideoSourceConfigurations": op_get_source_configs,
}
# What a camera answers before login: clients need the clock to make a digest, and ask for the
# services and the name while looking a camera over.
ANONYMOUS_OPS = {"GetSystemDateAndTime", "GetCapabilities", "GetServices", "GetServiceCapabilities",
                 "GetWsdlUrl", "GetHostname", "GetEndpointReference"}


class ControlServer:
    """HTTP/JSON on 127.0.0.1 for the tests: state and faults. See README.md."""

    def __init__(self, sim):
        self.sim = sim
        outer = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, fmt, *args):
                pass

            def _reply(self, code, obj):
                data = json.dumps(obj).encode()
                self.send_response(code)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def do_GET(self):
                try:
                    self._reply(200, outer.get(self.path))
                except LookupError as e:
                    self._reply(404, {"error": str(e)})

            def do_POST(self):
                try:
                    n = int(self.headers.get("Content-Length", "0"))
                    body = json.loads(self.rfile.read(n) or b"{}")
                    self._reply(200, outer.post(self.path, body))
                except LookupError as e:
                    self._reply(404, {"error": str(e)})
                except (ValueError, TypeError) as e:
                    self._reply(400, {"error": str(e)})

        self.httpd = ThreadingHTTPServer((sim.args.control_host, sim.args.control_port), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def _device(self, path):
        m = re.match(r"^/devices/(\d+)(/.*)?$", path)
        if not m or int(m.group(1)) >= len(self.sim.devices):
            raise LookupError("no such device")
        return self.sim.devices[int(m.group(1))], m.group(2) or ""

    def get(self, path):
        sim = self.sim
        if path == "/devices":
            with sim.lock:
                return [d.describe() for d in sim.devices]
        if path == "/status":
            with sim.lock:
                return {"devices": len(sim.devices), "discovery": sim.discovery is not None,
                        "discovery_reason": sim.discovery_reason, "probes": dict(sim.probes),
                        "cpu_seconds": round(sum(resource.getrusage(resource.RUSAGE_SELF)[:2]), 3),
                        "online": sum(d.state == "online" for d in sim.devices)}
        d, rest = self._device(path)
        if rest:
            raise LookupError("unknown path")
        with sim.lock:
            return d.describe()

    def post(self, path, body):
        sim = self.sim
        if path == "/quit":
            sim.stopping.set()
            return {"ok": True}
        if path.endswith("/faults"):
            self.check_faults(body)
        if path == "/faults":  # every device at once
            for d in sim.devices:
                self._set_faults(d, body)
            return {"ok": True}
        d, rest = self._device(path)
        if rest == "/faults":
            self._set_faults(d, body)
        elif rest == "/power":
            on = bool(body.get("on"))
            with sim.lock:
                if on:
                    d.faults.pop("power_off", None)
                else:
                    d.faults["power_off"] = True
            sim.call_in_loop(lambda: sim.bring_up(d) if on else sim.take_down(d, "offline"))
        elif rest == "/set":
            with sim.lock:
                if "clock_offset" in body:
                    d.clock_offset = float(body["clock_offset"])
                if "password" in body:
                    user = body.get("user", sim.args.user)
                    d.users.setdefault(user, {"level": "Administrator"})["password"] = str(body["password"])
                if "firmware" in body:
                    d.firmware = str(body["firmware"])
                if "down_seconds" in body:
                    value = body["down_seconds"]
                    if value is not None and (not isinstance(value, (int, float)) or value < 0):
                        raise ValueError("down_seconds: a number, not negative, or null")
                    d.down_seconds = value
        elif rest == "/hello":
            sim.call_in_loop(lambda: sim.send_hello(d))
        else:
            raise LookupError("unknown path")
        with sim.lock:
            return d.describe()

    @staticmethod
    def check_faults(body):
        """Refuses a request with any bad entry before one is applied: half a fault set would
        leave a test's device in a state nobody asked for."""
        if not isinstance(body, dict):
            raise ValueError("faults: a JSON object")
        for key, value in body.items():
            if key not in ("wrong_password", "fault_ops", "silent", "delay", "probe_silent", "upload_rate"):
                raise ValueError("unknown fault %s" % key)
            if key == "fault_ops" and not isinstance(value, (dict, type(None))):
                raise ValueError("fault_ops: an object of operation names and reasons")
            if key in ("delay", "upload_rate") and (not isinstance(value, (int, float)) or value < 0):
                raise ValueError("%s: a number of seconds or bytes/s, not negative" % key)

    def _set_faults(self, d, body):
        with self.sim.lock:
            for key, value in body.items():
                if value in (None, False, 0, {}, ""):
                    d.faults.pop(key, None)
                else:
                    d.faults[key] = value


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--devices", type=int, default=1)
    p.add_argument("--first-ip", default="127.0.0.10", help="device i listens on first-ip + i")
    p.add_argument("--port", type=int, default=8080, help="HTTP port of every device")
    p.add_argument("--same-ip", action="store_true", help="all devices on first-ip, on port + i")
    p.add_argument("--serial-offset", type=int, default=0, help="device i gets the serial words of i + this")
    p.add_argument("--user", default="admin")
    p.add_argument("--password", default="tolvi")
    p.add_argument("--manufacturer", default="KP Vision")
    p.add_argument("--model", default="KP-LPR-V3", help="model family; a comma list is used in turn")
    p.add_argument("--firmware", default="3.2.1.15", help="version; a comma list goes with --model's")
    p.add_argument("--gateway", default=None)
    p.add_argument("--realm", default="camera")
    p.add_argument("--max-skew", type=float, default=300.0,
                   help="seconds a UsernameToken's Created may differ from the device clock (0: any)")
    p.add_argument("--reboot-seconds", type=float, default=3.0, help="offline time of a reboot (x KP_TIME_SCALE)")
    p.add_argument("--upgrade-seconds", type=float, default=5.0)
    p.add_argument("--network-seconds", type=float, default=2.0, help="pause before a new address answers")
    p.add_argument("--idle-timeout", type=float, default=30.0, help="seconds a kept-alive connection may idle")
    p.add_argument("--rtsp-port", type=int, default=8554)
    p.add_argument("--rtsp-host", default=None, help="host in stream URIs (default: the device's address)")
    p.add_argument("--rtsp-path", default="/live")
    p.add_argument("--rtsp", action="store_true", help="start the RTSP test-pattern server (rtsp_server.py)")
    p.add_argument("--rtsp-codec", choices=("h264", "jpeg"), default="h264")
    p.add_argument("--control-host", default="127.0.0.1")
    p.add_argument("--control-port", type=int, default=0)
    p.add_argument("--no-discovery", action="store_true")
    p.add_argument("--allow-host-multicast-loopback", action="store_true", help=argparse.SUPPRESS)
    p.add_argument("--exit-on-eof", action="store_true", help="stop when standard input closes")
    p.add_argument("--verbose", action="store_true")
    args = p.parse_args(argv)
    if args.devices < 1:
        p.error("--devices must be at least 1")
    sim = Simulator(args)
    sim.start()
    with sim.lock:
        ready = {"control": sim.control.port, "discovery": sim.discovery is not None,
                 "discovery_reason": sim.discovery_reason, "rtsp": sim.rtsp is not None,
                 "rtsp_reason": sim.rtsp_reason,
                 "devices": [{"ip": d.ip, "port": d.port, "state": d.state} for d in sim.devices]}
    print(json.dumps(ready), flush=True)
    if args.exit_on_eof:
        # The test that started us holds our stdin: when it goes, so do we.
        def watch():
            sys.stdin.buffer.read()
            sim.stopping.set()
        threading.Thread(target=watch, daemon=True).start()
    try:
        sim.stopping.wait()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
