"""Checks of the corpus builder: the noise mixing without audioop, the repeatable conversion, the
voices' roles, and the texts (deterministic, every context pair the dictionary's words give heard,
transcripts from our dictionaries).

    python3 -B -m unittest discover -s tools/corpus -p 'test_*.py'
"""
import array
import math
import os
import random
import shutil
import sys
import tempfile
import unittest
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import build_corpus as B  # noqa: E402

DATA = os.path.join(B.ROOT, "data")

# The voices the project allows for training and tuning: espeak-ng's English voices and variants,
# flite kal16, awb and slt, festival's kal diphone and slt HTS voices.
ALLOWED = {"flite": {"kal16", "awb", "slt"},
           "festival": {"voice_kal_diphone", "voice_cmu_us_slt_arctic_hts"}}


def samples(values):
    a = array.array("h", values)
    if sys.byteorder == "big":
        a.byteswap()
    return a.tobytes()


def values(data):
    a = array.array("h")
    a.frombytes(data)
    if sys.byteorder == "big":
        a.byteswap()
    return list(a)


class MixNoiseTest(unittest.TestCase):
    def without_audioop(self, data, noise, factor):
        saved = B.audioop
        B.audioop = None
        try:
            return B.mix_noise(data, noise, factor)
        finally:
            B.audioop = saved

    def test_products_round_down_and_sums_clip(self):
        data = samples([100, 32000, -32000, 5, 0])
        noise = samples([10, 2000, -2000, -3, 32767])
        #        100+15, clipped, clipped, 5+floor(-4.5), floor(49150.5) clipped to 32767
        self.assertEqual(values(self.without_audioop(data, noise, 1.5)), [115, 32767, -32768, 0, 32767])

    def test_same_as_audioop_where_there_is_one(self):
        if B.audioop is None:
            self.skipTest("this Python has no audioop")
        rng = random.Random(5)
        data = samples([rng.randint(-32768, 32767) for _ in range(4000)])
        noise = samples([rng.randint(-32768, 32767) for _ in range(4000)])
        for factor in (0.006, 0.04, 0.7, 1.9):
            self.assertEqual(self.without_audioop(data, noise, factor), B.mix_noise(data, noise, factor), factor)


@unittest.skipUnless(shutil.which("sox"), "sox is not installed")
class FinishTest(unittest.TestCase):
    """A recording is converted the same way every time (sox dithers with a fixed seed)."""

    def test_the_same_source_gives_the_same_recording(self):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "tone.wav")
            with wave.open(src, "wb") as w:
                w.setnchannels(1)
                w.setsampwidth(2)
                w.setframerate(16000)
                w.writeframes(samples([int(3000 * math.sin(i * 0.07) * math.sin(i * 0.0011))
                                       for i in range(16000)]))
            noise = samples([random.Random(5).randint(-1000, 1000) for _ in range(4096)])
            for effects in ((), ("speed", "1.2")):
                made = []
                for k in range(2):
                    dst = os.path.join(tmp, f"out{k}.wav")
                    B.finish(src, dst, random.Random("seed"), noise, effects)
                    with open(dst, "rb") as f:
                        made.append(f.read())
                self.assertEqual(made[0], made[1], effects)
                with wave.open(dst, "rb") as w:
                    self.assertEqual((w.getframerate(), w.getnchannels(), w.getsampwidth()), (11025, 1, 2))


class ChannelTest(unittest.TestCase):
    """The channel copies: repeatable, every kind drawn, and the additive parts at their levels."""

    def test_draws_are_repeatable_and_cover_every_kind(self):
        draws = [B.channel_draw(random.Random(f"x-{k}")) for k in range(200)]
        self.assertEqual(draws, [B.channel_draw(random.Random(f"x-{k}")) for k in range(200)])
        kinds = set()
        for effects, parts in draws:
            kinds.update(p[0] for p in parts)
            kinds.update({"sinc": "band", "highpass": "tilt", "reverb": "reverb"}[e] for e in effects
                         if e in ("sinc", "highpass", "reverb"))
        self.assertEqual(kinds, set(B.CHANNEL_KINDS))

    def test_additive_parts(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "a.wav")

            def write(vals):
                with wave.open(path, "wb") as w:
                    w.setnchannels(1)
                    w.setsampwidth(2)
                    w.setframerate(11025)
                    w.writeframes(samples(vals))

            def read():
                with wave.open(path, "rb") as w:
                    return values(w.readframes(w.getnframes()))
            tone = [int(4000 * math.sin(i * 0.2)) for i in range(11025)]
            write(tone)
            B.apply_channel(path, [("dc", 0.0, 700)], random.Random(1))
            self.assertAlmostEqual(sum(read()) / len(tone), 700 + sum(tone) / len(tone), delta=1)
            write(tone)
            B.apply_channel(path, [("level", -12.0, 0)], random.Random(1))
            self.assertAlmostEqual(B.speech_level(read()) / B.speech_level(tone), 10 ** (-12 / 20), delta=0.01)
            for kind, extra in (("noise", 0), ("hum", 50), ("rumble", 0)):
                write(tone)
                B.apply_channel(path, [(kind, -20.0, extra)], random.Random(1))
                added = [a - b for a, b in zip(read(), tone)]
                ratio = math.sqrt(sum(x * x for x in added) / len(added)) / B.speech_level(tone)
                self.assertAlmostEqual(20 * math.log10(ratio), -20.0, delta=1.0, msg=kind)


