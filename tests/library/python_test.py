"""The Python module `velmora` (PYTHONPATH at the built or installed module): a spoken command
recognised from a file and from a buffer against a JSGF grammar, with its n-best list, and the
errors raised."""
import array
import os
import shutil
import subprocess
import tempfile
import unittest
import wave

import velmora

DATA = os.path.join(os.environ.get("VLM_TEST_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..")), "data")
GRAMMAR = """#JSGF V1.0;
grammar commands;
public <command> = <call> | <lookup>;
<call> = call (home | work);
<lookup> = look up (nadia | marcus | elena);
"""


def engine():
    return velmora.Engine(user=os.path.join(DATA, "newuser.usr"),
                          dictionaries=[os.path.join(DATA, "base.voc"), os.path.join(DATA, "demo.voc")],
                          jsgf=GRAMMAR)


@unittest.skipUnless(shutil.which("espeak-ng"), "espeak-ng not available")
class SpokenCommand(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="velmora-python-")
        cls.wav = os.path.join(cls.dir, "call-work.wav")
        subprocess.run(["espeak-ng", "-v", "en-us", "-w", cls.wav, "call work"], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def test_file(self):
        results = engine().recognize_file(self.wav)
        self.assertEqual(len(results), 1)
        r = results[0]
        self.assertTrue(r.recognized, r.reason)
        self.assertEqual(r.words, "call work")
        self.assertEqual(r.nbest[0].words, "call work")
        self.assertEqual(r.nbest[0].rules, ["command", "call"])
        scores = [h.score for h in r.nbest]
        self.assertEqual(scores, sorted(scores))
        self.assertNotEqual(r.phone_loop_score, 0)
        self.assertGreater(r.frames, 20)

    def test_buffer_as_bytes_and_array(self):
        with wave.open(self.wav, "rb") as w:
            rate, frames = w.getframerate(), w.readframes(w.getnframes())
        e = engine()
        from_file = e.recognize_file(self.wav)[0]
        from_bytes = e.recognize_buffer(frames, rate)[0]
        from_array = e.recognize_buffer(array.array("h", frames), rate=rate)[0]
        self.assertEqual(from_bytes.words, "call work")
        self.assertEqual(from_bytes.nbest[0].score, from_file.nbest[0].score)
        self.assertEqual([h.words for h in from_array.nbest], [h.words for h in from_bytes.nbest])

    def test_nbest_limit(self):
        e = engine()
        e.set_nbest(1)
        self.assertEqual(len(e.recognize_file(self.wav)[0].nbest), 1)


class Errors(unittest.TestCase):
    def test_failures_raise_with_the_reason(self):
        with self.assertRaisesRegex(RuntimeError, "No such file"):
            velmora.Engine(user="/nonexistent/x.usr")
        e = engine()
        with self.assertRaisesRegex(RuntimeError, "/nonexistent.wav"):
            e.recognize_file("/nonexistent.wav")
        with self.assertRaisesRegex(RuntimeError, "no rule to recognise with"):
            e.set_jsgf_grammar(GRAMMAR, rules=["nosuchrule"])
        with self.assertRaisesRegex(ValueError, "even number of bytes"):
            e.recognize_buffer(b"\x00\x01\x02")
        with self.assertRaisesRegex(ValueError, "16-bit"):
            e.recognize_buffer(array.array("f", [0.0, 1.0]))

    def test_silence_has_a_reason_and_no_words(self):
        r = engine().recognize_buffer(bytes(22050))[0]
        self.assertFalse(r.recognized)
        self.assertEqual(r.words, "")
        self.assertNotEqual(r.reason, "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
