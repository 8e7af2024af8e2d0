// namefind's dialogs.
#include "apps/namefind/dialogs.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "apps/common/qtscript.h"
#include "apps/common/transcript.h"
#include "apps/namefind/entrydialogs.h"

namespace vlm {

namespace {

// The transcript's name of a control of the main dialog.
const char* mainControlName(int id) {
  switch (id) {
    case kIdDetails: return "details";
    case kIdPhrases: return "phrases";
    case kIdChoices: return "choices";
    case kIdLevel: return "level";
    case kIdTrain: return "train";
    case kIdMic: return "mic";
    case kIdFind: return "find";
    case kIdSaveUser: return "saveUser";
    case kIdOptions: return "options";
    case kIdNewEntry: return "newEntry";
    case kIdEditEntry: return "editEntry";
    case kIdDelEntry: return "delEntry";
    case kIdPronunciation: return "pron";
  }
  return "unknown";
}

QString qs(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }
std::string ss(const QString& s) { return s.toLocal8Bit().toStdString(); }

void reportList(const std::string& name, const std::vector<std::string>& items, int selected) {
  std::string line = "list " + name + " " + std::to_string(items.size());
  for (const std::string& item : items) line += " " + quoted(item);
  transcriptLine(line);
  if (selected >= 0) transcriptLine("select " + name + " " + std::to_string(selected + 1));
}

void reportCombo(const std::string& name, QComboBox* box) {
  std::vector<std::string> items;
  for (int i = 0; i < box->count(); i++) items.push_back(ss(box->itemText(i)));
  reportList(name, items, box->currentIndex());
}

// A phone-sized dialog with a Done button at the top, as the handheld's full-screen dialogs have.
QPushButton* titleBar(QDialog* dialog, QVBoxLayout* layout, const char* title) {
  dialog->setWindowTitle(title);
  auto* bar = new QHBoxLayout;
  auto* caption = new QLabel(QString("<b>%1</b>").arg(title));
  auto* done = new QPushButton("Done");
  done->setObjectName("done");
  done->setAutoDefault(false);
  bar->addWidget(caption, 1);
  bar->addWidget(done);
  layout->addLayout(bar);
  return done;
}

QPushButton* plainButton(const char* name, const char* caption) {
  auto* b = new QPushButton(caption);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

constexpr int kPhoneWidth = 320;
constexpr int kPhoneHeight = 480;

}  // namespace

// ---- main dialog ------------------------------------------------------------------------------

MainDialog::MainDialog(const std::string& dataDir, bool phoneEdition) : logic(this, dataDir, phoneEdition) {
  setObjectName("main");
  resize(kPhoneWidth, kPhoneHeight);
  auto* layout = new QVBoxLayout(this);
  QPushButton* done = titleBar(this, layout, "Namefind...");
  connect(done, &QPushButton::clicked, this, [this] { runExit(); });

  details = new QListWidget;
  details->setObjectName("details");
  phraseList = new QListWidget;
  phraseList->setObjectName("phrases");
  choiceList = new QListWidget;
  choiceList->setObjectName("choices");
  level = new QProgressBar;
  level->setObjectName("level");
  level->setRange(0, 100);
  level->setTextVisible(false);
  level->setMaximumHeight(10);
  pron = new QPushButton;
  pron->setObjectName("pron");
  pron->setFlat(true);
  pron->setAutoDefault(false);

  layout->addWidget(details, 3);
  auto* lists = new QHBoxLayout;
  lists->addWidget(phraseList, 3);
  lists->addWidget(choiceList, 2);
  layout->addLayout(lists, 3);
  layout->addWidget(level);

  auto* row1 = new QHBoxLayout;
  train = button(kIdTrain, "train", "train");
  row1->addWidget(train);
  row1->addWidget(pron, 1);
  mic = button(kIdMic, "mic", "mic is Off");
  row1->addWidget(mic);
  layout->addLayout(row1);
  auto* grid = new QGridLayout;
  grid->addWidget(button(kIdFind, "find", "find It"), 0, 0);
  grid->addWidget(button(kIdSaveUser, "saveUser", "saveUser"), 0, 1);
  grid->addWidget(button(kIdOptions, "options", "options"), 0, 2);
  grid->addWidget(button(kIdNewEntry, "newEntry", "newEntry"), 1, 0);
  grid->addWidget(button(kIdEditEntry, "editEntry", "editEntry"), 1, 1);
  grid->addWidget(button(kIdDelEntry, "delEntry", "delEntry"), 1, 2);
  layout->addLayout(grid);

  connect(mic, &QPushButton::clicked, this, [this] { logic.toggleMic(); });
  connect(findChild<QPushButton*>("saveUser"), &QPushButton::clicked, this, [this] { logic.saveUser(); });
  connect(findChild<QPushButton*>("options"), &QPushButton::clicked, this, [this] {
    runOptions();
    // New files are loaded by a fresh process.
    if (logic.state().startAfterExit) runExit();
  });
  connect(phraseList, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    transcriptLine("select main.phrases " + std::to_string(phraseList->row(item) + 1));
    logic.selectPhrase(phraseList->row(item));
  });
  connect(choiceList, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    transcriptLine("select main.choices " + std::to_string(choiceList->row(item) + 1));
    logic.selectChoice(choiceList->row(item));
  });
  connect(findChild<QPushButton*>("delEntry"), &QPushButton::clicked, this, [this] { logic.deleteCurrent(); });
  // Training, the find dialog and the entry editor (entrydialogs.cpp).
  connect(pron, &QPushButton::clicked, this, [this] {
    if (logic.playSpelling(logic.pronunciationText()) > 0) transcriptAction("play-pron", {logic.pronunciationText()});
  });
  connect(train, &QPushButton::clicked, this, [this] { logic.train(); });
  connect(findChild<QPushButton*>("find"), &QPushButton::clicked, this, [this] {
    if (logic.micOn()) logic.toggleMic();
    FindDialog dialog(&logic, this);
    if (runSubDialog(&dialog, [&dialog] { return dialog.run(); }) && dialog.chosen >= 0)
      logic.showFoundEntry(dialog.chosen);
  });
  for (const char* name : {"newEntry", "editEntry"})
    connect(findChild<QPushButton*>(name), &QPushButton::clicked, this, [this, name] {
      if (logic.micOn()) logic.toggleMic();
      EntryDialog dialog(&logic, this, name[0] == 'e', this);
      runSubDialog(&dialog, [&dialog] { return dialog.run(); });
    });
  micTimer.setInterval(20);
  connect(&micTimer, &QTimer::timeout, this, [this] { logic.timerTick(); });
  actionDialogs = std::make_unique<ActionDialogs>(
      this, &logic, this, logic.actionsInUse(),
      [this](QDialog* dialog, const std::function<int()>& run) { return runSubDialog(dialog, run); });
  logic.setActions(actionDialogs.get());
}

