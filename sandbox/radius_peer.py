"""A RADIUS peer that records every datagram to ports 1812 and 1813 of an
address and answers, in `mode`, never ("silent"), accounting only
("acct-only") or with an empty accounting reply and a 4096-byte
authentication reply ("sizes"). OUTFILE gets "ready", then one line per
datagram: time, port, length.

    radius_peer.py MODE OUTFILE ADDRESS
"""

import select
import socket
import sys
import time

mode, log, address = sys.argv[1], open(sys.argv[2], "a", buffering=1), sys.argv[3]
socks = {}
for port in (1812, 1813):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((address, port))
    socks[s] = port
log.write("ready\n")
while True:
    for s in select.select(list(socks), [], [])[0]:
        data, peer = s.recvfrom(4096)
        log.write("%.3f %d %d\n" % (time.time(), socks[s], len(data)))
        if mode == "acct-only" and socks[s] == 1813:
            s.sendto(bytes([5, data[1]]) + (20).to_bytes(2, "big") + bytes(16), peer)
        elif mode == "sizes":
            s.sendto(b"" if socks[s] == 1813 else bytes([2, data[1]]) + (bytes(range(256)) * 16)[:4094], peer)
