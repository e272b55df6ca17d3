#!/usr/bin/python3
"""SMTP peer for the tests, on 127.0.0.1 at a free port.

  smtp_server.py serve OUTDIR [options]   aiosmtpd server; every accepted message is written to
                                          OUTDIR/msg-N.json (N = 1, 2, ...)
      --auth none|login|cram              authentication the server requires (default none)
      --user NAME --password PASS         the one account for login/cram
      --cert FILE --key FILE              offer STARTTLS with this certificate and require it
      --reject-rcpt                       answer every RCPT TO with 550
      --refuse-rcpt TEXT                  answer 550 to a RCPT TO whose address contains TEXT
                                          (may be repeated); the others are accepted
      --echo-auth                         a failed login's 535 reply repeats what the client sent:
                                          the password plain and in base64, the SASL PLAIN
                                          forms, the CRAM-MD5 response (base64 and decoded)
      --implicit-tls --port P             TLS from the first byte (needs --cert/--key) on port P
  smtp_server.py mute                     accepts connections and never greets

Prints the chosen port on the first line of standard output once the server answers.
Each msg-N.json holds the envelope, whether TLS was on, the authenticated user, the raw message
(base64) and what Python's own mail parser makes of it: decoded headers, the text body and the
attachments (their bytes written beside as msg-N-att-K.bin).
"""
import argparse
import base64
import hmac
import json
import os
import socket
import sys
import time


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def describe(raw):
    import email
    import email.header
    import email.policy

    msg = email.message_from_bytes(raw, policy=email.policy.default)
    headers = {}
    for name, value in msg.items():
        headers.setdefault(name.lower(), []).append(str(value))
    raw_headers = {}
    legacy = email.message_from_bytes(raw)
    for name, value in legacy.items():
        raw_headers.setdefault(name.lower(), []).append(value)
    body = None
    attachments = []
    for part in msg.walk():
        if part.is_multipart():
            continue
        if part.get_content_disposition() == "attachment":
            attachments.append({
                "filename": part.get_filename(),
                "content_type": part.get_content_type(),
                "data": part.get_payload(decode=True),
            })
        elif part.get_content_type() == "text/plain" and body is None:
            body = part.get_content().replace("\r\n", "\n")
    return headers, raw_headers, body, attachments


class Handler:
    def __init__(self, outdir, reject_rcpt, refuse_rcpt):
        self.outdir = outdir
        self.reject_rcpt = reject_rcpt
        self.refuse_rcpt = refuse_rcpt or []
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.reject_rcpt:
            return "550 5.1.1 mailbox unavailable"
        if any(text in address for text in self.refuse_rcpt):
            return "550 5.1.1 <%s>: no such user here" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        raw = envelope.original_content
        headers, raw_headers, body, attachments = describe(raw)
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "tls": (server._tls_protocol is not None
                    or server.transport.get_extra_info("ssl_object") is not None),
            "auth_user": (session.auth_data.decode() if isinstance(session.auth_data, bytes)
                          else session.auth_data) if session.authenticated else None,
            "raw_b64": base64.b64encode(raw).decode(),
            "headers": headers,
            "raw_headers": raw_headers,
            "body": body,
            "attachments": [],
        }
        for k, att in enumerate(attachments, 1):
            path = os.path.join(self.outdir, "msg-%d-att-%d.bin" % (self.count, k))
            with open(path, "wb") as f:
                f.write(att["data"])
            record["attachments"].append({"filename": att["filename"],
                                          "content_type": att["content_type"],
                                          "path": path})
        tmp = os.path.join(self.outdir, ".msg-%d.tmp" % self.count)
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(record, f, ensure_ascii=False)
        os.rename(tmp, os.path.join(self.outdir, "msg-%d.json" % self.count))
        return "250 Message accepted"


