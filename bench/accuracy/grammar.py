"""The command grammar of the accuracy benchmark: one description, written out as .rul and JSGF.

The grammar is the voice command application's: look up + a contact (first name, last name, or
both), call + phone types, send mail, voice mail, schedule a/an + appointment types, the spoken
dates and times of the appointment dialog, echo on/off and switch to + applications. Numbers,
dates and times are spelled as words that both our dictionary and the CMU dictionary of
PocketSphinx hold ("three thirty p.m.", "march twenty first"), so the two recognisers get the same
words. The phone types keep the application's own words ("home2", "homefax", ...); their CMU
pronunciation is put together from their parts ("home" + "two").

Node kinds: ("w", word), ("seq", [nodes]), ("alt", [nodes]), ("opt", node), ("ref", rule name).
Standard library only.
"""
import random
import re

# ---- word lists -----------------------------------------------------------------------------

# Candidate contact names; only those whose words are in both dictionaries are used.
FIRST_NAMES = """
ann anna barbara brian carol charles daniel david diane donald donna dorothy edward emily eric
frank gary george helen henry jack james janet jason jeff jennifer jerry joan john joseph judy
karen kathy kevin larry laura linda lisa margaret maria mark martha mary michael nancy paul peter
rachel ralph richard robert roger ruth sandra sarah scott steven susan thomas walter wayne william
""".split()
LAST_NAMES = """
adams allen anderson baker barnes bell brooks brown butler campbell carter clark collins cook
cooper davis edwards evans fisher foster garcia gray green hall harris hayes hill howard hughes
jackson jenkins johnson jones kelly king lee lewis long martin miller mitchell moore morgan morris
murphy nelson parker perry peterson phillips powell price reed richardson roberts robinson rogers
ross russell sanders scott smith stewart sullivan taylor thomas thompson turner walker ward watson
white williams wilson wood wright young
""".split()

# (word, text the synthesisers speak) of the phone types, in the application's order
PHONE_TYPES = [("home", "home"), ("home2", "home two"), ("homefax", "home fax"), ("work", "work"),
               ("work2", "work two"), ("workfax", "work fax"), ("cell", "cell"), ("pager", "pager"),
               ("car", "car"), ("radio", "radio"), ("assistant", "assistant")]
APPOINTMENT_TYPES = [("meeting", "meeting"), ("lunch", "lunch"), ("dinner", "dinner"),
                     ("breakfast", "breakfast"), ("visit", "visit"), ("reminder", "reminder"),
                     ("task", "task"), ("job", "job"), ("appointment", "appointment"),
                     ("call", "call"), ("phonecall", "phone call")]
APPLICATIONS = ["calendar", "contacts", "inbox", "notes", "tasks", "calculator", "explorer",
                "solitaire", "pictures", "settings", "music", "games"]
HOURS = ["one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten", "eleven",
         "twelve"]
DAYS = ["today", "tomorrow", "sunday", "monday", "tuesday", "wednesday", "thursday", "friday",
        "saturday"]
MONTHS = ["january", "february", "march", "april", "may", "june", "july", "august", "september",
          "october", "november", "december"]
MONTH_DAYS = [31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]
ORDINALS = ["first", "second", "third", "fourth", "fifth", "sixth", "seventh", "eighth", "ninth",
            "tenth", "eleventh", "twelfth", "thirteenth", "fourteenth", "fifteenth", "sixteenth",
            "seventeenth", "eighteenth", "nineteenth", "twentieth"]

# words spoken differently from how they are written
SPOKEN = dict(PHONE_TYPES + APPOINTMENT_TYPES)
SPOKEN.update({"a.m.": "A M", "p.m.": "P M"})
# compounds that PocketSphinx's dictionary lacks: their parts
CMU_PARTS = {"home2": ["home", "two"], "homefax": ["home", "fax"], "work2": ["work", "two"],
             "workfax": ["work", "fax"], "phonecall": ["phone", "call"]}


def W(w):
    return ("w", w)


def seq(*nodes):
    return ("seq", [n if isinstance(n, tuple) else W(n) for n in nodes])


def alt(*nodes):
    return ("alt", [n if isinstance(n, tuple) else W(n) for n in nodes])


def words_alt(words):
    return ("alt", [W(w) for w in words])


def ordinal_words(day):
    """Spoken ordinal of a day of the month, as a list of words."""
    if day <= 20:
        return [ORDINALS[day - 1]]
    if day == 30:
        return ["thirtieth"]
    tens = "twenty" if day < 30 else "thirty"
    return [tens, ORDINALS[day % 10 - 1]]


# ---- contacts -------------------------------------------------------------------------------

def make_contacts(known, count=100, seed=8):
    """count distinct (first, last) pairs of names in `known`, the same for the same inputs."""
    firsts = [w for w in FIRST_NAMES if w in known]
    lasts = [w for w in LAST_NAMES if w in known]
    rng = random.Random(seed)
    pairs, seen = [], set()
    while len(pairs) < count:
        p = (rng.choice(firsts), rng.choice(lasts))
        if p[0] != p[1] and p not in seen:
            seen.add(p)
            pairs.append(p)
    return pairs


