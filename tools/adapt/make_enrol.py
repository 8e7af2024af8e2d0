#!/usr/bin/env python3
"""Writes the enrollment prompt set: data/enrol.txt (the prompt file), data/enrol.voc (every
pronunciation of every prompt word) and data/enrol.rul (the prompts as rules).

    python3 tools/adapt/make_enrol.py [DATA_DIR]

DATA_DIR (default: the data folder next to this script's repository root) must hold
fulldict.voc; words missing there are taken from base.voc. The output is deterministic: the same
dictionaries give the same files. The script prints how often each phone of the inventory occurs
in the prompts and with how many distinct neighbours, and fails when a prompt word has no
pronunciation or a phone that the dictionary uses is never prompted.
"""
import os
import sys

INVENTORY = ".Eew@lnrsjbpkKAaYci:Oo0Uu8?LmMN~PRzSCZt+TDdvfghy"
# Phones the reference dictionary never writes: "K" and "+" are scored as alternatives of
# "p"/"k" and "t"; "." is silence.
NOT_PROMPTED = set(".K+")

# Calibration prompts: "tea" repeated (the warp-bin estimate uses only its repetitions) among
# short phrases that give the normaliser a spread of sounds.
CALIBRATION = [
    ("tea", "tea.wav"),
    ("mary had a little lamb", "mary.wav"),
    ("tea", "tea.wav"),
    ("one two three four five", "c01.wav"),
    ("tea", "tea.wav"),
    ("its fleece was white as snow", "c02.wav"),
    ("tea", "tea.wav"),
    ("six seven eight nine ten", "c03.wav"),
    ("tea", "tea.wav"),
    ("and everywhere that mary went", "c04.wav"),
    ("the lamb was sure to go", "c05.wav"),
    ("tea", "tea.wav"),
]

# Phase 2: short words for every vowel, digit strings, rhymes and sentences that bring in the
# rarer consonants, and the voice command application's own commands.
PHASE2 = [
    "beat bit bait bet",
    "bat bot bought boat",
    "boot book but bird",
    "bite bout boy",
    "feet fit fate fed",
    "fat father fought",
    "food foot fun fur",
    "five found foil",
    "he hid hay head had",
    "hot hall home who hood",
    "hut her high how",
    "one two three four five",
    "six seven eight nine zero",
    "oh one two three",
    "four four seven two nine",
    "eight six zero five one",
    "nine three seven oh six",
    "two eight four one three",
    "jack and jill went up the hill",
    "to fetch a pail of water",
    "humpty dumpty sat on a wall",
    "twinkle twinkle little star",
    "how i wonder what you are",
    "the quick brown fox jumps over the lazy dog",
    "she sells sea shells by the sea shore",
    "a measure of pleasure and leisure",
    "thank you for the three thick things",
    "these brothers bathe together",
    "the vision of the treasure",
    "judge the age of the bridge",
    "church chairs and cheap cheese",
    "singing and ringing bells",
    "yellow yams for young yankees",
    "we will wait for winter weather",
    "red roses grow around the road",
    "little lambs lie in the light",
    "many men made much money",
    "nobody knew nine new names",
    "the button and the bottle",
    "the rhythm of the prism",
    "a better letter",
    "visit the garden at noon",
    "good girls give gifts",
    "happy hippos hop home",
    "the cat sat on the mat",
    "sixty seven thousand",
    "it is raining outside today",
    "please open the door",
    "she aided and traded",
    # Prompts that end on the word endings commands end on before the pause (a name's last
    # sound): the schwa, the syllabic n, "-ing", "oo", "sh", "aw" and "th" end no other prompt.
    "a sofa and a panda",
    "a banana and a pizza",
    "meet me in the kitchen",
    "we listen often",
    "good morning",
    "nothing is missing",
    "we went to the zoo",
    "a fresh fish",
    "they saw the law",
    "a bath once a month",
    "look up",
    "call home",
    "call work",
    "call cell",
    "call pager",
    "call car",
    "call assistant",
    "echo on",
    "echo off",
    "send mail",
    "voice mail",
    "schedule a meeting",
    "schedule a lunch",
    "schedule an appointment",
    "schedule a reminder",
    "schedule a dinner",
    "today 9 a.m. to 10 a.m.",
    "tomorrow 2 p.m. to 3 p.m.",
    "monday 10 30 a.m. to 11 a.m.",
    "friday 1 p.m. to 2 15 p.m.",
    "january 1st 9 a.m. to 10 a.m.",
    "december 31st 11 p.m. to 12 a.m.",
    "wednesday 4 45 p.m. to 5 p.m.",
]


def read_voc(path, classes):
    """name -> pronunciations in file order; classes[(name, pronunciation)] gets each one's class
    (the third column, the cost the search adds to every path through it) unless already set."""
    prons = {}
    if not os.path.exists(path):
        return prons
    with open(path, encoding="latin-1") as f:
        for line in f:
            parts = line.rstrip("\r\n").split("\t")
            if len(parts) < 2 or not parts[0] or not parts[1]:
                continue
            prons.setdefault(parts[0], [])
            if parts[1] not in prons[parts[0]]:
                prons[parts[0]].append(parts[1])
            classes.setdefault((parts[0], parts[1]), int(parts[2]) if len(parts) > 2 and parts[2].strip() else 0)
    return prons


