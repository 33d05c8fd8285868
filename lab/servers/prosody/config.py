"""Prosody's configuration for a lab: one VirtualHost of the lab's domain
on the Service's address and port, TLS required unless plain is allowed,
no registration and no server-to-server; the lab's policy module; with the
web seats, their page, websocket and archive (the seats' only); with a
session's pairs, the shared rosters (groups_file)."""

import json
import os

from ..policy import (POLICY_FILE, REFUSED_LOG, REPLACED_LOG, contact_groups,
                      one_session_accounts, unarchived_accounts)
from ..proxy import public_origin
from ..web_page import HEADERS, NO_STORE, WEBSOCKET_PATH

# The folder of the Prosody module that keeps participants to their own
# conversations (mod_wex_lab_policy.lua).
PLUGINS = os.path.dirname(os.path.abspath(__file__))
PROFILE_VARIABLE = "WEXLAB_SERVER_PROFILE"
ARCHIVE_PAGE = 500  # messages per archive query; a game has fewer per seat


def prosody_config(domain, address, port, folder, allow_plain, modules=(), extra=()):
    """Prosody's configuration of a lab of this domain on address:port, its
    files in folder; modules are loaded besides the usual ones and extra are
    more global lines (wexlab's web seats), each replacing the line that
    sets the same option."""
    d = folder
    more = "".join(f' "{m}";' for m in modules)
    lines = [
        "-- Written by lab-server.py for one lab session of wexbot.",
        f'pidfile = "{d}/prosody.pid"',
        f'data_path = "{d}/data"',
        f'certificates = "{d}/certs"',
        f'log = {{ info = "{d}/prosody.log"; error = "{d}/prosody.err" }}',
        f'interfaces = {{ "{address}" }}',
        f'c2s_interfaces = {{ "{address}" }}',
        f'c2s_ports = {{ {port} }}',
        "c2s_direct_tls_ports = { }",
        "s2s_ports = { }",
        "http_ports = { }",
        "https_ports = { }",
        f"c2s_require_encryption = {'false' if allow_plain else 'true'}",
        "allow_registration = false",
        'authentication = "internal_hashed"',
        f'plugin_paths = {{ "{PLUGINS}" }}',
        'modules_enabled = { "roster"; "saslauth"; "tls"; "disco"; "ping"; "offline";',
        '                    "carbons"; "smacks"; "blocklist"; "private"; "wex_lab_policy";'
        f'{more} }}',
        'modules_disabled = { "s2s" }',
        # Lua 5.4's generational collector: a stanza's garbage dies young.
        # Against Prosody's default (incremental, pause 105%, speed 500) it
        # cut the server's CPU per message by about 45% under wexlab bench.
        'gc = { mode = "generational" }',
        f'wex_lab_policy_file = "{d}/{POLICY_FILE}"',
        f'wex_lab_refused_log = "{d}/{REFUSED_LOG}"',
        f'wex_lab_replaced_log = "{d}/{REPLACED_LOG}"',
    ]
    # Prosody warns of an option set twice: extra lines replace the defaults.
    replaced = {line.split("=")[0].strip() for line in extra}
    lines = [line for line in lines if line.split(" = ")[0] not in replaced] + list(extra)
    if os.geteuid() == 0:
        lines.append("run_as_root = true")
    lines += [
        f'VirtualHost "{domain}"',
        f'  ssl = {{ key = "{d}/certs/{domain}.key"; '
        f'certificate = "{d}/certs/{domain}.crt" }}',
    ]
    return "\n".join(lines) + "\n"


def lua_string(text):
    """text as a Lua string literal (JSON's quoting, for ASCII text)."""
    return json.dumps(text, ensure_ascii=True)


def lua_list(items):
    return "{ " + "".join(f"{lua_string(item)}; " for item in items) + "}"


def session_lines(lab):
    """The global line of the accounts that hold one session at a time."""
    return [f"wex_lab_one_session = {lua_list(one_session_accounts(lab))}"]


def header_lines():
    """The lab module's options for the page's headers (Prosody keeps a
    header's name in lower case with underscores)."""
    headers = "".join(f"[{lua_string(name.lower().replace('-', '_'))}] = {lua_string(value)}; "
                      for name, value in HEADERS.items())
    return [f"wex_lab_http_headers = {{ {headers}}}",
            f"wex_lab_http_no_store = {lua_list(NO_STORE)}",
            # Prosody's default is Access-Control-Allow-Origin: * on every file.
            "http_default_cors_enabled = false"]


def web_settings(lab, server):
    """(modules, global lines) that serve the page and the websocket; both
    empty for `Web off`. The message archive lets a page that reloads or
    reconnects show the conversation so far."""
    web = lab.web
    if not web:
        return (), ()
    address, port = lab.address, web.port
    lines = [
        f'http_default_host = "{lab.domain}"',
        'http_paths = { files = "/"; websocket = "' + WEBSOCKET_PATH + '" }',
        f'http_files_dir = "{server}/www"',
        'http_index_files = { "index.html" }',
        f"max_archive_query_results = {ARCHIVE_PAGE}",
        'archive_expires_after = "never"',
        f"wex_lab_unarchived = {lua_list(unarchived_accounts(lab))}",
    ] + header_lines()
    if web.tls:
        lines += [f'https_interfaces = {{ "{address}" }}', f"https_ports = {{ {port} }}",
                  "http_ports = { }",
                  f'https_ssl = {{ key = "{server}/certs/{lab.domain}.key"; '
                  f'certificate = "{server}/certs/{lab.domain}.crt" }}']
    else:
        # Plain HTTP: the lab network is taken as closed, so the websocket
        # counts as secure and the page may sign in over it.
        lines += [f'http_interfaces = {{ "{address}" }}', f"http_ports = {{ {port} }}",
                  "https_ports = { }", "consider_websocket_secure = true"]
    if lab.online:
        lines += proxy_lines(lab.address, lab.online.public_host, lab.online.proxy_port)
    return ("http_files", "websocket", "mam", "wex_lab_archive"), lines


def profile_settings(modules, lines):
    """modules and lines with the Lua sampler of mod_wex_profile.lua when
    $WEXLAB_SERVER_PROFILE names the file for its counts (`wexlab bench
    --profile`); as they are otherwise."""
    path = os.environ.get(PROFILE_VARIABLE)
    if not path:
        return modules, lines
    return tuple(modules) + ("wex_profile",), list(lines) + [
        f"wex_profile_file = {lua_string(path)}"]


def proxy_lines(address, public_host, proxy_port):
    """An online session's page and websocket come through the proxy on
    this machine: Prosody trusts its X-Forwarded-For and -Proto (the
    participant's address in its logs, the websocket taken as secure) and
    names the public origin in the addresses it makes. Prosody checks no
    websocket Origin, so the public origin needs nothing more."""
    trusted = ["127.0.0.1", "::1"] + ([address] if address not in ("127.0.0.1", "::1") else [])
    return [f"trusted_proxies = {lua_list(trusted)}",
            f"http_external_url = {lua_string(public_origin(public_host, proxy_port) + '/')}"]


def groups_file(lab):
    """Prosody's shared rosters (mod_groups)."""
    d = lab.domain
    lines = []
    for group, members in contact_groups(lab):
        lines.append(f"[{group}]")
        lines += [f"{name}@{d}={name}" for name in members]
    return "\n".join(lines) + "\n"
