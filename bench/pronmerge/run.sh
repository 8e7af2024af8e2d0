#!/bin/sh
# Measures pronmerge against the reference dictionary: wall time and peak memory for loading
# fulldict.voc alone (an empty list) and for a whole run on COUNT generated contact entries, and
# how the entries were covered.
#
#   bench/pronmerge/run.sh [BUILD_DIR] [COUNT]      (defaults: build, 5000)
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
count=${2:-5000}
prog=$build/bin/pronmerge
[ -x "$prog" ] || { echo "no $prog: build the pronmerge target first" >&2; exit 1; }
work=$(mktemp -d /tmp/vlm_pronmerge_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$src/data/fulldict.voc" "$work/"
# The letter-to-sound model beside it, as installed (VELMORA_LTS=rules measures the rules instead).
[ -f "$src/data/ltsmodel.bin" ] && cp "$src/data/ltsmodel.bin" "$work/"
python3 "$src/bench/pronmerge/make_names.py" "$count" > "$work/contacts.lst"
: > "$work/empty.lst"
cd "$work"

measure() {  # label, list file
  best=""
  for i in 1 2 3 4 5; do
    /usr/bin/time -v "$prog" "$2" > /dev/null 2> time.txt
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' time.txt | awk -F: '{print $(NF-1)*60 + $NF}')
    user=$(sed -n 's/.*User time (seconds): //p' time.txt)
    sys=$(sed -n 's/.*System time (seconds): //p' time.txt)
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' time.txt)
    if [ -z "$best" ] || awk "BEGIN{exit !($wall < $best)}"; then best=$wall; bestuser=$user; bestsys=$sys; bestrss=$rss; fi
  done
  printf '%-34s wall %6.3f s (best of 5)  user %5.2f s  sys %5.2f s  peak RSS %6d KB\n' \
    "$1" "$best" "$bestuser" "$bestsys" "$bestrss"
  echo "$best" > "$1.wall"
}

measure "load fulldict.voc (empty list)" empty.lst
measure "whole run, $count entries" contacts.lst

entries=$(wc -l < contacts.lst)
known=$(wc -l < known.lst)
unknown=$(wc -l < unknown.lst)
python3 - "$entries" "$known" "$unknown" <<'PY'
import re, sys
entries, known, unknown = (int(x) for x in sys.argv[1:])
lts = set()
dict_words = set()
for line in open("out.voc", encoding="latin-1"):
    name, pron, cls = line.rstrip("\n").split("\t")
    (lts if cls == "4" else dict_words).add(name)
# An entry needed letter-to-sound when one of its cleaned pieces is a translated word.
by_lts = 0
for line in open("known.lst", encoding="latin-1"):
    pieces = [p for p in re.split(r"[^a-z0-9'.\\&]+", line.strip().lower().replace("&", "\\&")) if p]
    if any(p in lts for p in pieces):
        by_lts += 1
skipped = entries - known - (1 if unknown else 0)
print("entries %d: covered %d (%d from the dictionary alone, %d with letter-to-sound), "
      "lines in unknown.lst %d, not covered (addresses skipped, unknown words) %d" % (entries, known, known - by_lts, by_lts,
                                                              unknown, entries - known))
print("out.voc: %d words from the dictionary, %d by letter-to-sound" % (len(dict_words), len(lts)))
PY
