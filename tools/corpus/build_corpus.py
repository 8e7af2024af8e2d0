#!/usr/bin/env python3
"""Builds the synthetic training and evaluation corpus for the starting models.

    python3 tools/corpus/build_corpus.py [--out corpus] [--scale N] [--jobs 2] [--texts-only]

Texts: the command phrases of the voice command application (look up + names, call + phone
types, echo, mail, schedule + appointment types, days, dates and clock times), the enrollment
prompts of data/enrol.txt when that file exists, and phrases of dictionary words picked greedily
so that every phone is heard after every left-context class and before every right-context class
that English words give it (each such pair at least --cover times; a pair with silence is heard only
where a phrase starts or ends on it). Transcripts are dictionary
words; their pronunciations come from data/base.voc, then data/enrol.voc, then
data/fulldict.voc (the first pronunciation found, a word's primary).

Voices (docs/training.md): the training voices speak every text; the held-out voices speak a
smaller evaluation set and are never used for training. Each utterance is synthesised, converted
with sox to 11025 Hz mono 16-bit, given 0.25 s of leading and 0.3 s of trailing silence and a
random level (sox gain -n), and mixed with low-level white noise (so that pauses are not digital
silence). Every --channel-th text of each training voice is also heard through a random channel
(level, DC offset, hum, rumble, band limit, tilt, reverberation or noise) as the training voice
"<voice>+ch" (docs/training.md, "Channel variety"). Everything random is seeded, so a run is
reproducible.

Output in --out (default ./corpus next to the repository's data/): wav/<voice>/<id>.wav (the id
holds a hash of the text, so a changed text is synthesised anew) and
manifest.tsv with one line per utterance:
    voice <TAB> role (train|test) <TAB> wav path (relative to --out) <TAB> words <TAB> prons
where words and prons are space-separated, one pronunciation per word. Existing wave files are
reused, so a second run only makes what is missing. Standard library and the synthesisers only.
"""
import argparse
import array
import hashlib
import heapq
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import warnings
import wave
from concurrent.futures import ThreadPoolExecutor

try:  # deprecated since Python 3.11 and gone from 3.13; mix_noise does without it
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        import audioop
except ImportError:
    audioop = None

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def flite_pitch(mean, deviation):
    """flite options for an intonation of the given mean pitch and deviation (Hz)."""
    return ["--setf", f"int_f0_target_mean={mean}", "--setf", f"int_f0_target_stddev={deviation}"]


def festival_pitch(mean, deviation):
    """Scheme for a festival diphone voice's intonation of the given mean pitch and deviation
    (Hz); the kal voice's own model is kept."""
    return [f"(set! int_lr_params '((target_f0_mean {mean}) (target_f0_std {deviation}) "
            f"(model_f0_mean 170) (model_f0_std 34)))"]


# Voices: (name, role, engine, engine voice, extra engine arguments[, sox effects]). The extra
# arguments are command-line options for espeak-ng and flite, Scheme expressions after the voice's
# selection for festival; the sox effects are applied before the conversion to 11025 Hz. Only the
# synthetic voices allowed for training and tuning appear here; the held-out ones are for
# evaluation only.
VOICES = [
    ("espeak-en-us", "train", "espeak", "en-us", ["-s", "165"]),
    ("espeak-en-us+m3", "train", "espeak", "en-us+m3", ["-s", "155"]),
    ("espeak-en-us+f2", "train", "espeak", "en-us+f2", ["-s", "170"]),
    ("espeak-en-gb+m7", "train", "espeak", "en-gb+m7", ["-s", "160"]),
    ("espeak-en-us+klatt2", "train", "espeak", "en-us+klatt2", ["-s", "160"]),
    ("espeak-en-029+f3", "train", "espeak", "en-029+f3", ["-s", "150"]),
    ("flite-kal16", "train", "flite", "kal16", []),
    # the same voice at about twice its pitch (its own formants): a voice pitched like a woman's
    ("flite-kal16-high", "train", "flite", "kal16", flite_pitch(210, 30)),
    ("festival-kal", "train", "festival", "voice_kal_diphone", []),
    ("festival-kal-high", "train", "festival", "voice_kal_diphone", festival_pitch(210, 30)),
    # the same voices at 175 Hz played 1.2 times faster: pitch 210 Hz and formants 20 % higher
    ("flite-kal16-fem", "train", "flite", "kal16", flite_pitch(175, 25), ["speed", "1.2"]),
    ("festival-kal-fem", "train", "festival", "voice_kal_diphone", festival_pitch(175, 25),
     ["speed", "1.2"]),
    # flite awb: a man's recorded voice rebuilt by a statistical synthesiser and vocoder, as the
    # slt voices are (the kal voices join recorded diphones, espeak builds formants); the same
    # three ways as kal
    ("flite-awb", "train", "flite", "awb", []),
    ("flite-awb-high", "train", "flite", "awb", flite_pitch(210, 30)),
    ("flite-awb-fem", "train", "flite", "awb", flite_pitch(175, 25), ["speed", "1.2"]),
    ("espeak-en-us+f4", "test", "espeak", "en-us+f4", ["-s", "160"]),
    ("espeak-en-gb-x-rp+m5", "test", "espeak", "en-gb-x-rp+m5", ["-s", "165"]),
    ("flite-slt", "test", "flite", "slt", []),
    ("festival-slt-hts", "test", "festival", "voice_cmu_us_slt_arctic_hts", []),
]

