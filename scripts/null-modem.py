#!/usr/bin/env python3
"""Two pseudo-terminals joined like a null-modem cable: what is written to
one arrives at the other. Prints the two terminals' paths, one a line, then
carries bytes until standard input closes or a signal ends it. The Windows
serial tests open the two ends as COM ports under Wine."""
import os
import pty
import select
import sys
import tty

ends = [pty.openpty() for _ in range(2)]
for _, slave in ends:
    tty.setraw(slave)  # no echo, no line processing until a port sets its own
print(os.ttyname(ends[0][1]), os.ttyname(ends[1][1]), sep="\n", flush=True)
masters = [m for m, _ in ends]
while True:
    ready, _, _ = select.select(masters + [sys.stdin], [], [])
    if sys.stdin in ready and not os.read(sys.stdin.fileno(), 4096):
        break
    for i, m in enumerate(masters):
        if m in ready:
            try:
                data = os.read(m, 4096)
            except OSError:
                continue
            os.write(masters[1 - i], data)
