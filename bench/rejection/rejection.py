#!/usr/bin/env python3
"""Rejection of speech that is not a command, against commands lost, for `recognize`.

    python3 bench/rejection/rejection.py [--build build] [--out BUILD/rejection] [--fit]

The command grammar, its dictionary and the command sampler are those of bench/accuracy
(grammar.py; `commands.rul`, top rule `command`); the speaker models are data/newuser.usr.

Two sets, each spoken by its own voices:
- calibration: 30 sentences that are not commands (CALIBRATION_SENTENCES) and 30 commands
  (seed 7001), spoken by espeak-ng en-us+f4 and festival voice_cmu_us_slt_arctic_hts. With
  --fit, logistic curves of the probability that the result is right are fitted to them, over
  the phone-loop ratio and the cost per frame above the free phone loop, and over the ratio
  alone, and their constants printed (the kConfidence... constants of search/confidence.h);
- measurement: 50 other sentences that are not commands (SENTENCES) and 50 commands (seed 7002),
  spoken by flite slt and espeak-ng en-gb-x-rp+m5 (allowed voices, held out of model training
  and out of the calibration) and by flite rms (evaluation only); and 20 short phrases that
  are not commands (SHORT_SENTENCES), counted apart.

For each voice of the measurement, the table gives, per rejection threshold T of `--reject`,
how many of the 50 sentences are rejected and how many of the 50 commands are lost (rejected, or
recognised as other words), and the same with the out-of-vocabulary alternative (`--oov`).
Everything generated stays under --out.
"""
import argparse
import json
import math
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "bench", "accuracy"))
import accuracy as A  # noqa: E402
import grammar as G  # noqa: E402

A.VOICES["flite-rms"] = ("flite", "rms", 0)   # evaluation only
CALIBRATION_VOICES = ["espeak-en-us+f4", "festival-slt-hts"]
MEASURE_VOICES = ["flite-slt", "espeak-en-gb-x-rp+m5", "flite-rms"]
THRESHOLDS = [0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9]

# Sentences a user might say near the microphone that are none of the commands.
SENTENCES = [
    "the weather is lovely today", "could you pass me the salt please",
    "i think the train leaves at noon", "we should paint the kitchen green",
    "my brother bought a new bicycle", "the meeting went better than expected",
    "please close the window it is cold", "have you seen my glasses anywhere",
    "the children are playing in the garden", "this coffee tastes a little bitter",
    "let us go for a walk after dinner", "the library opens early on saturdays",
    "i forgot to water the plants again", "the dog barked at the postman",
    "she plays the piano every evening", "the bus was late this morning",
    "we need more bread and some milk", "that film was far too long",
    "the river flooded the lower fields", "he writes letters to his grandmother",
    "turn left at the old church", "the price of petrol went up again",
    "my phone battery is nearly empty", "i would like a cup of tea",
    "the cat is sleeping on the sofa", "our neighbours are moving house",
    "it might snow later in the week", "the museum has a new exhibition",
    "can you help me carry these boxes", "the soup needs a pinch of pepper",
    "we watched the sunset from the hill", "the printer has run out of paper",
    "my sister lives near the coast", "the football match ended in a draw",
    "i am reading a book about sailing", "the garden fence needs repairing",
    "they opened a bakery on the corner", "the lecture starts in ten minutes",
    "this chair is very uncomfortable", "the baby finally fell asleep",
    "we ran out of orange juice", "the roads are icy tonight",
    "i left my umbrella on the train", "the concert tickets sold out quickly",
    "he fixed the leaking tap himself", "the apples are ripe in october",
    "that shop sells wonderful cheese", "the clock in the hall is slow",
    "my shoes are soaking wet", "the birds woke me up at dawn",
]
# Short phrases that are not commands either, measured apart: a command is short too, so they
# show how much of the separation comes from the length of the other speech.
SHORT_SENTENCES = [
    "good morning", "thank you", "see you later", "yes please", "not now", "hello there",
    "open the door", "what time is it", "never mind", "hold on", "come in", "well done",
    "how are you", "good night", "excuse me", "sounds good", "no thanks", "try again",
    "all right then", "just a minute",
]
CALIBRATION_SENTENCES = [
    "the kettle is boiling over", "i need to buy new socks",
    "the lamp in the bedroom flickers", "our car needs new tyres",
    "the bread is still warm", "she painted the door bright red",
    "the wind blew the leaves away", "he always forgets his keys",
    "the pool is closed for cleaning", "we planted tomatoes in may",
    "the hotel room was tiny", "i prefer tea to coffee",
    "the bridge was built long ago", "my uncle keeps bees",
    "the flowers smell wonderful", "the exam was rather difficult",
    "there is a spider in the bath", "the soup is too salty",
    "they walked along the beach", "the stars are bright tonight",
    "the oven takes ages to heat", "my pen has run dry",
    "the queue went round the block", "the fridge is making a noise",
    "we lost the match on sunday", "the paint is not dry yet",
    "his jacket is on the chair", "the lift is out of order",
    "a fox crossed the road", "the tea has gone cold",
]


