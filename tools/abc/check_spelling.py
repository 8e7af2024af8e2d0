#!/usr/bin/env python3
"""Spelling by voice on synthetic speech: says spelling phrases with allowed voices, recognises
them against the spelling grammar (data/abc.rul over data/abc.voc, both rules active, as the
entry and find dialogs use them) and prints what was spelled.

    python3 tools/abc/check_spelling.py [--bin build/bin] [--usr data/newuser.usr]
        [--voc data/abc.voc] [--rul data/abc.rul] [--voices all|a,b,...]
        [--conditions none|all|a,b,...] [--out DIR] [--table]

Three sets of ten phrases: letter names ("B C D", "M, A, R, Y": the synthesisers say each
capital by its name), spelling-alphabet words ("alpha bravo charlie") and the other characters
(digits, "at sign", "period", "hyphen", "underscore"). The spelled text is the second character
of each recognised word's name; a phrase is right when the best hypothesis of the first pass
spells exactly the expected text.

Voices: the two training voices espeak-ng en-us and flite kal16, and the four voices that are
held out of training (the voices of bench/accuracy: flite slt, festival slt hts, espeak-ng
en-us+f4 and en-gb-x-rp+m5). Audio is made as bench/accuracy makes it (16 kHz, normalised to
-6 dBFS, 0.3 s of silence either side); --conditions puts the same files through that
benchmark's channel conditions (docs/accuracy.md), made from the 16 kHz file, then 11025 Hz.

Prints, per condition, the count of phrases spelled right per set and voice; --table also prints
every phrase (the best hypothesis, and for a wrong one the rank of the right spelling in the
n-best list). Generated audio stays in --out (default: a temporary folder). The exit status is 0
(a figure, not a condition: it depends on the models).
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "bench", "accuracy"))
import accuracy as A  # noqa: E402  (channel conditions of the command benchmark)

# (set, text given to the synthesiser, expected spelling). The letter phrases are capitals the
# synthesisers read by their names; "A" is set off by commas, because espeak-ng reads a lone "A"
# inside a run of capitals as the article.
CASES = [
    ("letters", "bee see dee", "bcd"),
    ("letters", "M, A, R, Y", "mary"),
    ("letters", "J O H N", "john"),
    ("letters", "P E T E R", "peter"),
    ("letters", "G V F Z", "gvfz"),
    ("letters", "K L M N", "klmn"),
    ("letters", "Q U I T", "quit"),
    ("letters", "S T E V E", "steve"),
    ("letters", "W X Y", "wxy"),
    ("letters", "D, A, V, I, D", "david"),
    ("alphabet", "alpha bravo charlie", "abc"),
    ("alphabet", "delta echo foxtrot", "def"),
    ("alphabet", "golf hotel india", "ghi"),
    ("alphabet", "juliet kilo lima mike", "jklm"),
    ("alphabet", "november oscar papa", "nop"),
    ("alphabet", "quebec romeo sierra tango", "qrst"),
    ("alphabet", "uniform victor whiskey", "uvw"),
    ("alphabet", "x ray yankee zulu", "xyz"),
    ("alphabet", "mike alpha romeo yankee", "mary"),
    ("alphabet", "sierra tango echo victor echo", "steve"),
    ("other", "mike at sign lima period kilo", "m@l.k"),
    ("other", "tango underscore victor", "t_v"),
    ("other", "at sign", "@"),
    ("other", "one two three", "123"),
    ("other", "zero nine eight", "098"),
    ("other", "five five five hyphen zero one four two", "555-0142"),
    ("other", "seven period two", "7.2"),
    ("other", "four four", "44"),
    ("other", "six oh one", "601"),
    ("other", "hotel dash india", "h-i"),
]
SETS = ["letters", "alphabet", "other"]
# (name, engine, engine voice, espeak speed, held out of training)
VOICES = [
    ("espeak-en-us", "espeak", "en-us", 0, False),
    ("flite-kal16", "flite", "kal16", 0, False),
] + [(name, engine, ev, speed, True) for name, (engine, ev, speed) in A.VOICES.items()]

# More training voices, for trying a change out before the held-out voices hear it (--voices).
DEV_VOICES = [
    ("espeak-en-us+m3", "espeak", "en-us+m3", 0, False),
    ("espeak-en-gb+m7", "espeak", "en-gb+m7", 0, False),
    ("flite-awb", "flite", "awb", 0, False),
    ("festival-kal", "festival", "voice_kal_diphone", 0, False),
]


def spelled(words):
    return "".join(w[1:2] for w in words.split())


def synthesise(engine, ev, speed, text, dst):
    if engine == "espeak":
        cmd = ["espeak-ng", "-v", ev] + (["-s", str(speed)] if speed else []) + ["-w", dst, text]
    elif engine == "flite":
        cmd = ["flite", "-voice", ev, "-t", text, "-o", dst]
    else:
        with tempfile.NamedTemporaryFile("w", suffix=".scm", delete=False) as f:
            f.write(f'({ev})\n(utt.save.wave (utt.synth (Utterance Text "{text}")) "{dst}" \'riff)\n')
        cmd = ["festival", "-b", f.name]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if engine == "festival":
        os.unlink(cmd[-1])


def make_audio(out, voices, conditions, jobs):
    """Every (voice, case) file, clean and through each condition: {(voice, cond): [paths]}."""
    work = []
    for vname, engine, ev, speed, _ in voices:
        for c, (_, text, _) in enumerate(CASES):
            work.append((vname, engine, ev, speed, c, text))

    def one(item):
        vname, engine, ev, speed, c, text = item
        vdir = os.path.join(out, vname)
        raw = os.path.join(vdir, "raw", f"c{c:02d}.wav")
        clean16 = os.path.join(vdir, "16k", f"c{c:02d}.wav")
        os.makedirs(os.path.dirname(raw), exist_ok=True)
        if not os.path.exists(raw):
            synthesise(engine, ev, speed, text, raw + ".part.wav")
            os.replace(raw + ".part.wav", raw)
        A.convert(raw, clean16, 16000)
        for cond in conditions:
            d16 = clean16 if cond == "clean" else os.path.join(vdir, cond, "16k", f"c{c:02d}.wav")
            d11 = os.path.join(vdir, cond, "11k", f"c{c:02d}.wav")
            os.makedirs(os.path.dirname(d16), exist_ok=True)
            os.makedirs(os.path.dirname(d11), exist_ok=True)
            if not os.path.exists(d16):
                seed = int(hashlib.sha1(f"{cond}-{vname}-{c}".encode()).hexdigest()[:8], 16)
                A.channel_effect(cond, clean16, d16, seed)
            if not os.path.exists(d11):
                subprocess.run(["sox", "-R", d16, "-r", "11025", d11 + ".part.wav"], check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                os.replace(d11 + ".part.wav", d11)
    with ThreadPoolExecutor(jobs) as ex:
        list(ex.map(one, work))
    return {(v[0], cond): [os.path.join(out, v[0], cond, "11k", f"c{c:02d}.wav")
                           for c in range(len(CASES))]
            for v in voices for cond in conditions}


def recognise(args, files):
    """{path: (best spelling, [n-best spellings])} from one recognize run over the files."""
    res = subprocess.run([os.path.join(args.bin, "recognize"), "--usr", args.usr, "--voc", args.voc,
                          "--rul", args.rul] + files, capture_output=True, text=True,
                         cwd=os.path.dirname(files[0]))
    if res.returncode != 0 and not any(line and not line.startswith("\t") for line in res.stdout.splitlines()):
        # a model or grammar that does not load must not pass for phrases spelled wrong (a phrase
        # that got no result is still listed, and counts as wrong)
        sys.exit(f"check_spelling: recognize failed (exit {res.returncode}):\n{res.stderr.strip()}")
    results, current = {}, None
    for line in res.stdout.splitlines():
        if not line.startswith("\t"):
            path, _, words = line.partition("\t")
            current = path
            results[current] = (spelled(words), [])
        elif current and line.split("\t")[1].isdigit():
            results[current][1].append(spelled(line.split("\t")[3]))
    return results


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    ap.add_argument("--usr", default=os.path.join(ROOT, "data", "newuser.usr"))
    ap.add_argument("--voc", default=os.path.join(ROOT, "data", "abc.voc"))
    ap.add_argument("--rul", default=os.path.join(ROOT, "data", "abc.rul"))
    ap.add_argument("--voices", default="all", help="all, or names: " + ",".join(v[0] for v in VOICES + DEV_VOICES))
    ap.add_argument("--conditions", default="none", help="none, all, or names: " +
                    ",".join(A.CONDITION_NAMES))
    ap.add_argument("--out", help="folder for the audio (kept and reused); default: temporary")
    ap.add_argument("--table", action="store_true", help="print every phrase's result")
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()
    # recognize runs in the audio's folder: the paths given must not depend on where we are
    for name in ("bin", "usr", "voc", "rul"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    for tool in ("sox", "espeak-ng", "flite", "festival"):
        if shutil.which(tool) is None:
            sys.exit(f"check_spelling: needs {tool}")
    every = VOICES + DEV_VOICES
    voices = VOICES if args.voices == "all" else [v for v in every if v[0] in args.voices.split(",")]
    if not voices:
        sys.exit("check_spelling: no such voice: " + args.voices)
    conds = ["clean"] + (A.CONDITION_NAMES if args.conditions == "all" else
                         [] if args.conditions == "none" else args.conditions.split(","))
    for c in conds[1:]:
        if c not in A.CONDITION_NAMES:
            sys.exit(f"check_spelling: no such condition: {c}")
    tmp = None
    if args.out:
        out = os.path.abspath(args.out)
        os.makedirs(out, exist_ok=True)
    else:
        tmp = tempfile.TemporaryDirectory(prefix="check_spelling-")
        out = tmp.name
    print(f"check_spelling: {len(CASES)} phrases x {len(voices)} voices x {len(conds)} conditions",
          file=sys.stderr)
    files = make_audio(out, voices, conds, args.jobs)
    all_files = [f for k in files for f in files[k]]
    results = {}
    for k in range(0, len(all_files), 120):
        results.update(recognise(args, all_files[k:k + 120]))
    names = [v[0] + (" (held out)" if v[4] else "") for v in voices]
    totals = {}
    for cond in conds:
        right = {(s, v[0]): 0 for s in SETS for v in voices}
        rows = []
        for c, (kind, text, expected) in enumerate(CASES):
            cells = []
            for v in voices:
                got, nbest = results.get(files[(v[0], cond)][c], ("", []))
                right[(kind, v[0])] += got == expected
                rank = nbest.index(expected) + 1 if expected in nbest else 0
                cells.append(f"`{got}`" + ("" if got == expected else
                                           f" ✗ ({'rank ' + str(rank) if rank else 'not in list'})"))
            rows.append(f"| {text} | `{expected}` | " + " | ".join(cells) + " |")
        totals[cond] = right
        print(f"\n### {cond}\n")
        print("| set | " + " | ".join(names) + " |")
        print("|---|" + "---|" * len(voices))
        for s in SETS:
            n = sum(1 for k, _, _ in CASES if k == s)
            print(f"| {s} | " + " | ".join(f"{right[(s, v[0])]}/{n}" for v in voices) + " |")
        if args.table:
            print("\n| said | expected | " + " | ".join(names) + " |")
            print("|---|---|" + "---|" * len(voices))
            print("\n".join(rows))
    if len(conds) > 1:
        print("\n### all conditions: phrases right of", 10 * len(conds), "per set\n")
        print("| set | " + " | ".join(names) + " |")
        print("|---|" + "---|" * len(voices))
        for s in SETS:
            print(f"| {s} | " + " | ".join(str(sum(totals[c][(s, v[0])] for c in conds))
                                           for v in voices) + " |")
    if tmp:
        tmp.cleanup()


if __name__ == "__main__":
    main()