QPushButton* MainDialog::button(int id, const char* name, const char* caption) {
  QPushButton* b = plainButton(name, caption);
  b->setProperty("controlId", id);
  return b;
}

void MainDialog::begin() {
  setWindowModality(Qt::ApplicationModal);
  show();
  transcriptLine("dialog main shown");
  QMetaObject::invokeMethod(this, [this] { logic.initMain(); }, Qt::QueuedConnection);
}

void MainDialog::setText(int id, const std::string& text) {
  if (id == kIdMic) mic->setText(qs(text));
  else if (id == kIdPronunciation) pron->setText(qs(text));
  else if (QPushButton* b = findChild<QPushButton*>(mainControlName(id))) b->setText(qs(text));
  transcriptLine(std::string("text main.") + mainControlName(id) + " " + quoted(text));
}

void MainDialog::setList(int id, const std::vector<std::string>& items, int selected) {
  QListWidget* list = id == kIdPhrases ? phraseList : id == kIdChoices ? choiceList : id == kIdDetails ? details : nullptr;
  if (!list) return;
  list->clear();
  for (const std::string& item : items) list->addItem(qs(item));
  if (selected >= 0 && selected < list->count()) list->setCurrentRow(selected);
  reportList(std::string("main.") + mainControlName(id), items, selected);
}

void MainDialog::action(const std::string& name, const std::vector<std::string>& args) { transcriptAction(name, args); }

int MainDialog::runPronunciationDialog(std::vector<PronWord>* words, bool fromEntryEditor) {
  PronunciationDialog dialog(&logic, words, fromEntryEditor, this);
  return runSubDialog(&dialog, [&dialog] { return dialog.run(); });
}