# Context classes of the phones as neighbours (the same tables as the recogniser's word models):
# index = position in the phone inventory.
INVENTORY = ".Eew@lnrsjbpkKAaYci:Oo0Uu8?LmMN~PRzSCZt+TDdvfghy"
LEFT_CLASS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 1, 2, 1, 4, 1, 4, 3, 4, 3, 3, 4, 3, 3, 5,
              6, 6, 6, 6, 7, 7, 8, 9, 9, 9, 11, 11, 8, 8, 10, 8, 8, 12, 8, 1]
RIGHT_CLASS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 2, 2, 1, 4, 1, 4, 3, 4, 3, 3, 4, 3, 4,
               5, 6, 6, 6, 6, 7, 7, 8, 9, 9, 9, 11, 11, 8, 8, 10, 8, 8, 12, 8, 1]
LCLASS = {p: LEFT_CLASS[i] for i, p in enumerate(INVENTORY)}
RCLASS = {p: RIGHT_CLASS[i] for i, p in enumerate(INVENTORY)}

COMMON_NAMES = """james mary john patricia robert jennifer michael linda william elizabeth david
barbara richard susan joseph jessica thomas sarah charles karen christopher nancy daniel lisa
matthew betty anthony margaret mark sandra donald ashley steven kimberly paul emily andrew donna
joshua michelle kenneth dorothy kevin carol brian amanda george melissa edward deborah smith
johnson williams brown jones garcia miller davis rodriguez martinez hernandez lopez gonzalez
wilson anderson thomas taylor moore jackson martin lee perez thompson white harris sanchez clark
ramirez lewis robinson walker young allen king wright scott torres nguyen hill flores green adams
nelson baker hall rivera campbell mitchell carter roberts peter helen oscar ursula yvonne zachary
""".split()

SENTENCES = """the quick brown fox jumps over the lazy dog
please call me back when you get this message
we will meet for lunch at the usual place
she sells sea shells by the sea shore
the weather should be much better tomorrow morning
could you send the report to the whole team
i think the train leaves at half past nine
my phone number changed last week
the meeting was moved to thursday afternoon
remind me to buy milk and bread on the way home
how much does the new version cost
they played guitar and sang until midnight
the children were playing in the garden
turn the volume down a little please
our office is on the fourth floor
he measured the distance with a ruler
you should check your voice mail more often
the judge ordered the lawyer to stop
a large orange cat slept in the chair
they bought two thousand boxes of paper""".split("\n")


def read_voc(path, prons):
    """Adds the primary pronunciation of every name in a .voc file (first line of a name wins)."""
    if not os.path.exists(path):
        return
    with open(path, "rb") as f:
        for raw in f:
            fields = raw.decode("latin-1").split()
            if len(fields) >= 2 and fields[0] not in prons:
                prons[fields[0]] = fields[1]


def pairs_of(pron, left="." , right="."):
    """The (class, phone) and (phone, class) context pairs of a pronunciation between neighbours."""
    out = []
    seq = left + pron + right
    for i in range(1, len(seq) - 1):
        p = seq[i]
        if p == ".":
            continue
        out.append(("L", LCLASS[seq[i - 1]], p))
        out.append(("R", p, RCLASS[seq[i + 1]]))
    return out


