#!/usr/bin/env python3
"""A stand-in for the online LUT library, for tests: HTTPS on 127.0.0.1.

    fake_service.py --dir DIR [--san SAN] [--parent PID]

Makes DIR/cert.pem (self-signed for SAN), binds a free port and writes it to DIR/port once it
accepts connections. Every request is appended to DIR/requests.jsonl before the reply: method,
path, query, body, ua, fields ([name, value] decoded, in order), uaOk, orderOk, sigOk and
session (whose signature matched, or null). Requests with a wrong user agent, field order or
signature get 403 or 400.

DIR/control.json, read afresh on every request (write it whole, then rename), steers it:
  accounts {email: password}, token (for the next log-ins), loginReply (raw reply to every
  log-in), listings {folder: JSON or raw text}, lutSize (edge of served LUTs, default 5),
  favoriteReply (default "ok"), noLut (ids whose LUT download is 10 bytes, no LUT), icons
  {folder: {width, height, rgba: [r, g, b, a], top?: [r, g, b, a]} or {raw: text}} (a PNG of
  one colour, its first row `top` when given, or raw bytes; other folders get a 4x3 PNG), and
  faults [{path, mode, status?, size?, seconds?}], the first whose path matches changing the
  reply: stall (silence for a minute), slow (the usual reply after `seconds`, default 1),
  truncate (full length announced, half sent), garbage, status (normal body, HTTP `status`),
  endless (no length, bytes until the client hangs up), size (exactly `size` bytes).

With --parent it ends once process PID is gone (a test that crashed), within a fifth of a
second.

Favourite changes the service accepted are kept per e-mail in DIR/favorites.json
({email: {lutid: "1" or "0"}}) and override the "favorite" member of that user's listings.
"""
import argparse
import hmac
import hashlib
import json
import os
import ssl
import struct
import subprocess
import sys
import threading
import time
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl, urlsplit

# The signing key shared by the service and its clients.
HMAC_KEY = b"Hq3vLw8ZtN5pRkx2YcBfJ7mQe+Ds4Wug9PaVn1TzK6oHbXy3Cr/Ei8Fj2Ml5Gq0Sd7Ut+NwA4hZk9Rv1Le/Yp6"
USER_AGENT = "QuillaneOFX"
GUEST = "OpenVisitor"

ORDERS = {
    ("POST", "/lutlogin.php"): [["email", "password", "version"]],
    ("GET", "/lutbrowse.php"): [["email", "desktop", "session", "folder"]],
    ("GET", "/lutload.php"): [["email", "session", "id"],
                              ["email", "session", "id", "preset", "version", "os"]],
    ("GET", "/luticon.php"): [["email", "session", "folder"]],
    ("POST", "/lutfavorite.php"): [["email", "lutid", "favorite", "session"]],
}
SUBJECT = {"/lutbrowse.php": "folder", "/luticon.php": "folder",
           "/lutload.php": "id", "/lutfavorite.php": "lutid"}


def signature(session, subject):
    return hmac.new(HMAC_KEY, (session + subject).encode("utf-8"),
                    hashlib.sha512).hexdigest().upper()


def lut_bytes(lut_id, n):
    """The binary LUT of an id: 88-byte header with N at byte 12, then N^3 RGB bytes where
    node k channel c holds (id + 3k + c) mod 256, padded to 1000 bytes."""
    header = bytearray(88)
    header[12:16] = struct.pack("<I", n)
    nodes = bytes((lut_id + 3 * k + c) % 256 for k in range(n ** 3) for c in range(3))
    body = bytes(header) + nodes
    return body + bytes(max(0, 1000 - len(body)))


def preset_bytes(lut_id):
    return b"PRESET:%d\x00\x01\xfe\xff" % lut_id