int MainDialog::runSubDialog(QDialog* dialog, const std::function<int()>& run) {
  QDialog* outer = subDialog;
  const bool wasVisible = isVisible();
  if (wasVisible) {
    hide();
    transcriptLine("dialog main hidden");
  }
  subDialog = dialog;
  const int result = run();
  subDialog = outer;
  if (wasVisible && !ending) {
    show();
    transcriptLine("dialog main shown");
  }
  return result;
}

void MainDialog::setEnabled(int id, bool on) {
  if (QWidget* w = findChild<QWidget*>(mainControlName(id))) w->setEnabled(on);
  transcriptLine(std::string("enabled main.") + mainControlName(id) + (on ? " 1" : " 0"));
}

void MainDialog::setLevel(int value, int floor, int peak) {
  const int span = peak > floor ? peak - floor : 1;
  int percent = (value - floor) * 100 / span;
  level->setValue(percent < 0 ? 0 : percent > 100 ? 100 : percent);
}

void MainDialog::startMicTimer() { micTimer.start(); }
void MainDialog::stopMicTimer() { micTimer.stop(); }

void MainDialog::postMessage(int message) {
  QMetaObject::invokeMethod(this, [this, message] { logic.onMessage(message); }, Qt::QueuedConnection);
}

void MainDialog::runOptions() {
  hide();
  transcriptLine("dialog main hidden");
  OptionsDialog options(&logic.state(), logic.phoneEdition(), this);
  subDialog = &options;
  options.run();
  subDialog = nullptr;
  // When the program is to end (and start again or start enroll) the main dialog stays hidden.
  if (!ending && !logic.state().startAfterExit) {
    show();
    transcriptLine("dialog main shown");
  }
}

void MainDialog::closeMain() {
  ending = true;
  micTimer.stop();
  transcriptLine("dialog main closed");
  done(0);
}

void MainDialog::bringForward() {
  show();
  raise();
  activateWindow();
}

bool MainDialog::forwardActivation() {
  // The dialog on top takes the activation: the pronunciation, find and entry dialogs (also when
  // opened over an action dialog) turn their microphone on; else an open action dialog turns its
  // own on; the settings dialogs have none, and nothing happens.
  if (auto* withMic = dynamic_cast<ControlDialog*>(subDialog)) {
    withMic->listen();
    return true;
  }
  return (actionDialogs && actionDialogs->activate()) || subDialog != nullptr;
}

void MainDialog::runExit() {
  if (ending) return;
  if (logic.exitSequence()) closeMain();
  else if (actionDialogs) actionDialogs->reviewHeldMail();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  runExit();
}

void MainDialog::reject() { runExit(); }

// ---- Options ----------------------------------------------------------------------------------

