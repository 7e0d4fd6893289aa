#!/usr/bin/env python3
"""Memory of idle connections: opens N connections to 127.0.0.1:PORT that
send nothing, and prints the servers' resident memory before and after.

    idle.py PORT N SETTLE_SECONDS PID [PID...]

Prints "before_kib after_kib connected open": the RSS summed over the given
processes and their children (nginx's workers, tovksrv's threads are in one
process), measured after SETTLE_SECONDS with all N connections open.
Connections are opened one after the other, each with a 2 s connect limit,
so a short listen backlog costs time, never a lost connection.
"""

import os
import socket
import sys
import time


def children(pid):
    found = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as f:
                found += [int(c) for c in f.read().split()]
    except OSError:
        pass
    return found


def rss_kib(pids):
    seen = set()
    todo = list(pids)
    total = 0
    while todo:
        pid = todo.pop()
        if pid in seen:
            continue
        seen.add(pid)
        try:
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        except OSError:
            continue
        todo += children(pid)
    return total


def still_open(sock):
    sock.setblocking(False)
    try:
        data = sock.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT)
        return data != b""  # b"" = the server closed it
    except BlockingIOError:
        return True
    except OSError:
        return False


def main():
    port, count, settle = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    pids = [int(p) for p in sys.argv[4:]]
    time.sleep(0.5)
    before = rss_kib(pids)
    sockets = []
    deadline = time.monotonic() + 10  # well inside any server's idle limit
    for _ in range(count):
        if time.monotonic() > deadline:
            break
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.settimeout(2)
        try:
            s.connect(("127.0.0.1", port))
            sockets.append(s)
        except OSError:
            s.close()
    time.sleep(settle)
    after = rss_kib(pids)
    alive = sum(1 for s in sockets if still_open(s))
    for s in sockets:
        s.close()
    print(before, after, len(sockets), alive)


if __name__ == "__main__":
    main()
