// The installer run as a program on the assembled kit (build/installkit) and a folder that stands
// for the device: a fresh install, namefind on the result, a second install over the first, and
// the faults (a missing source file, a read-only device, the installer killed midway).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <set>

#include "fixture.h"
#include "testpaths.h"

using namespace vlm;
using itest::Scratch;

namespace {

using vlmtest::Outcome;
using vlmtest::run;

const char* kContacts =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Tarnowicz;Marcus;;;\r\nFN:Marcus Tarnowicz\r\nTEL;TYPE=WORK:555-555-0142\r\n"
    "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:Quillory;Bronwen;;;\r\nORG:Harbourlight Studio\r\nEND:VCARD\r\n";

// Start, the Continue of the question with an empty box, Quit.
const char* kScript = "tap start\nwait 20\ntap start\nwait 20\ndone\n";

// A test's PC folder (a copy of the kit), device folder and runtime folder.
struct Rig {
  explicit Rig(const std::string& name) : top(name) {
    kit = top.file("kit");
    device = top.make("device");
    std::system(("cp -r '" + vlmtest::binDir() + "/../installkit' '" + kit + "'").c_str());
    top.make("run");
    chmod(top.file("run").c_str(), 0700);
    itest::writeFile(top.file("script.txt"), kScript);
  }
  bool kitThere() const { return itest::exists(kit + "/" + platformTable()[0].script); }
  std::string command(const std::string& script, const std::string& prefix = "") const {
    return "cd '" + kit + "' && " + prefix + " env XDG_RUNTIME_DIR='" + top.file("run") +
           "' QT_QPA_PLATFORM=offscreen VELMORA_LOG='" + kit + "/velmora.log' '" + vlmtest::binDir() +
           "/installer' --device '" + device + "' --script '" + script + "' 2>/dev/null";
  }
  Outcome install() const { return run(command(top.file("script.txt"))); }
  std::string dev(const std::string& name) const { return device + "/velmora/" + name; }
  Scratch top;
  std::string kit, device;
};

// The device file each "c" step of the shipped scripts writes, with its PC source.
std::vector<std::pair<std::string, std::string>> copiedFiles(const std::string& kit) {
  std::vector<std::pair<std::string, std::string>> files;
  const std::string platformScript = platformTable()[0].script;
  for (const std::string& name : {platformScript, std::string(kCommonScript)}) {
    InstallScript s;
    std::string error;
    EXPECT_TRUE(loadInstallScript(kit + "/" + name, &s, &error)) << error;
    for (const InstallStep& step : s)
      if (step.code == "c" && step.second.rfind("\\velmora\\", 0) == 0) files.push_back({step.first, step.second.substr(9)});
  }
  return files;
}

// The user's own files after a first install: a model, an edited demo contact list, an own
// command with its word, a trained pronunciation.
void addUsersFiles(const Rig& s) {
  itest::writeFile(s.dev("me.usr"), itest::readFile(s.dev("newuser.usr")) + "trained");
  itest::writeFile(s.dev("demo.tsv"), itest::readFile(s.dev("demo.tsv")) + "Zed\tUser\n");
  itest::writeFile(s.dev("command.tsv"), itest::readFile(s.dev("command.tsv")) + "Switch To\tBanjo\t/opt/banjo\n");
  itest::writeFile(s.dev("command.voc"), itest::readFile(s.dev("command.voc")) + "banjo\tbanjO\t0\n");
  std::string voc = itest::readFile(s.dev("outlook.voc"));
  voc.replace(voc.find("tarnowicz\t"), voc.find('\n', voc.find("tarnowicz\t")) - voc.find("tarnowicz\t"),
              "tarnowicz\ttornOwitS\t0");
  itest::writeFile(s.dev("outlook.voc"), voc);
}

// The user's files are all there and as they were.
void expectUsersFilesKept(const Rig& s, const std::string& me, const std::string& demo) {
  EXPECT_EQ(itest::readFile(s.dev("me.usr")), me);
  EXPECT_EQ(itest::readFile(s.dev("contacts.vcf")), kContacts);
  EXPECT_EQ(itest::readFile(s.dev("demo.tsv")), demo);
  EXPECT_TRUE(itest::has(itest::readFile(s.dev("command.tsv")), "Switch To\tBanjo\t/opt/banjo\n"));
  EXPECT_TRUE(itest::has(itest::readFile(s.dev("command.voc")), "banjo\tbanjO\t0\n"));
  EXPECT_TRUE(itest::has(itest::readFile(s.dev("outlook.voc")), "tarnowicz\ttornOwitS\t0\n"));
}

}  // namespace

