"""Ports of this machine: whether one answers, and free ones to listen on."""

import random
import socket

from ..model.errors import LabError

EPHEMERAL_RANGE = "/proc/sys/net/ipv4/ip_local_port_range"
LOWEST = 10000  # ports below this are left to the machine's services


def port_open(address, port):
    try:
        with socket.create_connection((address, port), timeout=1):
            return True
    except OSError:
        return False


def _ephemeral_low():
    """The first port the kernel hands out to outgoing connections."""
    try:
        with open(EPHEMERAL_RANGE) as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768  # Linux's default


def _bindable(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def _kernel_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _candidates(count):
    """First ports to try: random ones below the ephemeral range, then, if
    the range leaves nothing below it or none was free, the kernel's."""
    high = _ephemeral_low() - count
    if high > LOWEST:
        for _ in range(200):
            yield random.randint(LOWEST, high)
    for _ in range(100):
        yield _kernel_port()


def free_port(count=1):
    """A port of 127.0.0.1 that nothing listens on, with count - 1 more after
    it, all below the ephemeral range. A port a server is only going to
    listen on later must not be one the kernel may give any outgoing
    connection meanwhile: a busy machine's client takes it, and the server
    then fails with "address in use"."""
    for first in _candidates(count):
        if first + count <= 65536 and all(_bindable(p) for p in range(first, first + count)):
            return first
    raise LabError(f"found no {count} consecutive free ports")


def free_ports(count, avoid=()):
    """The first of count consecutive free ports of 127.0.0.1, none of them
    in avoid (ports chosen already but not yet listened on)."""
    for _ in range(100):
        first = free_port(count)
        if not set(range(first, first + count)) & set(avoid):
            return first
    raise LabError(f"found no {count} consecutive free ports outside those chosen")
