#!/usr/bin/python3
"""Unit tests of the nginx configuration of an online session: the site's
locations, TLS and headers, the values it refuses, and the whole
nginx.conf and the site alone as nginx itself reads them (nginx -t; those
cases skip without nginx)."""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
from types import SimpleNamespace
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model.errors import LabError  # noqa: E402
from wexlab.model.record import Web  # noqa: E402
from wexlab.runtime import proxy_process  # noqa: E402
from wexlab.cli import proxy_config  # noqa: E402
from wexlab.servers import proxy  # noqa: E402
from wexlab.servers.prosody import config as prosody_config  # noqa: E402
from wexlab.web import lifecycle  # noqa: E402


def blocks(text):
    """Each location's match and its lines, as {match: [lines]}."""
    found = {}
    for match, body in re.findall(r"location ([^{]+?) \{\n(.*?)\n\s*\}", text, re.S):
        found[match] = [line.strip() for line in body.splitlines()]
    return found


class Folder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="wexlab-proxy-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.crt = os.path.join(self.dir, "lab.crt")
        self.key = os.path.join(self.dir, "lab.key")

    def site(self, **changes):
        values = dict(public_host="study.example.org", port=8443,
                      upstream="http://127.0.0.1:5280", room_port=5291,
                      certificate=self.crt, key=self.key)
        values.update(changes)
        return proxy.Site(**values)


