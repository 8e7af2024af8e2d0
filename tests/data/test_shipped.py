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


if __name__ == "__main__":
    unittest.main()
