"""The generated files of data/ are what their commands make, and the .tsv files' headers name
columns of the contact and command-list column table."""
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.environ.get("VLM_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
DATA = os.path.join(ROOT, "data")
CMUDICT = "/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict"


def run(*args, **kwargs):
    subprocess.run([sys.executable, "-B", *args], check=True, stdout=subprocess.DEVNULL, **kwargs)


class Regenerate(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="shipped-")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def assertSameFiles(self, names):
        for name in names:
            with self.subTest(file=name):
                self.assertTrue(filecmp.cmp(os.path.join(self.tmp, name), os.path.join(DATA, name),
                                            shallow=False), f"{name} differs from its command's output")

    def test_spelling_dictionary_and_grammar(self):
        run(os.path.join(ROOT, "tools", "abc", "make_abc.py"), "--out", self.tmp)
        self.assertSameFiles(["abc.voc", "abc.rul"])

    def test_base_vocabulary(self):
        run(os.path.join(ROOT, "tools", "basevoc", "make_basevoc.py"),
            os.path.join(DATA, "fulldict.voc"), os.path.join(self.tmp, "base.voc"))
        self.assertSameFiles(["base.voc"])

    def test_demo_contacts_and_command_list(self):
        bin_dir = os.environ.get("VLM_BIN_DIR") or os.path.join(ROOT, "build", "bin")
        run(os.path.join(ROOT, "tools", "demodata", "make_demo.py"), "--bin", bin_dir,
            "--out", self.tmp)
        self.assertSameFiles(["demo.tsv", "demo.voc", "command.tsv", "command.voc"])

    @unittest.skipUnless(os.path.exists(CMUDICT), "the reference dictionary is converted from "
                         "pocketsphinx-en-us's CMU dictionary")
    def test_reference_dictionary(self):
        run(os.path.join(ROOT, "tools", "cmudict2voc", "cmudict2voc.py"), CMUDICT,
            os.path.join(self.tmp, "fulldict.voc"), stderr=subprocess.DEVNULL)
        self.assertSameFiles(["fulldict.voc"])

    def test_enrollment_prompts(self):
        for name in ("fulldict.voc", "base.voc"):
            shutil.copy(os.path.join(DATA, name), self.tmp)
        run(os.path.join(ROOT, "tools", "adapt", "make_enrol.py"), self.tmp)
        self.assertSameFiles(["enrol.txt", "enrol.voc", "enrol.rul"])

    @unittest.skipUnless(shutil.which("espeak-ng") and shutil.which("sox"),
                         "the recordings are made with espeak-ng and sox")
    def test_recordings(self):
        run(os.path.join(ROOT, "tools", "prompts", "make_prompts.py"), "--out", self.tmp)
        names = sorted(n for n in os.listdir(self.tmp) if n.endswith(".wav"))
        self.assertGreater(len(names), 12)
        self.assertSameFiles(names)


def read_classes(name):
    """(word, pronunciation) -> class, and word -> pronunciations in file order, of a data/ .voc."""
    classes, order = {}, {}
    with open(os.path.join(DATA, name), encoding="latin-1") as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 3:
                classes[(fields[0], fields[1])] = int(fields[2])
                order.setdefault(fields[0], []).append(fields[1])
    return classes, order


class AlternativeCosts(unittest.TestCase):
    """The starting models are trained on each word's first pronunciation; every other one costs
    the search 24 on each path through it, in the reference dictionary and in every vocabulary
    made from it, so that a weak form or a dictionary variant wins only where it fits clearly
    better ("schedule a call" must not become "schedule an call" with "an" said as "un")."""

    def test_reference_dictionary_charges_every_pronunciation_after_the_first(self):
        classes, order = read_classes("fulldict.voc")
        for word, prons in order.items():
            self.assertEqual([classes[(word, p)] for p in prons], [0] + [24] * (len(prons) - 1), word)
        for word, first, weak in (("a", "u", "@"), ("an", "an", "un"), ("to", "tU", "t@"), ("the", "Du", "D@")):
            self.assertEqual((classes[(word, first)], classes[(word, weak)]), (0, 24), word)

    def test_vocabularies_made_from_it_keep_its_classes(self):
        full, _ = read_classes("fulldict.voc")
        for name in ("base.voc", "enrol.voc", "command.voc", "demo.voc"):
            classes, _ = read_classes(name)
            shared = [k for k in classes if k in full]
            self.assertGreater(len(shared), 10, name)
            for k in shared:
                self.assertEqual(classes[k], full[k], f"{name}: {k}")


class Recordings(unittest.TestCase):
    def test_each_is_recognised_against_its_own_prompt(self):
        bin_dir = os.environ.get("VLM_BIN_DIR") or os.path.join(ROOT, "build", "bin")
        res = subprocess.run([sys.executable, "-B",
                              os.path.join(ROOT, "tools", "prompts", "make_prompts.py"),
                              "--check", "--bin", bin_dir], capture_output=True, text=True)
        self.assertEqual(res.returncode, 0, res.stdout + res.stderr)

    def test_every_prompt_line_names_a_recording(self):
        with open(os.path.join(DATA, "enrol.txt"), encoding="latin-1") as f:
            for line in f:
                line = line.strip(" \r\n")
                if line and not line.startswith("cmd_"):
                    self.assertIn("\t", line, f"no recording named: {line!r}")
                    self.assertTrue(os.path.isfile(os.path.join(DATA, line.split("\t")[1])), line)
        for d in ("zero one two three four five six seven eight nine star pound").split():
            self.assertTrue(os.path.isfile(os.path.join(DATA, d + ".wav")), d)


# The column names of the contacts and command-list .tsv format, in table order.
TSV_COLUMNS = (
    "firstName lastName nickName homeTel hTelExt homeTel2 homeFax workTel wTelExt workTel2 "
    "wTelExt2 workFax cellTel pager pagerExt carTel radioTel email1 email2 homeStreet homeCity "
    "homeState homeZip homeCountry webSite1 jobTitle companyName division workStreet workCity "
    "workState workZip workCountry webSite2 otherStreet otherCity otherState otherZip "
    "otherCountry webSite3 birthday children notes category custom1 custom2 custom3 custom4 "
    "custom5 custom6 startWord endWord path className titleBar wmMsg wParam lParam").split()


def read_tsv(name):
    with open(os.path.join(DATA, name), "rb") as f:
        lines = f.read().decode("latin-1").split("\n")
    return lines[0], [line for line in lines[1:] if line]


class TsvHeaders(unittest.TestCase):
    """The header as the application writes it: column names of the table, in table order,
    each followed by a tab; rows no wider than the header and without a trailing tab."""

    def check(self, name, required):
        header, rows = read_tsv(name)
        self.assertTrue(header.endswith("\t"), f"{name}: the header does not end in a tab")
        names = header[:-1].split("\t")
        for n in names:
            self.assertIn(n, TSV_COLUMNS, f"{name}: unknown column {n!r}")
        self.assertEqual(names, sorted(names, key=TSV_COLUMNS.index), f"{name}: column order")
        self.assertEqual(len(names), len(set(names)), f"{name}: a column named twice")
        for row in rows:
            values = row.split("\t")
            self.assertLessEqual(len(values), len(names), row)
            self.assertNotEqual(values[-1], "", f"{name}: trailing tab in {row!r}")
            self.assertTrue(any(values[names.index(c)] for c in required if c in names
                                and names.index(c) < len(values)), f"{name}: no spoken name in {row!r}")
        return names, rows

    def test_demo_contacts(self):
        names, rows = self.check("demo.tsv", ("firstName", "lastName", "companyName"))
        self.assertGreaterEqual(len(rows), 15)

    def test_command_list(self):
        names, rows = self.check("command.tsv", ("endWord",))
        for column in ("startWord", "endWord", "path", "className"):
            self.assertIn(column, names)
        for row in rows:
            values = dict(zip(names, row.split("\t")))
            self.assertEqual(values["startWord"], "Switch To", row)
            self.assertTrue(values["path"].startswith("/"), row)
            self.assertTrue(values["className"], row)


if __name__ == "__main__":
    unittest.main()
