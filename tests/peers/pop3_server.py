#!/usr/bin/python3
"""POP3 peer for the tests: Dovecot on 127.0.0.1 at a free port, one account, no TLS.

  pop3_server.py ROOT USER PASSWORD [CERT KEY]

With CERT and KEY the server offers STLS and refuses logins before it (so a login that works
proves the client switched to TLS).

ROOT is an empty folder for Dovecot's configuration, state, log and mail. Prints the port on the
first line of standard output once a login with STAT works (the greeting alone says nothing: it
appears even when logins are broken). Runs until its process group is signalled.
"""
import os
import poplib
import pwd
import grp
import shutil
import socket
import subprocess
import sys
import time


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    if len(sys.argv) not in (4, 6):
        sys.stderr.write(__doc__)
        sys.exit(2)
    root, user, password = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
    tls = len(sys.argv) == 6
    if tls:
        ssl_lines = "ssl = required\nssl_cert = <%s\nssl_key = <%s\ndisable_plaintext_auth = yes" % (
            os.path.abspath(sys.argv[4]), os.path.abspath(sys.argv[5]))
    else:
        ssl_lines = "ssl = no\ndisable_plaintext_auth = no"
    dovecot = shutil.which("dovecot") or "/usr/sbin/dovecot"
    port = free_port()

    if os.geteuid() == 0:
        # Login processes refuse to run as root, and must be able to walk into ROOT.
        login_user, internal_user = "dovenull", "dovecot"
        mail_uid, mail_gid = pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid
    else:
        me = pwd.getpwuid(os.geteuid()).pw_name
        login_user = internal_user = me
        mail_uid, mail_gid = os.geteuid(), os.getegid()
    os.chmod(root, 0o755)
    for sub in ("base", "state", "mail", "home"):
        os.makedirs(os.path.join(root, sub), exist_ok=True)
    for sub in ("mail", "home"):
        path = os.path.join(root, sub)
        os.chown(path, mail_uid, mail_gid)
    with open(os.path.join(root, "users"), "w") as f:
        f.write("%s:{PLAIN}%s\n" % (user, password))
    os.chmod(os.path.join(root, "users"), 0o644)

    conf = """
base_dir = {root}/base
state_dir = {root}/state
log_path = {root}/dovecot.log
protocols = pop3
listen = 127.0.0.1
{ssl_lines}
auth_mechanisms = plain login
auth_failure_delay = 0
default_login_user = {login_user}
default_internal_user = {internal_user}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {root}/users
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={root}/home/%u
}}
mail_location = maildir:{root}/mail/%u
service pop3-login {{
  chroot =
  inet_listener pop3 {{
    port = {port}
  }}
  inet_listener pop3s {{
    port = 0
  }}
}}
service anvil {{
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
""".format(root=root, login_user=login_user, internal_user=internal_user, uid=mail_uid,
           gid=mail_gid, port=port, ssl_lines=ssl_lines)
    conf_path = os.path.join(root, "dovecot.conf")
    with open(conf_path, "w") as f:
        f.write(conf)

    child = subprocess.Popen([dovecot, "-F", "-c", conf_path])
    deadline = time.monotonic() + 20
    while True:
        if child.poll() is not None:
            sys.stderr.write("dovecot ended early; see %s/dovecot.log\n" % root)
            sys.exit(1)
        try:
            pop = poplib.POP3("127.0.0.1", port, timeout=2)
            if tls:
                import ssl
                ctx = ssl.create_default_context()
                ctx.check_hostname = False
                ctx.verify_mode = ssl.CERT_NONE
                pop.stls(ctx)
            pop.user(user)
            pop.pass_(password)
            pop.stat()
            pop.quit()
            break
        except (OSError, poplib.error_proto):
            if time.monotonic() > deadline:
                sys.stderr.write("dovecot not ready; see %s/dovecot.log\n" % root)
                child.kill()
                sys.exit(1)
            time.sleep(0.05)
    print(port, flush=True)
    child.wait()


if __name__ == "__main__":
    main()
