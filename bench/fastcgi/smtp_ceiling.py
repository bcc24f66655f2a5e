#!/usr/bin/python3
# The relay's ceiling as the cheapest client sees it: COUNT mails of about the size a form post
# makes, over one kept connection (smtplib), to 127.0.0.1:PORT; prints mails per second.
import smtplib
import sys
import time

port, count = int(sys.argv[1]), int(sys.argv[2])
text = ("From: form@example.org\r\nTo: webmaster@example.org\r\nSubject: Form\r\n\r\nName: Ann\r\nText: "
        + "x" * 900 + "\r\n")
start = time.monotonic()
with smtplib.SMTP("127.0.0.1", port) as relay:
    for _ in range(count):
        relay.sendmail("form@example.org", ["webmaster@example.org"], text)
print("%.1f" % (count / (time.monotonic() - start)))
