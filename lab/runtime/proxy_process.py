"""The session's own nginx (Proxy on): started after the lab server with
the configuration of servers/proxy.py in the session's proxy/ folder, found
again by its pid file there, stopped at the session's stop."""

import os
import shutil
import subprocess
import time

from ..model.errors import LabError
from ..model.files import make_private_dir, write_private
from ..servers import net, proxy
from . import bots

START_SECONDS = 10  # for nginx to listen after its start


def find_nginx():
    """Debian's nginx is in /usr/sbin, not always on a user's PATH."""
    for path in (shutil.which("nginx"), "/usr/sbin/nginx"):
        if path and os.access(path, os.X_OK):
            return path
    return None


def may_listen(port, euid=None, first_open=None):
    """Whether this user may open port: root any, others those from
    net.ipv4.ip_unprivileged_port_start (1024 unless the machine lowered it)."""
    euid = os.geteuid() if euid is None else euid
    if first_open is None:
        try:
            with open("/proc/sys/net/ipv4/ip_unprivileged_port_start") as f:
                first_open = int(f.read())
        except (OSError, ValueError):
            first_open = 1024
    return euid == 0 or port >= first_open


def folder_of(session_folder):
    return os.path.join(session_folder, proxy.FOLDER)


def command(nginx, folder, *more):
    conf = os.path.join(folder, proxy.CONFIG)
    # -e: nginx's own log before it reads the configuration, which is
    # otherwise /var/log/nginx/error.log, not writable by a user.
    return [nginx, "-p", folder, "-c", conf, "-e", os.path.join(folder, proxy.ERROR_LOG), *more]


def running_pid(session_folder):
    """The pid of this session's nginx master while it runs, else None (a
    stale pid file, or a pid now some other program's, counts as none)."""
    folder = folder_of(session_folder)
    try:
        with open(os.path.join(folder, proxy.PID_FILE)) as f:
            pid = int(f.read().strip())
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            argv = f.read().split(b"\0")
    except (OSError, ValueError):
        return None
    conf = os.path.join(folder, proxy.CONFIG).encode()
    mine = any(b"nginx" in arg for arg in argv[:1]) and any(conf in arg for arg in argv)
    return pid if mine and bots.alive(pid) else None


def probe_address(site):
    return site.listen if site.listen and site.listen not in ("0.0.0.0", "::") else "127.0.0.1"


def start(session_folder, site):
    """Writes proxy/nginx.conf and starts nginx on it (as a daemon); returns
    its pid once it listens. Refuses, saying why, when nginx is missing, its
    port is taken or nginx does not start."""
    nginx = find_nginx()
    if nginx is None:
        raise LabError("nginx is not installed (apt-get install nginx), so Proxy on cannot "
                       "serve the session; install it, or write Proxy off and serve the "
                       "site of wexlab proxy-config from your own web server")
    if running_pid(session_folder) is not None:
        return running_pid(session_folder)
    address = probe_address(site)
    if net.port_open(address, site.port):
        raise LabError(f"something already listens on port {site.port} ({address}); choose "
                       "another ProxyPort")
    folder = folder_of(session_folder)
    make_private_dir(folder)
    os.makedirs(os.path.join(folder, "tmp"), mode=0o700, exist_ok=True)
    write_private(os.path.join(folder, proxy.CONFIG), proxy.config_text(site, folder))
    done = subprocess.run(command(nginx, folder), capture_output=True, text=True)
    if done.returncode != 0:
        said = (done.stderr or done.stdout).strip()
        raise LabError(f"nginx did not start ({said or 'exit status ' + str(done.returncode)});"
                       f" its log is {os.path.join(folder, proxy.ERROR_LOG)}")
    deadline = time.monotonic() + START_SECONDS
    while time.monotonic() < deadline:
        pid = running_pid(session_folder)
        if pid is not None and net.port_open(address, site.port):
            return pid
        time.sleep(0.1)
    raise LabError(f"nginx started but does not listen on port {site.port}; see "
                   f"{os.path.join(folder, proxy.ERROR_LOG)}")


def stop(session_folder, timeout=10):
    """Stops the session's nginx (SIGTERM: open websockets are cut at once,
    as the lab server's own stop does); True when one ran."""
    pid = running_pid(session_folder)
    if pid is None:
        return False
    bots.terminate([pid], timeout)
    return True
