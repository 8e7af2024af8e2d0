#!/usr/bin/env python3
"""Writes the prompt recordings of enrollment and the recorded digits of the dial dialog, and
checks them by recognition.

    python3 tools/prompts/make_prompts.py [--out data]          # make the recordings
    python3 tools/prompts/make_prompts.py --check [--bin build/bin] [--usr data/newuser.usr]

Recordings: every recording named on a prompt line of data/enrol.txt ("text<TAB>name.wav"),
saying the prompt's text, and "zero.wav" ... "nine.wav", "star.wav", "pound.wav", saying the
word. Each is spoken by espeak-ng's "en-us" voice (an allowed voice) at 150 words a minute,
converted by sox to 11025 Hz mono 16-bit RIFF in its repeatable mode and padded with 0.1 s of
silence before and 0.2 s after; the same tools give the same files.

--check recognises every recording with `recognize` against a grammar of its own prompt alone
(the prompt's words in sequence, as enrollment checks a repetition) and fails when one gives no
result or another word sequence; it also recognises each against all prompts together and prints
how many come out as their own prompt (a figure, not a condition: it depends on the models).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VOICE = "en-us"
SPEED = "150"
DIGITS = ["zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine",
          "star", "pound"]


def recordings(data_dir):
    """[(file name, text)] in the prompt file's order, then the digits; each name once."""
    out = {}
    with open(os.path.join(data_dir, "enrol.txt"), encoding="latin-1") as f:
        for line in f:
            line = line.strip(" \r\n")
            if not line or line.startswith("cmd_") or "\t" not in line:
                continue
            text, name = line.split("\t", 1)
            name = name.strip()
            if out.setdefault(name, text) != text:
                sys.exit(f"make_prompts: {name} is named for two texts")
    for d in DIGITS:
        if out.setdefault(d + ".wav", d) != d:
            sys.exit(f"make_prompts: {d}.wav is named for a prompt")
    return list(out.items())


def synthesise(text, path, tmp):
    raw = os.path.join(tmp, "raw.wav")
    subprocess.run(["espeak-ng", "-v", VOICE, "-s", SPEED, "-w", raw, text], check=True)
    part = path + ".tmp.wav"
    subprocess.run(["sox", "-R", "-q", raw, "-r", "11025", "-c", "1", "-b", "16", "-e", "signed",
                    part, "pad", "0.1", "0.2"], check=True)
    os.replace(part, path)


def make(out_dir):
    for tool in ("espeak-ng", "sox"):
        if shutil.which(tool) is None:
            sys.exit(f"make_prompts: {tool} is not installed")
    items = recordings(os.path.join(ROOT, "data"))
    with tempfile.TemporaryDirectory(prefix="make_prompts-") as tmp:
        for k, (name, text) in enumerate(items, 1):
            synthesise(text, os.path.join(out_dir, name), tmp)
            print(f"\r{k}/{len(items)} {name}          ", end="", flush=True)
    print(f"\r{len(items)} recordings in {out_dir}          ")


def read_voc(path, into):
    with open(path, "rb") as f:
        for raw in f:
            fields = raw.decode("latin-1").split()
            if len(fields) >= 2:
                prons = into.setdefault(fields[0], [])
                if fields[1] not in prons:
                    prons.append(fields[1])


def check(bin_dir, usr, data_dir):
    """Returns the number of failures; prints one line per recording that fails."""
    items = recordings(data_dir)
    prons = {}
    for voc in ("enrol.voc", "base.voc", "fulldict.voc"):
        loaded = {}
        read_voc(os.path.join(ROOT, "data", voc), loaded)
        for w, ps in loaded.items():
            prons.setdefault(w, ps)
    prompts = sorted({text for _, text in items})
    rule_of = {text: f"prompt{k}" for k, text in enumerate(prompts)}
    failures = 0
    with tempfile.TemporaryDirectory(prefix="check_prompts-") as tmp:
        voc, rul = os.path.join(tmp, "prompts.voc"), os.path.join(tmp, "prompts.rul")
        words = sorted({w for t in prompts for w in t.split()})
        missing = [w for w in words if w not in prons]
        if missing:
            print(f"no pronunciation for: {' '.join(missing)}")
            return len(missing)
        with open(voc, "w", encoding="latin-1") as f:
            f.writelines(f"{w}\t{p}\t0\n" for w in words for p in prons[w])
        with open(rul, "w", encoding="latin-1") as f:
            f.writelines(f"RULE {rule_of[t]}\n( {t} ) ;\n" for t in prompts)
        base = [os.path.join(bin_dir, "recognize"), "--usr", usr, "--voc", voc, "--rul", rul,
                "--json"]
        by_prompt = {}
        for name, text in items:
            by_prompt.setdefault(text, []).append(os.path.join(data_dir, name))
        for text, files in by_prompt.items():
            res = subprocess.run(base + ["--rule", rule_of[text]] + files, capture_output=True,
                                 text=True, cwd=tmp)
            results = [json.loads(line) for line in res.stdout.splitlines() if line.strip()]
            got = {r["file"]: (r["nbest"][0]["words"] if r["nbest"] else "") for r in results}
            for path in files:
                if got.get(path, "") != text:
                    failures += 1
                    print(f"{os.path.basename(path)}: {got.get(path, '')!r} against its own "
                          f"prompt {text!r}{' (' + res.stderr.strip() + ')' if res.stderr else ''}")
        paths = [os.path.join(data_dir, name) for name, _ in items]
        res = subprocess.run(base + paths, capture_output=True, text=True, cwd=tmp)
        results = [json.loads(line) for line in res.stdout.splitlines() if line.strip()]
        texts = dict((os.path.join(data_dir, n), t) for n, t in items)
        own = sum(1 for r in results if r["nbest"] and r["nbest"][0]["words"] == texts[r["file"]])
    print(f"{len(items)} recordings: {len(items) - failures} recognised against their own prompt; "
          f"{own} of {len(items)} recognised as their own prompt among all {len(prompts)} prompts")
    return failures


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", default=os.path.join(ROOT, "data"),
                    help="where the recordings are written (or, with --check, read)")
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    ap.add_argument("--usr", default=os.path.join(ROOT, "data", "newuser.usr"))
    args = ap.parse_args()
    if args.check:
        sys.exit(1 if check(os.path.abspath(args.bin), os.path.abspath(args.usr),
                            os.path.abspath(args.out)) else 0)
    make(args.out)


if __name__ == "__main__":
    main()
