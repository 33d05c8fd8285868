#!/usr/bin/env bash
# Regenerates the seat's catalogue template, po/seat/seat.pot, from the
# texts of the page, web/seat/*.js, of the waiting room, web/room/*.js,
# and of its cards, lab/web/cards.py
# (t("...") and N_("...")), and merges it into every po/seat/CODE.po; new
# texts come in untranslated, changed ones marked fuzzy. Run after
# changing a text of the page or the cards.
#   scripts/po-seat.sh           regenerate and merge
#   scripts/po-seat.sh --pot F   write the template to F only (the test's
#                                check that seat.pot is current)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pot="$root/po/seat/seat.pot"
only=""
if [ "${1:-}" = "--pot" ]; then
  pot="$2"
  only=1
fi
cd "$root"
# Sorted by file, without line numbers, so that the template changes only
# when a text does (and its creation date).
xgettext --language=JavaScript --keyword= --keyword=t --keyword=N_ \
  --from-code=UTF-8 --sort-by-file --add-location=file --no-wrap --add-comments=TRANSLATORS \
  --package-name=wex-seat --msgid-bugs-address="the wex maintainers" -o "$pot" web/seat/*.js web/room/*.js
# The cards that open the page (wexlab's Python) share its catalogue.
xgettext --language=Python --keyword= --keyword=t --keyword=N_ --join-existing \
  --from-code=UTF-8 --sort-by-file --add-location=file --no-wrap --add-comments=TRANSLATORS \
  --package-name=wex-seat --msgid-bugs-address="the wex maintainers" -o "$pot" lab/web/cards.py lab/model/seat_texts.py
# Texts with {name} placeholders are python-brace-format, so that msgfmt
# --check finds a translation that drops or misspells one.
python3 - "$pot" <<'PY'
import re, sys
path = sys.argv[1]
with open(path, encoding="utf-8") as f:
    lines = f.read().split("\n")
out = []
for line in lines:
    if line.startswith("msgid ") and re.search(r"\{[a-z_]+\}", line) and \
            not (out and out[-1].startswith("#,")):
        out.append("#, python-brace-format")
    out.append(line)
with open(path, "w", encoding="utf-8") as f:
    f.write("\n".join(out))
PY
[ -n "$only" ] && exit 0
for po in po/seat/*.po; do
  [ -e "$po" ] || continue
  msgmerge --quiet --update --backup=none --no-wrap --add-location=file "$po" "$pot"
done