class VoicesTest(unittest.TestCase):
    def test_roles_are_disjoint_and_every_voice_is_allowed(self):
        names = [v[0] for v in B.VOICES]
        self.assertEqual(len(names), len(set(names)))
        train = {(v[2], v[3]) for v in B.VOICES if v[1] == "train"}
        test = {(v[2], v[3]) for v in B.VOICES if v[1] == "test"}
        self.assertTrue(train and test)
        self.assertFalse(train & test)
        self.assertEqual({v[1] for v in B.VOICES}, {"train", "test"})
        for name, role, engine, voice, *_ in B.VOICES:
            if engine == "espeak":
                self.assertTrue(voice.startswith("en"), name)
            else:
                self.assertIn(voice, ALLOWED.get(engine, set()), name)

    def test_the_benchmark_hears_only_voices_held_out_of_training(self):
        # The command benchmark's voices must be test voices here, and no training voice may be
        # the same recorded speaker rendered by another engine (the slt voices of flite and
        # festival are one woman; flite kal16 and festival's kal diphones one man).
        sys.path.insert(0, os.path.join(B.ROOT, "bench", "accuracy"))
        import accuracy as A
        speaker = {"slt": "slt", "voice_cmu_us_slt_arctic_hts": "slt", "awb": "awb",
                   "kal16": "kal", "voice_kal_diphone": "kal"}
        trained = {speaker.get(v[3], (v[2], v[3])) for v in B.VOICES if v[1] == "train"}
        held_out = {(v[2], v[3]) for v in B.VOICES if v[1] == "test"}
        self.assertTrue(A.VOICES)
        for name, (engine, voice, _speed) in A.VOICES.items():
            self.assertIn((engine, voice), held_out, name)
            self.assertNotIn(speaker.get(voice, (engine, voice)), trained, name)


class TextsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prons = {}
        for name in ("base.voc", "enrol.voc", "fulldict.voc"):
            B.read_voc(os.path.join(DATA, name), cls.prons)
        if not cls.prons:
            raise unittest.SkipTest("no dictionaries in data/")
        cls.texts, cls.words = B.make_texts(cls.prons, 3, 11)

    def test_the_same_seed_gives_the_same_texts(self):
        again, words = B.make_texts(self.prons, 3, 11)
        self.assertEqual(again, self.texts)
        self.assertEqual(words, self.words)

    def test_every_context_pair_between_phones_is_heard(self):
        # Pairs with silence (class 0) are heard only where a text starts or ends on them; the
        # words of a phrase follow each other without a pause.
        heard = set()
        for _, ws in self.texts:
            pron = "".join(self.prons[w] for w in ws)
            heard.update(B.pairs_of(pron))
        wanted = set()
        for w, p in self.prons.items():
            if B.re.fullmatch(r"[a-z]{3,9}", w) and "." not in p and all(c in B.LCLASS for c in p):
                wanted.update(k for k in B.pairs_of(p) if 0 not in k)
        self.assertTrue(wanted)
        self.assertFalse(wanted - heard)

    def test_texts_hold_the_commands_and_the_prompts_in_dictionary_words(self):
        kinds = {tid[:3] for tid, _ in self.texts}
        self.assertEqual(kinds, {"cmd", "enr", "cov", "snt", "spp", "spr", "spw"})
        for tid, ws in self.texts:
            self.assertTrue(ws, tid)
            for w in ws:
                self.assertIn(w, self.prons, tid)
        said = {" ".join(ws) for _, ws in self.texts}
        self.assertIn("echo off", said)
        self.assertIn("a sofa and a panda", said)
        ids = [tid for tid, _ in self.texts]
        self.assertEqual(len(ids), len(set(ids)))

    def test_spelling_texts_hear_every_letter_alone(self):
        letters = {f"{c}." for c in "abcdefghijklmnopqrstuvwxy"}
        for kind in ("spp", "spr"):
            said = [ws for tid, ws in self.texts if tid.startswith(kind)]
            self.assertTrue(said, kind)
            for letter in letters:
                self.assertGreaterEqual(sum(ws.count(letter) for ws in said), 7, (kind, letter))
            for ws in said:
                self.assertTrue(set(ws) <= letters, ws)
                self.assertTrue(3 <= len(ws) <= 5, ws)
                if kind == "spr":  # a lone "A" inside a run is read as the article
                    self.assertNotIn("a.", ws[:-1], ws)
        words = {w for tid, ws in self.texts if tid.startswith("spw") for w in ws}
        self.assertTrue({"alpha", "x-ray", "zulu", "zero", "nine"} <= words, words)
        # Texts of the other kinds do not depend on the spelling texts.
        self.assertEqual([t for t in self.texts if not t[0].startswith("sp")],
                         [t for t in B.make_texts(self.prons, 3, 11)[0] if not t[0].startswith("sp")])

    def test_the_synthesiser_reads_letters_by_their_names(self):
        cases = [("spp0000-x", ["m.", "a.", "x."], "M. A. X"),
                 ("spr0001-x", ["k.", "m.", "a."], "K M A"),
                 ("spw0002-x", ["alpha", "x-ray"], "alpha x-ray"),
                 ("cmd0003-x", ["look", "up", "a."], "look up a.")]
        for tid, ws, text in cases:
            self.assertEqual(B.spoken_text(tid, ws), text)


if __name__ == "__main__":
    unittest.main()
