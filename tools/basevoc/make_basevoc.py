#!/usr/bin/env python3
"""Writes data/base.voc: the words the applications' built-in grammars need.

    python3 tools/basevoc/make_basevoc.py [data/fulldict.voc] [data/base.voc]

The command words of the built-in rules, the phone types, numbers, clock times, days, months,
ordinals and the "\\&" word. Every pronunciation comes from the reference dictionary; a word it
lacks is spelled out of dictionary words (e.g. "homefax" = home + fax, "21st" = twenty + first),
which reads better than letter-to-sound for these compounds. The one word that no dictionary word
spells, the name rule's placeholder "tarvell", is given "torvel", which is what the letter-to-sound
rules make of it (pronmerge). A missing dictionary word stops the script with an error.
Output: "name<TAB>pron<TAB>class" lines, sorted by name in byte order, each word's dictionary
pronunciations in the dictionary's order (the first one is the primary) with the dictionary's
class (an alternative's cost); a spelled-out compound has class 0. Standard library only; the
output depends on the input alone.
"""
import os
import sys

ONES = ["zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten",
        "eleven", "twelve", "thirteen", "fourteen", "fifteen", "sixteen", "seventeen", "eighteen",
        "nineteen"]
TENS = {20: "twenty", 30: "thirty", 40: "forty", 50: "fifty"}
ORDINAL = ["", "first", "second", "third", "fourth", "fifth", "sixth", "seventh", "eighth", "ninth",
           "tenth", "eleventh", "twelfth", "thirteenth", "fourteenth", "fifteenth", "sixteenth",
           "seventeenth", "eighteenth", "nineteenth", "twentieth"]
SUFFIX = {1: "st", 2: "nd", 3: "rd"}


def number_words(n):
    """Cardinal n (0..59) as dictionary words."""
    if n < 20:
        return [ONES[n]]
    tens, unit = divmod(n, 10)
    return [TENS[tens * 10]] + ([ONES[unit]] if unit else [])


def ordinal_words(n):
    """Ordinal n (1..31) as dictionary words."""
    if n <= 20:
        return [ORDINAL[n]]
    if n == 30:
        return ["thirtieth"]
    tens, unit = divmod(n, 10)
    return [TENS[tens * 10], ORDINAL[unit]]


def ordinal_name(n):
    suffix = "th" if 11 <= n % 100 <= 13 else SUFFIX.get(n % 10, "th")
    return f"{n}{suffix}"


# (name, parts): parts is None for a word taken from the dictionary as it stands, else the list of
# dictionary words whose primary pronunciations make it up (one pronunciation per composition).
def entries():
    plain = [
        # _NamefindRule, _CallRule, _EchoRule, _SendRule, _VoiceRule, _ScheduleRule
        "look", "up", "call", "home", "work", "cell", "pager", "car", "radio", "assistant",
        "echo", "on", "off", "send", "voice", "mail", "schedule", "a", "an",
        "meeting", "lunch", "dinner", "breakfast", "visit", "reminder", "task", "job",
        "appointment",
        # _rTime / _rTimeDate
        "to", "today", "tomorrow",
        "sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday",
        "january", "february", "march", "april", "may", "june", "july", "august", "september",
        "october", "november", "december", "a.m.", "p.m.",
    ]
    out = [(w, None) for w in plain]
    composed = {
        "home2": ["home", "two"], "homefax": ["home", "fax"], "work2": ["work", "two"],
        "workfax": ["work", "fax"], "phonecall": ["phone", "call"],
        "00": ["o'clock"], "\\&": ["and"],
    }
    out += list(composed.items())
    out += [("00", ["hundred"])]               # "seven hundred" as well as "seven o'clock"
    out += [("\\&", None)]                     # every dictionary pronunciation of "and"
    for n in range(0, 60):                     # numbers, hours and minutes
        out.append((str(n), number_words(n)))
    for n in range(1, 32):                     # day ordinals "1st" .. "31st"
        out.append((ordinal_name(n), ordinal_words(n)))
    # number and ordinal words themselves, as spoken words
    for w in ONES + list(TENS.values()) + ORDINAL[1:] + ["thirtieth", "hundred", "o'clock"]:
        out.append((w, None))
    return out


def main():
    # --help shows this script's description; any other option is a usage error
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print("usage: python3 tools/basevoc/make_basevoc.py [FULLDICT.voc [OUT.voc]]\n\n" + __doc__.strip())
        sys.exit(0)
    if any(a.startswith("-") and a != "-" for a in sys.argv[1:]):
        sys.stderr.write("usage: python3 tools/basevoc/make_basevoc.py [FULLDICT.voc [OUT.voc]]\n")
        sys.exit(2)
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "data", "fulldict.voc")
    dst = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "data", "base.voc")
    prons = {}    # name -> [(pronunciation, class)] in file order
    with open(src, "rb") as f:
        for raw in f:
            fields = raw.decode("latin-1").split()
            if len(fields) >= 2:
                prons.setdefault(fields[0], []).append((fields[1], int(fields[2]) if len(fields) > 2 else 0))
    result = {}
    for name, parts in entries():
        lookup = name.replace("\\&", "and") if parts is None else None
        if parts is None:
            if lookup not in prons:
                sys.exit(f"make_basevoc: {lookup} is not in {src}")
            new = prons[lookup]
        else:
            missing = [p for p in parts if p not in prons]
            if missing:
                sys.exit(f"make_basevoc: {name}: {', '.join(missing)} not in {src}")
            new = [("".join(prons[p][0][0] for p in parts), 0)]
        have = result.setdefault(name, [])
        have += [p for p in new if p[0] not in {q[0] for q in have}]
    # The name rule's placeholder: no dictionary word spells it; the letter-to-sound result.
    result["tarvell"] = [("torvel", 0)]
    lines = []
    for name in sorted(result, key=lambda s: s.encode("latin-1")):
        lines += [f"{name}\t{p}\t{c}\n" for p, c in result[name]]
    tmp = dst + ".tmp"
    with open(tmp, "w", encoding="latin-1", newline="\n") as f:
        f.writelines(lines)
    os.replace(tmp, dst)
    print(f"{dst}: {len(lines)} pronunciations of {len(result)} words")


if __name__ == "__main__":
    main()
