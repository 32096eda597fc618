"""Runs in a host's namespace: records every ICMP echo request that arrives
on an interface and, in a chosen mode, answers it in a way the prober must
not accept.

    icmp_peer.py IFACE OUTFILE MODE

MODE is "capture" (record only; the kernel may answer), "wrong-id" (an echo
reply that carries the magic but another identifier), "unreachable" (an
ICMP host-unreachable quoting the request) or "foreign-first" (both of
those, then the genuine echo reply, as a busy router's raw socket sees it). OUTFILE gets "ready", then one
line per request: time, source, destination, ICMP message in hex.
"""

import socket
import struct
import sys
import time


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def with_checksum(message):
    message = message[:2] + b"\0\0" + message[4:]
    return message[:2] + struct.pack("!H", checksum(message)) + message[4:]


def main():
    iface, outfile, mode = sys.argv[1:4]
    capture = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0800))
    capture.bind((iface, 0))
    sender = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    out = open(outfile, "a", buffering=1)
    out.write("ready\n")
    while True:
        frame, info = capture.recvfrom(65535)
        if info[2] != socket.PACKET_HOST:
            continue
        ip = frame[14:]
        ihl = (ip[0] & 15) * 4
        if ip[9] != 1 or len(ip) < ihl + 8 or ip[ihl] != 8:
            continue
        total = struct.unpack("!H", ip[2:4])[0]
        icmp = ip[ihl:total]
        src, dst = socket.inet_ntoa(ip[12:16]), socket.inet_ntoa(ip[16:20])
        out.write("%.6f %s %s %s\n" % (time.time(), src, dst, icmp.hex()))
        ident = struct.unpack("!H", icmp[4:6])[0]
        wrong_id = b"\0\0\0\0" + struct.pack("!H", ident ^ 0xFFFF) + icmp[6:]
        unreachable = b"\x03\x01\0\0\0\0\0\0" + ip[:ihl + 8]
        genuine = b"\0\0\0\0" + icmp[4:]
        answers = {"wrong-id": [wrong_id], "unreachable": [unreachable],
                   "foreign-first": [unreachable, wrong_id, genuine]}.get(mode, [])
        for answer in answers:
            sender.sendto(with_checksum(answer), (src, 0))


if __name__ == "__main__":
    main()