OptionsDialog::OptionsDialog(NamefindState* state, bool phoneEdition, QWidget* parent)
    : QDialog(parent), logic(state), st(state), phone(phoneEdition) {
  setObjectName("options");
  resize(kPhoneWidth, kPhoneHeight);
  auto* layout = new QVBoxLayout(this);
  QPushButton* done = titleBar(this, layout, "Options");
  connect(done, &QPushButton::clicked, this, [this] { ok(); });

  auto* form = new QGridLayout;
  form->addWidget(new QLabel("User File:"), 0, 0);
  user = new QComboBox;
  user->setObjectName("user");
  form->addWidget(user, 0, 1);
  form->addWidget(new QLabel("Contacts:"), 1, 0);
  contacts = new QComboBox;
  contacts->setObjectName("contacts");
  form->addWidget(contacts, 1, 1);
  layout->addLayout(form);
  ignoreBad = new QCheckBox("Ignore bad pronunciations at StartUp");
  ignoreBad->setObjectName("ignoreBad");
  noNag = new QCheckBox("Don't nag about More Training");
  noNag->setObjectName("noNag");
  echo = new QCheckBox("Echo");
  echo->setObjectName("echo");
  layout->addWidget(ignoreBad);
  layout->addWidget(noNag);
  layout->addWidget(echo);
  auto* row = new QGridLayout;
  QPushButton* okButton = plainButton("ok", "ok");
  QPushButton* cancel = plainButton("cancel", "cancel");
  QPushButton* more = plainButton("moreOptions", "moreOptions");
  QPushButton* enroll = plainButton("enroll", "enroll");
  row->addWidget(okButton, 0, 0);
  row->addWidget(cancel, 0, 1);
  row->addWidget(more, 1, 0);
  row->addWidget(enroll, 1, 1);
  layout->addLayout(row);
  auto* info = new QLabel(
      "Choose the speaker models (.usr) you enrolled and the contacts list (.tsv) to listen for. "
      "Choosing outlook.tsv imports the contacts. enroll makes new speaker models.");
  info->setObjectName("info");
  info->setWordWrap(true);
  layout->addWidget(info, 1);

  connect(ignoreBad, &QCheckBox::clicked, this, [this](bool on) {
    logic.setIgnoreBadProns(on);
    transcriptLine(std::string("check options.ignoreBad ") + (on ? "1" : "0"));
  });
  connect(noNag, &QCheckBox::clicked, this, [this](bool on) {
    logic.setNoNag(on);
    transcriptLine(std::string("check options.noNag ") + (on ? "1" : "0"));
  });
  connect(echo, &QCheckBox::clicked, this, [this](bool on) {
    logic.setEcho(on);
    transcriptLine(std::string("check options.echo ") + (on ? "1" : "0"));
  });
  connect(user, &QComboBox::activated, this, [this](int i) {
    logic.pickUser(i);
    transcriptLine("select options.user " + std::to_string(i + 1));
  });
  connect(contacts, &QComboBox::activated, this, [this](int i) {
    logic.pickContacts(i);
    transcriptLine("select options.contacts " + std::to_string(i + 1));
  });
  connect(okButton, &QPushButton::clicked, this, [this] { ok(); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(enroll, &QPushButton::clicked, this, [this] {
    logic.enroll();
    accept();
  });
  connect(more, &QPushButton::clicked, this, [this] {
    hide();
    transcriptLine("dialog options hidden");
    DialingDialog dialog(st, phone, parentWidget());
    dialing = &dialog;
    dialog.run();
    dialing = nullptr;
    show();
    transcriptLine("dialog options shown");
  });
}

void OptionsDialog::run() {
  if (!logic.init()) return;
  for (const std::string& name : logic.userFiles) user->addItem(qs(name));
  for (const std::string& name : logic.contactFiles) contacts->addItem(qs(name));
  user->setCurrentIndex(logic.userSelected);
  contacts->setCurrentIndex(logic.contactsSelected);
  ignoreBad->setChecked(logic.ignoreBadProns());
  noNag->setChecked(logic.noNag());
  echo->setChecked(logic.echo());
  report();
  runModalDialog(this);
  transcriptLine("dialog options closed");
}

void OptionsDialog::report() {
  transcriptLine("dialog options shown");
  reportCombo("options.user", user);
  reportCombo("options.contacts", contacts);
  transcriptLine(std::string("check options.ignoreBad ") + (ignoreBad->isChecked() ? "1" : "0"));
  transcriptLine(std::string("check options.noNag ") + (noNag->isChecked() ? "1" : "0"));
  transcriptLine(std::string("check options.echo ") + (echo->isChecked() ? "1" : "0"));
}

void OptionsDialog::ok() {
  if (logic.ok()) accept();
}

// ---- Dialing Defaults -------------------------------------------------------------------------

DialingDialog::DialingDialog(NamefindState* state, bool phoneEdition, QWidget* parent)
    : QDialog(parent), logic(state, phoneEdition) {
  setObjectName("dialing");
  resize(kPhoneWidth, kPhoneHeight);
  auto* layout = new QVBoxLayout(this);
  QPushButton* done = titleBar(this, layout, "Dialing Defaults");
  connect(done, &QPushButton::clicked, this, [this] { ok(); });

  auto edit = [](const char* name) {
    auto* e = new QLineEdit;
    e->setObjectName(name);
    return e;
  };
  prefix1 = edit("prefix1");
  prefix2 = edit("prefix2");
  areaCode = edit("areaCode");
  prune = edit("pruneThresh");
  alarm = edit("alarm");
  radio1 = new QRadioButton("Dialing Prefix1:");
  radio1->setObjectName("radio1");
  radio1->setAutoExclusive(false);
  radio2 = new QRadioButton("Dialing Prefix2:");
  radio2->setObjectName("radio2");
  radio2->setAutoExclusive(false);
  localPrefix = new QComboBox;
  localPrefix->setObjectName("localPrefix");
  for (const char* item : DialingLogic::kLocalItems) localPrefix->addItem(item);
  service = new QComboBox;
  service->setObjectName("service");
  QPushButton* kbd = plainButton("kbd", "kbd");
  kbd->setCheckable(true);

  auto* form = new QGridLayout;
  form->addWidget(radio1, 0, 0);
  form->addWidget(prefix1, 0, 1);
  form->addWidget(radio2, 1, 0);
  form->addWidget(prefix2, 1, 1);
  form->addWidget(new QLabel("Local AreaCode:"), 2, 0);
  form->addWidget(areaCode, 2, 1);
  form->addWidget(new QLabel("Local AreaCode uses prefix:"), 3, 0);
  form->addWidget(localPrefix, 3, 1);
  form->addWidget(new QLabel("pruneThresh:"), 4, 0);
  form->addWidget(prune, 4, 1);
  form->addWidget(new QLabel("apptAlarmMin:"), 5, 0);
  form->addWidget(alarm, 5, 1);
  form->addWidget(new QLabel("mail Service:"), 6, 0);
  form->addWidget(service, 6, 1);
  layout->addLayout(form);
  auto* explanation = new QLabel(DialingLogic::kExplanation);
  explanation->setObjectName("explanation");
  explanation->setWordWrap(true);
  layout->addWidget(explanation, 1);
  auto* row = new QHBoxLayout;
  QPushButton* okButton = plainButton("ok", "ok");
  row->addWidget(okButton);
  row->addWidget(kbd);
  layout->addLayout(row);

  connect(radio1, &QRadioButton::clicked, this, [this] {
    logic.tapRadio(1);
    showRadios();
  });
  connect(radio2, &QRadioButton::clicked, this, [this] {
    logic.tapRadio(2);
    showRadios();
  });
  connect(okButton, &QPushButton::clicked, this, [this] { ok(); });
  // "add new service" (standard edition): the service of a "Namefind" message in an Outbox.
  connect(service, &QComboBox::activated, this, [this, state, phoneEdition](int i) {
    transcriptLine("select dialing.service " + std::to_string(i + 1));
    if (phoneEdition || ss(service->itemText(i)) != "add new service") return;
    spyOnOutbox(state, [](const std::string& n, const std::vector<std::string>& a) { transcriptAction(n, a); });
    logic.fillServices();
    service->clear();
    for (const std::string& s : logic.services) service->addItem(qs(s));
    service->setCurrentIndex(logic.serviceSelected);
    reportCombo("dialing.service", service);
  });
  // The soft input panel has no counterpart here: the toggle only changes its own state.
}

void DialingDialog::showRadios() {
  radio1->setChecked(logic.longDistance == 1);
  radio2->setChecked(logic.longDistance == 2);
  transcriptLine("check dialing.radio1 " + std::to_string(logic.longDistance == 1));
  transcriptLine("check dialing.radio2 " + std::to_string(logic.longDistance == 2));
}

void DialingDialog::run() {
  logic.init();
  prefix1->setText(qs(logic.prefix1));
  prefix2->setText(qs(logic.prefix2));
  areaCode->setText(qs(logic.areaCode));
  prune->setText(qs(logic.pruneText));
  alarm->setText(qs(logic.alarmText));
  localPrefix->setCurrentIndex(logic.localItem);
  for (const std::string& s : logic.services) service->addItem(qs(s));
  service->setCurrentIndex(logic.serviceSelected);
  transcriptLine("dialog dialing shown");
  for (QLineEdit* e : {prefix1, prefix2, areaCode, prune, alarm})
    transcriptLine("text dialing." + ss(e->objectName()) + " " + quoted(ss(e->text())));
  showRadios();
  reportCombo("dialing.localPrefix", localPrefix);
  reportCombo("dialing.service", service);
  runModalDialog(this);
  transcriptLine("dialog dialing closed");
}

void DialingDialog::ok() {
  logic.prefix1 = ss(prefix1->text());
  logic.prefix2 = ss(prefix2->text());
  logic.areaCode = ss(areaCode->text());
  logic.pruneText = ss(prune->text());
  logic.alarmText = ss(alarm->text());
  logic.localItem = localPrefix->currentIndex();
  logic.serviceSelected = service->currentIndex();
  if (logic.ok()) accept();
}

}  // namespace vlm
