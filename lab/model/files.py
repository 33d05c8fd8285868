"""Writing the session folder's files: private ones (passwords, keys) for
their owner alone, and JSON replaced atomically. Every other file of a
session is for its owner and group only (restrict_umask)."""

import json
import os

# Transcripts, consoles, logs, data files and the report hold what the
# participants wrote: no one but the owner and the group reads them.
SESSION_UMASK = 0o027


def restrict_umask():
    """Makes this process, and every program it starts (bots, supervisor,
    desk, the lab server), create files 0640 and folders 0750 or tighter."""
    os.umask(os.umask(SESSION_UMASK) | SESSION_UMASK)


def write_private(path, text):
    """Writes text into path readable by its owner alone; a file that was
    there already loses every other access before the text goes in."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        os.fchmod(fd, 0o600)
        f.write(text)


def make_private_dir(path):
    """Makes path, or takes an existing one, for its owner alone."""
    os.makedirs(path, mode=0o700, exist_ok=True)
    os.chmod(path, 0o700)


def read_json(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def write_json(path, data, private=False):
    """Replaces path atomically (a temporary file, then rename)."""
    temporary = path + ".tmp"
    text = json.dumps(data, indent=1) + "\n"
    if private:
        write_private(temporary, text)
    else:
        with open(temporary, "w", encoding="utf-8") as f:
            f.write(text)
    os.replace(temporary, path)
