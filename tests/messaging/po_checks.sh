#!/usr/bin/env bash
# Checks of the catalogues in po/:
#   po_checks.sh template ROOT   po/wexbot/wexbot.pot is what scripts/po-update.sh writes
#   po_checks.sh msgfmt ROOT     every po/*/*.po passes msgfmt --check
set -euo pipefail
root="$2"
case "$1" in
  template)
    fresh="$(mktemp)"
    trap 'rm -f "$fresh"' EXIT
    "$root/scripts/po-update.sh" --pot "$fresh"
    if ! diff -u "$root/po/wexbot/wexbot.pot" "$fresh"; then
      echo "po/wexbot/wexbot.pot is out of date: run scripts/po-update.sh" >&2
      exit 1
    fi
    ;;
  msgfmt)
    count=0
    for po in "$root"/po/*/*.po; do
      [ -e "$po" ] || continue
      msgfmt --check --output-file=/dev/null "$po"
      count=$((count + 1))
    done
    [ "$count" -gt 0 ] || { echo "no catalogue under $root/po" >&2; exit 1; }
    echo "$count catalogues pass msgfmt --check"
    ;;
  *)
    echo "usage: po_checks.sh template|msgfmt ROOT" >&2
    exit 2
    ;;
esac