class SiteTextTest(Folder):
    def test_each_path_goes_to_its_server(self):
        text = proxy.site_text(self.site())
        found = blocks(text)
        self.assertEqual(list(found), ["= /xmpp-websocket", "= /room/ws", "/join/", "/room/",
                                       "/"])
        self.assertIn("proxy_pass http://127.0.0.1:5280;", found["= /xmpp-websocket"])
        self.assertIn("proxy_pass http://127.0.0.1:5280;", found["/"])
        for match in ("= /room/ws", "/join/", "/room/"):
            # No URI after the port: the request's path passes unchanged.
            self.assertIn("proxy_pass http://127.0.0.1:5291;", found[match])
        # Both websockets upgrade over HTTP/1.1 and wait an hour; the pages do not.
        for match in ("= /xmpp-websocket", "= /room/ws"):
            self.assertIn("proxy_set_header Upgrade $http_upgrade;", found[match])
            self.assertIn('proxy_set_header Connection "upgrade";', found[match])
            self.assertIn("proxy_http_version 1.1;", found[match])
            self.assertIn("proxy_read_timeout 3600s;", found[match])
        for match in ("/join/", "/room/", "/"):
            self.assertFalse([line for line in found[match] if "Upgrade" in line], match)
        for lines in found.values():
            self.assertIn("proxy_set_header X-Forwarded-Proto https;", lines)
            self.assertIn("proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for;",
                          lines)

    def test_tls_names_and_headers(self):
        text = proxy.site_text(self.site())
        self.assertIn("    listen 8443 ssl http2;\n", text)
        self.assertIn("    server_name study.example.org;\n", text)
        self.assertIn(f'    ssl_certificate "{self.crt}";\n', text)
        self.assertIn(f'    ssl_certificate_key "{self.key}";\n', text)
        self.assertIn("    ssl_protocols TLSv1.2 TLSv1.3;\n", text)
        self.assertNotIn("TLSv1.1", text)
        self.assertIn('add_header Strict-Transport-Security "max-age=31536000" always;', text)
        self.assertIn("client_max_body_size 16k;", text)
        # A location with an add_header of its own would drop the server's
        # HSTS; nothing caches the page's seat.json or lang.json.
        self.assertEqual(text.count("add_header"), 1)
        self.assertNotIn("proxy_cache", text)

    def test_listen_address_and_https_upstream(self):
        text = proxy.site_text(self.site(listen="127.0.0.1",
                                         upstream=proxy.web_upstream("10.0.0.5", 5281, True)))
        self.assertIn("    listen 127.0.0.1:8443 ssl http2;\n", text)
        self.assertIn("proxy_pass https://10.0.0.5:5281;", blocks(text)["/"])
        text = proxy.site_text(self.site(listen="::1", upstream=proxy.web_upstream("::1", 5280,
                                                                                   False)))
        self.assertIn("    listen [::1]:8443 ssl http2;\n", text)
        self.assertIn("proxy_pass http://[::1]:5280;", blocks(text)["/"])
        self.assertNotIn("listen [::]", text)
        text = proxy.site_text(self.site(ipv6=True))
        self.assertIn("    listen 8443 ssl http2;\n    listen [::]:8443 ssl http2;\n", text)
        self.assertNotIn("listen [::]", proxy.site_text(self.site()))

    def test_refuses_what_would_break_the_configuration(self):
        for bad in ("a.org; include /etc/passwd", "two words", "", "host}", "-x.org"):
            with self.assertRaisesRegex(LabError, "PublicHost"):
                proxy.site_text(self.site(public_host=bad))
        for port in (0, 65536, "8443"):
            with self.assertRaisesRegex(LabError, "ProxyPort"):
                proxy.site_text(self.site(port=port))
        with self.assertRaisesRegex(LabError, "Room"):
            proxy.site_text(self.site(room_port=-1))
        for path in ('/a"b.crt', "/certs/$host.crt", "/a;b", "/a\nb"):
            with self.assertRaisesRegex(LabError, "nginx cannot be given the path"):
                proxy.site_text(self.site(certificate=path))
        with self.assertRaisesRegex(LabError, "listening address"):
            proxy.site_text(self.site(listen="localhost"))
        # Names and addresses that are sound pass.
        for good in ("lab", "study.example.org", "192.0.2.7", "2001:db8::1", "x-1.example."):
            self.assertIn(f"server_name {good};", proxy.site_text(self.site(public_host=good)))

    def test_public_origin(self):
        self.assertEqual(proxy.public_origin("study.example.org", 443),
                         "https://study.example.org")
        self.assertEqual(proxy.public_origin("study.example.org", 8443),
                         "https://study.example.org:8443")
        self.assertEqual(proxy.public_origin("2001:db8::1", 8443), "https://[2001:db8::1]:8443")

    def test_listens_on_a_loopback_public_host_alone(self):
        self.assertEqual(proxy.listen_address("127.0.0.1"), "127.0.0.1")
        self.assertEqual(proxy.listen_address("::1"), "::1")
        for public in ("study.example.org", "192.0.2.7", "2001:db8::1", "localhost"):
            self.assertEqual(proxy.listen_address(public), "", public)

    def test_site_of_a_session_record(self):
        online = SimpleNamespace(public_host="study.example.org", proxy_port=443, room_port=6000)
        lab = SimpleNamespace(online=online, web=Web(port=5280, tls=True), address="127.0.0.1",
                              certificate_files=[self.crt, self.key])
        site = proxy.site_for(lab)
        self.assertEqual(site, proxy.Site("study.example.org", 443, "https://127.0.0.1:5280",
                                          6000, self.crt, self.key, "",
                                          ipv6=proxy.ipv6_available()))
        self.assertFalse(proxy.site_for(lab, listen="127.0.0.1").ipv6)
        lab.web = None
        with self.assertRaisesRegex(LabError, "Web on"):
            proxy.site_for(lab)


def online_lab(crt, key, proxy_on=True, port=8443, address="127.0.0.1", tls=False):
    online = SimpleNamespace(public_host="study.example.org", proxy_port=port, room_port=5291,
                             proxy=proxy_on)
    return SimpleNamespace(online=online, web=Web(port=5280, tls=tls), address=address, pairs=[],
                           domain="lab.wex", port=5222, certificate_files=[crt, key])


