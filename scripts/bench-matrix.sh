#!/bin/sh
# Runs the scale table of `wexlab bench` in one sitting: Prosody at 50, 100
# and 200 pairs and a 2-node ejabberd cluster at 100 and 250, each through
# the seats' websocket and over plain XMPP, each row once with every wexlab
# given (say, the tree before a change and after it), one after the other,
# so the trees meet the same machine. Every run keeps its session folder
# and bench.json under OUT; the table is printed at the end.
#
#   scripts/bench-matrix.sh OUT NAME=WEXLAB[:WEXBOT] ...
#
# e.g. scripts/bench-matrix.sh out/scale before=../old/scripts/wexlab:/tmp/old-wexbot
#      after=scripts/wexlab. $ROWS limits the rows ("prosody:50 ejabberd:250").
set -eu
if [ $# -lt 2 ]; then
    sed -n 's/^#   //p' "$0" >&2
    exit 2
fi
out=$1
shift
here=$(dirname "$0")
rows=${ROWS:-"prosody:50 prosody:100 prosody:200 ejabberd:100 ejabberd:250"}
mkdir -p "$out"
for row in $rows; do
    server=${row%%:*}
    pairs=${row#*:}
    nodes=""
    [ "$server" = ejabberd ] && nodes="--nodes 2"
    for via in websocket xmpp; do
        for tree in "$@"; do
            name=${tree%%=*}
            spec=${tree#*=}
            wexlab=${spec%%:*}
            bot=""
            [ "$spec" != "$wexlab" ] && bot="--bot ${spec#*:}"
            dir="$out/$server-$pairs-$via-$name"
            rm -rf "$dir"
            echo "== $server $pairs pairs via $via: $name ($(date -u +%H:%M:%S))"
            # shellcheck disable=SC2086
            /usr/bin/python3 "$wexlab" bench --pairs "$pairs" --rounds 2 --server "$server" \
                $nodes --via "$via" --dir "$dir" $bot 2>&1 | grep -E "^(added|bots|server|did not)" \
                || echo "   (the run failed: see $dir)"
        done
    done
done
"$here/bench-table.py" "$out"
