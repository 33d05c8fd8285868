"""wexlab proxy-config: the nginx site of an online session, for an nginx
the researcher runs (Proxy off, or a machine whose port 443 nginx serves
already): one `server {}` block to include in its http {} block."""

import os
import sys

from ..model import record
from ..model.errors import LabError
from ..runtime.processes import say_line
from ..servers import proxy


def site_file_text(lab, folder):
    if lab.online is None:
        raise LabError("wexlab proxy-config is for an online session (Arrivals on)")
    origin = proxy.public_origin(lab.online.public_host, lab.online.proxy_port)
    head = [f"# nginx site of the wexlab session in {folder}: {origin}/",
            "# Include it in nginx's http {} block (e.g. as a file of",
            "# /etc/nginx/sites-enabled/), then: nginx -t && systemctl reload nginx"]
    return "\n".join(head) + "\n" + proxy.site_text(proxy.site_for(lab))


def run(args):
    folder = os.path.abspath(args.folder or os.getcwd())
    if not record.exists(folder):
        raise LabError(f"no session in {folder} (wexlab start makes one)")
    text = site_file_text(record.load(folder), folder)
    if not args.out:
        sys.stdout.write(text)
        return
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(text)
    say_line(f"The nginx site is in {args.out}.")
