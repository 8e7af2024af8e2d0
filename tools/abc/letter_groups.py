"""Letter groups: English spelling units and the pronunciations each commonly takes, learnt by
aligning the spellings of the reference dictionary with their pronunciations.

The pronunciation dialog and the unknown-word phase of enrollment cut a word into letter groups
(words of abc.voc) and let the recogniser pick one pronunciation per group. Two cuts are used:

- "prn" (the pronunciation dialog): at each position the longest group that starts there, and, as
  an alternative, the longest group of two or more letters that is shorter than it;
- "unknown" (the unknown-word phase of enrollment): at each position the shortest group (the
  single letter) and the longest one.

Steps (every one deterministic; the same dictionary gives the same groups):
1. Words of letters and apostrophes only. The held-out sample is the 2000 words whose MD5 digest
   sorts first; the training words are the next TRAIN_WORDS in that order.
2. Many-to-many alignment by hard EM: a word's letters are cut into chunks of 1..4 letters, its
   phones into chunks of 1..3 phones, chunk for chunk; a chunk pair scores the log of its share of
   all pairs of the previous round (the first round counts every pair of chunks that lie near
   each other's relative position). Every letter is inside a chunk with at least one phone, so a
   silent letter joins a neighbour ("me" in "time", "gh" in "igh").
3. Groups: every single letter and apostrophe-free chunk, and each chunk of two or more letters
   that the alignment uses at least MIN_UNIT times and in at least UNIT_SHARE of the places where
   its letters occur in the training words.
4. Pronunciations: the training words are aligned again through the "prn" cut, where a group may
   take any phone chunk of 1..4 phones; a pair the free alignment never used scores the best way
   its letters and phones align inside it, minus a penalty. After three rounds each group keeps
   the phone chunks that make at least PRON_SHARE of its uses and occur at least MIN_PRON times.
5. Figures: the share of held-out words whose dictionary pronunciation (any of them) is a path
   through each cut with the kept pronunciations.
"""
import hashlib
import math
import re

HELD_OUT = 2000
TRAIN_WORDS = 20000
MAX_LETTERS = 2
MAX_PHONES = 2
MAX_GROUP_LETTERS = 4
MAX_GROUP_PHONES = 4
ROUNDS = 4
MIN_UNIT = 10
UNIT_SHARE = 0.05
MIN_PRON = 3
PRON_SHARE = 0.01
UNSEEN_PENALTY = 3.0
SILENT_COST = 2.0
PAIR_COST = 1.0
SILENT_START = 0.1
VOWEL_LETTERS = set("aeiou")
CONSONANT_LETTERS = set("bcdfghjklmnpqrstvxz")
VOWEL_PHONES = set("EeiAaYc:Oo0Uu8@?1234")
CONSONANT_PHONES = set("lnrsjbpkKm~zSCZt+TDdvfg")
WORD_RE = re.compile(r"[a-z']+")
# Two-character phone strings that stand for one sound (the diphthongs); the alignment treats
# each as one symbol, so that a chunk never ends between its halves.
DIPHTHONGS = {"oE": "1", "OY": "2", "0w": "3", "Ow": "4"}


def encode(pron):
    for two, one in DIPHTHONGS.items():
        pron = pron.replace(two, one)
    return pron


def decode(pron):
    for two, one in DIPHTHONGS.items():
        pron = pron.replace(one, two)
    return pron


def read_dictionary(path):
    """{word: [pronunciations]} for the words made of letters and apostrophes."""
    words = {}
    with open(path, "rb") as f:
        for raw in f:
            fields = raw.decode("latin-1").split()
            if len(fields) >= 2 and WORD_RE.fullmatch(fields[0]) and "." not in fields[1]:
                prons = words.setdefault(fields[0], [])
                if encode(fields[1]) not in prons:
                    prons.append(encode(fields[1]))
    return words


def split_words(words):
    """(held-out words, training words), chosen by MD5 order."""
    order = sorted(words, key=lambda w: (hashlib.md5(w.encode()).hexdigest(), w))
    return order[:HELD_OUT], order[HELD_OUT:HELD_OUT + TRAIN_WORDS]


def align(word, pron, score, max_l, max_p):
    """Best cut of (word, pron) into chunk pairs under score(letters, phones) (None: not allowed);
    a chunk of letters may take no phone. Returns the list of (letters, phones) or None."""
    n, m = len(word), len(pron)
    neg = -1e30
    best = [[neg] * (m + 1) for _ in range(n + 1)]
    back = [[None] * (m + 1) for _ in range(n + 1)]
    best[0][0] = 0.0
    for i in range(1, n + 1):
        for j in range(m + 1):
            b = neg
            arg = None
            for a in range(1, min(max_l, i) + 1):
                letters = word[i - a:i]
                row = best[i - a]
                for c in range(min(max_p, j) + 1):
                    prev = row[j - c]
                    if prev <= neg:
                        continue
                    s = score(letters, pron[j - c:j])
                    if s is None:
                        continue
                    if prev + s > b:
                        b = prev + s
                        arg = (a, c)
            best[i][j] = b
            back[i][j] = arg
    if best[n][m] <= neg:
        return None
    out = []
    i, j = n, m
    while i or j:
        a, c = back[i][j]
        out.append((word[i - a:i], pron[j - c:j]))
        i, j = i - a, j - c
    out.reverse()
    return out