def write_replacing(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="latin-1", newline="\n") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    # --help shows this script's description; any other option is a usage error
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print("usage: python3 tools/adapt/make_enrol.py [DATA_DIR]\n\n" + __doc__.strip())
        sys.exit(0)
    if any(a.startswith("-") and a != "-" for a in sys.argv[1:]):
        sys.stderr.write("usage: python3 tools/adapt/make_enrol.py [DATA_DIR]\n")
        sys.exit(2)
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    data = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "data")
    classes = {}
    full = read_voc(os.path.join(data, "fulldict.voc"), classes)
    base = read_voc(os.path.join(data, "base.voc"), classes)
    if not full:
        sys.stderr.write("make_enrol: %s has no fulldict.voc\n" % data)
        return 1

    prompts = [t for t, _ in CALIBRATION] + PHASE2
    words = {}
    missing = []
    for text in prompts:
        for w in text.split():
            if w in words:
                continue
            if w in full:
                words[w] = full[w]
            elif w in base:
                words[w] = base[w]
            else:
                missing.append(w)
    if missing:
        sys.stderr.write("make_enrol: no pronunciation for: %s\n" % " ".join(sorted(set(missing))))
        return 1

    # Phone coverage over the primary pronunciations as spoken in the prompts.
    count = {p: 0 for p in INVENTORY}
    left = {p: set() for p in INVENTORY}
    right = {p: set() for p in INVENTORY}
    for text in prompts:
        phones = "." + "".join(words[w][0] for w in text.split()) + "."
        for i in range(1, len(phones) - 1):
            p = phones[i]
            count[p] += 1
            left[p].add(phones[i - 1])
            right[p].add(phones[i + 1])
    used = set("".join(p for prs in full.values() for p in prs))
    uncovered = [p for p in INVENTORY if count[p] == 0 and p not in NOT_PROMPTED and p in used]
    for p in INVENTORY:
        if p in NOT_PROMPTED:
            continue
        sys.stdout.write("%s %4d  left %2d  right %2d\n" % (p, count[p], len(left[p]), len(right[p])))
    if uncovered:
        sys.stderr.write("make_enrol: phones never prompted: %s\n" % " ".join(uncovered))
        return 1

    # A command's last sound is heard before silence, in a context no other position gives it.
    # Every phone that ends at least 0.5 % of the dictionary's words must end a prompt of the
    # second phase, so that enrollment adapts its last state in the silence context.
    ending = {}
    for prs in full.values():
        ending[prs[0][-1]] = ending.get(prs[0][-1], 0) + 1
    common = sorted(p for p, n in ending.items() if n * 200 >= len(full))
    final = {}
    for text in PHASE2:
        p = words[text.split()[-1]][0][-1]
        final[p] = final.get(p, 0) + 1
    sys.stdout.write("prompt-final phones: %s\n" % " ".join("%s:%d" % (p, final[p]) for p in sorted(final)))
    unended = [p for p in common if p not in final]
    if unended:
        sys.stderr.write("make_enrol: common word endings that end no prompt: %s\n" % " ".join(unended))
        return 1

    txt = ["cmd_start_calibrate"]
    txt += ["%s\t%s" % (t, rec) for t, rec in CALIBRATION]
    txt.append("cmd_end_calibrate")
    txt += ["%s\tp%02d.wav" % (t, i + 1) for i, t in enumerate(PHASE2)]
    write_replacing(os.path.join(data, "enrol.txt"), "\n".join(txt) + "\n")

    voc = []
    for w in sorted(words, key=lambda n: n.encode("latin-1")):
        for p in words[w]:
            voc.append("%s\t%s\t%d" % (w, p, classes[(w, p)]))
    write_replacing(os.path.join(data, "enrol.voc"), "\n".join(voc) + "\n")

    def alternatives(texts):
        seen = []
        for t in texts:
            if t not in seen:
                seen.append(t)
        # One alternative per line: .rul lines are read in pieces of at most 1023 characters.
        return "\n{\n" + "\n".join("( %s )" % t for t in seen) + "\n}"

    rul = ["; The enrollment prompts, generated by tools/adapt/make_enrol.py.",
           "; enrolCalibrate: the calibration prompts; enrolPrompts: the prompts of the second phase.",
           "RULE enrolCalibrate" + alternatives([t for t, _ in CALIBRATION]) + " ;",
           "RULE enrolPrompts" + alternatives(PHASE2) + " ;"]
    write_replacing(os.path.join(data, "enrol.rul"), "\n".join(rul) + "\n")
    sys.stdout.write("%d calibration prompts, %d prompts, %d words, %d pronunciations\n"
                     % (len(CALIBRATION), len(PHASE2), len(words), len(voc)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
