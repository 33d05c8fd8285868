"""Running a server's helper program (openssl, prosodyctl, ...) to its end."""

import subprocess

from ..model.errors import LabError


def run(command, stdin_text=None):
    try:
        done = subprocess.run(command, input=stdin_text, capture_output=True, text=True,
                              timeout=60)
    except FileNotFoundError:
        raise LabError(f"{command[0]} is not installed (apt-get install prosody openssl)")
    if done.returncode != 0:
        raise LabError(f"{' '.join(command[:3])} failed: {(done.stderr or done.stdout).strip()}")
    return done.stdout