# ---- the grammar ----------------------------------------------------------------------------

TOP_RULES = ["_NamefindRule", "_CallRule", "_EchoRule", "_SendRule", "_VoiceRule",
             "_ScheduleRule", "_rTimeDate", "r_switch"]


def build_rules(contacts):
    """Ordered list of (rule name, body node); referenced rules come before the rules using them."""
    names = []
    for f, l in contacts:
        for form in ((f,), (l,), (f, l)):
            if form not in names:
                names.append(form)
    single = [n[0] for n in names if len(n) == 1]
    pairs = [seq(*n) for n in names if len(n) == 2]
    rules = [
        ("_contact", ("alt", [W(w) for w in single] + pairs)),
        ("_NamefindRule", seq("look", "up", ("ref", "_contact"))),
        ("_CallRule", seq("call", words_alt([w for w, _ in PHONE_TYPES]))),
        ("_EchoRule", seq("echo", words_alt(["on", "off"]))),
        ("_SendRule", seq(alt("send", "voice"), "mail")),
        ("_VoiceRule", seq("voice", "mail")),
        ("_ScheduleRule", seq("schedule", alt("a", "an"), words_alt([w for w, _ in APPOINTMENT_TYPES]))),
        ("_rTime", seq(words_alt(HOURS),
                       ("opt", alt("o'clock", "fifteen", "thirty", seq("forty", "five"))),
                       ("opt", alt("a.m.", "p.m.")))),
        ("_rOrdinal", alt(words_alt(ORDINALS + ["thirtieth"]),
                          seq("twenty", words_alt(ORDINALS[:9])), seq("thirty", "first"))),
        ("_rTimeDate", seq(alt(words_alt(DAYS), seq(words_alt(MONTHS), ("ref", "_rOrdinal"))),
                           ("ref", "_rTime"), "to", ("ref", "_rTime"))),
        ("r_switch", seq("switch", "to", words_alt(APPLICATIONS))),
        ("command", ("alt", [("ref", r) for r in TOP_RULES])),
    ]
    return rules


def words_of(node, out=None):
    out = set() if out is None else out
    kind = node[0]
    if kind == "w":
        out.add(node[1])
    elif kind in ("seq", "alt"):
        for n in node[1]:
            words_of(n, out)
    elif kind == "opt":
        words_of(node[1], out)
    return out


def all_words(rules):
    out = set()
    for _, body in rules:
        words_of(body, out)
    return out


# ---- writers --------------------------------------------------------------------------------

def _is_word_alt(node):
    return node[0] == "alt" and all(n[0] == "w" for n in node[1])


def rul_body(node):
    """.rul body text: word alternatives become word trees, other alternatives braces."""
    kind = node[0]
    if kind == "w":
        return node[1]
    if kind == "ref":
        return "&" + node[1]
    if kind == "opt":
        inner = node[1]
        text = rul_body(inner)
        return "[ " + (text[2:-2] if inner[0] == "seq" else text) + " ]"
    if kind == "seq":
        return "( " + " ".join(rul_body(n) for n in node[1]) + " )"
    # A branch that is a plain word sequence becomes one compound word ("ann_lee"): the rule
    # parser makes it from its parts, with and without a pause between them, and it joins the
    # word tree, as the application does for contact names.
    words = [n if n[0] == "w" else ("w", "_".join(m[1] for m in n[1])) for n in node[1]
             if n[0] == "w" or (n[0] == "seq" and all(m[0] == "w" for m in n[1]))]
    others = [n for n in node[1] if not (n[0] == "w" or (n[0] == "seq" and all(m[0] == "w" for m in n[1])))]
    if not others and len(words) > 1:
        return "< " + " ".join(n[1] for n in words) + " >"
    parts = []
    if words:  # a word tree even for one word: compounds are only modelled in word trees
        parts.append("< " + " ".join(n[1] for n in words) + " >")
    parts += [rul_body(n) for n in others]
    return "{ " + " ".join(parts) + " }"


def _wrap(text, width=100, indent="  "):
    lines, line = [], ""
    for token in text.split(" "):
        if line and len(line) + 1 + len(token) > width:
            lines.append(line)
            line = indent + token
        else:
            line = f"{line} {token}" if line else token
    lines.append(line)
    return "\n".join(lines)


def write_rul(rules):
    out = ["; The command grammar of the accuracy benchmark (generated by bench/accuracy/grammar.py).",
           "; Top rule: command.", ""]
    for name, body in rules:
        out.append(f"RULE {name}")
        out.append(_wrap(rul_body(body)) + " ;")
        out.append("")
    return "\n".join(out)


def jsgf_body(node, top=True):
    kind = node[0]
    if kind == "w":
        return node[1]
    if kind == "ref":
        return "<" + node[1] + ">"
    if kind == "opt":
        return "[ " + jsgf_body(node[1], True) + " ]"
    if kind == "seq":
        text = " ".join(jsgf_body(n, False) for n in node[1])
        return text if top else "( " + text + " )"
    text = " | ".join(jsgf_body(n, True) for n in node[1])
    return text if top else "( " + text + " )"


