#!/usr/bin/env python3
"""Command-recognition accuracy, speed and memory of our recogniser against PocketSphinx.

    python3 bench/accuracy/accuracy.py [--build build] [--out BUILD/accuracy] [--count 120]
                                       [--voices flite-slt,espeak-en-us+f4,...] [--usr FILE]
                                       [--seed N] [--repeat N] [--conditions all|none|a,b,...]

Default voices: all four held out of training (docs/training.md).

Steps (everything generated lands in --out, which is outside version control):
1. the command grammar (grammar.py) as commands.rul and commands.gram (JSGF), its dictionaries
   commands.voc (data/base.voc, then data/fulldict.voc) and commands.dict (PocketSphinx's own
   cmudict-en-us.dict), and --count test commands sampled from it (tests.tsv);
2. each held-out voice speaks every test command (11025 Hz for us, 16 kHz for PocketSphinx, both
   made by sox from the same synthesiser output) and the enrollment prompts of data/enrol.txt;
3. per voice: our recogniser (bin/recognize, which builds the filter bank for the models' warp bin) with
   a snapshot of data/newuser.usr (speaker independent), the `adapt` tool on the
   voice's enrollment recordings, our recogniser with the adapted models, and pocketsphinx_batch
   with the JSGF grammar; each recogniser runs as one process over all the voice's files, on one
   core (taskset -c 0), under /usr/bin/time -v (CPU time and peak resident size), --repeat times
   (default 3; the lowest CPU time counts);
4. channel conditions (CONDITIONS: quieter, louder, a DC offset, mains hum, a telephone band, a
   headset's spectral tilt, pink noise): each voice's test files at 16 kHz are put through the
   condition, and the 11025 Hz files are made from those, so both recognisers hear the same
   recordings; our recogniser speaker independent and enrolled (the models adapted on the clean
   enrollment recordings, as a user enrolls once and talks elsewhere), and PocketSphinx, once each;
5. the table on standard output and in --out/report.md.

Nothing is tuned on the test utterances: the grammar, the sampling and both recognisers' settings
are fixed before the audio is made. Standard library, sox and the synthesisers only.
"""
import argparse
import array
import hashlib
import json
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import wave
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)
import grammar as G  # noqa: E402

PS_MODEL = "/usr/share/pocketsphinx/model/en-us"
CMUDICT = os.path.join(PS_MODEL, "cmudict-en-us.dict")

# Voices held out of training (docs/training.md): (name, engine, engine voice, espeak speed)
VOICES = {
    "flite-slt": ("flite", "slt", 0),
    "festival-slt-hts": ("festival", "voice_cmu_us_slt_arctic_hts", 0),
    "espeak-en-us+f4": ("espeak", "en-us+f4", 160),
    "espeak-en-gb-x-rp+m5": ("espeak", "en-gb-x-rp+m5", 165),
}
DEFAULT_VOICES = ",".join(VOICES)


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def write_if_changed(path, text):
    old = None
    if os.path.exists(path):
        with open(path, encoding="latin-1") as f:
            old = f.read()
    if old != text:
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="latin-1") as f:
            f.write(text)
        os.replace(tmp, path)


# ---- 1. grammar, dictionaries, test commands --------------------------------------------------

def names_from_lts(contacts, translator, build, gdir):
    """The contacts' names as pronmerge gives them with no reference dictionary: every name by
    letter-to-sound ("rules", or "model": data/ltsmodel.bin), class 4, with the model's close
    second guess as an alternative. Returns {name: [.voc lines]}."""
    work = os.path.join(gdir, f"lts-{translator}")
    os.makedirs(work, exist_ok=True)
    for old in ("fulldict.voc", "ltsmodel.bin", "out.voc"):
        if os.path.exists(os.path.join(work, old)):
            os.unlink(os.path.join(work, old))
    names = sorted({n for pair in contacts for n in pair})
    with open(os.path.join(work, "names.lst"), "w", encoding="latin-1") as f:
        f.write("".join(n + "\n" for n in names))
    env = dict(os.environ)
    env.pop("VELMORA_LTS", None)
    if translator == "model":
        shutil.copyfile(os.path.join(ROOT, "data", "ltsmodel.bin"), os.path.join(work, "ltsmodel.bin"))
    else:
        env["VELMORA_LTS"] = "rules"
    subprocess.run([os.path.join(build, "bin", "pronmerge"), "names.lst"], cwd=work, env=env, check=True,
                   stdout=subprocess.DEVNULL)
    lines = {}
    for line in open(os.path.join(work, "out.voc"), encoding="latin-1"):
        lines.setdefault(line.split("\t")[0], []).append(line.rstrip("\n"))
    return lines


