#!/usr/bin/env bash
# Writes po/wexbot/wexbot.pot, the template of the bot's texts, from the
# calls of Tr, TrN and N_ in the C++ sources, and merges it into each
# po/wexbot/CODE.po (new texts come in untranslated, changed ones fuzzy).
# Run it after changing a text; until then a test fails.
#   scripts/po-update.sh          regenerate and merge
#   scripts/po-update.sh --pot F  write the template to F only (the test)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pot="$root/po/wexbot/wexbot.pot"
merge=1
if [ "${1:-}" = "--pot" ]; then
  pot="$2"
  merge=0
fi
cd "$root"
# Sorted file list and no dates or locations that move: the same sources
# give the same template byte for byte.
find bot game messaging -name '*.cc' -o -name '*.h' | LC_ALL=C sort |
  xgettext --files-from=- --output="$pot.tmp" --language=C++ --from-code=UTF-8 \
    --keyword= --keyword=Tr --keyword=TrN:1,2 --keyword=N_ \
    --flag=Tr:1:pass-c-format --flag=TrN:1:pass-c-format --flag=TrN:2:pass-c-format \
    --flag=N_:1:pass-c-format --flag=FormatText:1:c-format \
    --add-comments=TRANSLATORS: --sort-output --no-location \
    --package-name=wexbot --msgid-bugs-address= --omit-header
{
  printf '%s\n' '# The texts wexbot sends subjects and the moderator. Written by' \
    '# scripts/po-update.sh: do not edit; translate in CODE.po.' \
    'msgid ""' 'msgstr ""' \
    '"Project-Id-Version: wexbot\n"' \
    '"Language: \n"' \
    '"MIME-Version: 1.0\n"' \
    '"Content-Type: text/plain; charset=UTF-8\n"' \
    '"Content-Transfer-Encoding: 8bit\n"' \
    '"Plural-Forms: nplurals=INTEGER; plural=EXPRESSION;\n"' ''
  cat "$pot.tmp"
} >"$pot"
rm -f "$pot.tmp"
[ "$merge" = 1 ] || exit 0
for po in "$root"/po/wexbot/*.po; do
  [ -e "$po" ] || continue
  msgmerge --quiet --update --backup=none --no-location --sort-output --no-wrap "$po" "$pot"
done
