"""One lab certificate across sessions.

With the session keys `Certificate PATH` and `CertificateKey PATH` the lab
server uses the lab's own certificate. Without them wexlab makes one
self-signed certificate per lab machine (and domain) the first time, keeps
it in its data folder and uses it in every later session, so a seat that
accepted it once is not asked again. The data folder is $WEX_DATA_DIR, else
$XDG_DATA_HOME/wex, else ~/.local/share/wex."""

import fcntl
import ipaddress
import os
import shutil

from ..model.errors import LabError
from ..model.files import make_private_dir, write_private
from .command import run

DAYS = 3650  # a lab machine keeps its certificate for years


def data_dir():
    given = os.environ.get("WEX_DATA_DIR")
    if given:
        return given
    base = os.environ.get("XDG_DATA_HOME") or os.path.join(os.path.expanduser("~"), ".local",
                                                           "share")
    return os.path.join(base, "wex")


def machine_certificate(lab):
    """The paths of this machine's own certificate for the lab's domain,
    made the first time it is needed."""
    folder = os.path.join(data_dir(), "certs")
    crt = os.path.join(folder, lab.domain + ".crt")
    key = os.path.join(folder, lab.domain + ".key")
    if os.path.exists(crt) and os.path.exists(key):
        return crt, key
    os.makedirs(data_dir(), mode=0o700, exist_ok=True)
    make_private_dir(folder)
    # Two sessions starting at once make one certificate, not a mixed pair.
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (os.path.exists(crt) and os.path.exists(key)):
            make_pair(lab, crt, key)
    return crt, key


def make_pair(lab, crt, key):
    names = "DNS:" + lab.domain
    try:
        names += ",IP:" + str(ipaddress.ip_address(lab.address))
    except ValueError:
        names += ",DNS:" + lab.address
    temporary = key + ".new"
    write_private(temporary, "")  # openssl keeps the mode of a file that exists
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", str(DAYS),
         "-keyout", temporary, "-out", crt + ".new", "-subj", "/CN=" + lab.domain,
         "-addext", "subjectAltName=" + names])
    os.replace(temporary, key)
    os.replace(crt + ".new", crt)


def fingerprints(crt):
    prints = {}
    for digest in ("sha256", "sha1"):
        out = run(["openssl", "x509", "-noout", "-fingerprint", f"-{digest}", "-in", crt])
        prints[digest] = out.strip().split("=", 1)[-1]
    return prints


def install(lab, server):
    """Copies the lab's certificate into server/certs where the Prosody
    configuration expects it; returns {"path", "sha256", "sha1"}."""
    given = lab.certificate_files
    crt, key = given if given else machine_certificate(lab)
    for path in (crt, key):
        if not os.path.isfile(path) or not os.access(path, os.R_OK):
            raise LabError(f"cannot read the certificate file {path}")
    prints = fingerprints(crt)  # also checks that it is a certificate
    certs = os.path.join(server, "certs")
    make_private_dir(certs)
    target = os.path.join(certs, lab.domain)
    shutil.copyfile(crt, target + ".crt")
    with open(key, encoding="utf-8") as f:
        write_private(target + ".key", f.read())
    return {"path": target + ".crt", **prints}