def greedy_cover(cands, count, cover, rng):
    """Lazy greedy choice from (word, pron, pairs) candidates until every pair they hold is
    counted `cover` times or no candidate adds anything; updates count."""
    heap = []
    for i, (w, p, pr) in enumerate(cands):
        heapq.heappush(heap, (-len(set(pr)) / (len(p) + 2), rng.random(), i))
    chosen = []
    while heap:
        neg, tie, i = heapq.heappop(heap)
        w, p, pr = cands[i]
        gain = sum(1 for k in set(pr) if count.get(k, 0) < cover)
        if gain == 0:
            continue
        score = gain / (len(p) + 2)
        if heap and score < -heap[0][0] - 1e-12:
            heapq.heappush(heap, (-score, tie, i))
            continue
        chosen.append(w)
        for k in set(pr):
            count[k] = count.get(k, 0) + 1
    return chosen


def coverage_words(prons, cover, rng):
    """Dictionary words chosen so that every context pair English words give is heard: first
    from common words (those the dictionary also holds with at least three of the endings -s,
    -ed, -ing, -er, -ly, -es, -d, -ness, -ers, which leaves out most rare names), `cover` times;
    then from any word, once, for the pairs only rarer words have."""
    def cand(w, p):
        return re.fullmatch(r"[a-z]{3,9}", w) and "." not in p and all(c in LCLASS for c in p)
    endings = ("s", "ed", "ing", "er", "ly", "es", "d", "ness", "ers")
    common, rare = [], []
    for w, p in prons.items():
        if not cand(w, p):
            continue
        item = (w, p, pairs_of(p))
        if sum((w + e) in prons for e in endings) >= 3:
            common.append(item)
        else:
            rare.append(item)
    count = {}
    chosen = greedy_cover(common, count, cover, rng)
    return chosen + greedy_cover(rare, count, 1, rng)


def command_phrases(prons, rng):
    names = []
    contacts = os.path.join(ROOT, "data", "contacts.lst")
    if os.path.exists(contacts):
        with open(contacts, encoding="latin-1") as f:
            for line in f:
                toks = [t for t in re.split(r"[^a-z']+", line.lower()) if t]
                if toks and all(t in prons for t in toks) and len(toks) <= 3:
                    names.append(toks)
    names += [[n] for n in COMMON_NAMES if n in prons]
    phrases = []
    for n in names:
        phrases.append(["look", "up"] + n)
    for t in ["home", "work", "cell", "pager", "car", "radio", "assistant"]:
        phrases.append(["call", t])
    phrases += [["call", "home", "two"], ["call", "work", "two"], ["call", "home", "fax"],
                ["call", "work", "fax"], ["echo", "on"], ["echo", "off"], ["send", "mail"],
                ["voice", "mail"], ["send", "voice", "mail"]]
    for t in ["meeting", "lunch", "dinner", "breakfast", "visit", "reminder", "task", "job",
              "call", "phone", "appointment"]:
        art = "an" if t[0] in "aeiou" else "a"
        phrases.append(["schedule", art, t])
    hours = ["one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten",
             "eleven", "twelve"]
    mins = [[], ["o'clock"], ["fifteen"], ["thirty"], ["forty", "five"], ["hundred"]]
    ampm = [[], ["a.m."], ["p.m."]]
    days = ["today", "tomorrow", "sunday", "monday", "tuesday", "wednesday", "thursday", "friday",
            "saturday"]
    months = ["january", "february", "march", "april", "may", "june", "july", "august",
              "september", "october", "november", "december"]
    ords = ["first", "second", "third", "fourth", "fifth", "sixth", "seventh", "eighth", "ninth",
            "tenth", "eleventh", "twelfth", "thirteenth", "fourteenth", "fifteenth", "sixteenth",
            "seventeenth", "eighteenth", "nineteenth", "twentieth", "thirtieth"]
    def tm():
        return [rng.choice(hours)] + rng.choice(mins) + rng.choice(ampm)
    for d in days:
        phrases.append([d] + tm() + ["to"] + tm())
    for m in months:
        o = rng.choice(ords + [["twenty", "first"], ["twenty", "second"], ["thirty", "first"]])
        o = o if isinstance(o, list) else [o]
        phrases.append([m] + o + tm() + ["to"] + tm())
    for o in ords:
        phrases.append([rng.choice(months), o])
    return [p for p in phrases if all(w in prons for w in p)]