def make_grammar(out, count, seed=G.TEST_SEED, lts_names="", build=""):
    gdir = os.path.join(out, "grammar")
    os.makedirs(gdir, exist_ok=True)
    base_path = os.path.join(ROOT, "data", "base.voc")
    base = G.read_voc(base_path) if os.path.exists(base_path) else {}
    full = G.read_voc(os.path.join(ROOT, "data", "fulldict.voc"))
    cmu = G.read_cmudict(CMUDICT)
    known = {w for w in cmu if w in full or w in base}
    contacts = G.make_contacts(known)
    rules = G.build_rules(contacts)
    words = G.all_words(rules)
    voc, missing_voc = G.voc_lines(words, base, full)
    if lts_names:
        by_lts = names_from_lts(contacts, lts_names, build, gdir)
        voc = [l for l in voc if l.split("\t")[0] not in by_lts] + [l for ls in by_lts.values() for l in ls]
    dic, missing_cmu = G.cmu_lines(words, cmu)
    if missing_voc or missing_cmu:
        raise SystemExit(f"words missing from the dictionaries: ours {missing_voc}, CMU {missing_cmu}")
    write_if_changed(os.path.join(gdir, "commands.rul"), G.write_rul(rules))
    write_if_changed(os.path.join(gdir, "commands.gram"), G.write_jsgf(rules))
    write_if_changed(os.path.join(gdir, "commands.voc"), "\n".join(voc) + "\n")
    write_if_changed(os.path.join(gdir, "commands.dict"), "\n".join(dic) + "\n")
    commands = G.sample_commands(contacts, count, seed)
    for c in commands:
        assert G.matches(rules, c), c
    tests = [(f"c{i + 1:03d}", c) for i, c in enumerate(commands)]
    write_if_changed(os.path.join(gdir, "tests.tsv"),
                     "".join(f"{i}\t{' '.join(c)}\t{G.spoken_text(c)}\n" for i, c in tests))
    write_if_changed(os.path.join(gdir, "contacts.tsv"), "".join(f"{f}\t{l}\n" for f, l in contacts))
    log(f"grammar: {len(words)} words, {len(contacts)} contacts, {len(tests)} test commands "
        f"({len(voc)} pronunciations ours, {len(dic)} CMU) in {gdir}")
    return gdir, rules, tests


# ---- 2. audio ---------------------------------------------------------------------------------