TEST(InstallerProgram, FreshDeviceGetsEveryFileAndNamefindFindsAContact) {
  Rig s("e2e-fresh");
  if (!s.kitThere()) GTEST_SKIP() << "the install kit is not built";
  std::filesystem::create_directories(s.device + "/velmora");
  itest::writeFile(s.dev("contacts.vcf"), kContacts);
  Outcome r = s.install();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(itest::has(r.out, "list main.platform 1 \"x86-64 Linux handhelds and tablets\"\n")) << r.out;
  EXPECT_TRUE(itest::has(r.out, "text main.start \"Continue\"\n"));
  EXPECT_TRUE(itest::has(r.out, "action spawn-pc \"pronmerge out.lst outlook.voc\"\n")) << r.out;
  EXPECT_TRUE(itest::has(r.out, "text main.message \"All Done, Hit the quit button\"\n")) << r.out;
  EXPECT_TRUE(itest::has(r.out, "action view \"./readme.txt\"\n"));
  EXPECT_TRUE(itest::has(r.out, "dialog main closed\nexit 0\n"));

  // Every file of the scripts is on the device, a whole copy of its source (the device's own
  // address book and the pronunciations made on the PC excepted).
  int checked = 0;
  for (const auto& [source, target] : copiedFiles(s.kit)) {
    if (target == "contacts.vcf" || target == "strider") continue;   // strider is removed after its run
    ASSERT_TRUE(itest::exists(s.dev(target))) << target;
    EXPECT_EQ(itest::readFile(s.dev(target)), itest::readFile(s.kit + "/" + source)) << target;
    checked++;
  }
  EXPECT_GT(checked, 110);
  EXPECT_EQ(itest::readFile(s.dev("contacts.vcf")), kContacts);
  EXPECT_EQ(access(s.dev("namefind").c_str(), X_OK), 0);
  EXPECT_FALSE(itest::exists(s.dev("strider")));        // the lister is removed again
  EXPECT_FALSE(itest::exists(s.device + "/out.lst"));
  EXPECT_TRUE(itest::exists(s.device + "/.local/share/applications/velmora-namefind.desktop"));
  // outlook.voc: pronmerge's pronunciations of the contacts' names.
  const std::string voc = itest::readFile(s.dev("outlook.voc"));
  for (const char* word : {"marcus\t", "tarnowicz\t", "bronwen\t", "quillory\t", "harbourlight\t", "studio\t"})
    EXPECT_TRUE(itest::has(voc, std::string("\n") + word) || voc.rfind(word, 0) == 0) << word << "\n" << voc;
  EXPECT_EQ(voc, itest::readFile(s.kit + "/out.voc"));
  EXPECT_FALSE(itest::leftTemporary(s.device));

  // namefind on the installed folder recognises a spoken look-up of an address-book contact.
  const std::string wav = s.top.file("lookup.wav");
  if (std::system(("espeak-ng -v en-us -w '" + wav + "' 'look up marcus tarnowicz' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "espeak-ng is not installed";
  itest::writeFile(s.dev("me.usr"), itest::readFile(s.dev("newuser.usr")));
  itest::writeFile(s.dev("namefind.cfg"), "u:me.usr\nt:outlook.tsv\ni:1\n");
  itest::writeFile(s.top.file("nf.txt"), "mic\nwait 30\ndone\n");
  Outcome nf = run("env VELMORA_DIR='" + s.device + "/velmora' XDG_RUNTIME_DIR='" + s.top.file("run") +
                   "' QT_QPA_PLATFORM=offscreen VELMORA_SPEAKER=null VELMORA_MIC='" + wav + "' VELMORA_MIC_GAP=1 '" +
                   s.device + "/velmora/namefind' --script '" + s.top.file("nf.txt") + "' 2>/dev/null");
  EXPECT_EQ(nf.status, 0) << nf.out;
  EXPECT_TRUE(itest::has(nf.out, "\"look up marcus tarnowicz\"")) << nf.out;
  EXPECT_TRUE(itest::has(nf.out, "list main.details 2 \"Marcus Tarnowicz\" \"w: 555-555-0142\"\n")) << nf.out;
}

TEST(InstallerProgram, SecondInstallKeepsTheUsersFiles) {
  Rig s("e2e-second");
  if (!s.kitThere()) GTEST_SKIP() << "the install kit is not built";
  std::filesystem::create_directories(s.device + "/velmora");
  itest::writeFile(s.dev("contacts.vcf"), kContacts);
  ASSERT_EQ(s.install().status, 0);
  addUsersFiles(s);
  const std::string me = itest::readFile(s.dev("me.usr")), demo = itest::readFile(s.dev("demo.tsv"));
  Outcome r = s.install();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(itest::has(r.out, "action spawn-pc \"splicer cmdce\"\n"));
  expectUsersFilesKept(s, me, demo);
  // The new defaults are there beside the user's command.
  const std::string tsv = itest::readFile(s.dev("command.tsv"));
  EXPECT_TRUE(itest::has(tsv, "Switch To\tTerminal\t")) << tsv;
  EXPECT_TRUE(itest::has(itest::readFile(s.dev("command.voc")), "\nterminal\t"));
  // The kit keeps the shipped defaults apart from this user's commands.
  EXPECT_FALSE(itest::has(itest::readFile(s.kit + "/cmddef.tsv"), "Banjo"));
}

TEST(InstallerProgram, FaultsStopWithTheirMessagesAndLoseNothing) {
  Rig s("e2e-faults");
  if (!s.kitThere()) GTEST_SKIP() << "the install kit is not built";
  std::filesystem::create_directories(s.device + "/velmora");
  itest::writeFile(s.dev("contacts.vcf"), kContacts);
  ASSERT_EQ(s.install().status, 0);
  addUsersFiles(s);
  const std::string me = itest::readFile(s.dev("me.usr")), demo = itest::readFile(s.dev("demo.tsv"));

  // A source file missing on the PC.
  const std::string base = itest::readFile(s.kit + "/base.voc");
  std::filesystem::remove(s.kit + "/base.voc");
  Outcome r = s.install();
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(itest::has(r.out, "text main.message \"couldn't copy a file, HIT QUIT!!!\\nfrom PC file: base.voc\\nto "
                                "PDA file: \\\\velmora\\\\base.voc\"\n"))
      << r.out;
  EXPECT_TRUE(itest::has(r.out, "text main.status \"cannot read ./base.voc: No such file or directory\"\n")) << r.out;
  EXPECT_TRUE(itest::has(r.out, "visible main.start 0\n"));
  EXPECT_FALSE(itest::has(r.out, "All Done"));
  expectUsersFilesKept(s, me, demo);
  itest::writeFile(s.kit + "/base.voc", base);

  // The installer killed midway: at the question, and while it copies the pronunciations.
  for (const char* when : {"Hit Continue when ready.", "writing CE file: \\\\velmora\\\\outlook.voc"}) {
    const bool atQuestion = std::string(when).find("Continue") != std::string::npos;
    itest::writeFile(s.top.file("kill.txt"), atQuestion ? "tap start\nwait 20\nsleep 60000\n" : kScript);
    const std::string out = s.top.file("kill-out.txt");
    std::filesystem::remove(out);
    // The subshell becomes the installer (exec), so the pid written is the installer's.
    std::system(("(" + s.command(s.top.file("kill.txt"), "exec") + ") > '" + out + "' & echo $! > '" +
                 s.top.file("pid") + "'").c_str());
    bool seen = false;
    for (int i = 0; i < 2000 && !seen; i++) {
      seen = itest::has(itest::readFile(out), when);
      if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(seen) << itest::readFile(out);
    const pid_t pid = static_cast<pid_t>(std::atol(itest::readFile(s.top.file("pid")).c_str()));
    ASSERT_GT(pid, 0);
    kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    expectUsersFilesKept(s, me, demo);
    // Every program and data file on the device is whole: its source's bytes.
    for (const auto& [source, target] : copiedFiles(s.kit)) {
      if (target == "contacts.vcf" || target == "outlook.voc" || target == "command.tsv" ||
          target == "command.voc" || target == "demo.tsv" || !itest::exists(s.dev(target)))
        continue;
      EXPECT_EQ(itest::readFile(s.dev(target)), itest::readFile(s.kit + "/" + source)) << target;
    }
    if (atQuestion) {
      EXPECT_FALSE(itest::leftTemporary(s.device));
    }
  }
  // The next install finishes, keeps everything and clears what a killed copy left.
  r = s.install();
  EXPECT_EQ(r.status, 0) << r.out;
  expectUsersFilesKept(s, me, demo);
  EXPECT_FALSE(itest::leftTemporary(s.device));

  // A read-only device folder: the first copy fails, nothing of the user's changes.
  std::system(("chmod -R a-w '" + s.device + "'").c_str());
  std::string prefix;
  if (getuid() == 0) {
    // Permissions do not stop root: run the installer as nobody, with a PC folder it may write.
    if (std::system("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "running as root without setpriv";
    std::system(("chmod -R a+rwX '" + s.kit + "' && chmod 0777 '" + s.top.file("run") + "'").c_str());
    prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  }
  r = run(s.command(s.top.file("script.txt"), prefix));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(itest::has(r.out, "text main.message \"couldn't copy a file, HIT QUIT!!!\\nfrom PC file: "
                                "strider-x86_64\\nto PDA file: \\\\velmora\\\\strider\"\n"))
      << r.out;
  EXPECT_TRUE(itest::has(r.out, "Permission denied")) << r.out;
  expectUsersFilesKept(s, me, demo);
}

TEST(InstallerProgram, EmptyFolderOffersNothingAndASecondCopyHandsOver) {
  Scratch top("e2e-empty");
  const std::string pc = top.make("pc"), device = top.make("device"), runDir = top.make("run");
  chmod(runDir.c_str(), 0700);
  const std::string env = "cd '" + pc + "' && env XDG_RUNTIME_DIR='" + runDir + "' QT_QPA_PLATFORM=offscreen '" +
                          vlmtest::binDir() + "/installer' --device '" + device + "'";
  itest::writeFile(top.file("s.txt"), "tap start\nsleep 300\ndone\n");
  Outcome r = run(env + " --script '" + top.file("s.txt") + "' 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(itest::has(r.out, "list main.platform 0\n")) << r.out;
  // Start did nothing: no connection, nothing shown, nothing on the device.
  const size_t tapped = r.out.find("script 1 tap start\n");
  ASSERT_NE(tapped, std::string::npos);
  EXPECT_EQ(r.out.substr(tapped), "script 1 tap start\nscript 2 sleep 300\nscript 3 done\ndialog main closed\nexit 0\n");
  EXPECT_TRUE(std::filesystem::is_empty(device));

  // A second installer while one runs: the first comes forward, the second exits with 0.
  itest::writeFile(top.file("long.txt"), "sleep 3000\ndone\n");
  std::system(("(" + env + " --script '" + top.file("long.txt") + "' > '" + top.file("first.txt") +
               "' 2>/dev/null &) ; sleep 1").c_str());
  Outcome second = run(env + " 2>/dev/null");
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(itest::has(second.out, "action activate-running\nexit 0\n")) << second.out;
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_TRUE(itest::has(itest::readFile(top.file("first.txt")), "message 2026\n")) << itest::readFile(top.file("first.txt"));
}

TEST(InstallerProgram, StriderAndSplicerOnTheirOwn) {
  Scratch top("e2e-helpers");
  const std::string data = top.make("home/velmora");
  itest::writeFile(data + "/contacts.vcf", kContacts);
  const std::string bin = vlmtest::binDir();
  // Without the device link's root, "\out.lst" is beside the data directory.
  Outcome r = run("env -u VELMORA_DEVICE_ROOT VELMORA_DIR='" + data + "' '" + bin + "/strider'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(itest::readFile(top.file("home/out.lst")), "Marcus\nTarnowicz\nBronwen\nQuillory\nHarbourlight Studio\n");
  EXPECT_EQ(run("'" + bin + "/strider' extra 2>/dev/null").status, 2);
  // The list cannot be written: status 1, nothing half written.
  r = run("env VELMORA_DIR='" + data + "' VELMORA_DEVICE_ROOT='" + top.file("nowhere") + "' '" + bin + "/strider' 2>&1");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(itest::has(r.out, "strider: cannot")) << r.out;

  EXPECT_EQ(run("'" + bin + "/splicer' 2>/dev/null").status, 2);
  EXPECT_EQ(run("'" + bin + "/splicer' ../x 2>/dev/null").status, 2);
  r = run("cd '" + top.path + "' && '" + bin + "/splicer' cmdce 2>&1");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(itest::has(r.out, "splicer: cannot read ./command.tsv")) << r.out;
  EXPECT_TRUE(itest::has(run("'" + bin + "/splicer' --help").out, "usage: splicer NAME"));
}
