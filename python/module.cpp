// The Python module `velmora`: libvelmora's Engine with Pythonic names. Failures raise
// RuntimeError with the engine's reason.
//
//   import velmora
//   e = velmora.Engine(user="newuser.usr", dictionaries=["base.voc"],
//                      jsgf="#JSGF V1.0; grammar g; public <c> = call (home | work);")
//   for r in e.recognize_file("command.wav"):
//       print(r.nbest[0].words if r.nbest else "(nothing)", r.phone_loop_score)
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>

#include "velmora/velmora.h"

namespace py = pybind11;

namespace {

void check(bool ok, const velmora::Engine& engine) {
  if (!ok) throw std::runtime_error(engine.lastError());
}

std::vector<velmora::Result> checked(std::vector<velmora::Result> results, const velmora::Engine& engine) {
  if (results.empty() && !engine.lastError().empty()) throw std::runtime_error(engine.lastError());
  return results;
}

// 16-bit samples from bytes (little-endian) or any buffer of 16-bit integers (array('h'), a
// NumPy int16 array).
std::vector<int16_t> samplesOf(const py::object& data) {
  std::vector<int16_t> samples;
  if (py::isinstance<py::bytes>(data) || py::isinstance<py::bytearray>(data)) {
    const std::string bytes = py::isinstance<py::bytes>(data) ? std::string(py::bytes(data))
                                                              : std::string(py::str(py::bytes(data)));
    if (bytes.size() % 2) throw py::value_error("16-bit samples take an even number of bytes");
    samples.resize(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); i++)
      samples[i] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                                               (static_cast<unsigned char>(bytes[2 * i + 1]) << 8)));
    return samples;
  }
  py::buffer buffer = py::reinterpret_borrow<py::buffer>(data);
  py::buffer_info info = buffer.request();
  if (info.itemsize != 2 || (info.format != "h" && info.format != "<h" && info.format != "=h"))
    throw py::value_error("samples must be 16-bit signed integers (bytes, array('h') or int16)");
  if (info.ndim != 1) throw py::value_error("samples must be one-dimensional (mono)");
  samples.resize(static_cast<size_t>(info.shape[0]));
  const char* p = static_cast<const char*>(info.ptr);
  for (size_t i = 0; i < samples.size(); i++) std::memcpy(&samples[i], p + i * info.strides[0], 2);
  return samples;
}

}  // namespace

