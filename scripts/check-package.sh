#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh built, without
# installing it: its file list, its fields, that the unpacked programs find
# their parts, and that lintian reports no error.
#   scripts/check-package.sh [out/package/wex_VERSION_amd64.deb]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
deb="${1:-$(ls "$root"/out/package/wex_*_amd64.deb)}"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

echo "== file list of $(basename "$deb")"
list="$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')"
for path in /usr/bin/wexbot /usr/bin/wexhash /usr/bin/wexlab \
    /usr/lib/wex/wexhash/libwexhash_dialog.so \
    /usr/lib/wex/wexlab /usr/lib/wex/lab-server.py \
    /usr/lib/wex/lab/servers/prosody/mod_wex_lab_policy.lua \
    /usr/lib/wex/lab/servers/ejabberd/mod_wex_lab_policy.erl \
    /usr/lib/wex/lab/__init__.py /usr/lib/wex/lab/cli/main.py \
    /usr/lib/wex/web/seat/index.html /usr/lib/wex/web/seat/main.js \
    /usr/lib/wex/web/desk/index.html /usr/lib/wex/web/desk/desk.js \
    /usr/lib/wex/web/node_modules/strophe.js/dist/strophe.umd.min.js \
    /usr/lib/wex/web/node_modules/strophe.js/LICENSE.txt \
    /usr/share/applications/wexhash.desktop \
    /usr/share/man/man1/wexbot.1.gz /usr/share/man/man1/wexhash.1.gz \
    /usr/share/man/man1/wexlab.1.gz \
    /usr/share/doc/wex/copyright /usr/share/doc/wex/changelog.Debian.gz \
    /usr/share/doc/wex/README.md /usr/share/doc/wex/examples/rehearsal.conf \
    /usr/share/wex/po/wexbot/wexbot.pot /usr/share/wex/po/wexbot/de.po; do
  grep -qxF "$path" <<<"$list" || fail "$path is not in the package"
done
# Every module of wexlab's package goes in.
while read -r module; do
  path="/usr/lib/wex/lab/${module#"$root"/lab/}"
  grep -qxF "$path" <<<"$list" || fail "$path is not in the package"
