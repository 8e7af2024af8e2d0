// The installer's logic: scripts, platform rows, Start, storage cards, the step codes, Continue,
// and the failures, on a folder that stands for the device.
#include <gtest/gtest.h>

#include <set>

#include "fixture.h"
#include "platform/devicelink.h"

using namespace vlm;
using itest::Scratch;

namespace {

InstallScript parse(const std::string& text) {
  InstallScript s;
  std::string error;
  EXPECT_TRUE(parseInstallScript(text, "test", &s, &error)) << error;
  return s;
}

}  // namespace

TEST(InstallScriptFormat, FieldsCommentsAndEscapes) {
  InstallScript s = parse("# a comment\n\nc\tabc.voc\t\\velmora\\abc.voc\tline one\\nline two \\\\velmora\r\n"
                          "i!\t\\velmora\nq\t\t\tAsk \\v here\nA\n");
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].code, "c");
  EXPECT_EQ(s[0].first, "abc.voc");
  EXPECT_EQ(s[0].second, "\\velmora\\abc.voc");
  EXPECT_EQ(s[0].message, "line one\nline two \\velmora");
  EXPECT_EQ(s[1].code, "i!");
  EXPECT_EQ(s[1].second, "");
  EXPECT_EQ(s[2].message, "Ask \\v here");   // only \n and \\ are escapes
  EXPECT_EQ(s[3].code, "A");

  struct Bad {
    const char* text;
    const char* error;
  } bad[] = {{"c\ta\tb\tc\td\n", "test:1: more than four fields"},
             {"A\n\tfile\n", "test:2: a step needs a code"},
             {"c x\ta\n", "test:1: a step needs a code"}};
  for (const Bad& b : bad) {
    std::string error;
    InstallScript out;
    EXPECT_FALSE(parseInstallScript(b.text, "test", &out, &error)) << b.text;
    EXPECT_TRUE(itest::has(error, b.error)) << error;
  }
}

TEST(InstallScriptFormat, ShippedScriptsLoadAndNameEveryShippedFile) {
  const std::string dir = vlmtest::sourceDir() + "/data/installer/";
  InstallScript common, platform;
  std::string error;
  ASSERT_TRUE(loadInstallScript(dir + kCommonScript, &common, &error)) << error;
  ASSERT_EQ(common.back().code, "A");
  std::set<std::string> copied;
  for (const InstallStep& s : common)
    if (s.code == "c") copied.insert(s.first);
  // Every recording and every file the device programs load goes to the device.
  for (const auto& e : std::filesystem::directory_iterator(vlmtest::sourceDir() + "/data")) {
    const std::string name = e.path().filename().string();
    // say1.wav ... are the desktop demo's spoken commands, not device data.
    if (e.path().extension() == ".wav" && name.rfind("say", 0) != 0) {
      EXPECT_TRUE(copied.count(name)) << name;
    }
  }
  for (const char* f : {"abc.voc", "abc.rul", "base.voc", "enrol.voc", "enrol.rul", "enrol.txt", "demo.tsv", "demo.voc",
                        "command.tsv", "command.voc", "ltsmodel.bin", "out.voc"})
    EXPECT_TRUE(copied.count(f)) << f;
  for (const PlatformRow& row : platformTable()) {
    ASSERT_TRUE(loadInstallScript(dir + row.script, &platform, &error)) << error;
    std::set<std::string> sources;
    for (const InstallStep& s : platform)
      if (s.code == "c") sources.insert(s.first);
    for (const std::string& f : row.files) EXPECT_TRUE(sources.count(f)) << row.script << " " << f;
    EXPECT_EQ(platform.back().code, "A");
  }
}

