#!/usr/bin/env python3
"""Writes the demo contacts and the command list: data/demo.tsv, data/demo.voc,
data/command.tsv and data/command.voc.

    python3 tools/demodata/make_demo.py [--bin build/bin] [--out data]

The .tsv files are written as the voice command application writes a store: a header naming,
in column-table order, every column that some row uses, each name followed by a tab; then one
line per row with its values in column order, one tab before every used column after the first
(so a row has no trailing tab); rows sorted without regard to case by last name, then first name
(contacts) or by start word, then end word (command list). A line break inside a value (the
notes) is written as the two characters "\\n", because the format has no other way to hold one.

The .voc files hold every pronunciation of every word of the rows' spoken texts (first name, last
name and company name of a contact; start word and end word of a command): `pronmerge` (build it
first) makes them from data/fulldict.voc, so a word the reference dictionary lacks gets its
letter-to-sound pronunciation with class 4, as the application's own vocabulary rewriting keeps
them. Every contact is made up: names, numbers (the fictional 555-01xx range and the United
Kingdom's 020 7946 0xxx drama range), addresses and the example.com/.org/.net mail domains.
"""
import argparse
import os
import subprocess
import sys
import tempfile

# The column table of the .tsv format, in order.
COLUMNS = [
    "firstName", "lastName", "nickName", "homeTel", "hTelExt", "homeTel2", "homeFax", "workTel",
    "wTelExt", "workTel2", "wTelExt2", "workFax", "cellTel", "pager", "pagerExt", "carTel",
    "radioTel", "email1", "email2", "homeStreet", "homeCity", "homeState", "homeZip",
    "homeCountry", "webSite1", "jobTitle", "companyName", "division", "workStreet", "workCity",
    "workState", "workZip", "workCountry", "webSite2", "otherStreet", "otherCity", "otherState",
    "otherZip", "otherCountry", "webSite3", "birthday", "children", "notes", "category",
    "custom1", "custom2", "custom3", "custom4", "custom5", "custom6", "startWord", "endWord",
    "path", "className", "titleBar", "wmMsg", "wParam", "lParam",
]

