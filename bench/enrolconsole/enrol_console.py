#!/usr/bin/env python3
"""A voice enrolled through record-prompts against the same voice enrolled through a prompt list.

    python3 bench/enrolconsole/enrol_console.py [--build build] [--out BUILD/enrolconsole]
                                                [--voices espeak-en-us+f4,flite-slt] [--count 120]

For each voice (allowed voices held out of model training, bench/accuracy's VOICES):
1. the voice speaks the enrollment prompts of data/enrol.txt and the --count test commands of
   bench/accuracy (same grammar, same sampling);
2. list: `adapt --prompts` on the list of the synthesised prompt recordings (as bench/accuracy
   enrolls);
3. console: `record-prompts --prompts data/enrol.txt` hears the same recordings through the file
   microphone (VELMORA_MIC, one per prompt line in order), the live channel's endpointer cutting
   each take as it would cut a person's, and `adapt --enrol data/enrol.txt --recordings DIR`
   enrolls from the takes;
4. `recognize` with each set of models on the test commands; the table gives the share of
   commands recognised exactly.
Everything generated stays under --out.
"""
import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "bench", "accuracy"))
import accuracy as A  # noqa: E402


def adapt(build, usr_in, args, out_usr, log):
    with open(log, "w") as lf:
        rc = subprocess.run([os.path.join(build, "bin", "adapt"), "--usr", usr_in, "--voc",
                             os.path.join(ROOT, "data", "enrol.voc")] + args + ["--out", out_usr],
                            stdout=lf, stderr=subprocess.STDOUT,
                            env=dict(os.environ, VELMORA_DIR=os.path.join(ROOT, "data"))).returncode
    if rc != 0:
        raise SystemExit(f"adapt failed ({rc}), see {log}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out")
    ap.add_argument("--voices", default="espeak-en-us+f4,flite-slt")
    ap.add_argument("--count", type=int, default=120)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    out = os.path.abspath(args.out or os.path.join(build, "enrolconsole"))
    gdir, _, tests = A.make_grammar(out, args.count)
    newuser = os.path.join(ROOT, "data", "newuser.usr")
    prompts = A.read_enrol_prompts()
    print("| voice | enrolled through | commands right | takes |")
    print("|---|---|---|---|")
    for voice in args.voices.split(","):
        vdir, names = A.make_audio(out, voice, tests, 2)
        lst = A.make_enrolment(out, voice, 2)
        rdir = os.path.join(out, "results", voice)
        os.makedirs(rdir, exist_ok=True)
        # the prompt recordings in the order of the prompt file's prompt lines
        by_text = {}
        with open(lst) as f:
            for line in f:
                if "\t" in line:
                    path, text = line.rstrip("\n").split("\t", 1)
                    by_text[text] = path
        mic = [by_text[text] for kind, text in prompts if kind == "prompt"]
        takes = os.path.join(rdir, "takes")
        subprocess.run(["rm", "-rf", takes], check=True)
        with open(os.path.join(rdir, "record.log"), "w") as lf:
            rc = subprocess.run([os.path.join(build, "bin", "record-prompts"), "--prompts",
                                 os.path.join(ROOT, "data", "enrol.txt"), "--out", takes, "--no-play"],
                                stdin=subprocess.DEVNULL, stdout=lf, stderr=subprocess.STDOUT,
                                env=dict(os.environ, VELMORA_MIC=",".join(mic), VELMORA_MIC_FAST="1",
                                         VELMORA_MIC_GAP="1.5")).returncode
        if rc != 0:
            raise SystemExit(f"record-prompts failed ({rc}), see {rdir}/record.log")
        usr_list, usr_console = os.path.join(rdir, "list.usr"), os.path.join(rdir, "console.usr")
        adapt(build, newuser, ["--prompts", lst], usr_list, os.path.join(rdir, "list.log"))
        adapt(build, newuser, ["--enrol", os.path.join(ROOT, "data", "enrol.txt"), "--recordings", takes],
              usr_console, os.path.join(rdir, "console.log"))
        wavs = [os.path.join(vdir, "11k", names[i] + ".wav") for i, _ in tests]
        for label, usr in (("speaker independent", newuser), ("prompt list (adapt --prompts)", usr_list),
                           ("record-prompts + adapt --enrol", usr_console)):
            stem = os.path.join(rdir, os.path.basename(usr))
            _, _, _, _, hyps = A.run_ours(os.path.join(build, "bin", "recognize"), usr, gdir, wavs, stem)
            s = A.score(tests, hyps)
            n_takes = len(os.listdir(takes)) if "record" in label else len(mic) if "list" in label else 0
            print(f"| {voice} | {label} | {s['commands']:.1f} % of {s['n']} | {n_takes or '-'} |")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
