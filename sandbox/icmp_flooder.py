"""Runs in the operator's namespace. Floods the router with ICMP that is not
an answer to its probe: echo replies with other identifiers (half of them
carrying the probe's magic), short and long ones, destination-unreachable
and time-exceeded messages. Every probe it sees is answered at once with a
burst of unreachables quoting it and an echo reply with its identifier
inverted. Identifiers of probes seen are never used.

    icmp_flooder.py ROUTER RATE OUTFILE

OUTFILE gets "ready", then "probe ID" for each probe answered and "sent N"
after each burst.
"""

import os
import random
import socket
import struct
import sys
import threading
import time

from icmp_peer import with_checksum

router, rate, log = sys.argv[1], int(sys.argv[2]), open(sys.argv[3], "a", buffering=1)
seen = set()
out = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
rnd = random.Random(8)


def send(message):
    out.sendto(with_checksum(message), (router, 0))


def foreign_id():
    while True:
        i = rnd.randrange(65536)
        if i not in seen:
            return i


def answer_probes():
    cap = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0800))
    cap.bind(("up0", 0))
    while True:
        frame, info = cap.recvfrom(65535)
        ip = frame[14:]
        ihl = (ip[0] & 15) * 4
        if info[2] != socket.PACKET_HOST or ip[9] != 1 or len(ip) < ihl + 8 or ip[ihl] != 8:
            continue
        icmp = ip[ihl:]
        ident = struct.unpack("!H", icmp[4:6])[0]
        seen.add(ident)
        for code in range(4):
            send(bytes([3, code]) + bytes(6) + ip[:ihl + 8])
        send(b"\0\0\0\0" + struct.pack("!H", ident ^ 0xFFFF) + icmp[6:])
        log.write("probe %d\n" % ident)


threading.Thread(target=answer_probes, daemon=True).start()
log.write("ready\n")
sent = 0
while True:
    for _ in range(rate // 100):
        kind = rnd.randrange(6)
        head = b"\0\0\0\0" + struct.pack("!HH", foreign_id(), rnd.randrange(65536))
        if kind == 0:
            send(head)
        elif kind == 1:
            send(head + b"\1\0\0\x2cZELV" + os.urandom(rnd.randrange(60)))
        elif kind == 2:
            send(head + os.urandom(1400))
        elif kind == 3:
            send(b"\3\3" + bytes(6) + bytes([0x45]) + os.urandom(27))
        elif kind == 4:
            send(b"\x0b\0" + bytes(6) + bytes([0x45]) + os.urandom(27))
        else:
            send(head + b"\1\0\0\x2cZELV")
        sent += 1
    log.write("sent %d\n" % sent)
    time.sleep(0.01)