def kinds(text, vowels, consonants):
    return {("v" if c in vowels else "c") for c in text if c in vowels or c in consonants}


def shape_ok(letters, phones):
    """The chunk pairs the free alignment may use: a letter with no, one or two phones, or two
    letters with one phone; and the letters hold vowels where the phones do and consonants where
    the phones do (w, y and the apostrophe among the letters, and w, y, h and the syllabic
    phones among the phones, go with either). So a vowel sound is never put on "gh", nor a
    silent letter swallowed into any neighbour ("ni" for "n" in "night"): a silent letter is
    aligned to no phone, and units_of joins it to its neighbour."""
    if len(letters) == 2 and len(phones) != 1:
        return False
    phone_kinds = kinds(phones, VOWEL_PHONES, CONSONANT_PHONES)
    letter_kinds = kinds(letters, VOWEL_LETTERS, CONSONANT_LETTERS)
    return not phone_kinds or not letter_kinds or phone_kinds == letter_kinds


def free_score(table, letters, phones):
    """Score of a chunk pair in the free alignment: its log share, less a cost for a silent
    letter and for two letters on one phone, so that one letter on one phone is the rule and
    the alignment does not drift into pairing whole syllables."""
    if not shape_ok(letters, phones):
        return None
    s = table.get((letters, phones))
    if s is None:
        return None
    if not phones:
        s -= SILENT_COST
    elif len(letters) == 2:
        s -= PAIR_COST
    return s


def initial_counts(train, words):
    """Round 0: every letter chunk paired with every phone chunk near its relative position."""
    counts = {}
    for w in train:
        for p in words[w]:
            n, m = len(w), len(p)
            for i in range(n):
                for a in range(1, min(MAX_LETTERS, n - i) + 1):
                    centre = (i + a / 2) / n
                    if a == 1:
                        counts[(w[i], "")] = counts.get((w[i], ""), 0) + SILENT_START
                    for j in range(m):
                        for c in range(1, min(MAX_PHONES, m - j) + 1):
                            if abs((j + c / 2) / m - centre) < 0.2:
                                key = (w[i:i + a], p[j:j + c])
                                counts[key] = counts.get(key, 0) + 1
    return counts


def log_shares(counts):
    total = sum(counts.values())
    return {k: math.log(v / total) for k, v in counts.items()}


def free_alignment(train, words, log):
    """Hard-EM many-to-many alignment; returns the final pair log shares and the alignments."""
    table = log_shares(initial_counts(train, words))
    alignments = []
    for round_ in range(ROUNDS):
        counts = {}
        alignments = []
        score = lambda l, p, t=table: free_score(t, l, p)
        for w in train:
            for p in words[w]:
                pairs = align(w, p, score, MAX_LETTERS, MAX_PHONES)
                if pairs:
                    alignments.append((w, pairs))
                    for key in pairs:
                        counts[key] = counts.get(key, 0) + 1
        table = log_shares(counts)
        log(f"  alignment round {round_ + 1}: {len(alignments)} pronunciations aligned, "
            f"{len(counts)} chunk pairs")
    return table, alignments


def units_of(pairs):
    """The spelling units of one alignment: each chunk, with a chunk that takes no phone glued to
    a neighbour: to the chunk after it when that begins with the same letter (the first of a
    doubled consonant) or at the start of the word, else to the chunk before it."""
    units = []
    pending = ""
    for k, (letters, phones) in enumerate(pairs):
        following = pairs[k + 1][0] if k + 1 < len(pairs) else ""
        if phones:
            units.append(pending + letters)
            pending = ""
        elif units and not following.startswith(letters[-1]):
            units[-1] += letters
        else:
            pending += letters
    if pending:
        if units:
            units[-1] += pending
        else:
            units.append(pending)
    return units


def choose_groups(train, alignments):
    """Single letters and the multi-letter units the alignment treats as one."""
    units = {}
    for _, pairs in alignments:
        for u in units_of(pairs):
            if 2 <= len(u) <= MAX_GROUP_LETTERS and "'" not in u[1:-1]:
                units[u] = units.get(u, 0) + 1
    candidates = {u for u, c in units.items() if c >= MIN_UNIT}
    occurrences = dict.fromkeys(candidates, 0)
    for w in train:
        for i in range(len(w)):
            for a in range(2, MAX_GROUP_LETTERS + 1):
                if w[i:i + a] in occurrences:
                    occurrences[w[i:i + a]] += 1
    groups = {chr(c) for c in range(ord("a"), ord("z") + 1)}
    groups |= {u for u in candidates if units[u] >= UNIT_SHARE * occurrences[u]}
    return groups


