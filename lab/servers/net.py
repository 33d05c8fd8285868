"""Ports of this machine: whether one answers, and free ones to listen on."""

import socket

from ..model.errors import LabError


def port_open(address, port):
    try:
        with socket.create_connection((address, port), timeout=1):
            return True
    except OSError:
        return False


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_ports(count, avoid=()):
    """The first of count consecutive free ports of 127.0.0.1, none of them
    in avoid (ports chosen already but not yet listened on)."""
    for _ in range(100):
        first = free_port()
        ports = range(first, first + count)
        if first + count <= 65536 and not set(ports) & set(avoid) and all(
                not port_open("127.0.0.1", p) for p in ports[1:]):
            return first
    raise LabError(f"found no {count} consecutive free ports")
