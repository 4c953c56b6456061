#!/usr/bin/env python3
"""Looks at the venue console as a person would, in headless Chromium.

  console_browser.py CHROMIUM URL VERDICT SCREENSHOT [DIAG_PORT TEXT]

Starts Chromium headless with its own profile, loads URL, waits (up to a
minute) for the banner to show VERDICT ("database", "offline", "nothing"),
saves a screenshot to SCREENSHOT, and prints one JSON line of what the page
shows: the banner's class, text and computed background colour, and the kept
plays' count. With DIAG_PORT and TEXT it then sends TEXT as one diagnostic
datagram to 127.0.0.1:DIAG_PORT and waits for the page to list it without a
reload ("datagram_seen", "reloaded"), before the screenshot.

Chromium is driven over its DevTools protocol through the websocket client
below (the standard library has none). Exit status: 0 looked; 1 the page
never showed what was asked; 77 Chromium could not run here (the caller
skips, and says why).
"""
import base64
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request


class WebSocket:
    """A websocket client for one local DevTools connection: text frames only."""

    def __init__(self, url):
        match = re.match(r"ws://([^:/]+):(\d+)(/.*)", url)
        self.sock = socket.create_connection((match[1], int(match[2])), timeout=60)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(
            ("GET %s HTTP/1.1\r\nHost: %s:%s\r\nUpgrade: websocket\r\n"
             "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
             "Sec-WebSocket-Version: 13\r\n\r\n" % (match[3], match[1], match[2], key)).encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(1)
            if not chunk:
                raise OSError("DevTools closed the connection")
            head += chunk
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise OSError("no websocket: %r" % head)
        self.next_id = 0

    def _read(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise OSError("DevTools closed the connection")
            data += chunk
        return data

    def _send(self, text):
        payload = text.encode()
        mask = os.urandom(4)
        size = len(payload)
        header = bytes([0x81])
        if size < 126:
            header += bytes([0x80 | size])
        elif size < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", size)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", size)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(header + mask + masked)

    def _receive(self):
        message = b""
        while True:
            first, second = self._read(2)
            size = second & 0x7F
            if size == 126:
                size = struct.unpack(">H", self._read(2))[0]
            elif size == 127:
                size = struct.unpack(">Q", self._read(8))[0]
            payload = self._read(size)
            if first & 0x0F in (0x9, 0xA):  # ping, pong: not part of a message
                continue
            message += payload
            if first & 0x80:
                return json.loads(message)

    def call(self, method, **params):
        self.next_id += 1
        self._send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            answer = self._receive()
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise OSError("%s: %s" % (method, answer["error"]))
                return answer.get("result", {})

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result.get("result", {}).get("value")


def start_chromium(chromium, profile):
    """The browser's process and its DevTools address, or None when it cannot run."""
    try:
        process = subprocess.Popen(
            [chromium, "--headless", "--disable-gpu", "--no-sandbox", "--no-first-run",
             "--disable-dev-shm-usage", "--remote-debugging-address=127.0.0.1",
             "--remote-debugging-port=0", "--user-data-dir=" + profile,
             "--window-size=1200,1000", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    except OSError as error:
        return None, str(error)
    lines = []
    deadline = time.time() + 60
    while time.time() < deadline:
        line = process.stderr.readline()
        if not line:
            break
        lines.append(line)
        match = re.search(r"DevTools listening on (ws://\S+)", line)
        if match:
            return process, match[1]
    process.kill()
    process.wait()
    return None, "".join(lines[-5:]) or "no DevTools address"


def page_socket(browser_url):
    port = re.match(r"ws://[^:/]+:(\d+)/", browser_url)[1]
    for _ in range(100):
        with urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port, timeout=30) as f:
            pages = [t for t in json.load(f) if t["type"] == "page"]
        if pages:
            return WebSocket(pages[0]["webSocketDebuggerUrl"])
        time.sleep(0.1)
    raise OSError("Chromium opened no page")


def wait_for(socket_, expression, seconds=60):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if socket_.evaluate(expression):
            return True
        time.sleep(0.2)
    return False


LOOK = """JSON.stringify({
  class: document.getElementById("banner").className,
  verdict: document.getElementById("verdict").textContent,
  since: document.getElementById("since").textContent,
  colour: getComputedStyle(document.getElementById("banner")).backgroundColor,
  kept: document.getElementById("kept-count").textContent})"""


def main(argv):
    if len(argv) not in (5, 7):
        print(__doc__, file=sys.stderr)
        return 2
    chromium, url, verdict, screenshot = argv[1:5]
    profile = tempfile.mkdtemp(prefix="rondel-chromium-")
    process, address = start_chromium(chromium, profile)
    if process is None:
        print(address.strip())
        shutil.rmtree(profile, ignore_errors=True)
        return 77
    try:
        page = page_socket(address)
        page.call("Page.enable")
        page.call("Page.navigate", url=url)
        shown = wait_for(page, 'document.getElementById("banner") && '
                         'document.getElementById("banner").className === %s' % json.dumps(verdict))
        seen = json.loads(page.evaluate(LOOK))
        if len(argv) == 7:
            # A mark that a reload would lose.
            page.evaluate("window.rondelLooking = true")
            udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            udp.sendto(argv[6].encode(), ("127.0.0.1", int(argv[5])))
            udp.close()
            seen["datagram_seen"] = wait_for(
                page, 'document.getElementById("datagrams").textContent.includes(%s)'
                % json.dumps(argv[6]))
            seen["reloaded"] = page.evaluate("window.rondelLooking !== true")
        with open(screenshot, "wb") as f:
            f.write(base64.b64decode(page.call("Page.captureScreenshot", format="png")["data"]))
        print(json.dumps(seen, sort_keys=True))
        return 0 if shown else 1
    finally:
        process.kill()
        process.wait()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
