#!/usr/bin/env python3
"""Intelligibility of the formant synthesiser, measured with PocketSphinx.

Synthesises the ten digits, the 26 letter names and 30 command words of the voice command
application with the `speak` tool, resamples them to 16 kHz with sox and recognises each with
pocketsphinx_batch against a grammar whose alternatives are the words of its set (and, as a
harder second figure, against one grammar holding all 66 words). Prints each word with what was
recognised and the share recognised correctly.

    bench/synth/intelligibility.py [--build BUILD_DIR] [--out DIR]

The 11025 Hz wave files stay under DIR (default BUILD_DIR/synth-intelligibility) for listening.
Needs: sox, pocketsphinx (pocketsphinx_batch) and pocketsphinx-en-us.
"""
import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
MODEL = "/usr/share/pocketsphinx/model/en-us"
# Amplitude of the white noise floor relative to full scale.
NOISE_LEVEL = float(os.environ.get("SYNTH_NOISE", "0.01"))

# The system's own number names and letter names (letter-to-sound tables).
DIGITS = [("zero", "zir0w"), ("one", "wun"), ("two", "tUw"), ("three", "TrE"), ("four", "fOr"),
          ("five", "foEv"), ("six", "siks"), ("seven", "sevN"), ("eight", "At"), ("nine", "noEn")]
LETTER_NAMES = ["A", "bE", "sE", "dE", "E", "ef", "jE", "AC", "oE", "jA", "kA", "el", "em", "en",
                "Ow", "pE", "kyU", "or", "es", "tE", "yU", "vE", "dubLyU", "eks", "woE", "zE"]
LETTERS = [(chr(ord("a") + i), p) for i, p in enumerate(LETTER_NAMES)]
# Words of the command grammar: the name rule, call, echo, send, voice mail, schedule and the
# appointment types and dates. Pronunciations come from the reference dictionary.
COMMANDS = ["look", "up", "call", "home", "work", "cell", "pager", "car", "radio", "assistant",
            "echo", "on", "off", "send", "voice", "mail", "schedule", "meeting", "lunch",
            "dinner", "breakfast", "visit", "reminder", "task", "job", "appointment", "today",
            "tomorrow", "sunday", "friday"]
# Further date words of the appointment grammar, kept apart from the three sets above (which the
# synthesiser was tuned on) to show how the tuning carries over: --sets heldout.
HELD_OUT = ["monday", "tuesday", "wednesday", "thursday", "saturday", "january", "february",
            "march", "april", "may", "june", "july", "august", "september", "october",
            "november", "december"]


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, **kw)


def synthesise(speak, voc, out, name, pron=None, reference=False):
    wav = os.path.join(out, name + ".wav")
    if reference:
        # espeak-ng says the word (a single letter is read as its name), resampled to 11025 Hz.
        raw = os.path.join(out, name + ".espeak.wav")
        run(["espeak-ng", "-w", raw, name])
        run(["sox", raw, "-r", "11025", wav])
        os.remove(raw)
    else:
        cmd = [speak]
        cmd += ["--pron", pron] if pron else ["--voc", voc, name]
        run(cmd + ["-o", wav])
    wav16 = os.path.join(out, "16k", name + ".wav")
    # As a recording would hold it: peak level normalised to -3 dB, a pause before and after the
    # word, and a low noise floor (digital silence throws the recogniser's features off).
    clean = os.path.join(out, "16k", name + ".clean.wav")
    run(["sox", wav, "-r", "16000", clean, "gain", "-n", "-3", "pad", "0.3", "0.3"])
    seconds = run(["soxi", "-D", clean]).stdout.strip()
    noise = os.path.join(out, "16k", name + ".noise.wav")
    run(["sox", "-R", "-n", "-r", "16000", "-b", "16", "-c", "1", noise, "synth", seconds, "whitenoise",
         "vol", str(NOISE_LEVEL)])
    run(["sox", "-m", "-v", "1", clean, "-v", "1", noise, wav16])
    os.remove(clean)
    os.remove(noise)
    return wav16


