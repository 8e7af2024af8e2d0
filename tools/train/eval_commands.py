#!/usr/bin/env python3
"""Recognises the corpus's command utterances of the held-out voices against a command grammar.

    python3 tools/train/eval_commands.py [--corpus corpus] [--bin build/bin] [--usr data/newuser.usr]
                                         [--role test] [--limit N] [--calibrate VOICE=BIN,...]

Writes <corpus>/eval/commands.rul (the voice command application's command phrases in word
form: look up + names, call + phone types, echo, mail, schedule + appointment types, days, dates
and clock times), runs the `recognize` tool on the command utterances (ids "cmd...") of the voices
with the given role, and prints the sentence accuracy per voice and in total. Standard library
only.

--calibrate hears each named voice as a calibrated speaker of that warp bin would be heard: its
recordings are resampled by sox (speed 59 / (bin + 1), which moves the spectrum as the filter
bank of that warp bin would, the copy of the model file being set to bin 58), and its own
normaliser (the one that brings its speech frames' mean to the targets, from the `features`
tool's frames) is put into the channel store of a copy of the model file. The trainer prints each
held-out voice's best warp bin ("warp search").
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

HOURS = "one two three four five six seven eight nine ten eleven twelve".split()
DAYS = "today tomorrow sunday monday tuesday wednesday thursday friday saturday".split()
MONTHS = ("january february march april may june july august september october november "
          "december").split()
ORDS = ("first second third fourth fifth sixth seventh eighth ninth tenth eleventh twelfth "
        "thirteenth fourteenth fifteenth sixteenth seventeenth eighteenth nineteenth twentieth "
        "thirtieth").split()
TYPES = "meeting lunch dinner breakfast visit reminder task job appointment call phone".split()
PHONES = "home work cell pager car radio assistant homefax workfax home2 work2".split()
# Grammar words that stand for two spoken words in the transcripts.
JOINED = {"homefax": "home fax", "workfax": "work fax", "home2": "home two", "work2": "work two"}


def grammar(names):
    # Lines of a .rul file are read in pieces of at most 1023 characters: long bodies go on
    # further lines.
    def tree(words):
        lines = [" ".join(words[i:i + 12]) for i in range(0, len(words), 12)]
        return "<\n  " + "\n  ".join(lines) + " >"
    return "\n".join([
        f"RULE _look ( look up {tree(names)} [ {tree(names)} [ {tree(names)} ] ] );",
        f"RULE _call ( call {tree(PHONES)} );",
        "RULE _echo ( echo < on off > );",
        "RULE _mail ( { send voice ( send voice ) } mail );",
        f"RULE _sched ( schedule {{ a an }} {tree(TYPES)} );",
        f"RULE _t ( {tree(HOURS)} [ {{ o'clock hundred fifteen thirty ( forty five ) }} ] [ {{ a.m. p.m. }} ] );",
        f"RULE _ord ( {{ {tree(ORDS)} ( < twenty thirty > < first second third fourth fifth sixth seventh eighth ninth > ) }} );",
        f"RULE _date ( {{ {tree(DAYS)} ( {tree(MONTHS)} &_ord ) }} &_t to &_t );",
        f"RULE _monthday ( {tree(MONTHS)} &_ord );",
    ]) + "\n"


INITIAL_NORMALISER = [-57, 0, -210, 20, 140, 105, 145, 83, 138, 86, 140, 86, 138, 84, 143, 75, 130]


def calibrate(voice, warp, items, corpus, tmp, bin_dir, usr):
    """Resampled copies of the voice's recordings and a model file with its own normaliser.
    Returns (items with the copies' paths, the model file)."""
    speed = 59.0 / (warp + 1)
    out = []
    for rel, words in items:
        dst = os.path.join(tmp, voice, os.path.basename(rel))
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        subprocess.run(["sox", os.path.join(corpus, rel), "-r", "11025", dst, "speed", f"{speed:.4f}"],
                       check=True)
        out.append((dst, words))
    text = subprocess.run([os.path.join(bin_dir, "features")] + [p for p, _ in out],
                          capture_output=True, text=True, check=True).stdout
    sums, count, utt = [0.0] * 17, 0, []
    def flush():
        nonlocal count
        if utt:
            power = [p for p, _ in utt]
            threshold = (6 * max(power) + min(power)) >> 3
            for p, f in utt:
                if p > threshold:
                    for i in range(17):
                        sums[i] += f[i]
                    count += 1
        utt.clear()
    for line in text.splitlines():
        if line.startswith("#"):
            flush()
            continue
        x = [int(v) for v in line.split()]
        utt.append((x[1], x[2:19]))
    flush()
    norm = [INITIAL_NORMALISER[i] + round((180 if i == 0 else 128) - sums[i] / max(1, count))
            for i in range(17)]
    with open(usr, encoding="latin-1") as f:
        lines = f.read().split("\n")
    # Line 1 is "vtln N"; the channel store (state 12) is the 13th template line. The resampling
    # stands for the warp, so the copy is heard through the neutral bank of bin 58.
    lines[0] = "vtln 58"
    values = lines[13].split("//")[0].split()
    values[:17] = [str(v) for v in norm]
    lines[13] = " ".join(values) + "  // ."
    model = os.path.join(tmp, voice + ".usr")
    with open(model, "w", encoding="latin-1") as f:
        f.write("\n".join(lines))
    return out, model


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--corpus", default=os.path.join(ROOT, "corpus"))
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    ap.add_argument("--usr", default=os.path.join(ROOT, "data", "newuser.usr"))
    ap.add_argument("--role", default="test")
    ap.add_argument("--limit", type=int, default=0, help="utterances per voice (0: all)")
    ap.add_argument("--calibrate", default="", help="VOICE=BIN,... (see above)")
    args = ap.parse_args()

    rows = []
    with open(os.path.join(args.corpus, "manifest.tsv"), encoding="latin-1") as f:
        for line in f:
            v, role, rel, words, _ = line.rstrip("\n").split("\t")
            if os.path.basename(rel).startswith("cmd"):
                rows.append((v, role, rel, words))
    names = sorted({w for _, _, _, words in rows if words.startswith("look up ")
                    for w in words.split()[2:]})
    os.makedirs(os.path.join(args.corpus, "eval"), exist_ok=True)
    rul = os.path.join(args.corpus, "eval", "commands.rul")
    with open(rul, "w", encoding="latin-1") as f:
        f.write(grammar(names))
    per_voice = defaultdict(list)
    for v, role, rel, words in rows:
        if role == args.role and (not args.limit or len(per_voice[v]) < args.limit):
            per_voice[v].append((rel, words))
    warps = dict((kv.split("=")[0], int(kv.split("=")[1])) for kv in args.calibrate.split(",") if kv)
    tmp = tempfile.TemporaryDirectory()
    total = right = 0
    for v, items in sorted(per_voice.items()):
        usr = args.usr
        paths = [os.path.join(args.corpus, rel) for rel, _ in items]
        if v in warps:
            cal, usr = calibrate(v, warps[v], items, args.corpus, tmp.name, args.bin, args.usr)
            paths = [p for p, _ in cal]
        cmd = [os.path.join(args.bin, "recognize"), "--usr", usr,
               "--voc", os.path.join(ROOT, "data", "base.voc"),
               "--voc", os.path.join(ROOT, "data", "fulldict.voc"), "--rul", rul, "--json"]
        cmd += paths
        out = subprocess.run(cmd, capture_output=True, text=True)
        results = {}
        for line in out.stdout.splitlines():
            try:
                r = json.loads(line)
            except ValueError:
                continue
            best = r["nbest"][0]["words"] if r["nbest"] else ""
            results[r["file"]] = " ".join(JOINED.get(w, w) for w in best.split())
        ok = 0
        errors = []
        for (rel, words), path in zip(items, paths):
            got = results.get(path, "")
            if got == words:
                ok += 1
            elif len(errors) < 3:
                errors.append(f"    said: {words}\n    got:  {got}")
        total += len(items)
        right += ok
        note = f"  (warp bin {warps[v]}, own normaliser)" if v in warps else ""
        print(f"{v:24s} {ok:4d}/{len(items):<4d} = {100.0 * ok / max(1, len(items)):5.1f} %{note}")
        for e in errors:
            print(e)
        if out.returncode != 0 and not results:
            print(out.stderr[-2000:], file=sys.stderr)
    print(f"total {right}/{total} = {100.0 * right / max(1, total):.1f} % sentence accuracy")


if __name__ == "__main__":
    main()
