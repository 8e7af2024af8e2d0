#!/bin/sh
# recognize on a JSGF command grammar of N full names written as word sequences
# ("look up ( ann adams | ... )"), with five "look up" commands spoken by espeak-ng's en-us voice (a
# voice the models may be trained on; nothing is tuned here). Prints each file's best words, the
# names spoken, recognize's exit status and its peak resident size, and the same for the
# 20-name grammar as the baseline of this run. RECOGNIZE_OPTIONS adds options (e.g.
# "--max-memory 3", the handheld's limit).
#
#   bench/grammar_size/look_up_names.sh [BUILD_DIR] [N]      (defaults: build, 2000)
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
count=${2:-2000}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 - "$here" "$tmp" "$count" <<'PY'
import random, sys
root, tmp, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
sys.path.insert(0, root + "/bench/accuracy")
import grammar as G
known = set()
for line in open(root + "/data/fulldict.voc", encoding="latin-1"):
    known.add(line.split("\t", 1)[0])
for n, name in ((count, "big"), (20, "small")):
    pairs = G.make_contacts(known, n, seed=8)
    with open(f"{tmp}/{name}.gram", "w") as f:
        f.write("#JSGF V1.0;\ngrammar names;\npublic <command> = look up ( " +
                " | ".join(f"{a} {b}" for a, b in pairs) + " );\n")
    with open(f"{tmp}/{name}.spoken", "w") as f:
        for k in range(5):
            a, b = pairs[k * n // 5]
            f.write(f"{a} {b}\n")
PY
for grammar in small big; do
  i=0
  while read -r first last; do
    i=$((i + 1))
    espeak-ng -v en-us -w "$tmp/$grammar$i.raw.wav" "look up $first $last"
    sox -q "$tmp/$grammar$i.raw.wav" -r 11025 -c 1 -b 16 "$tmp/$grammar$i.wav"
  done < "$tmp/$grammar.spoken"
  echo "== $grammar grammar ($(grep -o '|' "$tmp/$grammar.gram" | wc -l | awk '{print $1 + 1}') names); spoken:"
  sed 's/^/   look up /' "$tmp/$grammar.spoken"
  set +e
  /usr/bin/time -f "peak resident size %M KB, %e s" "$build/bin/recognize" --usr "$here/data/newuser.usr" \
    --voc "$here/data/fulldict.voc" --jsgf "$tmp/$grammar.gram" ${RECOGNIZE_OPTIONS:-} --json "$tmp/$grammar"[1-5].wav \
    > "$tmp/$grammar.out" 2> "$tmp/$grammar.err"
  status=$?
  set -e
  python3 -c 'import json,sys
for line in open(sys.argv[1]):
    o = json.loads(line); b = o["nbest"][0]["words"] if o["nbest"] else ""
    print("   recognised:", b, "" if o.get("reason") is None else "(" + o["reason"] + ")")' "$tmp/$grammar.out"
  grep -v "^recognize: .*: warning" "$tmp/$grammar.err" | sed 's/^/   /'
  echo "   exit status $status"
done