def recognise(folder, names, grammar_words, work):
    jsgf = os.path.join(work, "grammar.jsgf")
    with open(jsgf, "w") as f:
        f.write("#JSGF V1.0;\ngrammar words;\npublic <word> = %s;\n" % " | ".join(grammar_words))
    ctl = os.path.join(work, "list.ctl")
    with open(ctl, "w") as f:
        f.write("".join(n + "\n" for n in names))
    hyp = os.path.join(work, "out.hyp")
    run(["pocketsphinx_batch", "-hmm", os.path.join(MODEL, "en-us"),
         "-dict", os.path.join(MODEL, "cmudict-en-us.dict"), "-jsgf", jsgf,
         "-adcin", "yes", "-cepdir", folder, "-cepext", ".wav", "-ctl", ctl, "-hyp", hyp,
         "-logfn", os.path.join(work, "pocketsphinx.log")])
    result = {}
    with open(hyp) as f:
        for line in f:
            # "words (utterance-id score)"
            text, _, rest = line.rstrip("\n").rpartition(" (")
            utt = rest.split()[0] if rest else ""
            result[utt] = text.strip()
    return result


def measure(sets, all_words, speak, voc, out, reference):
    total_ok = total = 0
    combined_ok = 0
    for set_name, items in sets:
        folder = os.path.join(out, set_name)
        os.makedirs(os.path.join(folder, "16k"), exist_ok=True)
        for word, pron in items:
            synthesise(speak, voc, folder, word, pron, reference)
        names = [w for w, _ in items]
        hyps = recognise(os.path.join(folder, "16k"), names, names, folder)
        everything = all_words + [w for w in names if w not in all_words]
        hyps_all = recognise(os.path.join(folder, "16k"), names, everything, folder)
        ok = sum(1 for w in names if hyps.get(w) == w)
        ok_all = sum(1 for w in names if hyps_all.get(w) == w)
        print("%s: %d of %d recognised (%.0f%%); against all %d words: %d" %
              (set_name, ok, len(names), 100.0 * ok / len(names), len(everything), ok_all))
        for w in names:
            mark = "ok " if hyps.get(w) == w else "ERR"
            print("  %s %-12s -> %-12s (all words: %s)" % (mark, w, hyps.get(w) or "-", hyps_all.get(w) or "-"))
        total_ok += ok
        combined_ok += ok_all
        total += len(names)
    print("overall: %d of %d recognised (%.1f%%), target 80%%; against the grammar of all words: "
          "%d (%.1f%%)" % (total_ok, total, 100.0 * total_ok / total, combined_ok,
                           100.0 * combined_ok / total))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(SOURCE, "build"))
    ap.add_argument("--out", default=None)
    ap.add_argument("--sets", default="digits,letters,commands",
                    help="comma-separated subset of digits, letters, commands, heldout")
    ap.add_argument("--reference", action="store_true",
                    help="also measure espeak-ng on the same words, as a yardstick")
    args = ap.parse_args()
    speak = os.path.join(args.build, "bin", "speak")
    voc = os.path.join(SOURCE, "data", "fulldict.voc")
    out = args.out or os.path.join(args.build, "synth-intelligibility")
    for tool in ("sox", "pocketsphinx_batch"):
        if not shutil.which(tool):
            sys.exit("intelligibility: %s is not installed" % tool)
    if not os.path.exists(speak):
        sys.exit("intelligibility: build the speak tool first (%s)" % speak)

    sets = [("digits", DIGITS), ("letters", LETTERS), ("commands", [(w, None) for w in COMMANDS])]
    all_words = [w for _, items in sets for w, _ in items]
    sets.append(("heldout", [(w, None) for w in HELD_OUT]))
    wanted = args.sets.split(",")
    sets = [s for s in sets if s[0] in wanted]
    voices = [("velmora formant synthesiser", False)]
    if args.reference:
        if not shutil.which("espeak-ng"):
            sys.exit("intelligibility: espeak-ng is not installed")
        voices.append(("espeak-ng (reference)", True))
    for voice, reference in voices:
        print("== %s" % voice)
        measure(sets, all_words, speak, voc, os.path.join(out, "espeak-ng") if reference else out,
                reference)
    print("wave files (11025 Hz): %s" % out)


if __name__ == "__main__":
    main()
