#!/usr/bin/env bash
# The installed Velmora: `cmake --install` into a temporary prefix, then, from the installed files
# only: every program answers --help; the example program is built against libvelmora with
# pkg-config and with CMake's find_package and recognises a spoken command (espeak-ng) with the
# installed data, found without a data directory of the user's (the first start makes ~/velmora);
# the installed Python module recognises the same command.
#
#   install_test.sh SOURCE-DIR BUILD-DIR
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }

# The layout: programs, data, library, header, package files, desktop entries and icons.
for f in bin/namefind bin/enroll bin/recognize bin/recognize-mic bin/adapt bin/pronmerge \
         share/velmora/newuser.usr share/velmora/base.voc share/velmora/demo.tsv \
         include/velmora/velmora.h \
         share/applications/namefind.desktop share/applications/enroll.desktop \
         share/icons/hicolor/scalable/apps/velmora-namefind.svg share/icons/hicolor/scalable/apps/velmora-enroll.svg; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
pc=$(find "$prefix" -name velmora.pc | head -1)
[ -n "$pc" ] || fail "velmora.pc not installed"
[ -n "$(find "$prefix" -name VelmoraConfig.cmake)" ] || fail "VelmoraConfig.cmake not installed"
grep -q '^Exec=namefind$' "$prefix/share/applications/namefind.desktop" || fail "namefind.desktop Exec"

# Every installed program answers --help with its usage on standard output and status 0.
for program in "$prefix"/bin/*; do
  name=$(basename "$program")
  [ "$name" = recognize-mic ] && name=recognize   # recognize --mic, run by recognize
  out=$(QT_QPA_PLATFORM=offscreen "$program" --help 2>&1) || fail "$name --help exits with $?"
  echo "$out" | grep -qi "usage: $name" || fail "$name --help shows no usage line: $(echo "$out" | head -2)"
done

# Nothing of the user's: no data directory, a home of its own, the speech log kept here.
export HOME=$work/home
mkdir -p "$HOME"
unset VELMORA_DIR VELMORA_MIC
export VELMORA_LOG=$work/velmora.log

espeak-ng -v en-us -w "$work/command.wav" "look up nadia"

# With pkg-config.
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir velmora)
g++ -std=c++17 -o "$work/voice-command-pc" "$src/examples/voice-command/main.cpp" $(pkg-config --cflags --libs velmora) \
    -Wl,-rpath,"$libdir" || fail "the example does not build with pkg-config"
out=$("$work/voice-command-pc" "$work/command.wav") || fail "the example (pkg-config) exits with $?: $out"
echo "$out"
echo "$out" | grep -q '^heard: look up nadia$' || fail "the example (pkg-config) did not hear the command"

# The first start made the user's data directory from the installed data.
[ -d "$HOME/velmora" ] || fail "no ~/velmora after the first start"
[ -f "$HOME/velmora/demo.tsv" ] && [ ! -L "$HOME/velmora/demo.tsv" ] || fail "demo.tsv not copied into ~/velmora"
[ -L "$HOME/velmora/newuser.usr" ] || fail "newuser.usr not linked into ~/velmora"
cmp -s "$HOME/velmora/demo.tsv" "$prefix/share/velmora/demo.tsv" || fail "demo.tsv copied wrongly"

# When ~/velmora cannot be made (a home under a file here), the installed data serves as it is.
: > "$work/not-a-folder"
out=$(HOME=$work/not-a-folder/home "$work/voice-command-pc" "$work/command.wav") || fail "without a writable home: $out"
echo "$out" | grep -q '^heard: look up nadia$' || fail "without a writable home the command was not heard: $out"

# With CMake.
cmake -S "$src/examples/voice-command" -B "$work/example-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      > "$work/example-cmake.log" 2>&1 || { cat "$work/example-cmake.log"; fail "the example does not configure with find_package"; }
cmake --build "$work/example-build" > "$work/example-build.log" 2>&1 || { cat "$work/example-build.log"; fail "the example does not build with CMake"; }
out=$("$work/example-build/voice-command" "$work/command.wav") || fail "the example (CMake) exits with $?"
echo "$out" | grep -q '^heard: look up nadia$' || fail "the example (CMake) did not hear the command: $out"

# The installed recognize program on the installed data.
printf 'RULE look ( look up { nadia marcus elena } ) ;\n' > "$work/look.rul"
out=$("$prefix/bin/recognize" --usr "$HOME/velmora/newuser.usr" --voc "$HOME/velmora/base.voc" --voc "$HOME/velmora/demo.voc" \
      --rul "$work/look.rul" "$work/command.wav" 2>/dev/null) || true
echo "$out" | head -1 | grep -q "look up nadia" || fail "installed recognize: $out"

# The installed Python module.
pydir=$(dirname "$(find "$prefix" -name 'velmora*.so' -path '*python3*' | head -1)")
[ -d "$pydir" ] || fail "the Python module is not installed"
PYTHONPATH=$pydir python3 - "$work/command.wav" <<'PY' || fail "the installed Python module did not hear the command"
import os, sys, velmora
data = velmora.Engine.data_directory()
e = velmora.Engine(user=os.path.join(data, "newuser.usr"),
                   dictionaries=[os.path.join(data, "base.voc"), os.path.join(data, "demo.voc")],
                   jsgf="#JSGF V1.0; grammar g; public <c> = look up (nadia | marcus | elena) | call (home | work);")
r = e.recognize_file(sys.argv[1])[0]
print("python:", r.words, [(h.words, h.score) for h in r.nbest], r.phone_loop_score)
sys.exit(0 if r.words == "look up nadia" else 1)
PY
echo "PASS"
