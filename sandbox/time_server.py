"""Binds ADDRESS:123 and answers every NTP client request with this host's
clock as a stratum-1 server, so that an emulated router's BusyBox ntpd sets
its clock to the host's to the millisecond. OUTFILE gets "ready", then one
line per request: time, client.

    time_server.py ADDRESS OUTFILE
"""

import socket
import struct
import sys
import time

NTP_EPOCH = 2208988800  # 1900-01-01 to 1970-01-01, seconds


def timestamp(t):
    whole = int(t)
    return struct.pack("!II", whole + NTP_EPOCH, int((t - whole) * 2 ** 32))


sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind((sys.argv[1], 123))
out = open(sys.argv[2], "a", buffering=1)
out.write("ready\n")
while True:
    data, peer = sock.recvfrom(512)
    received = time.time()
    if len(data) < 48 or data[0] & 7 != 3:  # client mode only
        continue
    version = (data[0] >> 3) & 7
    # No leap warning, the client's version, server mode; stratum 1, the
    # client's poll, precision 2^-20 s; no root delay or dispersion; the
    # client's transmit time back as the origin.
    reply = (bytes([version << 3 | 4, 1, data[2], 0xEC]) + struct.pack("!II", 0, 0) + b"LOCL" +
             timestamp(received) + data[40:48] + timestamp(received) + timestamp(time.time()))
    sock.sendto(reply, peer)
    out.write("%.6f %s\n" % (received, peer[0]))
