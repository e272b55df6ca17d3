#!/usr/bin/python3
"""FTP peer for the tests, on 127.0.0.1 at a free port.

  ftp_server.py serve HOME USER PASSWORD   pyftpdlib server, one user with full rights in HOME
  ftp_server.py mute                       accepts connections and never greets
  ftp_server.py greet                      greets, then never answers a command

Prints the chosen port on the first line of standard output once it accepts connections.
"""
import socket
import sys
import time


def serve(home, user, password):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
    import logging

    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0  # no 3 s sleep after a wrong password
    handler.passive_ports = None
    server = FTPServer(("127.0.0.1", 0), handler)
    print(server.address[1], flush=True)
    server.serve_forever()


def mute(greeting=None):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    sock.listen(8)
    print(sock.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = sock.accept()
        if greeting:
            conn.sendall(greeting)
        held.append(conn)  # keep it open, say nothing more


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3], sys.argv[4])
    elif len(sys.argv) == 2 and sys.argv[1] == "mute":
        mute()
    elif len(sys.argv) == 2 and sys.argv[1] == "greet":
        mute(b"220 ready\r\n")
    else:
        sys.stderr.write(__doc__)
        sys.exit(2)
