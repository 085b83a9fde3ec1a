#!/usr/bin/python3
"""A local HTTP server that keeps the requests it is sent, for the tests and for trying pushes.

Prints "listening <host> <port>" once bound (port 0 picks a free port). Each request that
came in whole becomes DIR/request-<n>.head (the request line, then one header field a line)
and DIR/request-<n>.body (its body), and is announced as "request <n> <method> <path>".
--mode decides the answer:

  ok          200 with a short JSON body
  busy-once   429 to the first request, 200 to the others
  unavailable-once  503 to the first request, 200 to the others
  fail        500
  unavailable 503
  refuse      404
  unauthorized  401 as the Telegram Bot API answers it, its description quoting the request's
              path, as some servers do
  hang        read the request, keep it, and never answer
  endless     200, then a body that never ends
  short       200, then the start of the body its Content-Length promised, and the connection
              closed
  stall       200, then the start of the body, and nothing more
  trickle     200, then the body one byte a second

--retry-after adds Retry-After to the 429 and 503 answers: seconds, or "date:<seconds>" for the
HTTP date that many seconds ahead; "json:<seconds>" says it as the Telegram Bot API does, in the
body's parameters.retry_after and in no field. Each request's arrival on the monotonic clock (nanoseconds,
the clock QElapsedTimer reads) is kept in DIR/request-<n>.at.

Stops on SIGTERM or SIGINT.
"""

import argparse
import email.utils
import http.server
import json
import os
import signal
import sys
import threading
import time

MODES = ("ok", "busy-once", "unavailable-once", "fail", "unavailable", "refuse", "unauthorized",
         "hang", "endless", "short", "stall", "trickle")
# A request larger than this is not one of ours.
MAX_BODY = 1024 * 1024


def retry_after(value):
    if value.startswith("date:"):
        return email.utils.formatdate(time.time() + int(value[5:]), usegmt=True)
    return value


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--mode", choices=MODES, default="ok")
    parser.add_argument("--retry-after", default="")
    args = parser.parse_args()

    lock = threading.Lock()
    count = [0]
    stop = threading.Event()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *_):
            pass

        def do_POST(self):
            length = int(self.headers.get("Content-Length") or 0)
            if length < 0 or length > MAX_BODY:
                self.answer(413, b"too large")
                return
            body = self.rfile.read(length)
            at = time.monotonic_ns()
            with lock:
                count[0] += 1
                n = count[0]
                base = os.path.join(args.dir, "request-%d" % n)
                with open(base + ".at", "w", encoding="ascii") as f:
                    f.write("%d\n" % at)
                with open(base + ".body", "wb") as f:
                    f.write(body)
                # The head last: a reader that sees it finds the body complete.
                head = "%s %s\n" % (self.command, self.path)
                head += "".join("%s: %s\n" % (k, v) for k, v in self.headers.items())
                with open(base + ".head.tmp", "w", encoding="utf-8") as f:
                    f.write(head)
                os.rename(base + ".head.tmp", base + ".head")
            print("request %d %s %s" % (n, self.command, self.path), flush=True)
            mode = args.mode
            if mode == "ok" or (mode in ("busy-once", "unavailable-once") and n > 1):
                self.answer(200, b'{"id":"ok"}')
            elif mode == "busy-once":
                self.answer(429, b"slow down")
            elif mode in ("unavailable", "unavailable-once"):
                self.answer(503, b"down for maintenance")
            elif mode == "fail":
                self.answer(500, b"server trouble")
            elif mode == "refuse":
                self.answer(404, b"no such topic")
            elif mode == "unauthorized":
                self.answer(401, json.dumps({"ok": False, "error_code": 401,
                                             "description": "Unauthorized: " + self.path})
                            .encode())
            elif mode == "hang":
                stop.wait()
            elif mode == "endless":
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                self.end_headers()
                chunk = b"x" * 65536
                try:
                    while not stop.is_set():
                        self.wfile.write(chunk)
                except OSError:
                    pass
                self.close_connection = True
            elif mode in ("short", "stall", "trickle"):
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", "64")
                self.end_headers()
                try:
                    if mode == "trickle":
                        for _ in range(64):
                            if stop.wait(1):
                                break
                            self.wfile.write(b" ")
                    else:
                        self.wfile.write(b'{"id":')
                        if mode == "stall":
                            stop.wait()
                except OSError:
                    pass
                self.close_connection = True

        def answer(self, status, body):
            self.send_response(status)
            if status in (429, 503) and args.retry_after.startswith("json:"):
                body = json.dumps({"ok": False, "error_code": status, "description": "wait",
                                   "parameters": {"retry_after": int(args.retry_after[5:])}})
                body = body.encode()
            elif status in (429, 503) and args.retry_after:
                self.send_header("Retry-After", retry_after(args.retry_after))
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    server = http.server.ThreadingHTTPServer((args.host, args.port), Handler)
    server.daemon_threads = True

    def finish(*_):
        stop.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, finish)
    signal.signal(signal.SIGINT, finish)
    print("listening %s %d" % (args.host, server.server_address[1]), flush=True)
    # The loop notices a shutdown only between polls: a short one lets the tests stop it at once.
    server.serve_forever(poll_interval=0.02)
    sys.exit(0)


if __name__ == "__main__":
    main()
