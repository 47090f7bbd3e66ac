#!/usr/bin/python3
"""A small SMTP server for the tests: accepts every mail and appends what it was told to a
file. usage: smtp_sink.py ADDRESS PORT FILE

The file gets, per mail, the AUTH user and password (when given), "MAIL FROM:<...>", each
"RCPT TO:<...>", the message as it arrived and a line "." after it. Only AUTH PLAIN with
its initial response is offered, which is what Python's smtplib sends.
"""
import base64
import socketserver
import sys


class Session(socketserver.StreamRequestHandler):
    def say(self, text):
        self.wfile.write(text.encode() + b"\r\n")

    def line(self):
        raw = self.rfile.readline()
        if not raw:
            raise EOFError
        return raw.decode("latin-1").rstrip("\r\n")

    def record(self, text):
        with open(sys.argv[3], "a") as f:
            f.write(text + "\n")

    def handle(self):
        try:
            self.converse()
        except EOFError:
            pass

    def converse(self):
        self.say("220 sink ready")
        while True:
            text = self.line()
            words = text.split()
            verb = words[0].upper() if words else ""
            if verb == "EHLO":
                self.say("250-sink\r\n250 AUTH PLAIN")
            elif verb == "AUTH" and len(words) == 3:
                _, user, password = base64.b64decode(words[2]).decode().split("\0")
                self.record("AUTH %s %s" % (user, password))
                self.say("235 accepted")
            elif verb in ("MAIL", "RCPT"):
                self.record(verb + text[len(verb):])
                self.say("250 ok")
            elif verb == "DATA":
                self.say("354 go ahead")
                lines = []
                for text in iter(self.line, "."):
                    lines.append(text[1:] if text.startswith(".") else text)
                self.record("\n".join(lines) + "\n.")
                self.say("250 queued")
            elif verb == "QUIT":
                self.say("221 bye")
                return
            else:
                self.say("250 ok")


socketserver.TCPServer.allow_reuse_address = True
socketserver.TCPServer((sys.argv[1], int(sys.argv[2])), Session).serve_forever()
