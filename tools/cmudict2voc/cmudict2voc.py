#!/usr/bin/env python3
"""Converts the CMU pronouncing dictionary (Sphinx form: "word(2) PH PH ...", no stress marks)
into a .voc pronunciation dictionary over Velmora's 48-phone set.

    python3 tools/cmudict2voc/cmudict2voc.py CMUDICT OUT.voc

The mapping and the rules that stand in for the missing stress marks are documented in
docs/lexicon.md. Output lines are "name<TAB>pronunciation<TAB>class", sorted by name in byte
order; a word's pronunciations keep the dictionary's order, so its first one becomes the primary
when the file is read. The first pronunciation has class 0, every later one ALTERNATIVE_CLASS.
Only the Python 3 standard library is used; the output depends on the input alone.
"""
import sys

VOWELS = {"AA", "AE", "AH", "AO", "AW", "AY", "EH", "ER", "EY", "IH", "IY", "OW", "OY", "UH", "UW"}

# One symbol per phone of the inventory ".Eew@lnrsjbpkKAaYci:Oo0Uu8?LmMN~PRzSCZt+TDdvfghy".
INVENTORY = set(".Eew@lnrsjbpkKAaYci:Oo0Uu8?LmMN~PRzSCZt+TDdvfghy")

# Phones whose mapping does not depend on their neighbours.
FIXED = {
    "AA": "o", "AE": "a", "AW": "?", "AY": "oE", "EH": "e", "EY": "A", "OY": "OY", "UH": "8",
    "UW": "U",
    "B": "b", "CH": "C", "D": "d", "DH": "D", "F": "f", "G": "g", "HH": "h", "JH": "j", "K": "k",
    "L": "l", "M": "m", "N": "n", "NG": "~", "P": "p", "R": "r", "S": "s", "SH": "S", "T": "t",
    "TH": "T", "V": "v", "W": "w", "Y": "y", "Z": "z", "ZH": "Z",
}

# Syllabic consonants after an unstressed AH.
SYLLABIC = {"N": "N", "L": "L", "M": "M"}


def is_weak_final(phones, i):
    """IY or OW that is the word's last vowel, at the end or before one S or Z (city, cities)."""
    rest = phones[i + 1:]
    if any(p in VOWELS for p in rest):
        return False
    return len(rest) == 0 or (len(rest) == 1 and rest[0] in ("S", "Z"))


def stressed(phones, vowel_positions, k):
    """Stands in for the stress mark of AH, IH and ER: the first vowel of a word is taken as
    stressed when it is the only vowel or when the next vowel is a weak one (AH, IH, ER, or a
    final IY/OW); every later one as unstressed."""
    if k != 0:
        return False
    if len(vowel_positions) == 1:
        return True
    j = vowel_positions[1]
    nxt = phones[j]
    if nxt in ("AH", "IH", "ER"):
        return True
    return nxt in ("IY", "OW") and is_weak_final(phones, j)


def convert(phones):
    vowel_positions = [i for i, p in enumerate(phones) if p in VOWELS]
    out = []
    i = 0
    while i < len(phones):
        p = phones[i]
        k = vowel_positions.index(i) if p in VOWELS else -1
        nxt = phones[i + 1] if i + 1 < len(phones) else None
        after = phones[i + 2] if i + 2 < len(phones) else None
        if p == "AH":
            if stressed(phones, vowel_positions, k):
                out.append("u")
            elif nxt in SYLLABIC and after not in VOWELS:
                out.append(SYLLABIC[nxt])
                i += 1
            else:
                out.append("@")
        elif p == "IH":
            if stressed(phones, vowel_positions, k):
                out.append("i")
            elif i > 0 and phones[i - 1] == "D" and nxt == "D" and after is None:
                out.append("c")  # the ending -ded
            else:
                out.append(":")
        elif p == "ER":
            out.append("P" if stressed(phones, vowel_positions, k) else "R")
        elif p == "IY":
            out.append("Y" if len(vowel_positions) > 1 and k == len(vowel_positions) - 1
                       and is_weak_final(phones, i) else "E")
        elif p == "OW":
            if nxt is None:
                out.append("0w" if len(vowel_positions) > 1 else "Ow")
            else:
                out.append("O")
        elif p == "AO":
            out.append("O" if nxt == "R" else "o")
        elif p in FIXED:
            out.append(FIXED[p])
        else:
            return None
        i += 1
    pron = "".join(out)
    return pron if pron and all(c in INVENTORY for c in pron) else None


