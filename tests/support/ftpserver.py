#!/usr/bin/python3
"""An FTP server on 127.0.0.1 for the exchange tests (Debian's python3-pyftpdlib).

Usage: ftpserver.py ROOT [--tls CERTFILE]

With --tls it offers TLS on the control connection (AUTH TLS). Its TLS data connections do not
work with libcurl 7.88 (the server resets them); the TLS tests use vsftpd.

Prints "PORT n" once it listens, then "CMD <line>" for every command it receives. It ends when
its standard input closes, so it never outlives the test that started it.

Users, all with the password "secret" and ROOT as their home, each misbehaving in one way the
way real servers do:
  user       an ordinary account
  hider      its listings never show "rconpb.ban"
  dropper    the server closes the connection right after the login
  dier       the server process dies while a file is being stored
  noreplace  RNTO onto an existing file is refused (as some servers on Windows do)
  norename   every RNTO is refused
  mute       QUIT is never answered
  staller    LIST is never answered
"""
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

USERS = ("user", "hider", "dropper", "dier", "noreplace", "norename", "mute", "staller")


class HidingFS(AbstractedFS):
    def listdir(self, path):
        names = super().listdir(path)
        if self.cmd_channel.username == "hider":
            names = [n for n in names if n != "rconpb.ban"]
        return names


def handler_class(base):
    class DataHandler(base.dtp_handler):
        def handle_read(self):
            if self.cmd_channel.username == "dier" and self.receive:
                # Some of the file arrives, then the whole server is gone.
                self.recv(1024)
                os._exit(3)
            super().handle_read()

        # pyftpdlib's event loop calls this name, bound to the base's method.
        handle_read_event = handle_read

    class Handler(base):
        abstracted_fs = HidingFS
        dtp_handler = DataHandler

        def pre_process_command(self, line, cmd, arg):
            print("CMD " + line, flush=True)
            super().pre_process_command(line, cmd, arg)

        def on_login(self, username):
            if username == "dropper":
                self.close_when_done()

        def ftp_RNTO(self, path):
            if self.username == "norename" or (
                    self.username == "noreplace" and os.path.exists(path)):
                self._rnfr = None
                self.respond("550 Cannot rename onto that name.")
                return
            return super().ftp_RNTO(path)

        def ftp_QUIT(self, line):
            if self.username == "mute":
                return
            return super().ftp_QUIT(line)

        def ftp_LIST(self, path):
            if self.username == "staller":
                return
            return super().ftp_LIST(path)

    return Handler


def main():
    root = sys.argv[1]
    authorizer = DummyAuthorizer()
    for user in USERS:
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
