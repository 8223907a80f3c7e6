#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/ (run once; the seeds are
committed). Real packets of an upload, error packets, option acknowledgements and settings files."""
import os
import struct

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz", "corpus")


def word(v):
    return struct.pack(">H", v)


def ack(n):
    return word(4) + word(n)


def oack(*pairs):
    return word(6) + b"".join(k + b"\0" + v + b"\0" for k, v in pairs)


def error(code, text):
    return word(5) + word(code) + text + b"\0"


WRQ = b"\x00\x02/\x00octet\x00blksize\x001500\x00"
assert len(WRQ) == 23


def record(datagram, stranger=False, other_port=False):
    """stranger: from another address; other_port: from another port of the device's address."""
    header = (0x80 if stranger else 0) | (0x20 if other_port else 0)
    if len(datagram) < 256:
        return bytes([header, len(datagram)]) + datagram
    return bytes([header | 0x40]) + word(len(datagram)) + datagram


TIMEOUT = b"\xff"


def upload(size, *records):
    return word(size) + b"".join(records)


seeds = {
    "fuzz_upload": {
        "oack1500_1000": upload(1000, record(oack((b"blksize", b"1500"))), record(ack(1))),
        "ack0_512": upload(512, record(ack(0)), record(ack(1)), record(ack(2))),
        "oack1024_3000": upload(3000, record(oack((b"blksize", b"1024"))),
                                record(ack(1)), record(ack(2)), record(ack(3))),
        "duplicate_ack": upload(2000, record(ack(0)), record(ack(1)), record(ack(1)),
                                record(ack(2)), record(ack(3)), record(ack(4))),
        "error_at_2": upload(2000, record(ack(0)), record(ack(1)),
                             record(error(2, b"Access violation"))),
        "stranger": upload(700, record(ack(0)), record(ack(1), stranger=True), record(ack(1)),
                           record(ack(2))),
        "final_ack_lost": upload(100, record(ack(0)), TIMEOUT),
        "no_answer": upload(100, TIMEOUT),
        "zero_bytes": upload(100, record(b"")),
        "bad_blksize": upload(100, record(oack((b"blksize", b"abc")))),
        "tsize_first": upload(600, record(oack((b"tsize", b"600"), (b"blksize", b"1024"))),
                              record(ack(1)), record(ack(2))),
        "late_oack": upload(1500, record(ack(0)), record(oack((b"blksize", b"1400"))),
                            record(ack(1)), record(ack(2))),
        "future_ack": upload(3000, record(ack(0)), record(ack(1)), record(ack(5)),
                             record(ack(6))),
        "oversized": upload(100, record(ack(0) + b"x" * 600)),
        "stranger_first": upload(600, record(oack((b"blksize", b"8")), stranger=True),
                                 record(ack(0)), record(ack(1)), record(ack(2))),
        "other_port": upload(1200, record(ack(0), other_port=True), record(ack(1)),
                             record(ack(1), other_port=True), record(ack(2), other_port=True)),
        "lost_block": upload(1100, record(ack(0)), TIMEOUT, record(ack(1)), TIMEOUT, TIMEOUT,
                             record(ack(2)), record(ack(3))),
        "junk": upload(700, record(ack(0)), record(word(99) + b"junk"), record(ack(0)),
                       record(oack((b"blksize", b"8"))), record(ack(1)), record(ack(2))),
    },
    "fuzz_option_ack": {
        "blksize1500": oack((b"blksize", b"1500")),
        "BLKSIZE1024": oack((b"BLKSIZE", b"1024")),
        "tsize_then_blksize": oack((b"tsize", b"100"), (b"blksize", b"1024")),
        "empty_value": oack((b"blksize", b"")),
        "hex": oack((b"blksize", b"$400")),
        "zero": oack((b"blksize", b"0")),
        "huge": oack((b"blksize", b"65465")),
        "cut": word(6) + b"blksize",
        "no_nul": word(6) + b"blksize\x00512",
    },
    "fuzz_error_packet": {
        "code1": error(1, b"File not found"),
        "code0": error(0, b"Undefined"),
        "code9": error(9, b"other"),
        "code8": error(8, b"Option negotiation refused"),
        "four_bytes": word(5) + word(2),
        "no_nul": word(5) + word(3) + b"Disk full",
        "short": word(5) + b"\x00",
        "ffff": error(0xFFFF, b"x"),
    },
    "fuzz_integer_text": {
        "decimal": b"1500", "negative_min": b"-2147483648", "max": b"2147483647",
        "over": b"2147483648", "hex_dollar": b"$FFFFFFFF", "hex_0x": b"0x7fffffff",
        "hex_x": b"X1f", "leading_zeros": b"$000000001", "blanks": b"   42",
        "trailing_blank": b"42 ", "sign_hex": b"-$5", "plus": b"+7", "empty": b"",
        "tab": b"\t1",
    },
    "fuzz_dotted_quad": {
        "loopback": b"127.0.0.1", "device": b"192.168.1.100", "hex": b"$7F.0.0.1",
        "blanks": b" 10. 1.2.3", "five": b"1.2.3.4.5", "big": b"256.1.1.1", "name": b"localhost",
        "empty_part": b"1..2.3",
    },
    "fuzz_ini": {
        "plain": b"[Data]\nIP=192.168.1.100\nPath=C:\\fw\\zeb40.bin\n\x00127.0.0.1\x00",
        "crlf": b"[Debug]\r\nEnableWrite=0\r\n[Data]\r\nIP=10.0.0.1\r\n\x00new\x05",
        "case": b"[DATA]\nip = 1.2.3.4 \npath=\n\x00/tmp/x\x01",
        "quotes": b"[Data]\nPath=\"C:\\a b\\fw.bin\"\nIP='127.0.0.2'\n\x00v\x02",
        "blanks": b"\n\n[Data]\n\n; comment\n  IP  =  1.1.1.1  \n\n[Other]\nx=1\n\x00z\x03",
        "hex": b"[debug]\nEnableWrite=0x0\n\x00$0\x06",
        "no_newline": b"[Data]\nIP=1.2.3.4\x00y\x00",
        "repeated": b"[Data]\nIP=1\n[Data]\nIP=2\nIP=3\n\x00q\x04",
        "bom": b"\xef\xbb\xbf[Data]\r\nIP=10.0.0.1\r\nPath=/fw/a.bin\r\n\x0010.0.0.9\x00",
        "cr_only": b"[Data]\rIP=10.0.0.1\rPath=/fw/a.bin\r\x00/fw/b.bin\x08",
        "mixed": b"[Debug]\rEnableWrite=1\r\n[Data]\nIP=10.0.0.1\r\n\r[Other]\rX=1\x00p\x08",
        "lone_cr_last": b"[Data]\nIP=10.0.0.1\nPath=/tmp/x.bin\r\x0010.0.0.9\x00",
        "latin1": b"[Data]\nIP=10.0.0.1\nPath=/tmp/fw_\xe9.bin\n\x00/tmp/fw_\xe9\xe9.bin\x08",
    },
}

for target, files in seeds.items():
    folder = os.path.join(root, target)
    os.makedirs(folder, exist_ok=True)
    for name, content in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
