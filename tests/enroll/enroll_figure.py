#!/usr/bin/env python3
"""End-to-end figure of the enrollment program (docs/enroll.md, "The end-to-end figure").

    python3 tests/enroll/enroll_figure.py --acc OUT --voice VOICE [--build build]

OUT is the output folder of a run of bench/accuracy/accuracy.py for VOICE (a held-out voice), which
holds the voice's enrollment recordings (audio/VOICE/enrol/prompts.lst), its test commands and
the figures of newuser.usr and of `adapt` on the same recordings. This script:
1. makes a data directory from data/ (the shipped files) with a namefind.cfg naming the new user
   file, and lists the recordings in prompt order for $VELMORA_MIC, the first "tea" twice (the
   first accepted repetition of a run is always taken back with the "Low Volume" message);
2. runs `enroll --script` offscreen on them and saves the models as VOICE.usr through the save
   dialog; enroll's hand-off then starts namefind, whose start is traced with strace to show that
   it opens the new user file (namefind is ended by its process id after it has started);
3. runs `recognize` with VOICE.usr on the voice's test commands exactly as the benchmark runs its
   "enrolled" column, and prints the three figures.
"""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "bench", "accuracy"))
import accuracy  # noqa: E402  (the benchmark's recognizer runs and scoring)

SCRIPT = """mic
wait 600
mic
wait 600
mic
wait 1800
tap saveUser
type name {name}
tap saveIt
tap exit
"""


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--acc", required=True)
    ap.add_argument("--voice", required=True)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    args = ap.parse_args()
    acc, voice, binDir = os.path.abspath(args.acc), args.voice, os.path.join(os.path.abspath(args.build), "bin")
    work = os.path.join(acc, "enroll-" + voice)
    shutil.rmtree(work, ignore_errors=True)
    data = os.path.join(work, "data")
    shutil.copytree(os.path.join(ROOT, "data"), data)
    name = voice + ".usr"
    with open(os.path.join(data, "namefind.cfg"), "w") as f:
        f.write(f"u:{name}\nt:demo.tsv\n")

    mic = []
    with open(os.path.join(acc, "audio", voice, "enrol", "prompts.lst")) as f:
        for line in f:
            line = line.rstrip("\n")
            if line and not line.startswith("cmd_"):
                mic.append(line.split("\t")[0])
    mic.insert(0, mic[0])
    script = os.path.join(work, "script.txt")
    with open(script, "w") as f:
        f.write(SCRIPT.format(name=voice))
    env = dict(os.environ, VELMORA_DIR=data, XDG_RUNTIME_DIR=os.path.join(work, "run"), VELMORA_MIC=",".join(mic),
               VELMORA_MIC_FAST="1", VELMORA_MIC_GAP="1", VELMORA_SPEAKER="null", VELMORA_SPEAKER_FAST="1",
               QT_QPA_PLATFORM="offscreen", VLM_BOX_ANSWERS="ok,ok,ok,ok,ok,ok,ok,no,ok")
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    trace = os.path.join(work, "strace.txt")
    out = os.path.join(work, "transcript.txt")
    t0 = time.time()
    with open(out, "w") as so, open(os.path.join(work, "stderr.txt"), "w") as se:
        proc = subprocess.Popen(["strace", "-f", "-qq", "-e", "trace=openat,execve", "-o", trace,
                                 os.path.join(binDir, "enroll"), "--script", script], env=env, stdout=so, stderr=se,
                                cwd=work, start_new_session=True)
        # enroll ends after the hand-off; namefind keeps running: wait for its main dialog.
        deadline = time.time() + 3600
        while time.time() < deadline:
            time.sleep(2)
            text = open(out).read()
            if "exit " in text and text.count("dialog main shown") >= 2:
                break
            if proc.poll() is not None and "exit " in text and time.time() > deadline - 3590 and \
                    "namefind" not in open(trace).read():
                break
        time.sleep(2)
        os.killpg(proc.pid, signal.SIGTERM)   # our own process group: strace, enroll, namefind
        proc.wait()
    enrol_s = time.time() - t0
    transcript = open(out).read()
    traced = open(trace).read()
    saved = os.path.exists(os.path.join(data, name))
    nf = re.search(r"^(\d+)\s+execve\(\"[^\"]*/namefind\"", traced, re.M)
    opened = bool(nf) and re.search(rf"^{nf.group(1)}\s+openat\(.*/{re.escape(name)}\", O_RDONLY", traced, re.M)
    bins = re.findall(r'text main.warpBin "(\d+)"', transcript)
    print(f"enroll: {'saved ' + name if saved else 'NOT saved'} in {enrol_s:.0f} s; warp bin {bins[-1] if bins else '?'}")
    print(f"hand-off: namefind started: {bool(nf)}; namefind opened {name}: {bool(opened)}")
    if not saved:
        return 1

    results = json.load(open(os.path.join(acc, "results.json")))
    row = [r for r in results if r["voice"] == voice][0]
    vdir = os.path.join(acc, "audio", voice)
    stems = sorted(os.path.splitext(f)[0] for f in os.listdir(os.path.join(vdir, "11k")) if f.endswith(".wav"))
    wavs = [os.path.join(vdir, "11k", s + ".wav") for s in stems]
    rc, cpu, wall, peak, hyps = accuracy.run_ours(os.path.join(binDir, "recognize"), os.path.join(data, name),
                                                   os.path.join(acc, "grammar"), wavs,
                                                   os.path.join(work, "enroll.recognize"))
    refs = []
    with open(os.path.join(acc, "grammar", "tests.tsv")) as f:
        for line in f:
            i, words = line.rstrip("\n").split("\t")[:2]
            refs.append((i, words.split()))
    s = accuracy.score(refs, hyps)
    n = s["n"]
    print(f"{voice}: {n} commands")
    print(f"  newuser.usr          {row['si']['commands']:.1f} % ({round(row['si']['commands'] * n / 100)} right)")
    print(f"  adapt                {row['en']['commands']:.1f} % ({round(row['en']['commands'] * n / 100)} right)")
    print(f"  enroll --script      {s['commands']:.1f} % ({round(s['commands'] * n / 100)} right), act {s['actions']:.1f} %, "
          f"words {s['words']:.1f} %")
    for e in s["errors"]:
        print("    ", e)
    return 0


if __name__ == "__main__":
    sys.exit(main())