def synthesise(voice, items, rawdir, jobs):
    """Speaks (id, text) items into rawdir/<id>.wav with the voice, skipping existing files."""
    engine, ev, speed = VOICES[voice]
    todo = [(i, t) for i, t in items if not os.path.exists(os.path.join(rawdir, i + ".wav"))]
    if not todo:
        return
    os.makedirs(rawdir, exist_ok=True)
    if engine == "festival":
        chunks = [todo[k::jobs] for k in range(jobs)]

        def run(chunk):
            with tempfile.NamedTemporaryFile("w", suffix=".scm", delete=False) as f:
                f.write(f"({ev})\n")
                for i, text in chunk:
                    dst = os.path.join(rawdir, i + ".wav")
                    f.write(f'(utt.save.wave (utt.synth (Utterance Text "{text}")) "{dst}.part" \'riff)\n')
                scm = f.name
            subprocess.run(["festival", "-b", scm], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            os.unlink(scm)
            for i, _ in chunk:
                dst = os.path.join(rawdir, i + ".wav")
                os.replace(dst + ".part", dst)
        with ThreadPoolExecutor(jobs) as ex:
            list(ex.map(run, [c for c in chunks if c]))
        return

    def one(item):
        i, text = item
        dst = os.path.join(rawdir, i + ".wav")
        if engine == "espeak":
            cmd = ["espeak-ng", "-v", ev, "-s", str(speed), "-w", dst + ".part", text]
        else:
            cmd = ["flite", "-voice", ev, "-t", text, "-o", dst + ".part"]
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.replace(dst + ".part", dst)
    with ThreadPoolExecutor(jobs) as ex:
        list(ex.map(one, todo))


def convert(src, dst, rate):
    """sox: mono 16-bit at rate, level normalised to -6 dBFS, 0.3 s of silence either side."""
    if os.path.exists(dst):
        return
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    subprocess.run(["sox", "-R", src, "-r", str(rate), "-c", "1", "-b", "16", "-e", "signed-integer",
                    dst + ".part.wav", "gain", "-n", "-6", "pad", "0.3", "0.3"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.replace(dst + ".part.wav", dst)


def duration(path):
    with wave.open(path, "rb") as w:
        return w.getnframes() / w.getframerate()


def audio_name(ident, text):
    """File stem of a recording: its id and a digest of its text, so that a recording made for
    another text (after the grammar or the prompts changed) is never reused."""
    return f"{ident}-{hashlib.sha1(text.encode()).hexdigest()[:8]}"


def make_audio(out, voice, tests, jobs):
    """Speaks the tests; returns the voice's folder and the file stem of every test id."""
    vdir = os.path.join(out, "audio", voice)
    names = {i: audio_name(i, G.spoken_text(c)) for i, c in tests}
    synthesise(voice, [(names[i], G.spoken_text(c)) for i, c in tests], os.path.join(vdir, "raw"), jobs)
    with ThreadPoolExecutor(jobs) as ex:
        for rate, sub in ((11025, "11k"), (16000, "16k")):
            list(ex.map(lambda n: convert(os.path.join(vdir, "raw", n + ".wav"),
                                          os.path.join(vdir, sub, n + ".wav"), rate), names.values()))
    return vdir, names


def read_enrol_prompts():
    """(kind, text) lines of data/enrol.txt: kind "cmd" for command lines, else "prompt"."""
    path = os.path.join(ROOT, "data", "enrol.txt")
    if not os.path.exists(path):
        return None
    lines = []
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            if line.startswith("cmd_"):
                lines.append(("cmd", line))
            else:
                lines.append(("prompt", line.split("\t")[0].strip()))
    return lines


def make_enrolment(out, voice, jobs):
    """Synthesises the enrollment prompts with the voice; returns the prompt list for `adapt`."""
    prompts = read_enrol_prompts()
    edir = os.path.join(out, "audio", voice, "enrol")
    ids = {}
    for kind, text in prompts:
        if kind == "prompt" and text not in ids:
            ids[text] = audio_name(f"e{len(ids) + 1:03d}", text)
    synthesise(voice, [(i, t) for t, i in ids.items()], os.path.join(edir, "raw"), jobs)
    with ThreadPoolExecutor(jobs) as ex:
        list(ex.map(lambda i: convert(os.path.join(edir, "raw", i + ".wav"),
                                      os.path.join(edir, i + ".wav"), 11025), ids.values()))
    lst = os.path.join(edir, "prompts.lst")
    with open(lst, "w") as f:
        for kind, text in prompts:
            f.write(text + "\n" if kind == "cmd" else f"{os.path.join(edir, ids[text] + '.wav')}\t{text}\n")
    return lst


# ---- 2b. channel conditions -------------------------------------------------------------------

# Each condition changes the clean recording (normalised to -6 dBFS) as a real microphone and
# room would: (name, description). Made by channel_effect; the same seed for every file of a
# voice, so a run is reproducible.
CONDITIONS = [
    ("quiet", "12 dB quieter"),
    ("loud", "5 dB louder (peaks at -1 dBFS)"),
    ("dc", "DC offset of 2 % of full scale"),
    ("hum", "50 Hz mains hum with its 2nd and 3rd harmonics, 15 dB below the speech"),
    ("phone", "telephone band, 300-3400 Hz"),
    ("headset", "headset tilt: bass cut below 200 Hz, +6 dB above 3 kHz"),
    ("noise", "pink noise at 20 dB SNR"),
]
CONDITION_NAMES = [c for c, _ in CONDITIONS]


def read_samples(path):
    with wave.open(path, "rb") as w:
        rate = w.getframerate()
        a = array.array("h")
        a.frombytes(w.readframes(w.getnframes()))
    if sys.byteorder == "big":
        a.byteswap()
    return a, rate


def write_samples(path, samples, rate):
    a = array.array("h", (max(-32768, min(32767, int(round(x)))) for x in samples))
    if sys.byteorder == "big":
        a.byteswap()
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(a.tobytes())


def speech_rms(samples, rate):
    """RMS of the louder half of the 20 ms blocks: the level of the speech, not of the pauses."""
    n = max(1, rate // 50)
    blocks = [sum(x * x for x in samples[i:i + n]) / n for i in range(0, len(samples) - n + 1, n)]
    if not blocks:
        return 0.0
    blocks.sort()
    loud = blocks[len(blocks) // 2:]
    return math.sqrt(sum(loud) / len(loud))


def pink_noise(count, rng):
    """Pink (1/f) noise of unit RMS: white noise through a sum of first-order filters."""
    b = [0.0] * 6
    out = []
    for _ in range(count):
        w = rng.gauss(0.0, 1.0)
        b[0] = 0.99886 * b[0] + w * 0.0555179
        b[1] = 0.99332 * b[1] + w * 0.0750759
        b[2] = 0.96900 * b[2] + w * 0.1538520
        b[3] = 0.86650 * b[3] + w * 0.3104856
        b[4] = 0.55000 * b[4] + w * 0.5329522
        b[5] = -0.7616 * b[5] - w * 0.0168980
        out.append(sum(b) + w * 0.5362)
    rms = math.sqrt(sum(x * x for x in out) / max(1, count)) or 1.0
    return [x / rms for x in out]


def channel_effect(condition, src, dst, seed):
    """Writes src (a clean 16-bit mono recording) through the condition to dst."""
    tmp = dst + ".part.wav"
    sox = {"quiet": ["gain", "-12"], "loud": ["gain", "5"], "dc": ["dcshift", "0.02"],
           "phone": ["sinc", "300-3400", "gain", "-n", "-6"],
           "headset": ["highpass", "200", "treble", "6", "3000", "gain", "-n", "-6"]}
    if condition in sox:
        subprocess.run(["sox", "-R", src, tmp] + sox[condition], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    else:
        x, rate = read_samples(src)
        level = speech_rms(x, rate)
        if condition == "hum":
            a = level * 10 ** (-15 / 20) * math.sqrt(2)   # amplitude of all three together
            phase = random.Random(seed).uniform(0, 2 * math.pi)
            y = [v + a * (0.8 * math.sin(2 * math.pi * 50 * k / rate + phase) +
                          0.45 * math.sin(2 * math.pi * 100 * k / rate) +
                          0.35 * math.sin(2 * math.pi * 150 * k / rate + 2 * phase))
                 for k, v in enumerate(x)]
        elif condition == "noise":
            nz = pink_noise(len(x), random.Random(seed))
            g = level * 10 ** (-20 / 20)
            y = [v + g * n for v, n in zip(x, nz)]
        else:
            raise ValueError(f"unknown condition {condition}")
        write_samples(tmp, y, rate)
    os.replace(tmp, dst)


def make_condition_audio(vdir, names, condition, jobs):
    """The voice's test files through the condition: 16 kHz from the clean 16 kHz files, and
    11025 Hz made from those, so that both recognisers hear the same recording."""
    cdir = os.path.join(vdir, "cond", condition)
    os.makedirs(os.path.join(cdir, "16k"), exist_ok=True)
    os.makedirs(os.path.join(cdir, "11k"), exist_ok=True)

    def one(n):
        d16 = os.path.join(cdir, "16k", n + ".wav")
        d11 = os.path.join(cdir, "11k", n + ".wav")
        if not os.path.exists(d16):
            seed = int(hashlib.sha1(f"{condition}-{n}".encode()).hexdigest()[:8], 16)
            channel_effect(condition, os.path.join(vdir, "16k", n + ".wav"), d16, seed)
        if not os.path.exists(d11):
            subprocess.run(["sox", "-R", d16, "-r", "11025", d11 + ".part.wav"], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.replace(d11 + ".part.wav", d11)
    with ThreadPoolExecutor(jobs) as ex:
        list(ex.map(one, names.values()))
    return cdir


# ---- 3. recognisers ---------------------------------------------------------------------------

def timed(cmd, timefile, stdout_path, stderr_path, repeat=1):
    """Runs cmd on core 0 under /usr/bin/time -v in the folder of timefile (where the speech log
    goes), repeat times; returns (exit status, cpu seconds, wall seconds, peak KB): the first
    non-zero exit status (else 0), the lowest CPU and wall times (the run least disturbed by other
    work on the machine) and the highest peak."""
    full = ["taskset", "-c", "0", "/usr/bin/time", "-v", "-o", timefile] + cmd
    status, cpu, wall_s, peak = 0, None, None, 0
    for _ in range(max(1, repeat)):
        with open(stdout_path, "w") as so, open(stderr_path, "w") as se:
            rc = subprocess.run(full, stdout=so, stderr=se, cwd=os.path.dirname(timefile)).returncode
        with open(timefile) as tf:
            text = tf.read()

        def field(name):
            m = re.search(re.escape(name) + r":\s*([0-9.:]+)", text)
            return m.group(1) if m else "0"
        run_cpu = float(field("User time (seconds)")) + float(field("System time (seconds)"))
        parts = [float(p) for p in field("Elapsed (wall clock) time (h:mm:ss or m:ss)").split(":")]
        run_wall = sum(p * 60 ** k for k, p in enumerate(reversed(parts)))
        status = status or rc
        cpu = run_cpu if cpu is None else min(cpu, run_cpu)
        wall_s = run_wall if wall_s is None else min(wall_s, run_wall)
        peak = max(peak, int(field("Maximum resident set size (kbytes)")))
    return status, cpu, wall_s, peak


def run_ours(recognize, usr, gdir, wavs, stem, session=False, repeat=1, confidence=False):
    """The first pass only, as PocketSphinx runs: without the second search over free phones that
    the confidence needs (confidence=True keeps it, to measure what it costs)."""
    cmd = [recognize, "--usr", usr, "--voc", os.path.join(gdir, "commands.voc"),
           "--rul", os.path.join(gdir, "commands.rul"), "--rule", "command"] + wavs
    cmd.append("--json")
    if not confidence:
        cmd.append("--no-phone-loop")
    if session:
        cmd.append("--session")
    rc, cpu, wall, peak = timed(cmd, stem + ".time", stem + ".json", stem + ".err", repeat)
    hyps = {}
    with open(stem + ".json") as f:
        for line in f:
            line = line.strip()
            if not line.startswith("{"):
                continue
            r = json.loads(line)
            best = r["nbest"][0]["words"] if r["nbest"] else ""
            hyps[os.path.splitext(os.path.basename(r["file"]))[0].split("-")[0]] = normalise(best)
    return rc, cpu, wall, peak, hyps


def run_pocketsphinx(gdir, wavdir, ids, stem, repeat=1):
    ctl = stem + ".ctl"
    with open(ctl, "w") as f:
        f.write("".join(i + "\n" for i in ids))
    cmd = ["pocketsphinx_batch", "-adcin", "yes", "-cepdir", wavdir, "-cepext", ".wav", "-ctl", ctl,
           "-jsgf", os.path.join(gdir, "commands.gram"), "-dict", os.path.join(gdir, "commands.dict"),
           "-hmm", os.path.join(PS_MODEL, "en-us"), "-samprate", "16000", "-hyp", stem + ".hyp",
           "-logfn", stem + ".log"]
    rc, cpu, wall, peak = timed(cmd, stem + ".time", stem + ".out", stem + ".err", repeat)
    hyps = {}
    if os.path.exists(stem + ".hyp"):
        with open(stem + ".hyp") as f:
            for line in f:
                m = re.match(r"^(.*?)\s*\((\S+)\s+-?\d+\)\s*$", line)
                if m:
                    hyps[m.group(2).split("-")[0]] = normalise(m.group(1))
    return rc, cpu, wall, peak, hyps


def normalise(text):
    """Hypothesis words: variant marks, fillers and silences dropped; compounds split on "_"."""
    out = []
    for w in text.split():
        w = re.sub(r"\(\d+\)$", "", w).lower()
        if w in ("<s>", "</s>", "<sil>") or w.startswith("[") or w.startswith("++"):
            continue
        out += [p for p in w.split("_") if p]
    return out


# ---- 4. scoring -------------------------------------------------------------------------------

def edit_distance(ref, hyp):
    prev = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        cur = [i] + [0] * len(hyp)
        for j, h in enumerate(hyp, 1):
            cur[j] = min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (r != h))
        prev = cur
    return prev[-1]


def article_only(ref, hyp):
    """True when two word strings differ only by "a" against "an"."""
    a, b = ref.split(), hyp.split()
    return len(a) == len(b) and a != b and all(x == y or {x, y} == {"a", "an"} for x, y in zip(a, b))


def score(tests, hyps):
    n = len(tests)
    correct = sum(1 for i, ref in tests if hyps.get(i) == ref)
    same_action = sum(1 for i, ref in tests if hyps.get(i) == ref or
                      article_only(" ".join(ref), " ".join(hyps.get(i, []))))
    words = sum(len(ref) for _, ref in tests)
    errors = sum(edit_distance(ref, hyps.get(i, [])) for i, ref in tests)
    return {"n": n, "commands": 100.0 * correct / n if n else 0.0,
            "actions": 100.0 * same_action / n if n else 0.0,
            "empty": sum(1 for i, _ in tests if not hyps.get(i)),
            "words": 100.0 * (words - errors) / words if words else 0.0,
            "errors": [(i, " ".join(ref), " ".join(hyps.get(i, []))) for i, ref in tests
                       if hyps.get(i) != ref]}


# ---- main -------------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"), help="build directory with bin/")
    ap.add_argument("--out", default="", help="output directory (default BUILD/accuracy)")
    ap.add_argument("--count", type=int, default=120, help="test commands per voice")
    ap.add_argument("--seed", type=int, default=G.TEST_SEED,
                    help="seed of the command sample; another seed gives a development set to try "
                         "changes on without touching the test commands (use another --out)")
    ap.add_argument("--voices", default=DEFAULT_VOICES, help="comma-separated held-out voices")
    ap.add_argument("--usr", default=os.path.join(ROOT, "data", "newuser.usr"), help="starting models")
    ap.add_argument("--jobs", type=int, default=2, help="parallel synthesis jobs")
    ap.add_argument("--names-from-lts", choices=["rules", "model"], default="",
                    help="take the contacts' names from letter-to-sound (pronmerge without a reference "
                         "dictionary) instead of the dictionaries: the rules or data/ltsmodel.bin")
    ap.add_argument("--repeat", type=int, default=3,
                    help="runs of each timed recogniser run; the lowest CPU time counts")
    ap.add_argument("--conditions", default="all",
                    help="channel conditions to test besides the clean files: all, none, or a "
                         f"comma-separated list of {', '.join(CONDITION_NAMES)}")
    args = ap.parse_args()
    if args.conditions == "all":
        conditions = CONDITION_NAMES
    elif args.conditions == "none":
        conditions = []
    else:
        conditions = [c for c in args.conditions.split(",") if c]
        for c in conditions:
            if c not in CONDITION_NAMES:
                raise SystemExit(f"unknown condition: {c} (known: {', '.join(CONDITION_NAMES)})")
    build = os.path.abspath(args.build)
    out = os.path.abspath(args.out or os.path.join(build, "accuracy"))
    os.makedirs(out, exist_ok=True)
    voices = [v for v in args.voices.split(",") if v]
    for v in voices:
        if v not in VOICES:
            raise SystemExit(f"unknown or not held-out voice: {v} (known: {', '.join(VOICES)})")

    recognize = os.path.join(build, "bin", "recognize")
    adapt = os.path.join(build, "bin", "adapt")
    notes = []
    have_usr = os.path.exists(args.usr)
    have_rec = os.access(recognize, os.X_OK)
    if not have_usr:
        notes.append(f"NO STARTING MODELS: {args.usr} does not exist; our columns are empty.")
    if not have_rec:
        notes.append(f"NO RECOGNISER: {recognize} is not built; our columns are empty.")
    prompts = read_enrol_prompts()
    have_adapt = os.access(adapt, os.X_OK) and prompts is not None and have_usr and have_rec
    if not have_adapt:
        lacking = [p for p, ok in ((args.usr, have_usr), (recognize, have_rec), (adapt, os.access(adapt, os.X_OK)),
                                   (os.path.join(ROOT, "data", "enrol.txt"), prompts is not None)) if not ok]
        notes.append(f"NO ENROLLMENT: {', '.join(lacking)} missing; the enrolled column is empty.")
    for n in notes:
        log(n)

    gdir, rules, tests = make_grammar(out, args.count, args.seed, args.names_from_lts, build)
    if args.names_from_lts:
        notes.append(f"CONTACT NAMES FROM LETTER-TO-SOUND ({args.names_from_lts}), not from the dictionaries.")
    if args.seed != G.TEST_SEED:
        notes.append(f"DEVELOPMENT SET: commands sampled with seed {args.seed}, not the test seed {G.TEST_SEED}.")
    # A snapshot of the starting models (and of the reference set adaptation spreads from), so that
    # a retrained model file cannot change under a running benchmark.
    mdir = os.path.join(out, "models")
    os.makedirs(mdir, exist_ok=True)
    usr_source = os.path.abspath(args.usr)
    if have_usr:
        args.usr = os.path.join(mdir, "newuser.usr")
        shutil.copyfile(usr_source, args.usr)
        delta = os.path.join(os.path.dirname(usr_source), "delta.usr")
        if os.path.exists(delta):
            shutil.copyfile(delta, os.path.join(mdir, "delta.usr"))
    args.usr_source = usr_source
    rdir = os.path.join(out, "results")
    os.makedirs(rdir, exist_ok=True)
    for old in ("velmora.log", "stdOut.log", "stdErr.log"):  # the speech log of this run only
        if os.path.exists(os.path.join(rdir, old)):
            os.unlink(os.path.join(rdir, old))
    rows = []
    startup = {}
    for voice in voices:
        t0 = time.time()
        vdir, names = make_audio(out, voice, tests, args.jobs)
        ids = [names[i] for i, _ in tests]  # file stems; results are keyed by the test id
        audio_s = sum(duration(os.path.join(vdir, "11k", i + ".wav")) for i in ids)
        log(f"{voice}: {len(ids)} utterances, {audio_s:.1f} s of audio ({time.time() - t0:.0f} s)")
        row = {"voice": voice, "n": len(ids), "audio": audio_s}
        wavs11 = [os.path.join(vdir, "11k", i + ".wav") for i in ids]
        if not startup:
            # the fixed cost of each recogniser: one process on one (the first) file
            first = {"audio": duration(wavs11[0])}
            if have_usr and have_rec:
                first["ours"] = run_ours(recognize, args.usr, gdir, wavs11[:1], os.path.join(rdir, "startup.ours"),
                                         repeat=args.repeat)
            first["ps"] = run_pocketsphinx(gdir, os.path.join(vdir, "16k"), ids[:1], os.path.join(rdir, "startup.ps"),
                                           repeat=args.repeat)
            startup = first
        if have_usr and have_rec:
            rc, cpu, wall, peak, hyps = run_ours(recognize, args.usr, gdir, wavs11,
                                                 os.path.join(rdir, f"{voice}.si"), repeat=args.repeat)
            row["si"] = score(tests, hyps) | {"rc": rc, "cpu": cpu, "wall": wall, "peak": peak}
            log(f"{voice}: ours speaker-independent {row['si']['commands']:.1f}% commands, "
                f"{row['si']['words']:.1f}% words, cpu {cpu:.1f} s, peak {peak} KB (exit {rc})")
            # what the confidence's second search (free phones) costs on top
            rc, cpu, wall, peak, _ = run_ours(recognize, args.usr, gdir, wavs11, os.path.join(rdir, f"{voice}.conf"),
                                              repeat=args.repeat, confidence=True)
            row["conf"] = {"rc": rc, "cpu": cpu, "wall": wall, "peak": peak}
            # The same files in order as one new speaker's commands, heard as the application
            # hears them (endpointed, the channel's normaliser carried from one to the next).
            rc, cpu, wall, peak, hyps = run_ours(recognize, args.usr, gdir, wavs11,
                                                 os.path.join(rdir, f"{voice}.session"), session=True)
            row["ss"] = score(tests, hyps) | {"rc": rc, "cpu": cpu, "wall": wall, "peak": peak}
            log(f"{voice}: ours speaker-independent session {row['ss']['commands']:.1f}% commands")
        if have_adapt:
            lst = make_enrolment(out, voice, args.jobs)
            usr = os.path.join(rdir, f"{voice}.usr")
            if os.path.exists(usr):  # never measure the models of an earlier run
                os.unlink(usr)
            with open(os.path.join(rdir, f"{voice}.adapt.log"), "w") as lf:
                arc = subprocess.run([adapt, "--usr", args.usr, "--voc", os.path.join(ROOT, "data", "enrol.voc"),
                                      "--prompts", lst, "--out", usr], stdout=lf, stderr=subprocess.STDOUT, cwd=rdir,
                                     env=dict(os.environ, VELMORA_DIR=mdir)).returncode
            if arc != 0:
                notes.append(f"{voice}: adapt exited with {arc} (see results/{voice}.adapt.log)")
            if os.path.exists(usr):
                rc, cpu, wall, peak, hyps = run_ours(recognize, usr, gdir, wavs11,
                                                     os.path.join(rdir, f"{voice}.enrolled"), repeat=args.repeat)
                row["en"] = score(tests, hyps) | {"rc": rc, "cpu": cpu, "wall": wall, "peak": peak}
                log(f"{voice}: ours enrolled {row['en']['commands']:.1f}% commands, "
                    f"{row['en']['words']:.1f}% words")
        rc, cpu, wall, peak, hyps = run_pocketsphinx(gdir, os.path.join(vdir, "16k"), ids,
                                                     os.path.join(rdir, f"{voice}.ps"), repeat=args.repeat)
        row["ps"] = score(tests, hyps) | {"rc": rc, "cpu": cpu, "wall": wall, "peak": peak}
        log(f"{voice}: PocketSphinx {row['ps']['commands']:.1f}% commands, {row['ps']['words']:.1f}% words, "
            f"cpu {cpu:.1f} s, peak {peak} KB (exit {rc})")
        row["cond"] = {}
        for c in conditions:
            cdir = make_condition_audio(vdir, names, c, args.jobs)
            cw11 = [os.path.join(cdir, "11k", i + ".wav") for i in ids]
            entry = {}
            if have_usr and have_rec:
                rc, cpu, wall, peak, hyps = run_ours(recognize, args.usr, gdir, cw11,
                                                     os.path.join(rdir, f"{voice}.{c}.si"))
                entry["si"] = score(tests, hyps) | {"rc": rc, "cpu": cpu}
            enrolled_usr = os.path.join(rdir, f"{voice}.usr")
            if "en" in row and os.path.exists(enrolled_usr):
                rc, cpu, wall, peak, hyps = run_ours(recognize, enrolled_usr, gdir, cw11,
                                                     os.path.join(rdir, f"{voice}.{c}.enrolled"))
                entry["en"] = score(tests, hyps) | {"rc": rc, "cpu": cpu}
            rc, cpu, wall, peak, hyps = run_pocketsphinx(gdir, os.path.join(cdir, "16k"), ids,
                                                         os.path.join(rdir, f"{voice}.{c}.ps"))
            entry["ps"] = score(tests, hyps) | {"rc": rc, "cpu": cpu}
            row["cond"][c] = entry
            log(f"{voice} {c}: " + ", ".join(f"{k} {entry[k]['commands']:.1f}%" for k in ("si", "en", "ps")
                                           if k in entry))
        rows.append(row)

    report = make_report(rows, notes, tests, args, out, startup)
    with open(os.path.join(out, "report.md"), "w") as f:
        f.write(report)
    with open(os.path.join(out, "results.json"), "w") as f:
        json.dump(rows, f, indent=1)
    print(report)


def with_warp_bin(models, warp_bin):
    """The text of a .usr file with its stored warp bin (the "vtln" line) set to warp_bin: the
    filter bank a speaker who has not enrolled is heard through; the templates are unchanged."""
    stored = re.search(r"^vtln \d+$", models, re.M)
    if stored is None:
        raise ValueError("the models name no warp bin")
    return models[:stored.start()] + f"vtln {warp_bin}" + models[stored.end():]


def model_stamp(path, copy):
    """(modification time, md5) of the models measured (their snapshot copy), so that a report
    names the models it measured."""
    if not os.path.exists(copy):
        return "(missing)"
    with open(copy, "rb") as f:
        digest = hashlib.md5(f.read()).hexdigest()[:12]
    stamp = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime(os.path.getmtime(path)))
    return f"({stamp}, md5 {digest}…)"


def make_report(rows, notes, tests, args, out, startup):
    def pct(r, key, field):
        return f"{r[key][field]:.1f}" if key in r else "n/a"

    # start-up: (exit status, cpu, wall, peak KB, hyps) of one process on one file
    s_ours, s_ps = startup.get("ours"), startup.get("ps")

    def search_rtf(r, key, first):
        if key not in r or first is None:
            return "n/a"
        return f"{max(r[key]['cpu'] - first[1], 0.0) / r['audio']:.4f}"

    lines = ["# Command recognition: our recogniser against PocketSphinx", "",
             f"{len(tests)} commands per voice sampled from the command grammar (grammar/tests.tsv), "
             "spoken by held-out synthetic voices; starting models "
             f"{os.path.relpath(args.usr_source, ROOT)} {model_stamp(args.usr_source, args.usr)}. "
             "**cmd %**: utterances whose best hypothesis is exactly the command; **act %**: the same, "
             "counting \"a\" for \"an\" as right (the application acts on the appointment type, not the "
             "article); **word %**: word accuracy, 1 − (substitutions + deletions + insertions) / "
             "reference words. SI: speaker-independent models; enrolled: after `adapt` on the voice's "
             "own enrollment prompts (data/enrol.txt).", ""]
    for n in notes:
        lines += [f"**{n}**", ""]
    lines += ["| voice | utts | audio s | SI cmd % | SI act % | SI word % | enrolled cmd % | enrolled act % | "
              "enrolled word % | PocketSphinx cmd % | PocketSphinx act % | PocketSphinx word % |",
              "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        cells = [r["voice"], str(r["n"]), f"{r['audio']:.1f}"]
        for key in ("si", "en", "ps"):
            cells += [pct(r, key, "commands"), pct(r, key, "actions"), pct(r, key, "words")]
        lines.append("| " + " | ".join(cells) + " |")
    if len(rows) > 1:
        cells = ["mean", str(sum(r["n"] for r in rows)), f"{sum(r['audio'] for r in rows):.1f}"]
        for key in ("si", "en", "ps"):
            have = [r for r in rows if key in r]
            for field in ("commands", "actions", "words"):
                cells.append(f"{sum(r[key][field] for r in have) / len(have):.1f}" if have else "n/a")
        lines.append("| " + " | ".join(cells) + " |")
    if any("ss" in r for r in rows):
        lines += ["", "Speaker independent as the application hears a new speaker (`recognize --session`): "
                  "the voice's test files in order as the commands of one session, each cut out by the "
                  "endpointer, with the channel's normaliser and levels carried from one command to the "
                  "next as the live channel does (the SI columns above hear every file on its own, from "
                  "the stored channel state).", "",
                  "| voice | SI session cmd % | SI session act % | SI session word % |", "|---|---|---|---|"]
        for r in rows:
            lines.append("| " + " | ".join([r["voice"], pct(r, "ss", "commands"), pct(r, "ss", "actions"),
                                            pct(r, "ss", "words")]) + " |")
        have = [r for r in rows if "ss" in r]
        if len(have) > 1:
            lines.append("| mean | " + " | ".join(f"{sum(r['ss'][f] for r in have) / len(have):.1f}"
                                                  for f in ("commands", "actions", "words")) + " |")
    lines += ["", "Speed and memory: one process over all files of a voice on one core (taskset -c 0) "
              f"under /usr/bin/time -v, the lowest CPU time of {args.repeat} such run(s) of each recogniser "
              "(the highest peak); RTF = (user + system CPU time) / audio duration with loading "
              "included; search RTF leaves out the start-up cost (one process on one file: "
              + (f"ours {s_ours[1]:.2f} s CPU, {s_ours[3] / 1024:.1f} MB peak; " if s_ours else "ours n/a; ")
              + (f"PocketSphinx {s_ps[1]:.2f} s CPU, {s_ps[3] / 1024:.1f} MB peak" if s_ps else "PocketSphinx n/a")
              + "). Peak = maximum resident set size of the process (shared libraries included). "
              "The ratios use our SI run; the enrolled run is shown beside it. Our runs search the grammar "
              "only (`--no-phone-loop`), as PocketSphinx does; the last three columns are the same SI run "
              "with the confidence's second search over free phones (`recognize` without that option).", "",
              "| voice | ours RTF | PS RTF | speed PS/ours | ours search RTF | PS search RTF | "
              "search speed PS/ours | ours enrolled RTF | ours peak MB | ours enrolled peak MB | PS peak MB | "
              "memory ours/PS | ours RTF with confidence | speed with confidence | peak MB with confidence |",
              "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        ours, ps = r.get("si"), r["ps"]
        cells = [r["voice"]]
        cells.append(f"{ours['cpu'] / r['audio']:.4f}" if ours else "n/a")
        cells.append(f"{ps['cpu'] / r['audio']:.4f}")
        cells.append(f"{ps['cpu'] / ours['cpu']:.1f}x" if ours and ours["cpu"] > 0 else "n/a")
        cells.append(search_rtf(r, "si", s_ours))
        cells.append(search_rtf(r, "ps", s_ps))
        if ours and s_ours and s_ps and ours["cpu"] - s_ours[1] > 0:
            cells.append(f"{(ps['cpu'] - s_ps[1]) / (ours['cpu'] - s_ours[1]):.1f}x")
        else:
            cells.append("n/a")
        en = r.get("en")
        cells.append(f"{en['cpu'] / r['audio']:.4f}" if en else "n/a")
        cells.append(f"{ours['peak'] / 1024:.1f}" if ours else "n/a")
        cells.append(f"{en['peak'] / 1024:.1f}" if en else "n/a")
        cells.append(f"{ps['peak'] / 1024:.1f}")
        cells.append(f"{ours['peak'] / ps['peak']:.2f}" if ours and ps["peak"] else "n/a")
        conf = r.get("conf")
        cells.append(f"{conf['cpu'] / r['audio']:.4f}" if conf else "n/a")
        cells.append(f"{ps['cpu'] / conf['cpu']:.1f}x" if conf and conf["cpu"] > 0 else "n/a")
        cells.append(f"{conf['peak'] / 1024:.1f}" if conf else "n/a")
        lines.append("| " + " | ".join(cells) + " |")
    # the targets, per voice
    lines += ["", "Targets: enrolled ≥ 97 % commands and not below PocketSphinx; SI ≥ 85 %; speed ≥ 10× "
              "PocketSphinx; peak memory < 1/5 of PocketSphinx's.", ""]
    for r in rows:
        checks = []
        if "en" in r:
            checks.append(f"enrolled {'met' if r['en']['commands'] >= 97 and r['en']['commands'] >= r['ps']['commands'] else 'missed'}")
        if "si" in r:
            checks.append(f"SI {'met' if r['si']['commands'] >= 85 else 'missed'}")
            checks.append(f"speed SI {'met' if r['si']['cpu'] * 10 <= r['ps']['cpu'] else 'missed'}")
        if "en" in r:
            checks.append(f"speed enrolled {'met' if r['en']['cpu'] * 10 <= r['ps']['cpu'] else 'missed'} "
                          f"({r['ps']['cpu'] / max(r['en']['cpu'], 1e-9):.1f}x)")
        if "si" in r:
            checks.append(f"memory {'met' if r['si']['peak'] * 5 < r['ps']['peak'] else 'missed'}")
        lines.append(f"- {r['voice']}: " + (", ".join(checks) if checks else "our columns missing"))
    conds = [c for c in CONDITION_NAMES if any(c in r.get("cond", {}) for r in rows)]
    if conds:
        desc = dict(CONDITIONS)
        lines += ["", "Channel conditions: the same test files put through each condition (the 16 kHz "
                  "files for PocketSphinx, and the 11025 Hz files made from those); SI: the starting "
                  "models, each file on its own; enrolled: the models adapted on the clean enrollment "
                  "recordings. Command accuracy, mean over the voices:", "",
                  "| condition | SI cmd % | enrolled cmd % | PocketSphinx cmd % | SI act % | enrolled act % |",
                  "|---|---|---|---|---|---|"]

        def mean_of(entries, key, field):
            have = [e[key][field] for e in entries if key in e]
            return f"{sum(have) / len(have):.1f}" if have else "n/a"
        clean = [r for r in rows]
        lines.append("| clean | " + " | ".join([mean_of(clean, "si", "commands"), mean_of(clean, "en", "commands"),
                                                 mean_of(clean, "ps", "commands"), mean_of(clean, "si", "actions"),
                                                 mean_of(clean, "en", "actions")]) + " |")
        for c in conds:
            es = [r["cond"][c] for r in rows if c in r.get("cond", {})]
            lines.append(f"| {c} ({desc[c]}) | " + " | ".join(
                [mean_of(es, "si", "commands"), mean_of(es, "en", "commands"), mean_of(es, "ps", "commands"),
                 mean_of(es, "si", "actions"), mean_of(es, "en", "actions")]) + " |")
        lines += ["", "Per voice (command accuracy, SI / enrolled / PocketSphinx):", "",
                  "| voice | clean | " + " | ".join(conds) + " |", "|---|---|" + "---|" * len(conds)]

        def triple(e):
            return " / ".join(f"{e[k]['commands']:.0f}" if k in e else "n/a" for k in ("si", "en", "ps"))
        for r in rows:
            lines.append(f"| {r['voice']} | {triple(r)} | " +
                         " | ".join(triple(r["cond"][c]) if c in r.get("cond", {}) else "" for c in conds) + " |")
        lines += ["", "Targets in every condition: SI ≥ 90 % (clean ≥ 95 %); enrolled ≥ 97 % (clean ≥ 99 %) "
                  "and not below PocketSphinx.", ""]
    lines += ["", "Errors (reference → hypothesis): results/<voice>.<si|session|enrolled>.json and "
              "results/<voice>.ps.hyp; the first few:", ""]
    for r in rows:
        for key, label in (("si", "SI"), ("ss", "SI session"), ("en", "enrolled"), ("ps", "PocketSphinx")):
            if key in r and r[key]["errors"]:
                errs = r[key]["errors"]
                article = sum(1 for _, ref, hyp in errs if article_only(ref, hyp))
                lines.append(f"- {r['voice']} {label}: {len(errs)} wrong ({article} only by a/an, "
                             f"{r[key]['empty']} without any result); " + "; ".join(
                    f"“{ref}” → “{hyp}”" for _, ref, hyp in errs[:4]))
    lines.append("")
    return "\n".join(lines)


if __name__ == "__main__":
    main()
