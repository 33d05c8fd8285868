"""A TCP relay on 127.0.0.1 between a client and a server that can freeze
the link (stop forwarding both ways, connections left open) and cut it
(reset every connection), as a network that dies silently or breaks would.

Used in-process by the end-to-end tests:

    proxy = LinkProxy(server_port); port = await proxy.start()
    proxy.freeze(); proxy.thaw(); proxy.cut(); await proxy.close()
"""

import asyncio
import socket
import struct


class LinkProxy:
    def __init__(self, target_port, target_host="127.0.0.1"):
        self.target = (target_host, target_port)
        self.port = None
        self._server = None
        self._flowing = asyncio.Event()
        self._flowing.set()
        self._links = set()  # (client writer, server writer) pairs
        self._tasks = set()

    async def start(self):
        self._server = await asyncio.start_server(self._accept, "127.0.0.1", 0)
        self.port = self._server.sockets[0].getsockname()[1]
        return self.port

    def freeze(self):
        """Nothing passes either way until thaw; connections stay open."""
        self._flowing.clear()

    def thaw(self):
        self._flowing.set()

    def cut(self):
        """Resets every open connection at both ends."""
        for pair in list(self._links):
            for writer in pair:
                _reset(writer)
        self._links.clear()

    async def close(self):
        self.thaw()
        if self._server is not None:
            self._server.close()
            await self._server.wait_closed()
        self.cut()
        for task in list(self._tasks):
            task.cancel()

    async def _accept(self, client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(*self.target)
        except OSError:
            _reset(client_writer)
            return
        pair = (client_writer, server_writer)
        self._links.add(pair)
        for reader, writer in ((client_reader, server_writer), (server_reader, client_writer)):
            task = asyncio.ensure_future(self._pump(reader, writer, pair))
            self._tasks.add(task)
            task.add_done_callback(self._tasks.discard)

    async def _pump(self, reader, writer, pair):
        try:
            while True:
                await self._flowing.wait()
                data = await reader.read(65536)
                # Data that arrives while frozen waits here, like packets a
                # dead link holds back.
                await self._flowing.wait()
                if not data:
                    break
                writer.write(data)
                await writer.drain()
            if pair in self._links and writer.can_write_eof():
                writer.write_eof()
        except (OSError, asyncio.CancelledError):
            pass


def _reset(writer):
    sock = writer.get_extra_info("socket")
    try:
        if sock is not None:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    writer.transport.abort()