def speak(out, voice, items):
    """(id, text) items spoken by voice at 11025 Hz; returns id -> wave path."""
    vdir = os.path.join(out, "audio", voice)
    names = {i: A.audio_name(i, t) for i, t in items}
    A.synthesise(voice, [(names[i], t) for i, t in items], os.path.join(vdir, "raw"), 2)
    paths = {}
    for i, _ in items:
        dst = os.path.join(vdir, "11k", names[i] + ".wav")
        A.convert(os.path.join(vdir, "raw", names[i] + ".wav"), dst, 11025)
        paths[i] = dst
    return paths


def recognise(build, gdir, waves, extra):
    """id -> (words of the best hypothesis, its confidence, out-of-vocabulary flag, phone-loop
    ratio: (score - phone-loop score) * 200 / phone-loop score, the confidence test's figure,
    and the cost per frame above the free phone loop, None without it)."""
    cmd = [os.path.join(build, "bin", "recognize"), "--usr", os.path.join(ROOT, "data", "newuser.usr"),
           "--voc", os.path.join(gdir, "commands.voc"), "--rul", os.path.join(gdir, "commands.rul"),
           "--rule", "command", "--json"] + extra + list(waves.values())
    run = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    by_path = {p: i for i, p in waves.items()}
    out = {}
    for line in run.stdout.splitlines():
        r = json.loads(line)
        i = by_path[r["file"]]
        if r["nbest"]:
            best = r["nbest"][0]
            ref = r["phoneLoopScore"]
            ratio = (best["score"] - ref) * 200.0 / ref if ref > 0 else 0.0
            phone = r.get("phoneScore")
            per_frame = (best["score"] - phone) / r["frames"] if phone is not None and r["frames"] else None
            out[i] = (A.normalise(best["words"]), r.get("confidence", 0.0), best.get("oov", False), ratio, per_frame)
        else:
            out[i] = ([], 0.0, False, 1000.0, 100.0)
    return out