class SessionTest(Folder):
    """The proxy in a session: Prosody's lines behind it, proxy-config's
    file and start's refusals before anything runs."""

    def test_prosody_trusts_the_proxy_of_an_online_session_only(self):
        lab = online_lab(self.crt, self.key, address="10.0.0.5")
        _, lines = prosody_config.web_settings(lab, "/srv/s")
        self.assertIn('trusted_proxies = { "127.0.0.1"; "::1"; "10.0.0.5"; }', lines)
        self.assertIn('http_external_url = "https://study.example.org:8443/"', lines)
        lab = online_lab(self.crt, self.key, port=443, tls=True)
        _, lines = prosody_config.web_settings(lab, "/srv/s")
        self.assertIn('trusted_proxies = { "127.0.0.1"; "::1"; }', lines)
        self.assertIn('http_external_url = "https://study.example.org/"', lines)
        lab.online = None
        _, lines = prosody_config.web_settings(lab, "/srv/s")
        self.assertFalse([line for line in lines if "proxies" in line or "external" in line])

    def test_proxy_config_file(self):
        text = proxy_config.site_file_text(online_lab(self.crt, self.key), "/srv/session")
        self.assertTrue(text.startswith("# nginx site of the wexlab session in /srv/session: "
                                        "https://study.example.org:8443/\n"), text)
        self.assertIn(proxy.site_text(proxy.Site("study.example.org", 8443,
                                                 "http://127.0.0.1:5280", 5291, self.crt,
                                                 self.key, ipv6=proxy.ipv6_available())),
                      text)
        lab = online_lab(self.crt, self.key)
        lab.online = None
        with self.assertRaisesRegex(LabError, "online session"):
            proxy_config.site_file_text(lab, "/srv/session")

    def test_start_refuses_without_nginx_or_with_its_port_taken(self):
        lab = online_lab(self.crt, self.key)
        self.assertTrue(lifecycle.runs_proxy(lab))
        self.assertFalse(lifecycle.runs_proxy(online_lab(self.crt, self.key, proxy_on=False)))
        lab.online = None
        self.assertFalse(lifecycle.runs_proxy(lab))
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            lab = online_lab(self.crt, self.key, port=port)
            with mock.patch.object(proxy_process, "find_nginx", lambda: None):
                with self.assertRaisesRegex(LabError, "nginx, which is not installed"):
                    lifecycle.check_proxy(lab)
            with mock.patch.object(proxy_process, "find_nginx", lambda: "/usr/sbin/nginx"):
                with self.assertRaisesRegex(LabError, f"listens on port {port}; choose"):
                    lifecycle.check_proxy(lab)
        with mock.patch.object(proxy_process, "find_nginx", lambda: "/usr/sbin/nginx"), \
                mock.patch.object(proxy_process, "may_listen", lambda port: port >= 1024):
            lab = online_lab(self.crt, self.key, port=443)
            with self.assertRaisesRegex(LabError, "ProxyPort 443 is below the ports"):
                lifecycle.check_proxy(lab)
        self.assertTrue(proxy_process.may_listen(443, euid=0, first_open=1024))
        self.assertFalse(proxy_process.may_listen(443, euid=1000, first_open=1024))
        self.assertTrue(proxy_process.may_listen(443, euid=1000, first_open=443))
        self.assertTrue(proxy_process.may_listen(8443, euid=1000, first_open=1024))
        # The port free again, the site's own faults still stop the start.
        lab.online.public_host = "bad host"
        with mock.patch.object(proxy_process, "find_nginx", lambda: "/usr/sbin/nginx"):
            with self.assertRaisesRegex(LabError, "PublicHost"):
                lifecycle.check_proxy(lab)


class ConfigTextTest(Folder):
    def test_everything_nginx_writes_is_in_the_folder(self):
        folder = os.path.join(self.dir, "proxy")
        text = proxy.config_text(self.site(), folder, as_root=False)
        paths = re.findall(r'"(/[^"]*)"', text)
        self.assertEqual(sorted(p for p in paths if p not in (self.crt, self.key)),
                         sorted(os.path.join(folder, name) for name in
                                ("nginx.pid", "error.log", "access.log", "tmp/client_body",
                                 "tmp/proxy", "tmp/fastcgi", "tmp/uwsgi", "tmp/scgi")))
        self.assertIn("daemon on;", text)
        self.assertNotIn("user ", text)
        self.assertIn("daemon off;", proxy.config_text(self.site(), folder, daemon=False,
                                                       as_root=False))
        # Started by root, the worker gives up root for nobody.
        self.assertIn("user nobody nogroup;",
                      proxy.config_text(self.site(), folder, as_root=True))
        self.assertEqual(text.count("server {"), 1)
        self.assertEqual(text.count("{"), text.count("}"))