done < <(find "$root/lab" -name '*.py' -not -path '*/__pycache__/*')
# Every file of the seat page goes in: its modules import one another.
for file in "$root"/web/seat/*; do
  path="/usr/lib/wex/web/seat/$(basename "$file")"
  grep -qxF "$path" <<<"$list" || fail "$path is not in the package"
done
# The seat's catalogues and default instructions go in.
for file in "$root"/po/seat/*.po "$root"/po/seat/seat.pot "$root"/po/seat/instructions/*.md; do
  path="/usr/share/wex/po/seat/${file#"$root"/po/seat/}"
  grep -qxF "$path" <<<"$list" || fail "$path is not in the package"
done
# Every page the README links to goes in, so its links work once installed.
for link in $(grep -o '](docs/[^)#]*' "$root/README.md" | sed 's/^](//' | sort -u); do
  path="/usr/share/doc/wex/$link"
  grep -qxF "$path" <<<"$list" || fail "$path (linked from README.md) is not in the package"
done
# Nothing of a build or a test run goes in.
grep -E '__pycache__|\.pyc$|/tests?/|CMake' <<<"$list" && fail "build or test files in the package"

echo "== fields"
field() { dpkg-deb -f "$deb" "$1"; }
for dep in python3 python3-slixmpp python3-aiohttp python3-qrcode openssl libstrophe0 \
    libqt6widgets6 libc6; do
  grep -qE "(^|, )$dep( |,|$)" <<<"$(field Depends)" || fail "Depends lacks $dep"
done
[ "$(field Recommends)" = "prosody, python3-openpyxl" ] || fail "Recommends is '$(field Recommends)', not prosody, python3-openpyxl"

echo "== unpacked"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
grep -qx 'MimeType=application/octet-stream;' "$tree/usr/share/applications/wexhash.desktop" ||
  fail "the desktop entry offers wexhash for no file type"
# wexhash's run path leads to its dialog module.
runpath="$(readelf -d "$tree/usr/bin/wexhash" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')"
[ -f "${runpath/\$ORIGIN/$tree/usr/bin}/libwexhash_dialog.so" ] ||
  fail "wexhash's run path '$runpath' does not lead to its dialog module"
# With no display Qt, not the loading of the module, is what fails.
err="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tree/usr/bin/wexhash" 2>&1)" || true
if [ -z "$err" ] || grep -q libwexhash_dialog <<<"$err"; then
  fail "the unpacked wexhash does not load its dialog module: $err"
fi
echo -n abc >"$tree/abc"
[ "$("$tree/usr/bin/wexhash" /console "$tree/abc" || true)" = \
  BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD ] ||
  fail "the unpacked wexhash /console gives a wrong fingerprint"
# wexlab, through its link, loads its package and finds the wexbot beside it.
"$tree/usr/bin/wexlab" --help >/dev/null || fail "the unpacked wexlab does not start"
"$tree/usr/lib/wex/lab-server.py" --help >/dev/null || fail "the unpacked lab-server.py does not start"
# The package loaded by the unpacked launcher's own code, as /usr/bin/wexlab does.
found="$(env -u WEXBOT /usr/bin/python3 -c "import importlib.machinery, importlib.util, sys
sys.dont_write_bytecode = True
loader = importlib.machinery.SourceFileLoader('launcher', sys.argv[1])
launcher = importlib.util.module_from_spec(importlib.util.spec_from_loader('launcher', loader))
loader.exec_module(launcher); launcher.load_wexlab()
from wexlab.runtime import processes
from wexlab.servers import web_page
from wexlab.servers.ejabberd import cluster
from wexlab.servers.prosody import config
from wexlab.web import desk
from wexlab.model import paths
print(processes.find_bot(None)); print(config.PLUGINS); print(cluster.SOURCE)
print(web_page.web_root()); print(desk.PAGE_DIR); print(paths.seat_po_dir())" \
  "$tree/usr/lib/wex/wexlab")" || true
[ "$found" = "$tree/usr/bin/wexbot
$tree/usr/lib/wex/lab/servers/prosody
$tree/usr/lib/wex/lab/servers/ejabberd/mod_wex_lab_policy.erl
$tree/usr/lib/wex/web
$tree/usr/lib/wex/web/desk
$tree/usr/share/wex/po/seat" ] ||
  fail "the unpacked wexlab finds '$found', not its own wexbot, lab server, pages and catalogues"
# The unpacked wexlab gives its bots the package's catalogues.
po="$(env -u WEX_PO_DIR /usr/bin/python3 -c "import importlib.machinery, importlib.util, sys
sys.dont_write_bytecode = True
loader = importlib.machinery.SourceFileLoader('launcher', sys.argv[1])
launcher = importlib.util.module_from_spec(importlib.util.spec_from_loader('launcher', loader))
loader.exec_module(launcher); launcher.load_wexlab()
from wexlab.model import paths
print(paths.po_dir())" "$tree/usr/lib/wex/wexlab")" || true
[ "$po" = "$tree/usr/share/wex/po" ] || fail "the unpacked wexlab finds the catalogues at '$po'"
# The man pages are well formed.
for page in wexbot wexhash wexlab; do
  warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l "$tree/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)" ||
    fail "man $page does not show"
  [ -z "$warnings" ] || fail "man $page: $warnings"
done

echo "== lintian"
command -v lintian >/dev/null || fail "lintian is not installed"
# Lintian refuses to run as root without this, and says so on every run.
report="$(lintian --allow-root --info "$deb" 2>&1)" || true
grep -E '^[EW]: ' <<<"$report" || true
grep -q '^E: ' <<<"$report" && fail "lintian reports errors"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package checks passed"
