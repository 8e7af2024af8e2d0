#!/usr/bin/env python3
"""Writes data/abc.voc and data/abc.rul: the spelling dictionary and grammar.

    python3 tools/abc/make_abc.py [--dict data/fulldict.voc] [--out data]

abc.voc holds two kinds of words:
- spelled characters, named by a backslash and the character ("\\a" ... "\\z", "\\0" ... "\\9",
  "\\@", "\\.", "\\-", "\\_"), each with the pronunciations of its spelling-alphabet word (alpha,
  bravo, ... zulu; zero ... nine; at sign, period, hyphen, underscore) and of the character's own
  name ("ay", "bee", ...; "zed" too; "oh" for zero, "at", "dot", "dash"/"minus"), all taken from the
  reference dictionary; a two-word name also has the form with a pause between its words;
- letter groups (single letters, digraphs, trigraphs, vowel teams, doubled consonants, ...) with
  the pronunciations each commonly takes, learnt from the reference dictionary by aligning
  spellings with pronunciations (letter_groups.py beside this script says how), and the digits
  with the names of the numbers.
abc.rul holds "rAlphaBravoSpelling" (one or more letters and the characters of addresses) and
"rDigitSpelling" (one or more digits, periods and hyphens).

Lines are "name<TAB>pron<TAB>0", sorted by name in byte order; a word's pronunciations in the
order given here (the first is the primary). The output depends on the dictionary alone. The
script prints the held-out figures of the letter groups.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import letter_groups  # noqa: E402

ALPHABET = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel", "india",
            "juliet", "kilo", "lima", "mike", "november", "oscar", "papa", "quebec", "romeo",
            "sierra", "tango", "uniform", "victor", "whiskey", "x-ray", "yankee", "zulu"]
DIGITS = ["zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine"]
# Character: the words that name it, each a list of dictionary words said in a row.
SYMBOLS = {
    "@": [["at", "sign"], ["at"]],
    ".": [["period"], ["dot"]],
    "-": [["hyphen"], ["dash"], ["minus"]],
    "_": [["underscore"], ["under", "score"]],
}
# The .voc class (a cost the search adds on every path through the pronunciation) of the spelled
# characters' pronunciations: a word of its own per spoken character keeps short names from being
# heard inside longer ones (docs/data.md, "Spelling on speech").
NAME_COST = 40
WORD_COST = 30
LETTER_RULE = "rAlphaBravoSpelling"
DIGIT_RULE = "rDigitSpelling"


def read_voc(path):
    prons = {}
    with open(path, "rb") as f:
        for raw in f:
            fields = raw.decode("latin-1").split()
            if len(fields) >= 2:
                prons.setdefault(fields[0], []).append(fields[1])
    return prons


def say(dictionary, words):
    """Pronunciations of words said in a row: every combination of the words' pronunciations,
    joined directly and, for more than one word, also with a pause between the words."""
    combos = [""]
    for w in words:
        if w not in dictionary:
            sys.exit(f"make_abc: {w} is not in the dictionary")
        combos = [c + p for c in combos for p in dictionary[w]]
    out = list(combos)
    if len(words) > 1:
        paused = [""]
        for k, w in enumerate(words):
            paused = [c + ("." if k else "") + p for c in paused for p in dictionary[w]]
        out += paused
    return out


def spelled_characters(dictionary, name_cost=0, word_cost=0):
    """{"\\c": [(pronunciation, cost)]} for the spelled characters. The first name of a
    character (its spelling-alphabet word, number word or symbol name) costs word_cost, the
    others (the letter's own name, "oh", "at", "dot", ...) name_cost: the .voc class, which the
    search adds on every path through the pronunciation."""
    chars = {}
    for k, word in enumerate(ALPHABET):
        letter = chr(ord("a") + k)
        names = [[word]] + [[letter + "."]]
        if word == "whiskey":
            names.append(["whisky"])
        if word == "zulu":
            names.append(["zed"])  # the letter's British name
        chars["\\" + letter] = names
    for k, word in enumerate(DIGITS):
        chars["\\" + str(k)] = [[word]] + ([["oh"]] if k == 0 else [])
    for c, names in SYMBOLS.items():
        chars["\\" + c] = names
    out = {}
    for name, spoken in chars.items():
        prons, seen = [], set()
        for k, words in enumerate(spoken):
            cost = word_cost if k == 0 else name_cost
            for p in say(dictionary, words):
                if p not in seen:
                    seen.add(p)
                    prons.append((p, cost))
        out[name] = prons
    return out


def digit_groups(dictionary):
    """The digits as letter groups: a digit in a name is said as its number."""
    return {str(k): list(dictionary[w]) for k, w in enumerate(DIGITS)}


def voc_text(words):
    lines = []
    for name in sorted(words, key=lambda s: s.encode("latin-1")):
        for p in words[name]:
            pron, cost = p if isinstance(p, tuple) else (p, 0)
            lines.append(f"{name}\t{pron}\t{cost}\n")
    return "".join(lines)


def rul_text(figures):
    letters = ["\\" + chr(c) for c in range(ord("a"), ord("z") + 1)]
    symbols = ["\\" + c for c in SYMBOLS]
    digits = ["\\" + str(k) for k in range(10)]
    lines = ["; The spelling grammar of the entry and find dialogs, written by tools/abc/make_abc.py.",
             f"; {LETTER_RULE}: letters and the characters of e-mail and web addresses;",
             f"; {DIGIT_RULE}: digits with periods and hyphens. Each word is a spelled",
             "; character named by a backslash and the character (abc.voc).",
             "; Letter groups of abc.voc for the pronunciation rules and the unknown-word phase:"]
    lines += ["; " + f for f in figures]
    lines += ["", f"RULE {LETTER_RULE} ;", f"RULE {DIGIT_RULE} ;", "",
              f"RULE {LETTER_RULE}",
              "( < " + " ".join(letters[:13]),
              "    " + " ".join(letters[13:]),
              "    " + " ".join(symbols) + " > + ) ;", "",
              f"RULE {DIGIT_RULE}",
              "( < " + " ".join(digits) + " \\. \\- > + ) ;", ""]
    return "\n".join(lines)


def write(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="latin-1", newline="\n") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--dict", default=os.path.join(root, "data", "fulldict.voc"))
    ap.add_argument("--out", default=os.path.join(root, "data"))
    ap.add_argument("--name-cost", type=int, default=NAME_COST,
                    help="class of a character's own name (default %(default)s)")
    ap.add_argument("--word-cost", type=int, default=WORD_COST,
                    help="class of a spelling-alphabet word, number word or symbol name "
                         "(default %(default)s)")
    args = ap.parse_args()
    dictionary = read_voc(args.dict)
    words = spelled_characters(dictionary, args.name_cost, args.word_cost)
    groups, figures = letter_groups.build(args.dict)
    words.update(groups)
    words.update(digit_groups(dictionary))
    write(os.path.join(args.out, "abc.voc"), voc_text(words))
    write(os.path.join(args.out, "abc.rul"), rul_text(figures))
    count = sum(len(p) for p in words.values())
    print(f"{args.out}/abc.voc: {count} pronunciations of {len(words)} words "
          f"({len(groups)} letter groups); {args.out}/abc.rul: {LETTER_RULE}, {DIGIT_RULE}")


if __name__ == "__main__":
    main()