def serve(args):
    import logging
    import warnings

    warnings.simplefilter("ignore")
    logging.basicConfig(level=logging.ERROR)
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

    user = (args.user or "").encode()
    password = (args.password or "").encode()

    class PeerSMTP(SMTP):
        async def auth_CRAM__MD5(self, server, args_):
            challenge = ("<%d.%d@pawlinex.test>" % (os.getpid(), time.time_ns())).encode()
            answer = await server.challenge_auth(challenge)
            if not isinstance(answer, bytes):
                return AuthResult(success=False, handled=False)
            try:
                name, digest = answer.split(b" ", 1)
            except ValueError:
                return AuthResult(success=False, handled=False)
            expected = hmac.new(password, challenge, "md5").hexdigest().encode()
            ok = name == user and hmac.compare_digest(digest, expected)
            if not ok and args.echo_auth:
                return AuthResult(success=False, handled=False, message="535 5.7.8 refused %s [%s]"
                                  % (base64.b64encode(answer).decode(), answer.decode()))
            return AuthResult(success=ok, handled=False, auth_data=name if ok else None)

    def authenticator(server, session, envelope, mechanism, auth_data):
        if args.auth != "login" or mechanism not in ("LOGIN", "PLAIN"):
            return AuthResult(success=False, handled=False)
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user
              and auth_data.password == password)
        if not ok and args.echo_auth and isinstance(auth_data, LoginPassword):
            login, sent = auth_data.login, auth_data.password
            forms = [sent, base64.b64encode(sent), base64.b64encode(b"\0" + login + b"\0" + sent),
                     base64.b64encode(login + b"\0" + login + b"\0" + sent)]
            return AuthResult(success=False, handled=False, message="535 5.7.8 refused "
                              + " ".join(f.decode() for f in forms))
        return AuthResult(success=ok, handled=False, auth_data=auth_data.login if ok else None)

    tls_context = None
    if args.cert:
        import ssl
        tls_context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls_context.load_cert_chain(args.cert, args.key)

    handler = Handler(args.outdir, args.reject_rcpt, args.refuse_rcpt)
    port = args.port or free_port()
    kwargs = dict(hostname="127.0.0.1", port=port)
    server_kwargs = {}
    if args.auth != "none":
        server_kwargs.update(auth_required=True,
                             auth_require_tls=bool(tls_context) and not args.implicit_tls,
                             authenticator=authenticator)
        if args.auth == "login":
            server_kwargs["auth_exclude_mechanism"] = ["PLAIN"]
        else:
            server_kwargs["auth_exclude_mechanism"] = ["PLAIN", "LOGIN"]
    if tls_context and args.implicit_tls:
        kwargs["ssl_context"] = tls_context
    elif tls_context:
        server_kwargs.update(tls_context=tls_context, require_starttls=True)

    class PeerController(Controller):
        def factory(self):
            return PeerSMTP(self.handler, **self.SMTP_kwargs)

    controller = PeerController(handler, **kwargs, **server_kwargs)
    controller.start()
    print(port, flush=True)
    try:
        while True:
            time.sleep(3600)
    finally:
        controller.stop()


def mute():
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    sock.listen(8)
    print(sock.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = sock.accept()
        held.append(conn)  # keep it open, say nothing


def main():
    if len(sys.argv) == 2 and sys.argv[1] == "mute":
        mute()
        return
    if len(sys.argv) < 3 or sys.argv[1] != "serve":
        sys.stderr.write(__doc__)
        sys.exit(2)
    p = argparse.ArgumentParser()
    p.add_argument("outdir")
    p.add_argument("--auth", choices=["none", "login", "cram"], default="none")
    p.add_argument("--user")
    p.add_argument("--password")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--reject-rcpt", action="store_true")
    p.add_argument("--refuse-rcpt", action="append")
    p.add_argument("--echo-auth", action="store_true")
    p.add_argument("--implicit-tls", action="store_true")
    p.add_argument("--port", type=int, default=0)
    serve(p.parse_args(sys.argv[2:]))


if __name__ == "__main__":
    main()
