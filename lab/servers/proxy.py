"""nginx in front of an online session: one public origin over TLS for the
seat page and Prosody's websocket (the lab server's web port) and the room
server's join and waiting pages (on loopback).

site_text is the `server {}` block alone, for an nginx the researcher runs
(wexlab proxy-config); config_text is a whole nginx.conf around it that
wexlab runs itself (Proxy on), its pid, logs and temporary folders in the
session's proxy/ folder."""

import ipaddress
import os
import re
import socket
from dataclasses import dataclass

from ..model.errors import LabError
from . import certificate

FOLDER = "proxy"  # in the session folder
CONFIG = "nginx.conf"
PID_FILE = "nginx.pid"
ERROR_LOG = "error.log"
ACCESS_LOG = "access.log"
# A websocket may carry nothing for minutes (a subject waiting for a
# partner or for the other's answer): nginx's default of 60 s would cut it.
WEBSOCKET_TIMEOUT = "3600s"
# Every request a page makes is a GET; nothing larger is ever posted.
MAX_BODY = "16k"
HSTS = "max-age=31536000"  # a year; only this host, not its subdomains
# TLS 1.2 with forward secrecy and AEAD only; TLS 1.3 picks its own.
CIPHERS = ("ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
           "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
           "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305")
HOST_NAME = re.compile(r"^(?=.{1,253}$)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       r"(\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\.?$")


@dataclass
class Site:
    """What the site needs: the public name and port, where the lab
    server's page and websocket are (an origin such as http://127.0.0.1:5280),
    the room server's loopback port, the certificate's files, and the address
    nginx listens on ("" for every address of the machine: IPv4's, and
    IPv6's too when ipv6)."""
    public_host: str
    port: int
    upstream: str
    room_port: int
    certificate: str
    key: str
    listen: str = ""
    ipv6: bool = False


def ipv6_available():
    """Whether this machine can listen on IPv6 (nginx refuses to start on
    a [::] listen where it cannot)."""
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::", 0))
        return True
    except OSError:
        return False


def host_in_url(address):
    """An address as it stands in a URL (IPv6 in brackets)."""
    return f"[{address}]" if ":" in address else address


def public_origin(public_host, port):
    """https://HOST, with :PORT unless it is 443."""
    host = host_in_url(public_host)
    return f"https://{host}" if port == 443 else f"https://{host}:{port}"


def web_upstream(address, web_port, tls):
    """The lab server's web origin as nginx reaches it."""
    return f"{'https' if tls else 'http'}://{host_in_url(address)}:{web_port}"


def certificate_files(lab):
    """The session's own certificate (Certificate, CertificateKey) or this
    machine's, as the lab server uses: the original files, so that a
    certificate an ACME client renews in place stays current."""
    if lab.certificate_files:
        return tuple(lab.certificate_files)
    return certificate.machine_certificate(lab)


def listen_address(public_host):
    """Where nginx run by wexlab listens: a loopback PublicHost (a
    rehearsal on this machine) on that address alone, else every address
    (a public address may be NAT's, not one of this machine's)."""
    try:
        return public_host if ipaddress.ip_address(public_host).is_loopback else ""
    except ValueError:
        return ""


def site_for(lab, listen=""):
    """The site of a session whose record has its online settings."""
    online = lab.online
    if lab.web is None:
        raise LabError("the proxy serves the web seats: the session needs Web on")
    crt, key = certificate_files(lab)
    return Site(online.public_host, online.proxy_port,
                web_upstream(lab.address, lab.web.port, lab.web.tls), online.room_port,
                crt, key, listen, ipv6=not listen and ipv6_available())


def is_address(text):
    try:
        ipaddress.ip_address(text)
        return True
    except ValueError:
        return False


def check_site(site):
    """Refuses values that would not make a sound nginx configuration: a
    host name nginx would read as more than a name, a port out of range, a
    path it would read as a variable or end early."""
    if not (HOST_NAME.match(site.public_host) or is_address(site.public_host)):
        raise LabError(f"PublicHost {site.public_host!r} is not a host name or address")
    if site.listen and not is_address(site.listen):
        raise LabError(f"the proxy's listening address {site.listen!r} is not an address")
    for name, port in (("ProxyPort", site.port), ("Room", site.room_port)):
        if not isinstance(port, int) or not 0 < port < 65536:
            raise LabError(f"{name} {port!r} is not a port")
    for path in (site.certificate, site.key):
        check_path(path)


def check_path(path):
    if not path or any(c in path for c in '"\\$;{}') or any(ord(c) < 32 for c in path):
        raise LabError(f"nginx cannot be given the path {path!r}: "
                       "it holds a quote, $, ;, a brace or a control character")


def quoted(path):
    check_path(path)
    return f'"{path}"'


def listen_lines(site):
    """HTTP/2 for the page's many small files; a browser opens each
    websocket on an HTTP/1.1 connection of its own beside it."""
    if site.listen:
        return [f"    listen {host_in_url(site.listen)}:{site.port} ssl http2;"]
    # [::] takes IPv6 only (nginx's ipv6only=on), beside IPv4's every address.
    return [f"    listen {site.port} ssl http2;"] + (
        [f"    listen [::]:{site.port} ssl http2;"] if site.ipv6 else [])


def proxied(upstream, websocket=False):
    """The lines of a location that passes requests on unchanged, with the
    client's address and scheme; a websocket's also pass the upgrade and
    wait as long as a quiet participant may."""
    lines = [f"        proxy_pass {upstream};",
             "        proxy_set_header Host $host;",
             "        proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for;",
             "        proxy_set_header X-Forwarded-Proto https;",
             "        proxy_set_header X-Real-IP $remote_addr;"]
    if websocket:
        lines += ["        proxy_http_version 1.1;",
                  "        proxy_set_header Upgrade $http_upgrade;",
                  '        proxy_set_header Connection "upgrade";',
                  f"        proxy_read_timeout {WEBSOCKET_TIMEOUT};",
                  f"        proxy_send_timeout {WEBSOCKET_TIMEOUT};",
                  "        proxy_buffering off;"]
    return lines


def location(match, upstream, websocket=False):
    return [f"    location {match} {{"] + proxied(upstream, websocket) + ["    }"]


def site_text(site, websocket_path="/xmpp-websocket"):
    """The `server {}` block: TLS 1.2 and later with the lab's certificate,
    the seat page and its websocket from the lab server, /join/ and /room/
    from the room server. The page's own headers (its content policy, no
    framing, no store for seat.json and lang.json) come from the lab server
    and pass through; nginx adds HSTS and caches nothing (no proxy_cache)."""
    check_site(site)
    room = f"http://127.0.0.1:{site.room_port}"
    lines = [
        "server {",
        *listen_lines(site),
        f"    server_name {site.public_host};",
        f"    ssl_certificate {quoted(site.certificate)};",
        f"    ssl_certificate_key {quoted(site.key)};",
        "    ssl_protocols TLSv1.2 TLSv1.3;",
        f"    ssl_ciphers {CIPHERS};",
        "    ssl_prefer_server_ciphers off;",
        "    server_tokens off;",
        f"    client_max_body_size {MAX_BODY};",
        f"    client_body_buffer_size {MAX_BODY};",
        # Pages pass through memory only: no temporary files to write.
        "    proxy_max_temp_file_size 0;",
        # The lab server is on this machine; its certificate is the lab's
        # own, perhaps self-signed, so nginx does not check it.
        "    proxy_ssl_verify off;",
        f'    add_header Strict-Transport-Security "{HSTS}" always;',
    ]
    lines += location(f"= {websocket_path}", site.upstream, websocket=True)
    lines += location("= /room/ws", room, websocket=True)
    lines += location("/join/", room)
    lines += location("/room/", room)
    lines += location("/", site.upstream)
    lines.append("}")
    return "\n".join(lines) + "\n"


def config_text(site, folder, daemon=True, as_root=None):
    """A whole nginx.conf for nginx -p FOLDER -c FOLDER/nginx.conf: one
    worker, the pid file, logs and temporary folders in folder, the site.
    Started by root, the worker runs as nobody (nginx's own default group,
    nobody, is not Debian's)."""
    d = folder
    if as_root is None:
        as_root = os.geteuid() == 0
    lines = [
        "# Written by wexlab for one online session; wexlab starts and stops it.",
        f"daemon {'on' if daemon else 'off'};",
    ] + (["user nobody nogroup;"] if as_root else []) + [
        "worker_processes 1;",
        f"pid {quoted(os.path.join(d, PID_FILE))};",
        f"error_log {quoted(os.path.join(d, ERROR_LOG))} warn;",
        # Two websockets and their upstreams per participant.
        "worker_rlimit_nofile 8192;",
        "events {",
        "    worker_connections 4096;",
        "}",
        "http {",
        f"    access_log {quoted(os.path.join(d, ACCESS_LOG))};",
    ]
    for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
        lines.append(f"    {kind}_temp_path {quoted(os.path.join(d, 'tmp', kind))};")
    lines += ["    " + line if line else line for line in site_text(site).splitlines()]
    lines.append("}")
    return "\n".join(lines) + "\n"
