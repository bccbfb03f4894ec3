#!/usr/bin/python3
"""A small SMTP server for the mail tests.

Listens on 127.0.0.1 (a free port, or --port), prints the port on its first line and
writes every received message as one JSON file (envelope, raw data, decoded subject,
headers and body) into --out, or to standard output when --out is not given.
With --user and --password the server offers AUTH LOGIN (without TLS) and requires it.
With --tls starttls it offers STARTTLS, with --tls implicit it speaks TLS from the first
byte; either way with a server certificate for 127.0.0.1 and localhost, signed by a test
authority that it makes at start (openssl) as tls/ca.pem in --out. Each message records
whether it came over TLS.

A file named "fault" in --out makes the server misbehave until it is removed, by its text:
"auth-535" refuses every log-in, "rcpt-550" refuses every recipient, "drop-after-data"
closes the connection once the message has come, without answering or keeping it.
"""

import argparse
import asyncio
import json
import os
import ssl
import subprocess
import sys
import threading
import warnings
from email import policy
from email.parser import BytesParser

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def current_fault(out_dir):
    try:
        with open(os.path.join(out_dir, "fault"), encoding="utf-8") as f:
            return f.read().strip()
    except OSError:
        return ""


class Recorder:
    def __init__(self, out_dir):
        self.out_dir = out_dir
        # A server started again on the same folder goes on numbering after the mails there.
        self.count = len([f for f in os.listdir(out_dir) if f.endswith(".json")]) if out_dir else 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if current_fault(self.out_dir) == "rcpt-550":
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if current_fault(self.out_dir) == "drop-after-data":
            server.transport.close()
            return "421 Closing"
        raw = envelope.original_content or envelope.content
        if isinstance(raw, str):
            raw = raw.encode("utf-8", "surrogateescape")
        msg = BytesParser(policy=policy.default).parsebytes(raw)
        try:
            body = msg.get_content() if not msg.is_multipart() else ""
        except Exception as e:  # a body the parser cannot decode is still recorded raw
            body = "<undecodable: %s>" % e
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": list(envelope.rcpt_tos),
            "authenticated": bool(getattr(session, "authenticated", False)),
            "tls": server.transport.get_extra_info("ssl_object") is not None,
            "subject": str(msg.get("Subject", "")),
            "headers": [[k, str(v)] for k, v in msg.items()],
            "body": body,
            "raw": raw.decode("utf-8", "replace"),
        }
        self.count += 1
        text = json.dumps(record)
        if self.out_dir:
            name = os.path.join(self.out_dir, "%04d.json" % self.count)
            with open(name + ".tmp", "w", encoding="utf-8") as f:
                f.write(text)
            os.replace(name + ".tmp", name)
        else:
            print(text, flush=True)
        return "250 Message accepted for delivery"


def make_certificates(folder):
    """A test authority and a server certificate it signed; kept for a restart."""
    os.makedirs(folder, exist_ok=True)
    ca_key, ca = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, csr, cert = (os.path.join(folder, n) for n in ("server.key", "server.csr", "server.pem"))
    if os.path.exists(cert):
        return cert, key
    ext = os.path.join(folder, "server.ext")
    with open(ext, "w", encoding="ascii") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                "basicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run = lambda *a: subprocess.run(["openssl", *a], check=True, capture_output=True)
    run("req", "-x509", *ec, "-keyout", ca_key, "-out", ca, "-days", "2", "-subj", "/CN=Clarow test authority")
    run("req", "-new", *ec, "-keyout", key, "-out", csr, "-subj", "/CN=localhost")
    run("x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-days", "2",
        "-extfile", ext, "-out", cert)
    return cert, key


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--out", default="")
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--tls", choices=["", "starttls", "implicit"], default="")
    args = parser.parse_args()
    # Log-in without TLS is what the tests want; the library's warning about it is noise.
    warnings.simplefilter("ignore")

    recorder = Recorder(args.out)
    auth = bool(args.user)

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (current_fault(args.out) != "auth-535"
              and isinstance(auth_data, LoginPassword)
              and auth_data.login == args.user.encode()
              and auth_data.password == args.password.encode())
        return AuthResult(success=ok, handled=False)

    context = None
    if args.tls:
        cert, key = make_certificates(os.path.join(args.out or ".", "tls"))
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
    starttls = {"tls_context": context} if args.tls == "starttls" else {}

    def factory():
        if auth:
            return SMTP(recorder, authenticator=authenticator, auth_required=True,
                        auth_require_tls=False, auth_exclude_mechanism=["PLAIN"], **starttls)
        return SMTP(recorder, **starttls)

    async def serve():
        loop = asyncio.get_running_loop()
        server = await loop.create_server(factory, "127.0.0.1", args.port, reuse_address=True,
                                          ssl=context if args.tls == "implicit" else None)
        print(server.sockets[0].getsockname()[1], flush=True)
        async with server:
            await server.serve_forever()

    # The test that started the server holds its standard input; when that program ends,
    # even by a crash, the input closes and the server goes with it.
    def watch_parent():
        while sys.stdin.buffer.read(4096):
            pass
        os._exit(0)

    if not sys.stdin.isatty():
        threading.Thread(target=watch_parent, daemon=True).start()

    try:
        asyncio.run(serve())
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
