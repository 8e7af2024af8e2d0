#!/usr/bin/env bash
# scripts/demo without a display: namefind hears the five shipped spoken commands and the
# transcript shows each heard and acted on (the call dialled, the mail sent, the meeting added); scripts/make-demo-commands makes those recordings byte
# for byte.
#
#   demo_test.sh SOURCE-DIR BIN-DIR
set -euo pipefail
out=$(env -u DISPLAY -u WAYLAND_DISPLAY VLM_BIN="$2" "$1/scripts/demo")
expected='heard: look up nadia ostrawen  ->  contact "Nadia Ostrawen"
heard: call work  ->  dial "w" "555-555-0111 x12"
        ->  dialled "5555550111" "tones"
heard: look up marcus tarnowicz  ->  contact "Marcus Tarnowicz"
heard: send mail  ->  mail "Marcus Tarnowicz"
        ->  mail-sent "ActiveSync" "OUTBOX"
heard: schedule a meeting  ->  appointment "Marcus Tarnowicz" "meeting"
        ->  appointment-added "meet with Marcus Tarnowicz"'
# the message file's name and the meeting's hour change from run to run
summary=$(echo "$out" | sed -n '/^== heard and done$/,$p' | tail -n +2 |
  sed -e 's|"[^"]*/mail/ActiveSync/Outbox/new/[^"]*"|"OUTBOX"|' -e 's|\(appointment-added "[^"]*"\).*|\1|')
echo "$out" | grep -q '^exit 0$' || { echo "FAIL: namefind did not end with exit 0"; echo "$out"; exit 1; }
[ "$summary" = "$expected" ] || { echo "FAIL: the demo heard or did otherwise:"; echo "$summary"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$1/scripts/make-demo-commands" "$work" > /dev/null
for n in 1 2 3 4 5; do
  cmp "$work/say$n.wav" "$1/data/say$n.wav" || { echo "FAIL: data/say$n.wav differs from what scripts/make-demo-commands makes"; exit 1; }
done
echo "PASS"