def logistic(rows, ridge=1e-3):
    """Logistic regression p(right | x) = 1 / (1 + exp(-(w . (1, x)))) by Newton's method on
    (features, is_right) rows, with a little ridge for separable data; returns w."""
    n = len(rows[0][0]) + 1
    w = [0.0] * n
    for _ in range(100):
        g = [0.0] * n
        h = [[ridge if r == c and r else 0.0 for c in range(n)] for r in range(n)]
        g = [-ridge * w[r] if r else 0.0 for r in range(n)]
        for x, y in rows:
            v = [1.0] + list(x)
            z = max(-30.0, min(30.0, sum(wi * vi for wi, vi in zip(w, v))))
            p = 1.0 / (1.0 + math.exp(-z))
            for r in range(n):
                g[r] += (y - p) * v[r]
                for c in range(n):
                    h[r][c] += p * (1 - p) * v[r] * v[c]
        # solve h d = g (Gauss-Jordan)
        m = [h[r][:] + [g[r]] for r in range(n)]
        for col in range(n):
            piv = max(range(col, n), key=lambda r: abs(m[r][col]))
            m[col], m[piv] = m[piv], m[col]
            for r in range(n):
                if r != col and m[col][col]:
                    f = m[r][col] / m[col][col]
                    m[r] = [a - f * b for a, b in zip(m[r], m[col])]
        step = [m[r][n] / m[r][r] for r in range(n)]
        w = [wi + di for wi, di in zip(w, step)]
        if max(abs(d) for d in step) < 1e-9:
            break
    return w


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out")
    ap.add_argument("--fit", action="store_true", help="fit the calibration constants and stop")
    args = ap.parse_args()
    out = args.out or os.path.join(args.build, "rejection")
    gdir, rules, _ = A.make_grammar(out, 1)
    contacts = []
    with open(os.path.join(gdir, "contacts.tsv")) as f:
        contacts = [tuple(line.rstrip("\n").split("\t")) for line in f if line.strip()]

    def commands(seed, count):
        cs = G.sample_commands(contacts, count, seed)
        for c in cs:
            assert G.matches(rules, c), c
        return [(f"k{seed}-{n + 1:03d}", c) for n, c in enumerate(cs)]

    if args.fit:
        cmds = commands(7001, 30)
        sentences = [(f"n-cal-{n + 1:03d}", s) for n, s in enumerate(CALIBRATION_SENTENCES)]
        points = []   # (ratio, cost per frame above the free phone loop, right)
        for voice in CALIBRATION_VOICES:
            waves = speak(out, voice, [(i, G.spoken_text(c)) for i, c in cmds] + sentences)
            got = recognise(args.build, gdir, waves, [])
            for i, c in cmds:
                words, _, _, ratio, per_frame = got[i]
                points.append((ratio, per_frame, 1 if words == A.normalise(" ".join(c)) else 0))
            for i, _ in sentences:
                points.append((got[i][3], got[i][4], 0))
        points = [p for p in points if p[1] is not None and p[0] < 1000]
        a, b = logistic([((r / 100.0,), y) for r, _, y in points])
        both = logistic([((r / 100.0, f), y) for r, f, y in points])
        print(f"calibration on {', '.join(CALIBRATION_VOICES)}: {len(points)} utterances")
        print(f"kConfidenceBias = {both[0]:.3f}, kConfidenceRatioWeight = {both[1]:.3f}, "
              f"kConfidencePhoneWeight = {both[2]:.3f}")
        print(f"kConfidenceMidpoint = {-a / b * 100.0:.1f}, kConfidenceScale = {-100.0 / b:.2f}")
        return

    cmds = commands(7002, 50)
    sentences = [(f"n-{n + 1:03d}", s) for n, s in enumerate(SENTENCES)]
    short = [(f"s-{n + 1:03d}", s) for n, s in enumerate(SHORT_SENTENCES)]
    print("| voice | grammar | T | sentences rejected (of 50) | short phrases rejected (of 20) "
          "| commands lost (of 50) | commands wrong anyway |")
    print("|---|---|---|---|---|---|---|")
    for voice in MEASURE_VOICES:
        waves = speak(out, voice, [(i, G.spoken_text(c)) for i, c in cmds] + sentences + short)
        for label, extra in (("commands", []), ("commands + --oov", ["--oov"])):
            got = recognise(args.build, gdir, waves, extra)
            wrong = sum(1 for i, c in cmds if got[i][0] != A.normalise(" ".join(c)))
            for t in THRESHOLDS:
                def rejected(i):
                    words, conf, oov, _, _ = got[i]
                    return not words or oov or conf < t
                rej = sum(1 for i, _ in sentences if rejected(i))
                rej_short = sum(1 for i, _ in short if rejected(i))
                lost = sum(1 for i, c in cmds if rejected(i) or got[i][0] != A.normalise(" ".join(c)))
                print(f"| {voice} | {label} | {t:.1f} | {rej} | {rej_short} | {lost} | {wrong} |")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
