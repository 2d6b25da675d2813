#!/usr/bin/python3
"""An FTP server on 127.0.0.1 for the exchange tests (Debian's python3-pyftpdlib).

Usage: ftpserver.py ROOT [--tls CERTFILE]

With --tls it offers TLS on the control connection (AUTH TLS). Its TLS data connections do not
work with libcurl 7.88 (the server resets them), so tests use it for the login only.

Prints "PORT n" once it listens, then "CMD <line>" for every command it receives. It ends when
its standard input closes, so it never outlives the test that started it.

Users, all with the password "secret" and ROOT as their home:
  user     an ordinary account
  hider    its listings never show "rconpb.ban"
  dropper  the server closes the connection right after the login
"""
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


class HidingFS(AbstractedFS):
    def listdir(self, path):
        names = super().listdir(path)
        if self.cmd_channel.username == "hider":
            names = [n for n in names if n != "rconpb.ban"]
        return names


def handler_class(base):
    class Handler(base):
        abstracted_fs = HidingFS

        def pre_process_command(self, line, cmd, arg):
            print("CMD " + line, flush=True)
            super().pre_process_command(line, cmd, arg)

        def on_login(self, username):
            if username == "dropper":
                self.close_when_done()

    return Handler


def main():
    root = sys.argv[1]
    authorizer = DummyAuthorizer()
    for user in ("user", "hider", "dropper"):
        authorizer.add_user(user, "secret", root, perm="elradfmwMT")
    if len(sys.argv) > 3 and sys.argv[2] == "--tls":
        handler = handler_class(TLS_FTPHandler)
        handler.certfile = sys.argv[3]
    else:
        handler = handler_class(FTPHandler)
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0.1  # a refused login answers at once, keeping tests short
    logging.getLogger("pyftpdlib").addHandler(logging.NullHandler())
    logging.getLogger("pyftpdlib").propagate = False
    server = FTPServer(("127.0.0.1", 0), handler)
    print("PORT %d" % server.address[1], flush=True)

    def watch_stdin():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