# Reduced (weak) forms of the commonest function words. The dictionary marks these words' vowel
# as unstressed, but a one-vowel word is taken as stressed above ("a" becomes "u", as in "cut"),
# so the schwa forms they mostly have in running speech are added after the dictionary's own
# pronunciations (which stay first: the primary is unchanged).
WEAK_FORMS = {
    "a": ["@"], "an": ["@n", "N"], "and": ["@nd", "@n", "N"], "at": ["@t"], "for": ["fR"],
    "of": ["@v", "@"], "on": ["@n"], "the": ["D@"], "to": ["t@"],
}

# The class (third column) of every pronunciation after a word's first: the search adds it to
# every path through that pronunciation, so an alternative wins only where the sound fits it
# clearly better (24 search units, three natural-log units of probability: an alternative is
# taken as about a twentieth as likely as the first form). The starting models are trained on the
# first pronunciations alone (tools/corpus), and alternatives without a cost let near misses
# through: "schedule a call" heard as "schedule an call" with "an" as "un" (docs/lexicon.md).
ALTERNATIVE_CLASS = 24


def main(argv):
    # --help shows this script's description; any other option is a usage error
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print("usage: cmudict2voc.py CMUDICT OUT.voc\n\n" + __doc__.strip())
        sys.exit(0)
    if any(a.startswith("-") and a != "-" for a in sys.argv[1:]):
        sys.stderr.write("usage: cmudict2voc.py CMUDICT OUT.voc\n")
        sys.exit(2)
    if len(argv) != 3:
        sys.stderr.write("usage: cmudict2voc.py CMUDICT OUT.voc\n")
        return 2
    source, target = argv[1], argv[2]
    words = {}     # name -> pronunciations in dictionary order
    order = []
    lines = skipped_names = bad_prons = duplicates = 0
    with open(source, encoding="latin-1") as f:
        for line in f:
            fields = line.split()
            if not fields:
                continue
            lines += 1
            name = fields[0]
            if name.endswith(")") and "(" in name:
                name = name[:name.rindex("(")]
            # The .voc reader splits fields at spaces and tabs and keeps a backslash in the name;
            # such names cannot be held faithfully and are left out.
            if not name or "\\" in name or any(ord(c) < 33 or ord(c) > 126 for c in name):
                skipped_names += 1
                continue
            pron = convert(fields[1:])
            if pron is None:
                bad_prons += 1
                continue
            prons = words.get(name)
            if prons is None:
                words[name] = prons = []
                order.append(name)
            if pron in prons:
                duplicates += 1
                continue
            prons.append(pron)
    weak = 0
    for name, forms in WEAK_FORMS.items():
        prons = words.get(name)
        if prons is None:
            continue
        for pron in forms:
            if pron not in prons:
                prons.append(pron)
                weak += 1
    names = sorted(order, key=lambda n: n.encode("latin-1"))
    written = 0
    tmp = target + ".tmp"
    with open(tmp, "w", encoding="latin-1", newline="\n") as out:
        for name in names:
            for k, pron in enumerate(words[name]):
                out.write("%s\t%s\t%d\n" % (name, pron, ALTERNATIVE_CLASS if k else 0))
                written += 1
    import os
    os.replace(tmp, target)
    sys.stderr.write(
        "cmudict2voc: %d entries read, %d words, %d pronunciations written, "
        "%d duplicate pronunciations merged, %d names skipped, %d unmappable pronunciations, "
        "%d weak forms added\n"
        % (lines, len(names), written, duplicates, skipped_names, bad_prons, weak))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
