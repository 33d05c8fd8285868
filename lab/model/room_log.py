"""room.log in the session folder: the room's entries as JSON lines, each
written whole and flushed to disk before anyone is told of it, so that
the room can be rebuilt after a crash and the supervisor and the data
read what happened. Only the room process writes it."""

import json
import os

ROOM_LOG = "room.log"


def path(folder):
    return os.path.join(folder, ROOM_LOG)


def append(folder, entries):
    """Appends the entries, one line each, and waits until they are on disk."""
    if not entries:
        return
    text = "".join(json.dumps(entry, sort_keys=True) + "\n" for entry in entries)
    if not ends_whole(folder):
        text = "\n" + text  # after a line torn by a crash, on a line of its own
    with open(path(folder), "a", encoding="utf-8") as f:
        f.write(text)
        f.flush()
        os.fsync(f.fileno())


def ends_whole(folder):
    try:
        with open(path(folder), "rb") as f:
            f.seek(0, os.SEEK_END)
            if f.tell() == 0:
                return True
            f.seek(-1, os.SEEK_END)
            return f.read(1) == b"\n"
    except FileNotFoundError:
        return True


def size(folder):
    """How many bytes room.log holds (0 before it exists): a cheap look
    that tells a reader whether anything came since its offset."""
    try:
        return os.stat(path(folder)).st_size
    except FileNotFoundError:
        return 0


def read_from(folder, offset=0):
    """(entries, offset after them) of the whole lines from offset on; a
    line still being written is left for the next read. No file: none."""
    try:
        with open(path(folder), "rb") as f:
            f.seek(offset)
            data = f.read()
    except FileNotFoundError:
        return [], offset
    end = data.rfind(b"\n") + 1
    entries = []
    for line in data[:end].split(b"\n"):
        if not line.strip():
            continue
        try:
            entry = json.loads(line.decode("utf-8"))
        except ValueError:
            continue  # a line torn by a crash: the room never acted on it
        if isinstance(entry, dict):
            entries.append(entry)
    return entries, offset + end


def read(folder):
    """Every entry of room.log."""
    return read_from(folder)[0]


def exists(folder):
    return os.path.exists(path(folder))
