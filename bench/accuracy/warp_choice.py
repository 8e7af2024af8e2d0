#!/usr/bin/env python3
"""What choosing a warp bin per command would give a speaker who has not enrolled.

Runs `recognize` on the speaker-independent audio of a benchmark output folder (run.sh --out DIR,
a development set: --seed 7) once per warp bin, with the starting models' stored bin rewritten and
nothing else changed, and prints command accuracy per voice:
- for each bin alone;
- for each candidate set, choosing per file the bin whose best hypothesis has the lowest score
  per frame ("hyp"), the bin whose phone-loop score per frame is lowest ("loop"), and the
  oracle (right when any candidate is right: the ceiling of any per-file choice).

    python3 bench/accuracy/warp_choice.py --out /tmp/dev --bins 52,55,58,61,64,67,70 \\
        --sets 58,64 55,61,67 58,61,64

The recogniser's results are deterministic; nothing is timed.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import accuracy as A  # noqa: E402


def recognise_all(recognize, usr, gdir, audio, voices, refs):
    """{voice: {id: (right, phone-loop score per frame, best score per frame)}} for one model file."""
    out = {}
    for v in voices:
        wdir = os.path.join(audio, v, "11k")
        wavs = sorted(os.path.join(wdir, f) for f in os.listdir(wdir) if f.endswith(".wav"))
        cmd = [recognize, "--usr", usr, "--voc", os.path.join(gdir, "commands.voc"), "--rul",
               os.path.join(gdir, "commands.rul"), "--rule", "command", "--json"] + wavs
        r = subprocess.run(cmd, capture_output=True, text=True, check=True)
        per = {}
        for line in r.stdout.splitlines():
            if not line.startswith("{"):
                continue
            j = json.loads(line)
            ident = os.path.basename(j["file"]).split("-")[0]
            frames = max(1, j["frames"])
            best = j["nbest"][0] if j["nbest"] else None
            right = best is not None and A.normalise(best["words"]) == refs[ident]
            per[ident] = (right, j["phoneLoopScore"] / frames,
                          best["score"] / frames if best else float("inf"))
        out[v] = per
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", required=True, help="a benchmark output folder (grammar/, audio/)")
    ap.add_argument("--build", default=os.path.join(A.ROOT, "build"), help="build directory with bin/")
    ap.add_argument("--usr", default=os.path.join(A.ROOT, "data", "newuser.usr"), help="starting models")
    ap.add_argument("--bins", default="52,55,58,61,64,67,70", help="warp bins to recognise at")
    ap.add_argument("--sets", nargs="*", default=["58,64", "55,61,67", "58,61,64"],
                    help="candidate sets of bins to choose from per file")
    args = ap.parse_args()
    bins = [int(b) for b in args.bins.split(",")]
    sets = [[int(b) for b in s.split(",")] for s in args.sets]
    for s in sets:
        if any(b not in bins for b in s):
            raise SystemExit(f"candidate set {s} has a bin not in --bins")
    gdir, audio = os.path.join(args.out, "grammar"), os.path.join(args.out, "audio")
    refs = {}
    with open(os.path.join(gdir, "tests.tsv"), encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            refs[parts[0]] = A.normalise(parts[1])
    voices = sorted(v for v in os.listdir(audio) if os.path.isdir(os.path.join(audio, v, "11k")))
    recognize = os.path.join(args.build, "bin", "recognize")
    with open(args.usr, encoding="latin-1") as f:
        models = f.read()

    results = {}
    with tempfile.TemporaryDirectory() as tmp:
        for b in bins:
            usr = os.path.join(tmp, f"bin{b}.usr")
            with open(usr, "w", encoding="latin-1") as f:
                f.write(A.with_warp_bin(models, b))
            results[b] = recognise_all(recognize, usr, gdir, audio, voices, refs)
            print(f"bin {b} recognised", file=sys.stderr, flush=True)

    def row(name, pick):
        figures = []
        for v in voices:
            ids = results[bins[0]][v]
            figures.append(100.0 * sum(pick(v, i) for i in ids) / len(ids))
        print(f"| {name} | " + " | ".join(f"{x:.1f}" for x in figures) + f" | {sum(figures) / len(figures):.1f} |")

    print("| warp bin(s) | " + " | ".join(voices) + " | mean |")
    print("|---|" + "---|" * (len(voices) + 1))
    for b in bins:
        row(str(b), lambda v, i, b=b: results[b][v][i][0])
    for s in sets:
        name = ",".join(map(str, s))
        row(f"{name} by hypothesis score", lambda v, i, s=s: results[min(s, key=lambda b: results[b][v][i][2])][v][i][0])
        row(f"{name} by phone-loop score", lambda v, i, s=s: results[min(s, key=lambda b: results[b][v][i][1])][v][i][0])
        row(f"{name} oracle", lambda v, i, s=s: any(results[b][v][i][0] for b in s))


if __name__ == "__main__":
    main()