@unittest.skipUnless(proxy_process.find_nginx(), "nginx is not installed")
class NginxReadsItTest(Folder):
    """nginx -t on the files written: the syntax, each directive in its
    place, the certificate and key loaded and matching."""

    def setUp(self):
        super().setUp()
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-keyout", self.key, "-out", self.crt, "-subj", "/CN=study.example.org"],
                       check=True, capture_output=True)

    def nginx_test(self, conf, folder):
        done = subprocess.run([proxy_process.find_nginx(), "-t", "-p", folder, "-c", conf, "-e",
                               os.path.join(folder, "error.log")], capture_output=True, text=True)
        return done.returncode, done.stderr

    def test_the_whole_configuration(self):
        folder = os.path.join(self.dir, "proxy")
        os.makedirs(os.path.join(folder, "tmp"))
        for site in (self.site(ipv6=proxy.ipv6_available()),
                     self.site(listen="127.0.0.1", port=443,
                                            upstream="https://127.0.0.1:5281")):
            conf = os.path.join(folder, "nginx.conf")
            with open(conf, "w") as f:
                f.write(proxy.config_text(site, folder))
            code, said = self.nginx_test(conf, folder)
            self.assertEqual(code, 0, said)
            self.assertIn("test is successful", said)

    def test_the_site_alone_in_an_http_block(self):
        # As a researcher's nginx includes it: a file of sites/ in http {}.
        site_file = os.path.join(self.dir, "wex-site.conf")
        with open(site_file, "w") as f:
            f.write(proxy.site_text(self.site()))
        conf = os.path.join(self.dir, "outer.conf")
        log = os.path.join(self.dir, "error.log")
        with open(conf, "w") as f:
            f.write(f'pid "{self.dir}/outer.pid";\nerror_log "{log}";\nevents {{}}\n'
                    f'http {{\n    include "{site_file}";\n}}\n')
        code, said = self.nginx_test(conf, self.dir)
        self.assertEqual(code, 0, said)

    def test_started_found_and_stopped(self):
        import ssl
        import urllib.error
        import urllib.request
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        site = self.site(listen="127.0.0.1", port=port, upstream="http://127.0.0.1:9")
        pid = proxy_process.start(self.dir, site)
        self.addCleanup(proxy_process.stop, self.dir)
        self.assertEqual(proxy_process.running_pid(self.dir), pid)
        self.assertEqual(proxy_process.start(self.dir, site), pid)  # not a second one
        context = ssl.create_default_context(cafile=self.crt)
        context.check_hostname = False
        # Nothing behind it: nginx itself answers, over TLS, with HSTS.
        with self.assertRaises(urllib.error.HTTPError) as caught:
            urllib.request.urlopen(f"https://127.0.0.1:{port}/", context=context, timeout=10)
        self.assertEqual(caught.exception.code, 502)
        self.assertEqual(caught.exception.headers["Strict-Transport-Security"],
                         "max-age=31536000")
        other = tempfile.mkdtemp(prefix="wexlab-proxy-")
        self.addCleanup(shutil.rmtree, other)
        with self.assertRaisesRegex(LabError, f"listens on port {port}"):
            proxy_process.start(other, site)
        self.assertTrue(proxy_process.stop(self.dir))
        self.assertIsNone(proxy_process.running_pid(self.dir))
        self.assertFalse(proxy_process.stop(self.dir))

    def test_a_key_of_another_certificate_fails(self):
        other = os.path.join(self.dir, "other.key")
        subprocess.run(["openssl", "genrsa", "-out", other, "2048"], check=True,
                       capture_output=True)
        folder = os.path.join(self.dir, "proxy")
        os.makedirs(folder)
        conf = os.path.join(folder, "nginx.conf")
        with open(conf, "w") as f:
            f.write(proxy.config_text(self.site(key=other), folder))
        code, said = self.nginx_test(conf, folder)
        self.assertNotEqual(code, 0)
        self.assertIn("key values mismatch", said)
        # wexlab's start says so, with nginx's words, and runs nothing.
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        with self.assertRaisesRegex(LabError, "nginx did not start .*key values mismatch"):
            proxy_process.start(self.dir, self.site(key=other, listen="127.0.0.1", port=port))
        self.assertIsNone(proxy_process.running_pid(self.dir))


if __name__ == "__main__":
    unittest.main()
