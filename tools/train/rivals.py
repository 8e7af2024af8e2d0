#!/usr/bin/env python3
"""Rival transcripts for corrective training (train --rivals).

Every command recording of the training voices in the corpus (texts whose recording name starts
with "cmd") is recognised with the given models against a grammar of all the corpus's command
texts; up to --keep hypotheses that are not the recording's own text become its rivals. The
trainer then draws the templates along the right alignment towards these frames and pushes those
along each rival's alignment away (docs/training.md, "Corrective training").

The models are heard at the neutral warp bin 58, as the trainer hears the recordings, and only
training voices are recognised: the held-out voices never take part.

    python3 tools/train/rivals.py --usr MODELS.usr [--corpus corpus] [--bin build/bin]
                                  [--out corpus/rivals.tsv] [--keep 3]

Output lines: wave file (as in the manifest), rival words, their pronunciations (the first that
the manifest gives each word); tab-separated. The grammar and dictionary it recognises with are
kept beside the output (rivals.rul, rivals.voc).
"""
import argparse
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NEUTRAL_WARP = 58
BATCH = 400


def read_manifest(corpus):
    rows = []
    with open(os.path.join(corpus, "manifest.tsv"), encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\r\n").split("\t")
            if len(fields) >= 5:
                rows.append(fields[:5])
    return rows


def at_neutral_warp(lines):
    """The model file's lines with the warp bin set to the neutral one (the "vtln" line and the
    settings template, state 1, whose second value carries it)."""
    out = list(lines)
    for i, line in enumerate(out):
        if line.startswith("vtln"):
            out[i] = f"vtln {NEUTRAL_WARP}"
            settings = i + 2          # state 0, then state 1
            values = out[settings].split()
            values[1] = str(NEUTRAL_WARP)
            out[settings] = " ".join(values)
            return out
    raise ValueError("no vtln line in the model file")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--usr", required=True, help="models to recognise with (the trainer's first result)")
    ap.add_argument("--corpus", default=os.path.join(ROOT, "corpus"))
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    ap.add_argument("--out", default="")
    ap.add_argument("--keep", type=int, default=3, help="rivals kept per recording (1 to 14)")
    args = ap.parse_args()
    if not 1 <= args.keep <= 14:
        ap.error("--keep must be 1 to 14")
    out = args.out or os.path.join(args.corpus, "rivals.tsv")
    work = os.path.dirname(os.path.abspath(out))
    os.makedirs(work, exist_ok=True)
    recognize = os.path.join(args.bin, "recognize")
    if not os.access(recognize, os.X_OK):
        sys.exit(f"rivals.py: {recognize} is missing (build the recognize target)")

    rows = read_manifest(args.corpus)
    pron_of = {}
    entries = {}          # (word, pronunciation) in the order first met
    pairs = []
    commands = {}
    for voice, role, path, words, prons in rows:
        if role != "train":
            continue
        for w, p in zip(words.split(), prons.split()):
            entries.setdefault((w, p), None)
            pron_of.setdefault(w, p)
        if os.path.basename(path).startswith("cmd"):
            commands[words] = prons
            pairs.append((path, words))
    if not pairs:
        sys.exit("rivals.py: the manifest has no command recordings of training voices")
    voc = os.path.join(work, "rivals.voc")
    rul = os.path.join(work, "rivals.rul")
    with open(voc, "w", encoding="utf-8") as f:
        for w, p in entries:
            f.write(f"{w}\t{p}\t0\n")
    with open(rul, "w", encoding="utf-8") as f:
        f.write("; Every command text of the training corpus (tools/train/rivals.py).\n")
        f.write("RULE commands\n{ " + "\n  ".join(sorted(f"( {t} )" for t in commands)) + " } ;\n")
    with open(args.usr, encoding="utf-8") as f:
        models = at_neutral_warp(f.read().splitlines())
    usr58 = os.path.join(work, "rivals-models.usr")
    with open(usr58, "w", encoding="utf-8") as f:
        f.write("\n".join(models) + "\n")

    written = wrong = missing = 0
    tmp = out + ".tmp"
    with open(tmp, "w", encoding="utf-8") as o:
        for start in range(0, len(pairs), BATCH):
            chunk = pairs[start:start + BATCH]
            run = subprocess.run([recognize, "--usr", usr58, "--voc", voc, "--rul", rul, "--rule", "commands",
                                  "--json", "--no-phone-loop", "--nbest", str(args.keep + 1)]
                                 + [os.path.join(args.corpus, p) for p, _ in chunk],
                                 capture_output=True, text=True)
            results = {}
            for line in run.stdout.splitlines():
                if line.startswith("{"):
                    r = json.loads(line)
                    results[os.path.relpath(r["file"], args.corpus)] = r
            for path, words in chunk:
                r = results.get(path)
                if not r or not r["nbest"]:
                    missing += 1
                    continue
                hyps = []
                for h in r["nbest"]:
                    text = h["words"].replace("_", " ")
                    if text not in hyps:
                        hyps.append(text)
                if hyps[0] != words:
                    wrong += 1
                for rival in [h for h in hyps if h != words][:args.keep]:
                    ws = rival.split()
                    if all(w in pron_of for w in ws):
                        o.write(f"{path}\t{rival}\t{' '.join(pron_of[w] for w in ws)}\n")
                        written += 1
            print(f"rivals.py: {min(start + BATCH, len(pairs))} of {len(pairs)} recordings", file=sys.stderr)
    os.replace(tmp, out)
    print(f"rivals.py: {len(pairs)} command recordings, {wrong} recognised wrong, {missing} without a result; "
          f"{written} rivals in {out}")


if __name__ == "__main__":
    main()