def enrol_phrases(prons):
    path = os.path.join(ROOT, "data", "enrol.txt")
    out = []
    if not os.path.exists(path):
        return out
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("cmd_"):
                continue
            text = line.split("\t")[0].lower()
            toks = [t for t in re.split(r"[^a-z0-9'.]+", text) if t]
            if toks and all(t in prons for t in toks) and toks not in out:
                out.append(toks)
    return out


# Spelling by voice (the entry and find dialogs): letters said by their names, the words of the
# spelling alphabet and digits. Without them the models hear a letter name only inside words,
# never alone between pauses, and the short isolated letters of spelling fail.
SPELLING_WORDS = """alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike
november oscar papa quebec romeo sierra tango uniform victor whiskey x-ray yankee zulu""".split()
DIGIT_WORDS = "zero oh one two three four five six seven eight nine".split()


def spelling_phrases(prons, seed):
    """Three lists of token lists, drawn from a generator of their own (the other texts stay as
    they are): letters said one by one with pauses ("spp", spoken "B. D. V."), letters said in a
    run ("spr", "B D V"; "a." only last, since espeak-ng reads a lone "A" inside a run of
    capitals as the article), and spelling-alphabet words and digits ("spw"). A letter's token is
    the dictionary's "b." (its name). Letters are dealt from shuffled decks of the whole set, so
    each is heard seven or eight times in each list."""
    rng = random.Random(f"{seed}-spelling")
    letters = [f"{c}." for c in "abcdefghijklmnopqrstuvwxy" if f"{c}." in prons]
    # "z" is left out: espeak-ng's British voices call it "zed", the dictionary "zee".

    def draws(pool, count, lo, hi):
        bag, out = [], []
        while len(out) < count:
            n = rng.randint(lo, hi)
            if len(bag) < n:
                extra = pool[:]
                rng.shuffle(extra)
                bag += extra
            ws, bag = bag[:n], bag[n:]
            out.append(ws)
        return out
    paused = draws(letters, 48, 3, 5)
    run = [[w for w in ws if w != "a."] + [w for w in ws if w == "a."]
           for ws in draws(letters, 48, 3, 5)]
    alpha = [w for w in SPELLING_WORDS + DIGIT_WORDS if w in prons]
    spelt = draws(alpha, 30, 3, 5)
    return paused, run, spelt


def spoken_text(ident, ws):
    """The text the synthesiser is given for a transcript: a letter's token "b." becomes the
    capital the synthesisers read by its name, set off by full stops in the paused spelling
    texts."""
    if not ident.startswith(("spp", "spr")):
        return " ".join(ws)
    sep = ". " if ident.startswith("spp") else " "
    return sep.join(w[0].upper() if re.fullmatch(r"[a-z]\.", w) else w for w in ws)


def make_texts(prons, cover, seed):
    rng = random.Random(seed)
    cmds = command_phrases(prons, rng)
    enrol = enrol_phrases(prons)
    words = coverage_words(prons, cover, rng)
    rng.shuffle(words)
    cov = []
    i = 0
    while i < len(words):
        n = rng.randint(3, 5)
        cov.append(words[i:i + n])
        i += n
    sents = [s.split() for s in SENTENCES if all(w in prons for w in s.split())]
    paused, run, words_spelt = spelling_phrases(prons, seed)
    texts = []
    for kind, group in (("cmd", cmds), ("enr", enrol), ("cov", cov), ("snt", sents),
                        ("spp", paused), ("spr", run), ("spw", words_spelt)):
        for k, ws in enumerate(group):
            # The text's hash is part of the name: a recording is reused only for the same text.
            digest = hashlib.sha1(" ".join(ws).encode("latin-1")).hexdigest()[:8]
            texts.append((f"{kind}{k:04d}-{digest}", ws))
    return texts, len(words)


