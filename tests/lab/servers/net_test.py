#!/usr/bin/python3
"""Unit tests of the ports wexlab chooses for the servers it starts."""

import os
import socket
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.servers import net  # noqa: E402


class FreePortTest(unittest.TestCase):
    def ephemeral_range(self, text):
        f = tempfile.NamedTemporaryFile("w", delete=False)
        f.write(text)
        f.close()
        self.addCleanup(os.remove, f.name)
        return mock.patch.object(net, "EPHEMERAL_RANGE", f.name)

    def test_ports_are_below_what_outgoing_connections_are_given(self):
        # An outgoing connection of any program may take a port of the
        # ephemeral range before the server listens on it.
        with self.ephemeral_range("30000\t60999\n"):
            for _ in range(50):
                first = net.free_ports(3)
                self.assertGreaterEqual(first, net.LOWEST)
                self.assertLess(first + 2, 30000)

    def test_a_port_in_use_is_never_chosen(self):
        for _ in range(20):  # a port in use whose neighbour below is free
            taken = socket.socket()
            self.addCleanup(taken.close)
            taken.bind(("127.0.0.1", 0))
            port = taken.getsockname()[1]
            if net._bindable(port - 1):
                break
        with self.ephemeral_range(f"{port + 1} 60999"), \
                mock.patch.object(net, "LOWEST", port - 1):
            self.assertEqual({net.free_port() for _ in range(50)}, {port - 1})
            # The two ports below the range hold no pair of free ports.
            self.assertNotIn(net.free_ports(2), {port - 1, port})

    def test_a_range_leaving_nothing_below_falls_back_to_the_kernels_choice(self):
        with self.ephemeral_range("1024 65535"):
            port = net.free_port()
        with socket.socket() as s:
            s.bind(("127.0.0.1", port))  # free indeed
        with self.ephemeral_range("unreadable"):
            self.assertLess(net.free_port(), 32768)

    def test_ports_already_chosen_are_avoided(self):
        with self.ephemeral_range("12010 60999"), mock.patch.object(net, "LOWEST", 12000):
            first = net.free_ports(2, avoid=range(12000, 12005))
            self.assertGreaterEqual(first, 12005)
            self.assertLessEqual(first + 1, 12009)


if __name__ == "__main__":
    unittest.main()