def cut_options(word, i, groups, kind):
    """The groups the given cut offers at position i of word (longest first)."""
    found = [word[i:i + a] for a in range(min(MAX_GROUP_LETTERS, len(word) - i), 0, -1)
             if word[i:i + a] in groups]
    if not found:
        return []
    longest = found[0]
    if kind == "prn":
        shorter = [g for g in found[1:] if len(g) >= 2]
        return [longest] + shorter[:1]
    return [longest] + ([found[-1]] if found[-1] != longest else [])


def lattice_align(word, pron, groups, kind, score):
    """Best path of (group, phones) through the cut of word that spells pron, or None."""
    n, m = len(word), len(pron)
    neg = -1e30
    best = [[neg] * (m + 1) for _ in range(n + 1)]
    back = [[None] * (m + 1) for _ in range(n + 1)]
    best[0][0] = 0.0
    for i in range(n):
        row = best[i]
        for g in cut_options(word, i, groups, kind):
            k = i + len(g)
            for j in range(m):
                if row[j] <= neg:
                    continue
                for c in range(1, min(MAX_GROUP_PHONES, m - j) + 1):
                    s = score(g, pron[j:j + c])
                    if s is None:
                        continue
                    if row[j] + s > best[k][j + c]:
                        best[k][j + c] = row[j] + s
                        back[k][j + c] = (i, j, g)
    if best[n][m] <= neg:
        return None
    out = []
    k, j2 = n, m
    while k:
        i, j, g = back[k][j2]
        out.append((g, pron[j:j2]))
        k, j2 = i, j
    out.reverse()
    return out


def learn_pronunciations(train, words, groups, free_table, log):
    """{group: [phone chunks]} through the "prn" cut."""
    inner = {}

    def inside(g, p):
        key = (g, p)
        if key not in inner:
            pairs = align(g, p, lambda l, q: free_score(free_table, l, q), MAX_LETTERS, MAX_PHONES)
            inner[key] = (None if pairs is None else
                          sum(free_score(free_table, *x) for x in pairs) - UNSEEN_PENALTY)
        return inner[key]

    table = {}
    counts = {}
    for round_ in range(3):
        def score(g, p):
            s = table.get((g, p))
            return s if s is not None else inside(g, p)
        counts = {}
        aligned = 0
        for w in train:
            for p in words[w]:
                path = lattice_align(w, p, groups, "prn", score)
                if path:
                    aligned += 1
                    for key in path:
                        counts[key] = counts.get(key, 0) + 1
        table = log_shares(counts)
        log(f"  group round {round_ + 1}: {aligned} pronunciations through the cut")
    per_group = {}
    for (g, p), c in counts.items():
        per_group.setdefault(g, []).append((c, p))
    prons = {}
    for g in sorted(groups):
        uses = per_group.get(g, [])
        total = sum(c for c, _ in uses)
        keep = sorted(((-c, p) for c, p in uses if c >= MIN_PRON and c >= PRON_SHARE * total))
        if keep:
            prons[g] = [p for _, p in keep]
    return prons


def decoded(prons):
    """The groups' pronunciations as phone strings."""
    return {g: [decode(p) for p in ps] for g, ps in prons.items()}


def is_path(word, pron, prons, kind):
    """Whether pron is a path through the given cut of word with the kept pronunciations."""
    n, m = len(word), len(pron)
    reach = [set() for _ in range(n + 1)]
    reach[0].add(0)
    groups = prons.keys()
    for i in range(n):
        if not reach[i]:
            continue
        for g in cut_options(word, i, groups, kind):
            for j in reach[i]:
                for p in prons[g]:
                    if pron.startswith(p, j):
                        reach[i + len(g)].add(j + len(p))
    return m in reach[n]


def coverage(held, words, prons, kind):
    hits = sum(1 for w in held if any(is_path(w, p, prons, kind) for p in words[w]))
    return hits, len(held)


def build(dictionary_path, log=print):
    """Returns ({group: [pronunciations]}, figures text lines)."""
    words = read_dictionary(dictionary_path)
    held, train = split_words(words)
    log(f"letter groups: {len(words)} dictionary words, {len(train)} for training, "
        f"{len(held)} held out")
    free_table, alignments = free_alignment(train, words, log)
    groups = choose_groups(train, alignments)
    log(f"  {len(groups)} groups")
    prons = learn_pronunciations(train, words, groups, free_table, log)
    figures = []
    for kind in ("prn", "unknown"):
        hits, total = coverage(held, words, prons, kind)
        figures.append(f"held-out words whose pronunciation is a path through the {kind} cut: "
                       f"{hits} of {total} ({100.0 * hits / total:.1f} %)")
    for line in figures:
        log("  " + line)
    return decoded(prons), figures