def synth(voice, texts, tmpdir, jobs):
    """Synthesises (id, words) into tmpdir/<id>.wav at the engine's own rate."""
    name, role, engine, ev, extra = voice[:5]
    todo = [(i, ws) for i, ws in texts]
    if engine == "festival":
        chunks = [todo[k::jobs] for k in range(jobs)]
        def run(chunk):
            scm = os.path.join(tmpdir, f"job{id(chunk)}.scm")
            with open(scm, "w") as f:
                f.write(f"({ev})\n")
                for expr in extra:
                    f.write(expr + "\n")
                for i, ws in chunk:
                    text = spoken_text(i, ws).replace('"', "")
                    out = os.path.join(tmpdir, i + ".wav")
                    f.write(f'(utt.save.wave (utt.synth (Utterance Text "{text}")) "{out}" \'riff)\n')
            subprocess.run(["festival", "-b", scm], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        with ThreadPoolExecutor(jobs) as ex:
            list(ex.map(run, [c for c in chunks if c]))
        return
    def one(item):
        i, ws = item
        text = spoken_text(i, ws)
        out = os.path.join(tmpdir, i + ".wav")
        if engine == "espeak":
            cmd = ["espeak-ng", "-v", ev, *extra, "-w", out, text]
        else:
            cmd = ["flite", "-voice", ev, *extra, "-t", text, "-o", out]
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with ThreadPoolExecutor(jobs) as ex:
        list(ex.map(one, todo))


def mix_noise(data, noise, factor):
    """16-bit little-endian samples data + noise x factor, each product rounded down and each
    result clipped to 16 bits: what audioop.add(data, audioop.mul(noise, 2, factor), 2) gives, so
    that recordings stay the same with or without audioop."""
    if audioop is not None:
        return audioop.add(data, audioop.mul(noise, 2, factor), 2)
    a = array.array("h")
    a.frombytes(data)
    b = array.array("h")
    b.frombytes(noise)
    if sys.byteorder == "big":
        a.byteswap()
        b.byteswap()
    out = array.array("h", (min(32767, max(-32768, x + min(32767, max(-32768, math.floor(y * factor)))))
                            for x, y in zip(a, b)))
    if sys.byteorder == "big":
        out.byteswap()
    return out.tobytes()


def finish(src, dst, rng, noise, effects=()):
    """Converts to 11025 Hz mono 16-bit (after the voice's own sox effects, if any) with padding
    and a random level, then adds noise."""
    level = rng.uniform(3.0, 15.0)
    rms = rng.uniform(6.0, 40.0)
    tmp = dst + ".tmp.wav"
    subprocess.run(["sox", "-R", src, "-r", "11025", "-c", "1", "-b", "16", "-e", "signed-integer", tmp,
                    *effects, "gain", "-n", f"-{level:.1f}", "pad", "0.25", "0.3"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with wave.open(tmp, "rb") as w:
        data = w.readframes(w.getnframes())
    n = len(data)
    reps = n // len(noise) + 1
    start = rng.randrange(0, len(noise) // 2) * 2
    nz = (noise * (reps + 1))[start:start + n]
    mixed = mix_noise(data, nz, rms / 1000.0)
    with wave.open(tmp, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(11025)
        w.writeframes(mixed)
    os.replace(tmp, dst)


# ---- channel variety ---------------------------------------------------------------------------
# Every channel-th text of each training voice is also heard through a random channel, as a voice
# of its own ("<voice>+ch"): the starting models should not assume a studio. One or two of these
# per recording, drawn from a generator seeded by the voice and the text.
CHANNEL_KINDS = ("level", "dc", "hum", "rumble", "band", "tilt", "reverb", "noise")


def channel_draw(rng):
    """(sox effects, additive components) of a random channel: effects run in the conversion; the
    components are (kind, level in dB against the speech, DC in units) mixed in afterwards."""
    effects, parts = [], []
    kinds = rng.sample(CHANNEL_KINDS, rng.choice((1, 1, 2)))
    for kind in kinds:
        if kind == "band":
            low = rng.choice((150, 200, 300, 400))
            high = rng.choice((3000, 3400, 4000, 5000))
            effects += ["sinc", f"{low}-{high}"]
        elif kind == "tilt":
            effects += ["highpass", str(rng.choice((100, 150, 200, 300))),
                        "treble", f"{rng.uniform(-6, 8):.1f}", str(rng.choice((2000, 3000, 4000)))]
        elif kind == "reverb":
            effects += ["reverb", str(rng.randint(20, 60)), "50", str(rng.randint(20, 80))]
        elif kind == "level":
            parts.append(("level", rng.choice((-18.0, -12.0, -9.0, 6.0, 9.0)), 0))
        elif kind == "dc":
            parts.append(("dc", 0.0, rng.choice((-1, 1)) * rng.randint(100, 1200)))
        elif kind == "hum":
            parts.append(("hum", rng.uniform(-25.0, -12.0), rng.choice((50, 60))))
        elif kind == "rumble":
            parts.append(("rumble", rng.uniform(-20.0, -8.0), 0))
        elif kind == "noise":
            parts.append(("noise", rng.uniform(-30.0, -12.0), 0))
    return effects, parts


def speech_level(samples):
    """RMS of the louder half of the 20 ms blocks (the speech, not the pauses)."""
    n = 220
    blocks = sorted(sum(x * x for x in samples[i:i + n]) / n for i in range(0, len(samples) - n + 1, n))
    loud = blocks[len(blocks) // 2:] or [0.0]
    return math.sqrt(sum(loud) / len(loud))


_BACKGROUND = {}


def background(kind, rate=11025):
    """30 s of a background sound of unit RMS (repeatable: sox in its repeatable mode), cached."""
    if kind not in _BACKGROUND:
        if kind.startswith("hum"):
            # mains hum: the fundamental with its second and third harmonics
            f = int(kind[3:])
            a = [0.6 * math.sin(2 * math.pi * f * k / rate) + 0.3 * math.sin(4 * math.pi * f * k / rate + 1.0) +
                 0.25 * math.sin(6 * math.pi * f * k / rate + 2.0) for k in range(30 * rate)]
        else:
            synth = {"noise": ["pinknoise"], "rumble": ["brownnoise", "lowpass", "120"]}[kind]
            with tempfile.TemporaryDirectory() as tmp:
                path = os.path.join(tmp, "bg.wav")
                subprocess.run(["sox", "-R", "-n", "-r", str(rate), "-c", "1", "-b", "16", path, "synth", "30",
                                *synth, "gain", "-n", "-10"],
                               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                with wave.open(path, "rb") as w:
                    a = array.array("h")
                    a.frombytes(w.readframes(w.getnframes()))
        rms = math.sqrt(sum(x * x for x in a) / max(1, len(a))) or 1.0
        _BACKGROUND[kind] = [x / rms for x in a]
    return _BACKGROUND[kind]


def apply_channel(path, parts, rng):
    """Mixes the additive parts of a channel into a 16-bit mono wave file in place."""
    if not parts:
        return
    with wave.open(path, "rb") as w:
        rate = w.getframerate()
        a = array.array("h")
        a.frombytes(w.readframes(w.getnframes()))
    x = [float(v) for v in a]
    level = speech_level(x)
    for kind, db, value in parts:
        if kind == "level":
            g = 10 ** (db / 20)
            x = [v * g for v in x]
            level *= g
        elif kind == "dc":
            x = [v + value for v in x]
        else:
            bg = background(f"hum{value}" if kind == "hum" else kind, rate)
            start = rng.randrange(0, len(bg) - len(x)) if len(bg) > len(x) else 0
            g = level * 10 ** (db / 20)
            x = [v + g * bg[(start + k) % len(bg)] for k, v in enumerate(x)]
    out = array.array("h", (max(-32768, min(32767, int(round(v)))) for v in x))
    tmp = path + ".ch.wav"
    with wave.open(tmp, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(out.tobytes())
    os.replace(tmp, path)


def channel_copies(args, voice, vdir, mine, prons):
    """The voice's every --channel-th text through a random channel, made from its finished
    recording into wav/<voice>+ch/; returns their manifest lines."""
    name = voice[0] + "+ch"
    cdir = os.path.join(args.out, "wav", name)
    os.makedirs(cdir, exist_ok=True)
    chosen = [t for k, t in enumerate(mine) if k % args.channel == 0]
    keep = {t[0] + ".wav" for t in chosen}
    for f in os.listdir(cdir):
        if f not in keep:
            os.remove(os.path.join(cdir, f))
    t1 = time.time()

    def one(item):
        i, _ = item
        src, dst = os.path.join(vdir, i + ".wav"), os.path.join(cdir, i + ".wav")
        if os.path.exists(dst) or not os.path.exists(src):
            return 0
        rng = random.Random(f"{args.seed}-{name}-{i}")
        effects, parts = channel_draw(rng)
        tmp = dst + ".tmp.wav"
        subprocess.run(["sox", "-R", src, tmp, *effects], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        apply_channel(tmp, parts, rng)
        os.replace(tmp, dst)
        return 1
    with ThreadPoolExecutor(args.jobs) as ex:
        made = sum(ex.map(one, chosen))
    lines = []
    for i, ws in chosen:
        rel = os.path.join("wav", name, i + ".wav")
        if os.path.exists(os.path.join(args.out, rel)):
            lines.append("\t".join([name, "train", rel, " ".join(ws), " ".join(prons[w] for w in ws)]))
    print(f"{name:24s} train {len(lines):5d} utterances ({made} made) {time.time() - t1:6.1f} s", flush=True)
    return lines


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    ap.add_argument("--out", default=os.path.join(ROOT, "corpus"))
    ap.add_argument("--cover", type=int, default=3, help="times each context pair is covered")
    ap.add_argument("--test-share", type=int, default=4,
                    help="held-out voices speak every N-th text (commands: every other one)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--seed", type=int, default=2026)
    ap.add_argument("--voices", default="", help="comma-separated subset of voice names")
    ap.add_argument("--texts-only", action="store_true", help="print the texts and stop")
    ap.add_argument("--channel", type=int, default=2,
                    help="every N-th text of each training voice also through a random channel "
                         "(0: none)")
    args = ap.parse_args()

    prons = {}
    read_voc(os.path.join(ROOT, "data", "base.voc"), prons)
    read_voc(os.path.join(ROOT, "data", "enrol.voc"), prons)
    read_voc(os.path.join(ROOT, "data", "fulldict.voc"), prons)
    if not prons:
        sys.exit("build_corpus: no dictionary (data/base.voc, data/fulldict.voc)")
    texts, nwords = make_texts(prons, args.cover, args.seed)
    if args.texts_only:
        for i, ws in texts:
            print(i, " ".join(ws), " ".join(prons[w] for w in ws), sep="\t")
        print(f"{len(texts)} texts, {nwords} coverage words", file=sys.stderr)
        return
    for tool in ("sox", "espeak-ng", "flite", "festival"):
        if not shutil.which(tool):
            sys.exit(f"build_corpus: {tool} is not installed")

    want = set(v for v in args.voices.split(",") if v)
    voices = [v for v in VOICES if not want or v[0] in want]
    os.makedirs(args.out, exist_ok=True)
    noise_rng = random.Random(args.seed)
    noise = b"".join(int(max(-32768, min(32767, round(noise_rng.gauss(0, 1000))))).to_bytes(
        2, "little", signed=True) for _ in range(65536))
    manifest = []
    t0 = time.time()
    for voice in voices:
        name, role = voice[0], voice[1]
        if role == "train":
            mine = texts
        else:
            mine = [t for k, t in enumerate(texts)
                    if (t[0].startswith("cmd") and k % 2 == 0) or k % args.test_share == 0]
        vdir = os.path.join(args.out, "wav", name)
        os.makedirs(vdir, exist_ok=True)
        missing = [t for t in mine if not os.path.exists(os.path.join(vdir, t[0] + ".wav"))]
        # Recordings of texts that are no longer in the list go.
        keep = {t[0] + ".wav" for t in mine}
        for f in os.listdir(vdir):
            if f not in keep:
                os.remove(os.path.join(vdir, f))
        t1 = time.time()
        if missing:
            with tempfile.TemporaryDirectory() as tmpdir:
                synth(voice, missing, tmpdir, args.jobs)
                def fin(item):
                    i, _ = item
                    src = os.path.join(tmpdir, i + ".wav")
                    if os.path.exists(src) and os.path.getsize(src) > 44:
                        finish(src, os.path.join(vdir, i + ".wav"),
                               random.Random(f"{args.seed}-{name}-{i}"), noise,
                               voice[5] if len(voice) > 5 else ())
                with ThreadPoolExecutor(args.jobs) as ex:
                    list(ex.map(fin, missing))
        made = 0
        for i, ws in mine:
            rel = os.path.join("wav", name, i + ".wav")
            if os.path.exists(os.path.join(args.out, rel)):
                manifest.append("\t".join([name, role, rel, " ".join(ws),
                                           " ".join(prons[w] for w in ws)]))
                made += 1
        print(f"{name:24s} {role:5s} {made:5d} utterances ({len(missing)} synthesised) "
              f"{time.time() - t1:6.1f} s", flush=True)
        if role == "train" and args.channel > 0:
            manifest += channel_copies(args, voice, vdir, mine, prons)
    tmp = os.path.join(args.out, "manifest.tsv.tmp")
    with open(tmp, "w", encoding="latin-1", newline="\n") as f:
        f.write("\n".join(manifest) + "\n")
    os.replace(tmp, os.path.join(args.out, "manifest.tsv"))
    print(f"corpus: {len(manifest)} utterances, {len(texts)} texts ({nwords} coverage words), "
          f"{time.time() - t0:.1f} s", flush=True)


if __name__ == "__main__":
    main()
