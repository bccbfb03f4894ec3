#!/usr/bin/python3
"""A small HTTP receiver for the push notification tests and the demo.

Listens on 127.0.0.1 (a free port, or --port), prints the port on its first line and
appends every POST it takes as one JSON line (method, path, headers, body as text) to --out.
While a file named "fail" lies beside --out, every request is answered with the HTTP status
written in it (500 when empty) and not recorded.
"""

import argparse
import json
import os
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    fail_file = os.path.join(os.path.dirname(os.path.abspath(args.out)), "fail")
    lock = threading.Lock()

    class Handler(BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            if os.path.exists(fail_file):
                with open(fail_file, encoding="utf-8") as f:
                    status = int(f.read().strip() or "500")
                self.send_response(status)
                self.end_headers()
                self.wfile.write(b"receiver is down")
                return
            record = {
                "method": self.command,
                "path": self.path,
                "headers": {k: v for k, v in self.headers.items()},
                "body": body.decode("utf-8", "replace"),
            }
            with lock, open(args.out, "a", encoding="utf-8") as f:
                f.write(json.dumps(record) + "\n")
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.end_headers()
            self.wfile.write(b"ok")

        def log_request(self, code="-", size="-"):
            # Only refusals are worth a line; taken requests are in --out.
            if str(code).isdigit() and int(code) >= 300:
                sys.stderr.write("webhook-sink: %s answered %s\n" % (self.requestline, code))

        def log_message(self, fmt, *a):
            sys.stderr.write("webhook-sink: " + fmt % a + "\n")

    ThreadingHTTPServer.allow_reuse_address = True
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
