#!/usr/bin/env python3
"""One-shot mDNS query (RFC 6762 legacy unicast) for a DNS-SD service type, without Avahi on the
asking side: what a Tessel under Wine sees on the wire.

    mdns_query.py SOURCE_ADDRESS [SERVICE] [--wait SECONDS]

Sends one PTR question for SERVICE (default _tessel._tcp.local) from an ephemeral port on
SOURCE_ADDRESS to 224.0.0.251:5353, prints every record of every answer that comes within the
wait, one a line, in the order the bytes hold them:

    PTR _tessel._tcp.local Tessel on A._tessel._tcp.local
    SRV Tessel on A._tessel._tcp.local 8765 A.local
    TXT Tessel on A._tessel._tcp.local "txtvers=1" "path=/tessel/"
    A A.local 169.254.77.1

Exit status 0 when an answer came, 1 when none did.
"""
import socket
import struct
import sys
import time


def encode_name(name):
    out = b""
    for label in name.rstrip(".").split("."):
        raw = label.encode()
        out += bytes([len(raw)]) + raw
    return out + b"\0"


def read_name(message, offset):
    """The name at offset (following compression pointers) and the offset after it."""
    labels = []
    end = None
    for _ in range(128):
        length = message[offset]
        if length & 0xC0 == 0xC0:
            if end is None:
                end = offset + 2
            offset = ((length & 0x3F) << 8) | message[offset + 1]
            continue
        offset += 1
        if length == 0:
            break
        labels.append(message[offset:offset + length].decode("utf-8", "replace"))
        offset += length
    return ".".join(labels), end if end is not None else offset


def records(message):
    _, _, questions, answers, authority, additional = struct.unpack(">HHHHHH", message[:12])
    offset = 12
    for _ in range(questions):
        _, offset = read_name(message, offset)
        offset += 4
    for _ in range(answers + authority + additional):
        name, offset = read_name(message, offset)
        kind, _, _, length = struct.unpack(">HHIH", message[offset:offset + 10])
        offset += 10
        data = message[offset:offset + length]
        if kind == 12:
            yield "PTR %s %s" % (name, read_name(message, offset)[0])
        elif kind == 33:
            _, _, port = struct.unpack(">HHH", data[:6])
            yield "SRV %s %d %s" % (name, port, read_name(message, offset + 6)[0])
        elif kind == 16:
            strings = []
            i = 0
            while i < len(data):
                strings.append('"%s"' % data[i + 1:i + 1 + data[i]].decode("utf-8", "replace"))
                i += 1 + data[i]
            yield "TXT %s %s" % (name, " ".join(strings))
        elif kind == 1:
            yield "A %s %s" % (name, socket.inet_ntoa(data))
        offset += length


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    wait = 1.5
    if "--wait" in argv:
        wait = float(argv[argv.index("--wait") + 1])
        args.remove(argv[argv.index("--wait") + 1])
    if not args:
        sys.stderr.write(__doc__)
        return 2
    source = args[0]
    service = args[1] if len(args) > 1 else "_tessel._tcp.local"
    query = struct.pack(">HHHHHH", 0, 0, 1, 0, 0, 0) + encode_name(service) + struct.pack(">HH", 12, 1)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((source, 0))
    # Without a default route the system has no interface for the group: name it.
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(source))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 255)
    sock.sendto(query, ("224.0.0.251", 5353))
    deadline = time.monotonic() + wait
    answered = False
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        sock.settimeout(left)
        try:
            message, _ = sock.recvfrom(9000)
        except socket.timeout:
            break
        answered = True
        for line in records(message):
            print(line)
    sys.stdout.flush()
    return 0 if answered else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
