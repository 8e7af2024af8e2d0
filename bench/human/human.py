#!/usr/bin/env python3
"""Recognition of a real human voice through a real microphone, against PocketSphinx.

The only human speech on a Debian machine without a network is the set of channel names that
alsa-utils ships for speaker-test (/usr/share/sounds/alsa/Front_Left.wav and its seven siblings:
one speaker, studio recordings at 48 kHz). Each is recognised as it is, without padding or level
changes, by our recogniser (speaker independent, the first pass only, as in bench/accuracy) and by
PocketSphinx with the same grammar, in two grammars:

- positions: ( front | rear | side ) ( left | right | center ), what the recordings say;
- pairs: any two of 62 common words (positions, numbers, colours, rooms, player words), so that
  the position words compete with words of similar sound ("last", "black", "near", "sound").

Nothing here is trained or tuned on these recordings; they are a check only.

    python3 bench/human/human.py [--build build] [--usr data/newuser.usr] [--out DIR]
"""
import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "accuracy"))
import accuracy as A  # noqa: E402
import grammar as G  # noqa: E402

SOUNDS = "/usr/share/sounds/alsa"
POSITIONS = ["front", "rear", "side"], ["left", "right", "center"]
PAIR_WORDS = ("left right center front rear side back top bottom middle up down north south east west "
              "inside outside upper lower near far high low open close start stop play pause next previous "
              "first last one two three four five six seven eight nine ten red green blue black white yellow "
              "home work office kitchen garden window door table light sound music radio").split()


def recordings():
    """(id, words, path) of the channel-name recordings that exist."""
    out = []
    for first in POSITIONS[0]:
        for second in POSITIONS[1]:
            path = os.path.join(SOUNDS, f"{first.capitalize()}_{second.capitalize()}.wav")
            if os.path.exists(path):
                out.append((f"h{len(out) + 1:02d}", [first, second], path))
    return out


def write_grammar(gdir, slots):
    """commands.rul / .gram / .voc / .dict for the rule "command": one word from each slot."""
    os.makedirs(gdir, exist_ok=True)
    words = sorted({w for slot in slots for w in slot})
    with open(os.path.join(gdir, "commands.rul"), "w") as f:
        f.write("RULE command ;\nRULE command\n( " + " ".join("< " + " ".join(s) + " >" for s in slots) + " ) ;\n")
    with open(os.path.join(gdir, "commands.gram"), "w") as f:
        f.write("#JSGF V1.0;\ngrammar command;\npublic <command> = " +
                " ".join("( " + " | ".join(s) + " )" for s in slots) + ";\n")
    base = G.read_voc(os.path.join(A.ROOT, "data", "base.voc"))
    full = G.read_voc(os.path.join(A.ROOT, "data", "fulldict.voc"))
    lines, missing = G.voc_lines(words, base, full)
    if missing:
        sys.exit(f"human: our dictionaries lack {missing}")
    with open(os.path.join(gdir, "commands.voc"), "w", encoding="latin-1") as f:
        f.write("\n".join(lines) + "\n")
    lines, missing = G.cmu_lines(words, G.read_cmudict(os.path.join(A.PS_MODEL, "cmudict-en-us.dict")))
    if missing:
        sys.exit(f"human: PocketSphinx's dictionary lacks {missing}")
    with open(os.path.join(gdir, "commands.dict"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(A.ROOT, "build"))
    ap.add_argument("--usr", default=os.path.join(A.ROOT, "data", "newuser.usr"))
    ap.add_argument("--out", default="", help="working folder (default BUILD/human)")
    args = ap.parse_args()
    recognize = os.path.join(args.build, "bin", "recognize")
    for need, what in ((recognize, "recognize (build it first)"), (SOUNDS, "alsa-utils' recordings"),
                       (A.PS_MODEL, "pocketsphinx-en-us")):
        if not os.path.exists(need):
            sys.exit(f"human: needs {what}: {need}")
    for tool in ("sox", "pocketsphinx_batch"):
        if shutil.which(tool) is None:
            sys.exit(f"human: needs {tool}")
    out = os.path.abspath(args.out or os.path.join(args.build, "human"))
    recs = recordings()
    tests = [(i, words) for i, words, _ in recs]
    for rate in (11025, 16000):
        os.makedirs(os.path.join(out, str(rate)), exist_ok=True)
        for i, words, path in recs:
            dst = os.path.join(out, str(rate), f"{i}-{'-'.join(words)}.wav")
            if not os.path.exists(dst):
                subprocess.run(["sox", "-R", path, "-r", str(rate), "-c", "1", "-b", "16", dst], check=True)
    rows = []
    for name, slots in (("positions", POSITIONS), ("pairs", (PAIR_WORDS, PAIR_WORDS))):
        gdir = os.path.join(out, name)
        write_grammar(gdir, slots)
        wavs = sorted(os.path.join(out, "11025", f) for f in os.listdir(os.path.join(out, "11025")))
        _, _, _, _, ours = A.run_ours(recognize, os.path.abspath(args.usr), gdir, wavs, os.path.join(gdir, "ours"))
        ids = sorted(os.path.splitext(f)[0] for f in os.listdir(os.path.join(out, "16000")))
        _, _, _, _, ps = A.run_pocketsphinx(gdir, os.path.join(out, "16000"), ids, os.path.join(gdir, "ps"))
        rows.append((name, len(slots[0]) * len(slots[1]), A.score(tests, ours), A.score(tests, ps)))
    print(f"Human speech: {len(recs)} recordings of alsa-utils ({SOUNDS}), one speaker, as recorded.\n")
    print("| grammar | sentences | ours (SI) | PocketSphinx |")
    print("|---|---|---|---|")
    for name, size, ours, ps in rows:
        n = ours["n"]
        print(f"| {name} | {size} | {round(ours['commands'] * n / 100)}/{n} | {round(ps['commands'] * n / 100)}/{n} |")
    for name, _, ours, ps in rows:
        for who, s in (("ours", ours), ("PocketSphinx", ps)):
            if s["errors"]:
                print(f"- {name}, {who}: " + "; ".join(f"“{r}” → “{h}”" for _, r, h in s["errors"]))


if __name__ == "__main__":
    main()