def write_jsgf(rules):
    out = ["#JSGF V1.0;", "", "// The command grammar of the accuracy benchmark (generated by bench/accuracy/grammar.py).",
           "grammar commands;", ""]
    for name, body in reversed(rules):  # the public rule first: PocketSphinx starts from it
        vis = "public " if name == "command" else ""
        out.append(_wrap(f"{vis}<{name}> = {jsgf_body(body)};"))
    out.append("")
    return "\n".join(out)


# ---- matching (checks that a word sequence is a sentence of the grammar) ---------------------

def matches(rules, words, rule="command"):
    table = dict(rules)

    def ends(node, i):
        kind = node[0]
        if kind == "w":
            return {i + 1} if i < len(words) and words[i] == node[1] else set()
        if kind == "ref":
            return ends(table[node[1]], i)
        if kind == "opt":
            return {i} | ends(node[1], i)
        if kind == "alt":
            out = set()
            for n in node[1]:
                out |= ends(n, i)
            return out
        positions = {i}
        for n in node[1]:
            nxt = set()
            for p in positions:
                nxt |= ends(n, p)
            positions = nxt
        return positions

    return len(words) in ends(table[rule], 0)


# ---- test commands --------------------------------------------------------------------------

def sample_time(rng):
    words = [rng.choice(HOURS)]
    r = rng.random()
    if r < 0.25:
        words.append("o'clock")
    elif r < 0.65:
        words += rng.choice([["fifteen"], ["thirty"], ["forty", "five"]])
    if rng.random() < 0.6:
        words.append(rng.choice(["a.m.", "p.m."]))
    return words


# The seed of the test commands whose figures are reported; other seeds give development sets.
TEST_SEED = 2603


def sample_commands(contacts, count, seed=TEST_SEED):
    """count commands (word lists), drawn the same way for the same inputs."""
    rng = random.Random(seed)
    kinds = [("look", 40), ("call", 12), ("echo", 4), ("send", 5), ("voice", 4), ("schedule", 13),
             ("date", 12), ("switch", 10)]
    total = sum(w for _, w in kinds)
    out = []
    for _ in range(count):
        r = rng.uniform(0, total)
        for kind, w in kinds:
            r -= w
            if r <= 0:
                break
        if kind == "look":
            f, l = rng.choice(contacts)
            form = rng.choice([[f], [l], [f, l], [f, l]])
            words = ["look", "up"] + form
        elif kind == "call":
            words = ["call", rng.choice(PHONE_TYPES)[0]]
        elif kind == "echo":
            words = ["echo", rng.choice(["on", "off"])]
        elif kind == "send":
            words = [rng.choice(["send", "voice"]), "mail"]
        elif kind == "voice":
            words = ["voice", "mail"]
        elif kind == "schedule":
            t = rng.choice(APPOINTMENT_TYPES)[0]
            words = ["schedule", "an" if t[0] in "aeiou" else "a", t]
        elif kind == "date":
            if rng.random() < 0.5:
                words = [rng.choice(DAYS)]
            else:
                m = rng.randrange(12)
                words = [MONTHS[m]] + ordinal_words(rng.randint(1, MONTH_DAYS[m]))
            words += sample_time(rng) + ["to"] + sample_time(rng)
        else:
            words = ["switch", "to", rng.choice(APPLICATIONS)]
        out.append(words)
    return out


def spoken_text(words):
    return " ".join(SPOKEN.get(w, w) for w in words)


# ---- dictionaries ---------------------------------------------------------------------------

def read_voc(path):
    """word -> {pronunciation: class}, in file order (the class is the .voc's third column, the
    cost the search adds to every path through that pronunciation)."""
    out = {}
    with open(path, encoding="latin-1") as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 2:
                out.setdefault(fields[0], {}).setdefault(fields[1], int(fields[2]) if len(fields) > 2 else 0)
    return out


def read_cmudict(path):
    """word -> list of phone strings (variants in order)."""
    out = {}
    with open(path, encoding="latin-1") as f:
        for line in f:
            fields = line.split()
            if len(fields) < 2:
                continue
            word = re.sub(r"\(\d+\)$", "", fields[0])
            out.setdefault(word, []).append(" ".join(fields[1:]))
    return out


def voc_lines(words, base, full):
    """.voc lines for words: base.voc's pronunciations first, then fulldict's other ones, each
    with its class."""
    lines, missing = [], []
    for w in sorted(words):
        prons = dict(base.get(w, {}))
        for p, c in full.get(w, {}).items():
            prons.setdefault(p, c)
        if not prons:
            missing.append(w)
        lines += [f"{w}\t{p}\t{c}" for p, c in prons.items()]
    return lines, missing


def cmu_lines(words, cmu):
    lines, missing = [], []
    for w in sorted(words):
        if w in cmu:
            prons = cmu[w]
        elif w in CMU_PARTS and all(p in cmu for p in CMU_PARTS[w]):
            prons = [" ".join(cmu[p][0] for p in CMU_PARTS[w])]
        else:
            missing.append(w)
            continue
        for k, p in enumerate(prons):
            lines.append(f"{w} {p}" if k == 0 else f"{w}({k + 1}) {p}")
    return lines, missing
