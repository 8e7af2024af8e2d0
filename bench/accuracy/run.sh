#!/bin/sh
# Command-recognition benchmark: our recogniser (speaker independent and enrolled) against
# PocketSphinx on the same synthetic test commands and grammar.
#
#   bench/accuracy/run.sh [--build DIR] [any option of accuracy.py: --count N --voices a,b --out DIR]
#
# Builds the programs it needs (recognize, adapt) in DIR (default: build), configuring DIR first
# when it has never been configured, then runs accuracy.py. The table goes to standard output and
# to DIR/accuracy/report.md; audio and intermediate files stay under DIR/accuracy.
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build="$root/build"
if [ "$1" = "--build" ] && [ -n "$2" ]; then
  build=$2
  shift 2
fi
case "$build" in /*) ;; *) build="$(pwd)/$build" ;; esac

for tool in sox flite festival espeak-ng pocketsphinx_batch taskset /usr/bin/time; do
  command -v "$tool" >/dev/null 2>&1 || { echo "run.sh: $tool is missing (see scripts/install-deps)" >&2; exit 2; }
done
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
# A failed build is reported but does not stop the PocketSphinx column.
cmake --build "$build" -j2 --target recognize adapt >/dev/null || echo "run.sh: building recognize/adapt failed" >&2
exec python3 -B "$here/accuracy.py" --build "$build" "$@"