PYBIND11_MODULE(velmora, m) {
  m.doc() = "Velmora: speaker-adapted, grammar-driven speech recognition for voice commands";
  m.attr("__version__") = velmora::Engine::version();

  py::class_<velmora::Hypothesis>(m, "Hypothesis", "One entry of an n-best list (lower scores are better)")
      .def_readonly("words", &velmora::Hypothesis::words)
      .def_readonly("score", &velmora::Hypothesis::score)
      .def_readonly("rules", &velmora::Hypothesis::rules)
      .def("__repr__", [](const velmora::Hypothesis& h) {
        return "Hypothesis(words=" + std::string(py::repr(py::str(h.words))) + ", score=" + std::to_string(h.score) + ")";
      });

  py::class_<velmora::Result>(m, "Result", "What one utterance was heard as")
      .def_readonly("nbest", &velmora::Result::nbest)
      .def_readonly("phone_loop_score", &velmora::Result::phoneLoopScore)
      .def_readonly("frames", &velmora::Result::frames)
      .def_readonly("reason", &velmora::Result::reason)
      .def_property_readonly("recognized", &velmora::Result::recognized)
      .def_property_readonly("words", [](const velmora::Result& r) {
        return r.nbest.empty() ? std::string() : r.nbest[0].words;
      }, "the best hypothesis's words ('' when nothing was recognised)")
      .def("__repr__", [](const velmora::Result& r) {
        return "Result(words=" + std::string(py::repr(py::str(r.nbest.empty() ? "" : r.nbest[0].words))) +
               ", nbest=" + std::to_string(r.nbest.size()) + ", phone_loop_score=" + std::to_string(r.phoneLoopScore) +
               ", frames=" + std::to_string(r.frames) + ")";
      });

  py::class_<velmora::Engine>(m, "Engine", "The recogniser: speaker models, dictionaries and a grammar")
      .def(py::init([](py::object user, std::vector<std::string> dictionaries, py::object jsgf, py::object rul) {
             auto engine = std::make_unique<velmora::Engine>();
             if (!user.is_none()) check(engine->loadUser(user.cast<std::string>()), *engine);
             for (const std::string& d : dictionaries) check(engine->addDictionary(d), *engine);
             if (!jsgf.is_none()) check(engine->setJsgfGrammar(jsgf.cast<std::string>()), *engine);
             if (!rul.is_none()) check(engine->setRulGrammar(rul.cast<std::string>()), *engine);
             return engine;
           }),
           py::arg("user") = py::none(), py::arg("dictionaries") = std::vector<std::string>(),
           py::arg("jsgf") = py::none(), py::arg("rul") = py::none())
      .def_static("data_directory", &velmora::Engine::dataDirectory,
                  "the folder of the shipped models and dictionaries ('' when there is none)")
      .def("load_user", [](velmora::Engine& e, const std::string& path) { check(e.loadUser(path), e); }, py::arg("path"))
      .def("add_dictionary", [](velmora::Engine& e, const std::string& path) { check(e.addDictionary(path), e); },
           py::arg("path"))
      .def("set_jsgf_grammar",
           [](velmora::Engine& e, const std::string& text, const std::vector<std::string>& rules) {
             check(e.setJsgfGrammar(text, rules), e);
           },
           py::arg("text"), py::arg("rules") = std::vector<std::string>())
      .def("set_rul_grammar",
           [](velmora::Engine& e, const std::string& text, const std::vector<std::string>& rules) {
             check(e.setRulGrammar(text, rules), e);
           },
           py::arg("text"), py::arg("rules") = std::vector<std::string>())
      .def("set_grammar_file",
           [](velmora::Engine& e, const std::string& path, const std::vector<std::string>& rules) {
             check(e.setGrammarFile(path, rules), e);
           },
           py::arg("path"), py::arg("rules") = std::vector<std::string>())
      .def_property_readonly("active_rules", &velmora::Engine::activeRules)
      .def("set_nbest", &velmora::Engine::setNbest, py::arg("n"))
      .def("recognize_file",
           [](velmora::Engine& e, const std::string& path) {
             std::vector<velmora::Result> results;
             {
               py::gil_scoped_release release;
               results = e.recognizeFile(path);
             }
             return checked(std::move(results), e);
           },
           py::arg("path"), "one Result per utterance of the recording")
      .def("recognize_buffer",
           [](velmora::Engine& e, const py::object& data, unsigned rate) {
             const std::vector<int16_t> samples = samplesOf(data);
             std::vector<velmora::Result> results;
             {
               py::gil_scoped_release release;
               results = e.recognizeBuffer(samples, rate);
             }
             return checked(std::move(results), e);
           },
           py::arg("samples"), py::arg("rate") = 11025,
           "16-bit mono samples (bytes, array('h'), int16 array) at rate Hz; one Result per utterance")
      .def("start_listening", [](velmora::Engine& e) { check(e.startListening(), e); })
      .def("next_utterance",
           [](velmora::Engine& e, int timeoutMs) -> py::object {
             velmora::Result r;
             int got;
             {
               py::gil_scoped_release release;
               got = e.nextUtterance(&r, timeoutMs);
             }
             if (got < 0) throw std::runtime_error(e.lastError());
             if (got == 0) return py::none();
             return py::cast(std::move(r));
           },
           py::arg("timeout_ms") = 10000, "the next utterance's Result, or None when none ended in time")
      .def("stop_listening", &velmora::Engine::stopListening)
      .def("adapt",
           [](velmora::Engine& e, const std::vector<std::pair<std::string, std::string>>& pairs, int calibration) {
             std::vector<velmora::Recording> recordings;
             for (size_t i = 0; i < pairs.size(); i++)
               recordings.push_back({pairs[i].first, pairs[i].second, static_cast<int>(i) < calibration});
             velmora::AdaptReport report;
             bool ok;
             {
               py::gil_scoped_release release;
               ok = e.adapt(recordings, &report);
             }
             check(ok, e);
             py::dict d;
             d["recordings"] = report.recordings;
             d["adapted"] = report.adapted;
             d["warp_bin"] = report.warpBin;
             return d;
           },
           py::arg("pairs"), py::arg("calibration") = 0,
           "adapts to (wave, text) pairs; the first `calibration` pairs are calibration recordings")
      .def("save_user", [](velmora::Engine& e, const std::string& path) { check(e.saveUser(path), e); }, py::arg("path"))
      .def_property_readonly("messages", &velmora::Engine::messages);
}
