#!/usr/bin/python3
# SMTP sink for the tests: smtp_sink.py ADDRESS PORT FILE. Appends to FILE the AUTH PLAIN user and
# password, and per mail "MAIL FROM:<...>", each "RCPT TO:<...>", the message and a line ".".
import asyncore, base64, smtpd, sys


def record(text):
    print(text, file=open(sys.argv[3], "a"), flush=True)


class Channel(smtpd.SMTPChannel):
    def push(self, msg):  # the last line of the EHLO answer offers AUTH PLAIN instead of HELP
        super().push("250 AUTH PLAIN" if msg == "250 HELP" else msg)

    def smtp_AUTH(self, arg):
        record("AUTH %s %s" % tuple(base64.b64decode(arg.split()[1]).decode().split("\0")[1:]))
        self.push("235 accepted")


class Sink(smtpd.SMTPServer):
    channel_class = Channel

    def process_message(self, peer, mailfrom, rcpttos, data, **options):
        rcpts = "".join("RCPT TO:<%s>\n" % to for to in rcpttos)
        record("MAIL FROM:<%s>\n%s%s\n." % (mailfrom, rcpts, data.decode("latin-1")))


Sink((sys.argv[1], int(sys.argv[2])), None, decode_data=False)
asyncore.loop()
