"""Binds ADDRESS:PORT and records every UDP datagram, never answering.
OUTFILE gets "ready", then one line per datagram: time, sender, bytes in hex.

    udp_listener.py ADDRESS PORT OUTFILE
"""

import socket
import sys
import time

sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind((sys.argv[1], int(sys.argv[2])))
out = open(sys.argv[3], "a", buffering=1)
out.write("ready\n")
while True:
    data, peer = sock.recvfrom(2048)
    out.write("%.6f %s %s\n" % (time.time(), peer[0], data.hex()))