CONTACTS = [
    dict(firstName="Ann", lastName="Lee", homeTel="(555) 555-0101", workTel="555-555-0102",
         cellTel="555-555-0103", email1="ann.lee@example.com", birthday="14/03/1979",
         homeStreet="12 Orchard Lane", homeCity="Springfield", homeState="IL", homeZip="62704",
         homeCountry="USA"),
    dict(firstName="Nadia", lastName="Ostrawen", workTel="555-555-0111", wTelExt="12",
         cellTel="555-555-0112", email1="nadia@ostrawen.example.net",
         jobTitle="Product Manager", companyName="Goldcrest Industries"),
    dict(companyName="Riverside Software", workTel="555-555-0120", workFax="555-555-0121",
         email1="sales@riverside.example.com", webSite1="www.riverside.example.com",
         workStreet="400 Harbor Road, Suite 7", workCity="Portland", workState="OR",
         workZip="97201", workCountry="USA"),
    dict(firstName="Siobhan", lastName="Quillory", homeTel="011 44 20 7946 0958",
         cellTel="011 44 7700 900123", email1="siobhan.quillory@example.org",
         homeStreet="3 Elm Mews", homeCity="London", homeZip="NW1 6XE",
         homeCountry="United Kingdom"),
    dict(firstName="Marcus", lastName="Tarnowicz", workTel="555-555-0142", wTelExt="12",
         workTel2="555-555-0143", wTelExt2="305", email1="m.tarnowicz@example.com",
         jobTitle="Site Engineer", companyName="Northwind Traders"),
    dict(firstName="Grace", lastName="Fairweather", homeTel="555-0187", cellTel="555-555-0188",
         email1="grace.fairweather@example.net"),
    dict(firstName="Henry", lastName="Pemberton", homeTel="555-555-0150", carTel="555-555-0151",
         notes="Prefers calls after 10 a.m.\nAsk him about the sailing club.",
         email1="henry.pemberton@example.org"),
    dict(firstName="Elena", lastName="Castellano", cellTel="555-555-0160",
         email1="elena.castellano@example.com", email2="elena@castellano.example.net",
         webSite1="www.castellano.example.net"),
    dict(firstName="Elena", lastName="Sokolova", workTel="555-555-0165",
         companyName="Riverside Software", jobTitle="Translator"),
    dict(firstName="Tobias", lastName="Hartley", pager="555-555-0170", pagerExt="4411",
         cellTel="555-555-0171", radioTel="555-555-0172"),
    dict(firstName="Ingrid", lastName="Halvorsen", homeTel="555-555-0175",
         homeFax="555-555-0176", workTel="555-555-0177", workFax="555-555-0178",
         companyName="Lumen Optics"),
    dict(firstName="Mateo", lastName="Delacroix", homeTel="555-555-0180",
         homeTel2="555-555-0181", birthday="02/11/1990", children="Lucas, Ines"),
    dict(firstName="Priya", lastName="Nakamura", workTel="(555) 555-0185", wTelExt="7",
         email1="priya.nakamura@example.com", jobTitle="Chief Engineer",
         companyName="Goldcrest Industries", division="Research",
         workStreet="1 Goldcrest Plaza", workCity="Austin", workState="TX", workZip="78701",
         workCountry="USA"),
    dict(firstName="Tamsin", lastName="Brennagh", cellTel="555-555-0190",
         email1="tamsin.brennagh@example.org", homeCity="Galway", homeCountry="Ireland"),
    dict(firstName="Oliver", lastName="Moreau", homeTel="555-555-0192", workTel="555-555-0193",
         homeStreet="88 Rue Verte", homeCity="Lyon", homeCountry="France",
         workStreet="9 Quai Blanc", workCity="Lyon", workCountry="France"),
    dict(firstName="Lucia", lastName="Marchetti", cellTel="555-555-0195",
         birthday="21/06/1985", children="Marco", email1="lucia.marchetti@example.net"),
    dict(firstName="Chidi", lastName="Okonkwo", workTel="555-555-0197", cellTel="555-555-0198",
         email1="chidi.okonkwo@example.com", companyName="Lumen Optics"),
    dict(firstName="Amara", lastName="Oyelaran", homeTel="555-555-0131",
         email1="amara.oyelaran@example.org", category="Family"),
    dict(firstName="Corwin", lastName="Zyndrel", cellTel="555-555-0133", email1="corwin@example.net",
         notes="Met at the robotics fair."),
    dict(firstName="Gwendolyn", lastName="Ashdown", nickName="Gwen", homeTel="555-555-0135",
         cellTel="555-555-0136", email1="gwen.ashdown@example.com", birthday="30/09/1972"),
]

# "Switch To" entries for a Linux desktop (the packages of Debian's GNOME desktop): the spoken
# name, the program (a command, or a desktop entry that the desktop opens), and the class part of
# the X11 WM_CLASS of its main window.
COMMANDS = [
    ("Terminal", "/usr/bin/gnome-terminal", "Gnome-terminal"),
    ("Files", "/usr/bin/nautilus", "Org.gnome.Nautilus"),
    ("Browser", "/usr/bin/firefox-esr", "firefox-esr"),
    ("Mail", "/usr/bin/thunderbird", "thunderbird"),
    ("Calendar", "/usr/bin/gnome-calendar", "Gnome-calendar"),
    ("Calculator", "/usr/bin/gnome-calculator", "Gnome-calculator"),
    ("Text Editor", "/usr/bin/gedit", "Gedit"),
    ("Settings", "/usr/bin/gnome-control-center", "Gnome-control-center"),
    ("Music", "/usr/bin/rhythmbox", "Rhythmbox"),
    ("Videos", "/usr/bin/totem", "Totem"),
    ("Pictures", "/usr/bin/eog", "Eog"),
    ("Documents", "/usr/bin/evince", "Evince"),
    ("System Monitor", "/usr/bin/gnome-system-monitor", "Gnome-system-monitor"),
    ("Writer", "/usr/share/applications/libreoffice-writer.desktop", "libreoffice-writer"),
    ("Spreadsheet", "/usr/share/applications/libreoffice-calc.desktop", "libreoffice-calc"),
]


