#!/usr/bin/env python3
"""A lossy UDP relay for TFTP on loopback, in front of a server: clients send their requests to
the relay's port, and each transfer is carried between the client and the server's transfer port,
every datagram in either direction dropped with a seeded probability. Standard library only.

The client sees the relay as the server: it answers from a port of its own for each transfer, as
a server does (RFC 1350 section 4). A client's repeated request goes into the same transfer: to
the server's transfer port once the server has answered (a server takes it for a duplicate), to
its request port only while no request has reached the server, so the server never opens a second
transfer for one upload.

With STALL and STALL_MS, the device pauses now and then (to write a block to flash, say): with
the probability STALL for each datagram towards the client (the dice of a seed of their own),
that datagram and every one after it towards the client is held until STALL_MS milliseconds
have passed, and then sent on in order.

usage: lossy_relay.py SERVER_PORT LOSS SEED [STALL STALL_MS]   (prints "relay PORT", runs until
interrupted)
"""

import heapq
import itertools
import random
import select
import socket
import sys
import threading
import time

LOOPBACK = "127.0.0.1"


def bound_socket():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((LOOPBACK, 0))
    return s


class Transfer:
    """One client's transfer: a socket towards the server, one towards the client."""

    def __init__(self, client):
        self.client = client
        self.upstream = bound_socket()    # talks to the server
        self.downstream = bound_socket()  # the transfer port the client sees
        self.server = None                # the server's transfer port, from its first answer
        self.request_delivered = False

    def close(self):
        self.upstream.close()
        self.downstream.close()


class LossyRelay:
    def __init__(self, server_port, loss, seed, stall=0.0, stall_ms=0):
        self.server_port = server_port
        self.loss = loss
        self.random = random.Random(seed)
        self.stall = stall
        self.stall_s = stall_ms / 1000
        self.stall_random = random.Random(seed + 1000003)
        self.held = []  # (due, order, socket, data, to), a heap
        self.order = itertools.count()
        self.stalled = 0
        self.stalled_until = 0.0
        self.listen = bound_socket()
        self.port = self.listen.getsockname()[1]
        self.transfers = {}  # client address -> Transfer
        self.dropped = {"to server": 0, "to client": 0}
        self.forwarded = {"to server": 0, "to client": 0}
        self._stop = threading.Event()
        self._thread = None

    def __enter__(self):
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()
        return self

    def __exit__(self, *_):
        self.stop()

    def stop(self):
        self._stop.set()
        if self._thread is not None:
            self._thread.join()
            self._thread = None
        for t in self.transfers.values():
            t.close()
        self.transfers.clear()
        self.listen.close()

    def _pass(self, sock, data, to, direction):
        """Sends data on, unless the dice drop it; True when it went."""
        if self.random.random() < self.loss:
            self.dropped[direction] += 1
            return False
        if direction == "to client" and self.stall:
            now = time.monotonic()
            if now >= self.stalled_until and self.stall_random.random() < self.stall:
                self.stalled_until = now + self.stall_s
                self.stalled += 1
            if now < self.stalled_until:
                heapq.heappush(self.held, (self.stalled_until, next(self.order), sock, data, to))
                self.forwarded[direction] += 1
                return True
        sock.sendto(data, to)
        self.forwarded[direction] += 1
        return True

    def _from_client_request(self, data, client):
        transfer = self.transfers.get(client)
        if transfer is None:
            transfer = Transfer(client)
            self.transfers[client] = transfer
        if transfer.server is not None:
            self._pass(transfer.upstream, data, transfer.server, "to server")
        elif not transfer.request_delivered:
            transfer.request_delivered = self._pass(
                transfer.upstream, data, (LOOPBACK, self.server_port), "to server")
        # Otherwise the request reached the server, which has not answered yet: its answer (or
        # its own retransmission of it) will come, and a second request would open a second
        # transfer; it is dropped.

    def _run(self):
        while not self._stop.is_set():
            sockets = [self.listen]
            owner = {}
            for t in self.transfers.values():
                sockets += [t.upstream, t.downstream]
                owner[t.upstream] = owner[t.downstream] = t
            now = time.monotonic()
            while self.held and self.held[0][0] <= now:
                _, _, sock, data, to = heapq.heappop(self.held)
                try:
                    sock.sendto(data, to)
                except OSError:
                    pass
            wait = 0.05 if not self.held else max(0.0, min(0.05, self.held[0][0] - now))
            readable, _, _ = select.select(sockets, [], [], wait)
            for sock in readable:
                try:
                    data, sender = sock.recvfrom(65536)
                except OSError:
                    continue
                if sock is self.listen:
                    self._from_client_request(data, sender)
                    continue
                t = owner[sock]
                if sock is t.upstream:
                    if t.server is None:
                        t.server = sender
                    if sender == t.server:
                        self._pass(t.downstream, data, t.client, "to client")
                elif sender == t.client and t.server is not None:
                    self._pass(t.upstream, data, t.server, "to server")


def main():
    server_port, loss, seed = int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
    stall = float(sys.argv[4]) if len(sys.argv) > 4 else 0.0
    stall_ms = int(sys.argv[5]) if len(sys.argv) > 5 else 0
    with LossyRelay(server_port, loss, seed, stall, stall_ms) as relay:
        print(f"relay {relay.port}", flush=True)
        try:
            threading.Event().wait()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