def png_bytes(width=4, height=3, rgba=(200, 100, 50, 255), top=None):
    """A PNG of one colour; with `top`, its first row has that colour instead."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\x00" + bytes(top if top is not None and y == 0 else rgba) * width
                    for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


class State:
    def __init__(self, directory):
        self.dir = directory
        self.lock = threading.Lock()
        self.sessions = {"": {GUEST, ""}}   # email -> sessions issued to it
        self.counter = 0
        self.favorites = {}                 # email -> {lutid: "1" or "0"}

    def control(self):
        try:
            with open(os.path.join(self.dir, "control.json"), encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def log(self, record):
        with self.lock:
            with open(os.path.join(self.dir, "requests.jsonl"), "a", encoding="utf-8") as f:
                f.write(json.dumps(record) + "\n")
                f.flush()


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # Refused handshakes and hang-ups are what some tests are about: one line is enough.
        print("connection from %s ended: %s" % (client_address[0], sys.exc_info()[1]),
              file=sys.stderr)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FakeLutService/1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.handle_request("GET")

    def do_POST(self):
        self.handle_request("POST")

    def handle_request(self, method):
        state = self.server.state
        control = state.control()
        parts = urlsplit(self.path)
        path, query = parts.path, parts.query
        body = b""
        if method == "POST":
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
        raw = body.decode("utf-8", "replace") if method == "POST" else query
        fields = parse_qsl(raw, keep_blank_values=True)
        values = dict(fields)
        ua = self.headers.get("User-Agent", "")

        record = {"method": method, "path": path, "query": query,
                  "body": body.decode("utf-8", "replace"), "ua": ua,
                  "fields": [list(f) for f in fields], "uaOk": ua == USER_AGENT,
                  "orderOk": [k for k, _ in fields] in ORDERS.get((method, path), []),
                  "sigOk": None, "session": None}
        if path in SUBJECT and "session" in values:
            subject = values.get(SUBJECT[path], "")
            with state.lock:
                candidates = set(state.sessions.get(values.get("email", ""), set()))
            for s in sorted(candidates):
                if hmac.compare_digest(signature(s, subject), values["session"]):
                    record["sigOk"], record["session"] = True, s
                    break
            else:
                record["sigOk"] = False
        state.log(record)

        fault = next((f for f in control.get("faults", []) if f.get("path") == path), {})
        mode = fault.get("mode")
        if mode == "stall":
            time.sleep(60)
            return self.close_connection_now()
        if mode == "slow":
            time.sleep(float(fault.get("seconds", 1)))
        if mode == "garbage":
            return self.reply(200, b"\x00<garbage>{[\xff not json")
        if mode == "size":
            return self.reply(200, b"x" * int(fault.get("size", 0)))
        if mode == "endless":
            return self.endless()

        if not record["uaOk"]:
            status, payload = 403, b"bad user agent"
        elif not record["orderOk"]:
            status, payload = 400, b"bad field order"
        elif record["sigOk"] is False:
            status, payload = 403, b"bad signature"
        else:
            status, payload = self.answer(state, control, path, values)

        if mode == "status":
            status = int(fault.get("status", 500))
        if mode == "truncate":
            return self.truncated(payload)
        self.reply(status, payload)

    def answer(self, state, control, path, values):
        if path == "/lutlogin.php":
            if "loginReply" in control:
                reply = control["loginReply"]
                words = reply.split(" ")
                if len(words) >= 2 and words[0].isdigit() and int(words[0]) >= 1:
                    with state.lock:  # a scripted success is a session like any other
                        state.sessions.setdefault(values.get("email", ""), set()).add(words[1])
                return 200, reply.encode("utf-8")
            if values.get("version") != "1":
                return 200, b"-4"
            accounts = control.get("accounts", {})
            email = values.get("email", "")
            if email not in accounts:
                return 200, b"-2"
            if accounts[email] != values.get("password"):
                return 200, b"-1"
            with state.lock:
                state.counter += 1
                token = control.get("token", "tok%04x" % state.counter)
                state.sessions.setdefault(email, set()).add(token)
            return 200, ("1 " + token).encode("utf-8")
        if path == "/lutbrowse.php":
            listing = control.get("listings", {}).get(values.get("folder", ""), [])
            if isinstance(listing, list):
                with state.lock:
                    marks = dict(state.favorites.get(values.get("email", ""), {}))
                listing = [dict(e, favorite=marks[e["id"]])
                           if isinstance(e, dict) and e.get("id") in marks else e
                           for e in listing]
            text = listing if isinstance(listing, str) else json.dumps(listing)
            return 200, text.encode("utf-8")
        if path == "/lutload.php":
            lut_id = int(values["id"])
            if values.get("preset") == "1":
                return 200, preset_bytes(lut_id)
            if lut_id in control.get("noLut", []):
                return 200, b"not a LUT!"
            return 200, lut_bytes(lut_id, int(control.get("lutSize", 5)))
        if path == "/luticon.php":
            icon = control.get("icons", {}).get(values.get("folder", ""))
            if icon is None:
                return 200, png_bytes()
            if "raw" in icon:
                return 200, icon["raw"].encode("latin-1")
            top = icon.get("top")
            return 200, png_bytes(icon["width"], icon["height"],
                                  tuple(icon.get("rgba", (200, 100, 50, 255))),
                                  tuple(top) if top is not None else None)
        if path == "/lutfavorite.php":
            reply = control.get("favoriteReply", "ok")
            if reply == "ok":
                with state.lock:
                    state.favorites.setdefault(values.get("email", ""), {})[
                        values.get("lutid", "")] = values.get("favorite", "")
                    target = os.path.join(state.dir, "favorites.json")
                    with open(target + ".tmp", "w", encoding="utf-8") as f:
                        f.write(json.dumps(state.favorites))
                    os.replace(target + ".tmp", target)
            return 200, reply.encode("utf-8")
        return 404, b"no such endpoint"

    def start_reply(self, status, length=None):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def reply(self, status, payload):
        self.start_reply(status, len(payload))
        self.wfile.write(payload)

    def truncated(self, payload):
        self.start_reply(200, len(payload))
        self.wfile.write(payload[: len(payload) // 2])
        self.wfile.flush()
        self.close_connection_now()

    def endless(self):
        self.start_reply(200)
        try:
            while True:
                self.wfile.write(b"z" * 65536)
        except OSError:
            pass

    def close_connection_now(self):
        self.close_connection = True
        try:
            self.connection.shutdown(2)  # socket.SHUT_RDWR: hang up without TLS close_notify
        except OSError:
            pass


def end_with_parent(parent):
    # Once the parent is gone this process belongs to another one.
    while os.getppid() == parent:
        time.sleep(0.2)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--san", default="IP:127.0.0.1,DNS:localhost")
    parser.add_argument("--parent", type=int, default=0)
    args = parser.parse_args()
    if args.parent:
        threading.Thread(target=end_with_parent, args=(args.parent,), daemon=True).start()
    cert = os.path.join(args.dir, "cert.pem")
    key = os.path.join(args.dir, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", key, "-out", cert, "-days", "30", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=" + args.san],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    server = Server(("127.0.0.1", 0), Handler)
    server.state = State(args.dir)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    # The handshake runs in the request's thread, so a client that stalls or refuses the
    # certificate holds up nobody else.
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)

    port_file = os.path.join(args.dir, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