def fold(s):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in s)


def tsv_text(rows):
    used = [c for c in COLUMNS if any(c in r for r in rows)]
    lines = ["".join(c + "\t" for c in used)]
    for r in rows:
        unknown = set(r) - set(COLUMNS)
        if unknown:
            sys.exit(f"make_demo: unknown columns {sorted(unknown)}")
        last = max(used.index(c) for c in r)
        fields = [r.get(c, "").replace("\n", "\\n") for c in used[:last + 1]]
        lines.append("\t".join(fields))
    return "".join(line + "\n" for line in lines)


def contacts_rows():
    return sorted(CONTACTS, key=lambda r: (fold(r.get("lastName", "")),
                                           fold(r.get("firstName", ""))))


def command_rows():
    rows = [dict(startWord="Switch To", endWord=name, path=path, className=cls)
            for name, path, cls in COMMANDS]
    return sorted(rows, key=lambda r: (fold(r["startWord"]), fold(r["endWord"])))


def vocabulary(texts, pronmerge, fulldict):
    """The .voc text pronmerge makes for these texts (one entry per line)."""
    with tempfile.TemporaryDirectory(prefix="make_demo-") as tmp:
        os.symlink(os.path.abspath(fulldict), os.path.join(tmp, "fulldict.voc"))
        # Names the dictionary lacks get their pronunciations from the shipped letter-to-sound
        # model, as pronmerge gives them on a device (it looks for the model beside its lists).
        model = os.path.join(os.path.dirname(os.path.abspath(fulldict)), "ltsmodel.bin")
        os.symlink(model, os.path.join(tmp, "ltsmodel.bin"))
        with open(os.path.join(tmp, "names.lst"), "w", encoding="latin-1", newline="\n") as f:
            f.writelines(t + "\n" for t in texts)
        subprocess.run([pronmerge, "names.lst"], cwd=tmp, check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(tmp, "unknown.lst"), encoding="latin-1") as f:
            unknown = f.read().split()
        if unknown:
            sys.exit(f"make_demo: no pronunciation for {', '.join(unknown)}")
        with open(os.path.join(tmp, "out.voc"), encoding="latin-1", newline="") as f:
            return f.read()


def write(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="latin-1", newline="") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--bin", default=os.path.join(root, "build", "bin"))
    ap.add_argument("--out", default=os.path.join(root, "data"))
    args = ap.parse_args()
    pronmerge = os.path.abspath(os.path.join(args.bin, "pronmerge"))
    if not os.access(pronmerge, os.X_OK):
        sys.exit(f"make_demo: {pronmerge} is missing (cmake --build build --target pronmerge)")
    fulldict = os.path.join(root, "data", "fulldict.voc")
    contacts, commands = contacts_rows(), command_rows()
    spoken = lambda rows, cols: sorted({r[c] for r in rows for c in cols if c in r})
    outputs = {
        "demo.tsv": tsv_text(contacts),
        "demo.voc": vocabulary(spoken(contacts, ("firstName", "lastName", "companyName")),
                               pronmerge, fulldict),
        "command.tsv": tsv_text(commands),
        "command.voc": vocabulary(spoken(commands, ("startWord", "endWord")), pronmerge, fulldict),
    }
    for name, text in outputs.items():
        write(os.path.join(args.out, name), text)
        print(f"{args.out}/{name}: {text.count(chr(10))} lines")


if __name__ == "__main__":
    main()
