#!/usr/bin/env python3
"""Spelling by voice on synthetic speech: says spelling phrases with allowed voices, recognises
them against the spelling grammar (data/abc.rul over data/abc.voc, both rules active, as the
entry and find dialogs use them) and prints what was spelled.

    python3 tools/abc/check_spelling.py [--bin build/bin] [--usr data/newuser.usr]

The spelled text is the second character of each recognised word's name. Prints a Markdown
table (one row per phrase, one column per voice: the best hypothesis, and for a wrong one the
rank of the right spelling in the n-best list) and the count of phrases spelled right; the
exit status is 0 (a figure, not a condition: it depends on the models). espeak-ng en-us and flite
kal16 are training voices; espeak-ng en-us+f4 and flite slt are held out of training.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CASES = [
    ("alpha bravo charlie", "abc"),
    ("bee see dee", "bcd"),
    ("x ray yankee zulu", "xyz"),
    ("m a r y", "mary"),  # the letters, which the synthesisers say by their names
    ("mike at sign lima period kilo", "m@l.k"),
    ("tango underscore victor", "t_v"),
    ("at sign", "@"),
    ("one two three", "123"),
    ("zero nine eight", "098"),
    ("five five five hyphen zero one four two", "555-0142"),
]
VOICES = [
    ("espeak-ng en-us", ["espeak-ng", "-v", "en-us", "-w", "{out}", "{text}"]),
    ("flite kal16", ["flite", "-voice", "kal16", "-t", "{text}", "-o", "{out}"]),
    ("espeak-ng en-us+f4 (held out)", ["espeak-ng", "-v", "en-us+f4", "-w", "{out}", "{text}"]),
    ("flite slt (held out)", ["flite", "-voice", "slt", "-t", "{text}", "-o", "{out}"]),
]


def spelled(words):
    return "".join(w[1:2] for w in words.split())


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    ap.add_argument("--usr", default=os.path.join(ROOT, "data", "newuser.usr"))
    ap.add_argument("--voc", default=os.path.join(ROOT, "data", "abc.voc"))
    args = ap.parse_args()
    voices = [(n, cmd) for n, cmd in VOICES if shutil.which(cmd[0])]
    if shutil.which("sox") is None or not voices:
        sys.exit("check_spelling: needs sox and espeak-ng or flite")
    results = {}
    with tempfile.TemporaryDirectory(prefix="check_spelling-") as tmp:
        files = []
        for v, (voice, cmd) in enumerate(voices):
            for c, (text, _) in enumerate(CASES):
                raw = os.path.join(tmp, f"raw{v}_{c}.wav")
                out = os.path.join(tmp, f"case{v}_{c}.wav")
                subprocess.run([a.format(out=raw, text=text) for a in cmd], check=True,
                               stdout=subprocess.DEVNULL)
                subprocess.run(["sox", "-R", "-q", raw, "-r", "11025", "-c", "1", "-b", "16",
                                out, "pad", "0.25", "0.3"], check=True)
                files.append(out)
        res = subprocess.run([os.path.join(args.bin, "recognize"), "--usr", args.usr,
                              "--voc", args.voc,
                              "--rul", os.path.join(ROOT, "data", "abc.rul")] + files,
                             capture_output=True, text=True, cwd=tmp)
        current = None
        for line in res.stdout.splitlines():
            if not line.startswith("\t"):
                path, _, words = line.partition("\t")
                current = os.path.basename(path)
                results[current] = (spelled(words), [])
            elif current and line.split("\t")[1].isdigit():
                results[current][1].append(spelled(line.split("\t")[3]))
    print("| said | expected | " + " | ".join(n for n, _ in voices) + " |")
    print("|---|---|" + "---|" * len(voices))
    right = [0] * len(voices)
    for c, (text, expected) in enumerate(CASES):
        cells = []
        for v in range(len(voices)):
            got, nbest = results.get(f"case{v}_{c}.wav", ("", []))
            right[v] += got == expected
            rank = nbest.index(expected) + 1 if expected in nbest else 0
            cells.append(f"`{got}`" + ("" if got == expected else
                                       f" ✗ (right: {'rank ' + str(rank) if rank else 'not in the list'})"))
        print(f"| {text} | `{expected}` | " + " | ".join(cells) + " |")
    print("| spelled right | | " + " | ".join(f"{r} of {len(CASES)}" for r in right) + " |")


if __name__ == "__main__":
    main()