TEST(Installer, NoPlatformFilesGiveAnEmptyListAndAnInertStart) {
  Scratch pc("no-files"), device("no-files-device");
  itest::RecordingView view;
  DirectoryDeviceLink link(device.path);
  InstallerApp app(&view, &link, pc.path, "");
  app.initDialog();
  EXPECT_TRUE(view.list.empty());
  EXPECT_EQ(view.listSelected, -1);
  EXPECT_EQ(view.message(), kChooseText);
  const std::string before = view.all();
  app.pressStart(-1, "");
  app.pressStart(0, "");
  EXPECT_EQ(view.all(), before);   // nothing happened
  EXPECT_EQ(app.stepIndex(), -1);
  EXPECT_EQ(app.running(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(device.path));

  // Six of the seven files are not enough either.
  itest::makeKit(pc, "A\n", "A\n");
  std::filesystem::remove(pc.file(platformTable()[0].files[6]));
  app.initDialog();
  EXPECT_TRUE(view.list.empty());
}

TEST(Installer, WithoutACardTheInstallGoesToMainMemoryWithoutAsking) {
  Scratch pc("main-memory"), device("main-memory-device");
  itest::makeKit(pc, "i!\t\\velmora\nd\t\\velmora\nA\n", "c\ta.txt\t\\velmora\\a.txt\nA\tallDone\n");
  itest::writeFile(pc.file("a.txt"), "a\n");
  // A folder named like a card but not marked as one is no card.
  device.make("Storage Card");
  itest::RecordingView view;
  DirectoryDeviceLink link(device.path);
  InstallerApp app(&view, &link, pc.path, "");
  app.initDialog();
  ASSERT_EQ(view.list.size(), 1u);
  EXPECT_EQ(view.list[0], platformTable()[0].label);
  app.pressStart(0, "");
  ASSERT_TRUE(itest::waitStopped(app));
  EXPECT_TRUE(app.allDone()) << view.all();
  EXPECT_EQ(app.prefix(), "");
  EXPECT_FALSE(itest::has(view.all(), kLocationText));
  EXPECT_EQ(itest::readFile(device.file("velmora/a.txt")), "a\n");
  EXPECT_EQ(view.message(), "All Done, Hit the quit button");
  EXPECT_TRUE(itest::has(view.all(), "view " + pc.path + "/readme.txt")) << view.all();
}

TEST(Installer, AStorageCardIsOfferedAndPrefixesOnlyVelmoraPaths) {
  Scratch pc("card"), device("card-device");
  itest::makeKit(pc, "d\t\\velmora\nA\n",
                 "c\ta.txt\t\\velmora\\base.voc\nc\ta.txt\t\\other.txt\nu\t\\velmora2\\x\nA\tallDone\n");
  itest::writeFile(pc.file("a.txt"), "a\n");
  const std::string card = device.make("Storage Card");
  itest::writeFile(card + "/" + DirectoryDeviceLink::kCardMarker, "");
  device.make("Storage Card2");   // not marked: not a card
  device.make("velmora2");
  itest::writeFile(device.file("velmora2/x"), "x");
  itest::RecordingView view;
  DirectoryDeviceLink link(device.path);
  InstallerApp app(&view, &link, pc.path, "");
  app.initDialog();
  app.pressStart(0, "");
  // The location choice: the card, then the root; the first is selected; nothing runs yet.
  EXPECT_EQ(view.list, (std::vector<std::string>{"\\Storage Card", "\\"}));
  EXPECT_EQ(view.listSelected, 0);
  EXPECT_EQ(view.message(), kLocationText);
  EXPECT_EQ(app.running(), 0);
  EXPECT_FALSE(itest::exists(card + "/velmora"));
  app.pressStart(0, "");
  ASSERT_TRUE(itest::waitStopped(app));
  EXPECT_TRUE(app.allDone()) << view.all();
  EXPECT_EQ(app.prefix(), "\\Storage Card");
  // \velmora\base.voc became \Storage Card\velmora\base.voc; the other paths are untouched.
  EXPECT_EQ(itest::readFile(card + "/velmora/base.voc"), "a\n");
  EXPECT_FALSE(itest::exists(device.file("velmora")));
  EXPECT_EQ(itest::readFile(device.file("other.txt")), "a\n");
  EXPECT_FALSE(itest::exists(device.file("velmora2/x")));   // "\velmora2" is not "\velmora"

  // Choosing the root "\" installs into main memory.
  Scratch device2("card-device2");
  const std::string card2 = device2.make("Storage Card");
  itest::writeFile(card2 + "/" + DirectoryDeviceLink::kCardMarker, "");
  itest::RecordingView view2;
  DirectoryDeviceLink link2(device2.path);
  InstallerApp app2(&view2, &link2, pc.path, "");
  app2.initDialog();
  app2.pressStart(0, "");
  app2.pressStart(1, "");
  ASSERT_TRUE(itest::waitStopped(app2));
  EXPECT_EQ(app2.prefix(), "");
  EXPECT_TRUE(itest::exists(device2.file("velmora/base.voc")));
}

TEST(Installer, TestsSkipExactlyTheNextStep) {
  Scratch pc("tests"), device("tests-device");
  device.make("velmora");
  itest::writeFile(device.file("velmora/here"), "x");
  itest::writeFile(pc.file("pchere"), "x");
  struct Case {
    const char* code;
    const char* path;
    int next;   // index after the test step at 0
  } cases[] = {
      {"i", "\\velmora\\here", 1},   {"i", "\\velmora\\gone", 2},  {"i!", "\\velmora\\here", 2},
      {"i!", "\\velmora\\gone", 1},  {"i", "\\velmora", 1},        {"I", "pchere", 1},
      {"I", "pcgone", 2},            {"I!", "pchere", 2},          {"I!", "pcgone", 1},
      {"i", "\\VELMORA\\HERE", 1},   // the device's file names ignore case
  };
  for (const Case& c : cases) {
    itest::RecordingView view;
    DirectoryDeviceLink link(device.path);
    InstallerApp app(&view, &link, pc.path, "");
    InstallScript s = {{c.code, c.path, "", ""}, {"d", "\\one", "", ""}, {"d", "\\two", "", ""}};
    app.setScripts(s, {});
    EXPECT_EQ(app.runStep(), InstallerApp::eStepDone);
    EXPECT_EQ(app.stepIndex(), c.next) << c.code << " " << c.path;
  }
}

TEST(Installer, ContinueWithAnEmptyBoxAddsNoArgument) {
  Scratch pc("continue"), device("continue-device"), bin("continue-bin");
  // A PC program that writes its arguments, one a line.
  itest::writeFile(bin.file("args"), "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > args.txt\n");
  chmod(bin.file("args").c_str(), 0755);
  for (const char* typed : {"", "/home/me/my words.voc"}) {
    itest::makeKit(pc, "A\n", "U\tout.voc\nq\t\t\tAnother .voc?\nS\targs out.lst outlook.voc\nA\tallDone\n");
    itest::RecordingView view;
    DirectoryDeviceLink link(device.path);
    InstallerApp app(&view, &link, pc.path, bin.path + "/");
    app.initDialog();
    app.pressStart(0, "");
    ASSERT_TRUE(itest::waitStopped(app));
    EXPECT_EQ(app.running(), -1);
    EXPECT_EQ(view.message(), "Another .voc?");
    EXPECT_TRUE(itest::has(view.all(), "text 5 Continue\n")) << view.all();
    EXPECT_TRUE(itest::has(view.all(), "visible 6 1\n"));
    EXPECT_EQ(app.extraArgument(), "");
    app.pressStart(0, typed);
    ASSERT_TRUE(itest::waitStopped(app));
    EXPECT_TRUE(app.allDone()) << view.all();
    EXPECT_EQ(app.extraArgument(), typed);
    // The typed path is one argument, blanks and all.
    std::string expected = "[out.lst]\n[outlook.voc]\n";
    if (*typed) expected += std::string("[") + typed + "]\n";
    EXPECT_EQ(itest::readFile(pc.file("args.txt")), expected);
    EXPECT_TRUE(itest::has(view.all(), std::string("action spawn-pc args out.lst outlook.voc") + (*typed ? " " : "") +
                                           typed + "\n"));
  }
}

TEST(Installer, FailuresStopWithTheirMessages) {
  Scratch pc("failures"), device("failures-device"), bin("failures-bin");
  device.make("velmora");
  itest::writeFile(device.file("velmora/base.voc"), "the user's\n");
  itest::writeFile(bin.file("fails"), "#!/bin/sh\nexit 3\n");
  chmod(bin.file("fails").c_str(), 0755);
  itest::writeFile(bin.file("quiet"), "#!/bin/sh\nexit 0\n");
  chmod(bin.file("quiet").c_str(), 0755);
  device.make("velmora/prog");
  itest::writeFile(device.file("velmora/noop"), "#!/bin/sh\nexit 0\n");
  chmod(device.file("velmora/noop").c_str(), 0755);
  struct Case {
    InstallStep step;
    const char* message;
  } cases[] = {
      {{"c", "missing.voc", "\\velmora\\base.voc", ""},
       "couldn't copy a file, HIT QUIT!!!\nfrom PC file: missing.voc\nto PDA file: \\velmora\\base.voc"},
      {{"C", "\\velmora\\missing.voc", "got.voc", ""}, "couldn't copy a file, HIT QUIT!!!"},
      {{"d", "\\velmora\\base.voc\\sub", "", ""}, "couldn't make a dir, HIT QUIT!!!"},
      {{"s", "\\velmora\\missing", "", ""}, "couldn't spawn CE file, HIT QUIT!!!"},
      {{"S", "no-such-program-here x", "", ""}, "couldn't spawn PC file, HIT QUIT!!!"},
      {{"S", "fails cmdce", "", ""}, "the PC program failed, HIT QUIT!!!\nfails cmdce"},
      {{"l", "\\velmora\\..\\x", "\\velmora\\noop", ""}, "couldn't create the CE link file, HIT QUIT!!!"},
      {{"u", "\\velmora\\prog", "", ""}, "couldn't delete a file, HIT QUIT!!!\n\\velmora\\prog"},
  };
  for (const Case& c : cases) {
    itest::RecordingView view;
    DirectoryDeviceLink link(device.path);
    InstallerApp app(&view, &link, pc.path, bin.path + "/");
    app.setScripts({c.step, {"d", "\\after", "", ""}}, {});
    EXPECT_EQ(app.runStep(), InstallerApp::eStepEnd) << c.step.code;
    EXPECT_EQ(view.message(), c.message) << c.step.code;
    EXPECT_EQ(app.running(), -1);
    EXPECT_TRUE(app.failed());
    EXPECT_TRUE(itest::has(view.all(), "visible 5 0\n"));   // Start hidden: the user can only quit
    EXPECT_FALSE(view.status().empty()) << c.step.code;     // the reason, on the status line
    EXPECT_FALSE(itest::exists(device.file("after")));
  }
  // Nothing of the device's file was touched, and no partial file is left on either side.
  EXPECT_EQ(itest::readFile(device.file("velmora/base.voc")), "the user's\n");
  EXPECT_FALSE(itest::exists(pc.file("got.voc")));
  EXPECT_FALSE(itest::leftTemporary(device.path));
  EXPECT_FALSE(itest::leftTemporary(pc.path));

  // A device program that ends without writing the file waited for stops the wait.
  itest::RecordingView view;
  DirectoryDeviceLink link(device.path);
  InstallerApp app(&view, &link, pc.path, bin.path + "/");
  app.setScripts({{"s", "\\velmora\\noop", "", ""}, {"w", "\\out.lst", "", ""}}, {});
  EXPECT_EQ(app.runStep(), InstallerApp::eStepDone);
  InstallerApp::StepResult r = InstallerApp::eStepWaiting;
  for (int i = 0; i < 200 && r == InstallerApp::eStepWaiting; i++) {
    r = app.runStep();
    if (r == InstallerApp::eStepWaiting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(r, InstallerApp::eStepEnd);
  EXPECT_EQ(view.message(), "the CE program ended without writing \\out.lst, HIT QUIT!!!");

  // No device: the connection message.
  itest::makeKit(pc, "A\n", "A\n");
  itest::RecordingView v2;
  DirectoryDeviceLink nowhere(device.file("not-there"));
  InstallerApp a2(&v2, &nowhere, pc.path, "");
  a2.initDialog();
  a2.pressStart(0, "");
  EXPECT_EQ(v2.message(), kNoConnectText);
  EXPECT_EQ(a2.running(), 0);
  EXPECT_TRUE(a2.failed());
}

TEST(Installer, UnknownCodeClosesTheDialogAndSpinnerTurnsOnlyWhileRunning) {
  Scratch pc("unknown"), device("unknown-device");
  itest::RecordingView view;
  DirectoryDeviceLink link(device.path);
  InstallerApp app(&view, &link, pc.path, "");
  app.setScripts({{"z", "", "", ""}}, {});
  EXPECT_EQ(app.runStep(), InstallerApp::eStepEnd);
  EXPECT_TRUE(itest::has(view.all(), "close\n"));
  app.timerTick();
  EXPECT_TRUE(itest::has(view.all(), "text 3 \n"));
}

TEST(DirectoryDeviceLink, PathsCardsCopiesAndPrograms) {
  Scratch device("link-device"), pc("link-pc");
  DirectoryDeviceLink link(device.path);
  ASSERT_TRUE(link.connect());
  std::string path;
  EXPECT_TRUE(link.hostPath("\\velmora\\abc.voc", &path));
  EXPECT_EQ(path, device.path + "/velmora/abc.voc");
  for (const char* refused : {"velmora\\x", "\\velmora\\..\\..\\etc", "\\.\\x", "\\a/b"})
    EXPECT_FALSE(link.hostPath(refused, &path)) << refused;
  device.make("Velmora");
  EXPECT_EQ(link.pathKind("\\VELMORA"), 2);
  EXPECT_EQ(link.pathKind("\\velmora\\nothing"), 0);

  // A copy keeps the permission bits; a copy into a missing folder leaves nothing.
  itest::writeFile(pc.file("prog"), "#!/bin/sh\n");
  chmod(pc.file("prog").c_str(), 0755);
  ASSERT_TRUE(link.copyToDevice(pc.file("prog"), "\\velmora\\prog"));
  EXPECT_EQ(access(device.file("Velmora/prog").c_str(), X_OK), 0);
  EXPECT_FALSE(link.copyToDevice(pc.file("prog"), "\\nofolder\\prog"));
  EXPECT_FALSE(link.reason().empty());
  EXPECT_FALSE(itest::leftTemporary(device.path));

  // A killed copy's temporary file is cleared away by the next copy to the same target (one of a
  // process still running is not).
  itest::writeFile(device.file("Velmora/prog.999999999-3.tmp"), "half");
  itest::writeFile(device.file("Velmora/prog." + std::to_string(getpid()) + "-9.tmp"), "in use");
  itest::writeFile(device.file("Velmora/prog.notes.tmp"), "the user's");
  ASSERT_TRUE(link.copyToDevice(pc.file("prog"), "\\velmora\\prog"));
  EXPECT_FALSE(itest::exists(device.file("Velmora/prog.999999999-3.tmp")));
  EXPECT_TRUE(itest::exists(device.file("Velmora/prog." + std::to_string(getpid()) + "-9.tmp")));
  EXPECT_TRUE(itest::exists(device.file("Velmora/prog.notes.tmp")));
  std::filesystem::remove(device.file("Velmora/prog." + std::to_string(getpid()) + "-9.tmp"));
  std::filesystem::remove(device.file("Velmora/prog.notes.tmp"));

  // The programs folder is made; a shortcut is a relative link that reaches its target.
  EXPECT_EQ(link.programsFolder(), "\\.local\\share\\applications");
  EXPECT_TRUE(std::filesystem::is_directory(device.file(".local/share/applications")));
  ASSERT_TRUE(link.makeShortcut("\\.local\\share\\applications\\prog", "\\Velmora\\prog"));
  EXPECT_EQ(std::filesystem::read_symlink(device.file(".local/share/applications/prog")).string(), "../../../Velmora/prog");
  EXPECT_EQ(itest::readFile(device.file(".local/share/applications/prog")), "#!/bin/sh\n");

  // A device program sees the folder as the device: its data directory and root.
  itest::writeFile(device.file("Velmora/env"),
                   "#!/bin/sh\necho \"$VELMORA_DIR|$VELMORA_DEVICE_ROOT|$(pwd)|$1|$2\" > \"$VELMORA_DEVICE_ROOT/env.txt\"\n");
  chmod(device.file("Velmora/env").c_str(), 0755);
  ASSERT_TRUE(link.startProgram("\\velmora\\env", "one two"));
  int status = -1;
  for (int i = 0; i < 500 && (status = link.lastProgramStatus()) < 0; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(itest::readFile(device.file("env.txt")),
            device.path + "/Velmora|" + device.path + "|" + device.path + "|one|two\n");
}
