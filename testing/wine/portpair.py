#!/usr/bin/env python3
"""Two connected serial ports for Wine: a pty pair relay.

    portpair.py LINK_A LINK_B READY_FILE

Opens two pseudo-terminals, links LINK_A and LINK_B (e.g. <prefix>/dosdevices/com12) to their slave
sides and copies every byte that arrives on one master to the other. It keeps a slave descriptor of
each side open itself, so a program closing and reopening its port does not hang the pty up (with
socat the relay would end at the first close). Writes READY_FILE when both links exist, and removes
the links again on SIGTERM/SIGINT.

A test can hold one side's line: while LINK.hold exists the relay does not read what the program
on that side writes (it stays in the pty, where a purge of that port's output can still discard
it, as bytes a driver has not sent yet). The relay writes LINK.held once it holds, and removes it
once it lets go.

A test can take one side's port away as if its card had been pulled: while LINK.unplug exists the
relay removes LINK (opening the port then fails as for a device that is gone); it writes
LINK.unplugged once the link is gone, and puts the link back (and removes LINK.unplugged) once
LINK.unplug is gone. The pty itself stays, so the other side notices nothing.

A pty has no line, but it keeps what a program set: the relay writes each side's rate and framing
("19200 8N1", read with tcgetattr on the master) into LINK.line whenever they change, so a test can
see how the program under test set up its port.
"""
import os
import select
import signal
import sys
import termios
import tty


def make_pty():
    master, slave = os.openpty()
    tty.setraw(slave, termios.TCSANOW)
    return master, slave, os.ttyname(slave)


SPEEDS = {getattr(termios, name): int(name[1:]) for name in dir(termios)
          if name.startswith("B") and name[1:].isdigit()}


def line_settings(fd):
    try:
        _, _, cflag, _, _, ospeed, _ = termios.tcgetattr(fd)
    except termios.error:
        return None
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    parity = "N" if not cflag & termios.PARENB else ("O" if cflag & termios.PARODD else "E")
    stop = 2 if cflag & termios.CSTOPB else 1
    return "%d %d%s%d" % (SPEEDS.get(ospeed, 0), bits, parity, stop)


def write_atomically(path, text):
    with open(path + ".tmp", "w") as f:
        f.write(text + "\n")
    os.rename(path + ".tmp", path)


def main():
    if len(sys.argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    link_a, link_b, ready = sys.argv[1:]
    ends = [make_pty(), make_pty()]
    links = [link_a, link_b]

    def cleanup(*_):
        for link in links:
            for path in (link, link + ".line", link + ".line.tmp", link + ".hold", link + ".held",
                         link + ".held.tmp", link + ".unplug", link + ".unplugged", link + ".unplugged.tmp"):
                try:
                    os.unlink(path)
                except OSError:
                    pass
        os._exit(0)

    signal.signal(signal.SIGTERM, cleanup)
    signal.signal(signal.SIGINT, cleanup)
    signal.signal(signal.SIGHUP, cleanup)

    for (_, _, name), link in zip(ends, links):
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(name, link)
    with open(ready + ".tmp", "w") as f:
        f.write("%d\n" % os.getpid())
    os.rename(ready + ".tmp", ready)

    # Non-blocking, with a pending queue per direction: a side that does not read must not stall
    # the other direction.
    masters = [ends[0][0], ends[1][0]]
    for fd in masters:
        os.set_blocking(fd, False)
    peer = {masters[0]: masters[1], masters[1]: masters[0]}
    pending = {masters[0]: bytearray(), masters[1]: bytearray()}  # bytes waiting to go to the key
    reported = [None, None]
    held = [False, False]
    unplugged = [False, False]
    while True:
        for i, fd in enumerate(masters):
            unplug = os.path.exists(links[i] + ".unplug")
            if unplug != unplugged[i]:
                unplugged[i] = unplug
                if unplug:
                    if os.path.lexists(links[i]):
                        os.unlink(links[i])
                    write_atomically(links[i] + ".unplugged", "1")
                else:
                    if not os.path.lexists(links[i]):
                        os.symlink(ends[i][2], links[i])
                    try:
                        os.unlink(links[i] + ".unplugged")
                    except OSError:
                        pass
            now = line_settings(fd)
            if now is not None and now != reported[i]:
                write_atomically(links[i] + ".line", now)
                reported[i] = now
            hold = os.path.exists(links[i] + ".hold")
            if hold != held[i]:
                # Said before the next read: from here on nothing more is taken from that side.
                held[i] = hold
                if hold:
                    write_atomically(links[i] + ".held", "1")
                else:
                    try:
                        os.unlink(links[i] + ".held")
                    except OSError:
                        pass
        want_write = [fd for fd in masters if pending[fd]]
        want_read = [fd for i, fd in enumerate(masters)
                     if not held[i] and len(pending[peer[fd]]) < (1 << 20)]
        readable, writable, _ = select.select(want_read, want_write, [], 0.02)
        for fd in readable:
            try:
                data = os.read(fd, 65536)
            except OSError:
                data = b""
            pending[peer[fd]] += data
        for fd in writable:
            try:
                n = os.write(fd, pending[fd])
            except (BlockingIOError, OSError):
                continue
            del pending[fd][:n]

if __name__ == "__main__":
    sys.exit(main())
