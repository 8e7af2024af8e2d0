// The pronunciation, find and entry dialogs.
#include "apps/namefind/entrydialogs.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "apps/common/qtscript.h"
#include "apps/common/transcript.h"
#include "apps/namefind/app.h"
#include "platform/msgbox.h"

namespace vlm {

namespace {

QString qs(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }
std::string ss(const QString& s) { return s.toLocal8Bit().toStdString(); }

constexpr int kPhoneWidth = 320;
constexpr int kPhoneHeight = 480;

}  // namespace

// ---- the common frame ---------------------------------------------------------------------------

ControlDialog::ControlDialog(const char* name, const char* title, QWidget* parent) : QDialog(parent), dialogName(name) {
  setObjectName(name);
  setWindowTitle(title);
  resize(kPhoneWidth, kPhoneHeight);
  timer.setInterval(20);
}

QPushButton* ControlDialog::addButton(int id, const char* name, const char* caption) {
  auto* b = new QPushButton(caption);
  b->setObjectName(name);
  b->setAutoDefault(false);
  if (id) controls[id] = b;
  return b;
}

QListWidget* ControlDialog::addList(int id, const char* name) {
  auto* l = new QListWidget;
  l->setObjectName(name);
  controls[id] = l;
  return l;
}

QLineEdit* ControlDialog::addEdit(int id, const char* name) {
  auto* e = new QLineEdit;
  e->setObjectName(name);
  controls[id] = e;
  return e;
}

QLabel* ControlDialog::addLabel(int id, const char* name) {
  auto* l = new QLabel;
  l->setObjectName(name);
  controls[id] = l;
  return l;
}

QWidget* ControlDialog::addUttButtons(const std::function<void(int)>& drop) {
  auto* box = new QWidget;
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(0, 0, 0, 0);
  for (int i = 0; i < kSpelledUtterances; i++) {
    const std::string name = "utt" + std::to_string(i + 1);
    QPushButton* b = addButton(kIdUtt1 + i, name.c_str(), "");
    b->setVisible(false);
    grid->addWidget(b, i / 5, i % 5);
    connect(b, &QPushButton::clicked, this, [drop, i] { drop(i); });
  }
  return box;
}

void ControlDialog::setText(int id, const std::string& text) {
  auto it = controls.find(id);
  if (it == controls.end()) return;
  if (auto* b = qobject_cast<QPushButton*>(it->second)) b->setText(qs(text));
  else if (auto* l = qobject_cast<QLabel*>(it->second)) l->setText(qs(text));
  else if (auto* e = qobject_cast<QLineEdit*>(it->second)) {
    settingText = true;
    e->setText(qs(text));
    settingText = false;
  }
  transcriptLine("text " + dialogName + "." + ss(it->second->objectName()) + " " + quoted(text));
}

void ControlDialog::setList(int id, const std::vector<std::string>& items, int selected) {
  auto it = controls.find(id);
  auto* list = it == controls.end() ? nullptr : qobject_cast<QListWidget*>(it->second);
  if (list == nullptr) return;
  list->clear();
  for (const std::string& item : items) list->addItem(qs(item));
  if (selected >= 0 && selected < list->count()) list->setCurrentRow(selected);
  transcriptList(dialogName + "." + ss(list->objectName()), items, selected);
}

void ControlDialog::setEnabled(int id, bool on) {
  auto it = controls.find(id);
  if (it == controls.end()) return;
  it->second->setEnabled(on);
  transcriptLine("enabled " + dialogName + "." + ss(it->second->objectName()) + (on ? " 1" : " 0"));
}

void ControlDialog::setVisible(int id, bool on) {
  auto it = controls.find(id);
  if (it == controls.end()) return;
  if (it->second->isVisible() != on || !on) it->second->setVisible(on);
}

void ControlDialog::showHelp(const std::string& text) {
  transcriptLine("dialog help shown");
  messageBox(text.c_str(), "Help", eBoxOk, eIconInformation, eAnswerOk);
}

void ControlDialog::played(const std::string& spelling) { transcriptAction("play-pron", {spelling}); }

int ControlDialog::run() {
  transcriptLine("dialog " + dialogName + " shown");
  const int result = runModalDialog(this);
  timer.stop();
  transcriptLine("dialog " + dialogName + " closed");
  return result;
}

// ---- "Say..." -----------------------------------------------------------------------------------

PronunciationDialog::PronunciationDialog(NamefindApp* app, std::vector<PronWord>* words, bool fromEntryEditor,
                                         QWidget* parent)
    : ControlDialog("pron", "Say...", parent), pron(app, this, words, fromEntryEditor) {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  QListWidget* wordList = addList(kIdPronWords, "words");
  QListWidget* current = addList(kIdPronList, "prons");
  left->addWidget(wordList, 1);
  left->addWidget(current, 1);
  top->addLayout(left, 1);
  QListWidget* choiceList = addList(kIdPronChoices, "choices");
  top->addWidget(choiceList, 1);
  layout->addLayout(top, 1);

  auto* editRow = new QHBoxLayout;
  QLineEdit* edit = addEdit(kIdPronEdit, "edit");
  QPushButton* kbd = addButton(0, "kbd", "kbd");
  kbd->setCheckable(true);
  editRow->addWidget(edit, 1);
  editRow->addWidget(kbd);
  layout->addLayout(editRow);

  auto* sayRow = new QHBoxLayout;
  QLabel* say = addLabel(kIdPronSay, "say");
  QLabel* wordToSay = addLabel(kIdPronWordToSay, "wordToSay");
  QPushButton* mic = addButton(kIdPronMic, "mic", "mic is Off");
  sayRow->addWidget(say);
  sayRow->addWidget(wordToSay, 1);
  sayRow->addWidget(mic);
  layout->addLayout(sayRow);

  auto* grid = new QGridLayout;
  QPushButton* train = addButton(kIdPronTrain, "train", "train");
  QPushButton* play = addButton(kIdPronPlay, "playPron", "playPron");
  QPushButton* acceptButton = addButton(kIdPronAccept, "acceptPron", "acceptPron");
  QPushButton* del = addButton(kIdPronDel, "delPron", "delPron");
  QPushButton* help = addButton(0, "help", "help");
  QPushButton* cancel = addButton(0, "cancel", "cancel");
  QPushButton* okButton = addButton(0, "ok", "ok");
  grid->addWidget(train, 0, 0);
  grid->addWidget(play, 0, 1);
  grid->addWidget(acceptButton, 0, 2);
  grid->addWidget(del, 0, 3);
  grid->addWidget(help, 1, 0);
  grid->addWidget(cancel, 1, 2);
  grid->addWidget(okButton, 1, 3);
  layout->addLayout(grid);

  connect(wordList, &QListWidget::itemClicked, this, [this, wordList](QListWidgetItem* item) {
    transcriptLine("select pron.words " + std::to_string(wordList->row(item) + 1));
    pron.tapWord(wordList->row(item));
  });
  connect(current, &QListWidget::itemClicked, this, [this, current](QListWidgetItem* item) {
    transcriptLine("select pron.prons " + std::to_string(current->row(item) + 1));
    pron.chooseCurrent(current->row(item));
  });
  connect(choiceList, &QListWidget::itemClicked, this, [this, choiceList](QListWidgetItem* item) {
    transcriptLine("select pron.choices " + std::to_string(choiceList->row(item) + 1));
    pron.chooseChoice(choiceList->row(item));
  });
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!settingText) pron.typed(ss(text));
  });
  connect(mic, &QPushButton::clicked, this, [this] { pron.toggleMic(); });
  connect(&timer, &QTimer::timeout, this, [this] { pron.timerTick(); });
  connect(train, &QPushButton::clicked, this, [this] { pron.trainWord(); });
  connect(play, &QPushButton::clicked, this, [this] { pron.playPron(); });
  connect(acceptButton, &QPushButton::clicked, this, [this] { pron.acceptPron(); });
  connect(del, &QPushButton::clicked, this, [this] { pron.delPron(); });
  connect(help, &QPushButton::clicked, this, [this] { pron.help(); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(okButton, &QPushButton::clicked, this, [this] {
    if (pron.ok()) accept();
  });
  QMetaObject::invokeMethod(this, [this] { pron.open(); }, Qt::QueuedConnection);
}

// ---- "Find It" ----------------------------------------------------------------------------------

FindDialog::FindDialog(NamefindApp* app, QWidget* parent) : ControlDialog("find", "Find It", parent), find(app, this) {
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel("<b>Find It</b>"), 1);
  QPushButton* done = addButton(0, "done", "Done");
  bar->addWidget(done);
  layout->addLayout(bar);
  QListWidget* fields = addList(kIdFindFields, "fields");
  QListWidget* results = addList(kIdFindResults, "results");
  layout->addWidget(fields, 1);
  auto* editRow = new QHBoxLayout;
  QLabel* label = addLabel(kIdSpellLabel, "label");
  QLineEdit* edit = addEdit(kIdSpellEdit, "edit");
  QPushButton* mic = addButton(kIdSpellMic, "mic", "mic is Off");
  editRow->addWidget(label);
  editRow->addWidget(edit, 1);
  editRow->addWidget(mic);
  layout->addLayout(editRow);
  layout->addWidget(addUttButtons([this](int i) {
    find.spelling().drop(i);
    find.spellingChanged();
  }));
  layout->addWidget(results, 2);

  connect(done, &QPushButton::clicked, this, [this] { reject(); });
  connect(fields, &QListWidget::itemClicked, this, [this, fields](QListWidgetItem* item) {
    transcriptLine("select find.fields " + std::to_string(fields->row(item) + 1));
    find.selectField(fields->row(item));
  });
  connect(results, &QListWidget::itemClicked, this, [this, results](QListWidgetItem* item) {
    transcriptLine("select find.results " + std::to_string(results->row(item) + 1));
    const int entry = find.choose(results->row(item));
    if (entry >= 0) {
      chosen = entry;
      accept();
    }
  });
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!settingText) find.typed(ss(text));
  });
  connect(mic, &QPushButton::clicked, this, [this] { find.spelling().toggleMic(); });
  connect(&timer, &QTimer::timeout, this, [this] {
    if (find.spelling().timerTick()) find.spellingChanged();
  });
  QMetaObject::invokeMethod(this, [this] { find.open(); }, Qt::QueuedConnection);
}

// ---- "EditContact" ------------------------------------------------------------------------------

EntryDialog::EntryDialog(NamefindApp* a, NamefindView* view, bool editing, QWidget* parent)
    : ControlDialog("entry", "EditContact", parent), app(a), mainView(view), entry(a, this, editing) {
  auto* layout = new QVBoxLayout(this);
  auto* lists = new QHBoxLayout;
  QListWidget* fields = addList(kIdEntryFields, "fields");
  QListWidget* values = addList(kIdEntryValues, "values");
  lists->addWidget(fields, 1);
  lists->addWidget(values, 1);
  layout->addLayout(lists, 2);
  auto* editRow = new QHBoxLayout;
  QLabel* label = addLabel(kIdSpellLabel, "label");
  label->setText("lastName:");
  QLineEdit* edit = addEdit(kIdSpellEdit, "edit");
  editRow->addWidget(label);
  editRow->addWidget(edit, 1);
  layout->addLayout(editRow);
  layout->addWidget(addUttButtons([this](int i) {
    entry.spelling().drop(i);
    entry.spellingChanged();
  }));
  for (const char* line : kSpellingExplanation) {
    auto* l = new QLabel(line);
    l->setObjectName("explanation");
    layout->addWidget(l);
  }
  auto* row = new QHBoxLayout;
  QPushButton* clear = addButton(0, "clearField", "clearField");
  QPushButton* kbd = addButton(0, "kbd", "kbd");
  kbd->setCheckable(true);
  QPushButton* mic = addButton(kIdSpellMic, "mic", "mic is Off");
  QPushButton* cancel = addButton(0, "cancel", "cancel");
  QPushButton* okButton = addButton(0, "ok", "ok");
  QPushButton* switchTo = addButton(0, "switchTo", "switchTo");
  for (QPushButton* b : {clear, kbd, mic, switchTo, cancel, okButton}) row->addWidget(b);
  layout->addLayout(row);

  connect(fields, &QListWidget::itemClicked, this, [this, fields](QListWidgetItem* item) {
    transcriptLine("select entry.fields " + std::to_string(fields->row(item) + 1));
    entry.selectField(fields->row(item));
  });
  connect(values, &QListWidget::itemClicked, this, [this, values](QListWidgetItem* item) {
    transcriptLine("select entry.values " + std::to_string(values->row(item) + 1));
    entry.selectField(values->row(item));
  });
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!settingText) entry.typed(ss(text));
  });
  connect(clear, &QPushButton::clicked, this, [this] { entry.clearField(); });
  connect(mic, &QPushButton::clicked, this, [this] { entry.spelling().toggleMic(); });
  connect(&timer, &QTimer::timeout, this, [this] {
    if (entry.spelling().timerTick()) entry.spellingChanged();
  });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(okButton, &QPushButton::clicked, this, [this] { ok(); });
  // The test launch of a command-list row's program (its window class for "switch to").
  connect(switchTo, &QPushButton::clicked, this, [this] {
    if (entry.spelling().micOn()) entry.spelling().toggleMic();
    entry.switchTo([](const std::string& n, const std::vector<std::string>& a) { transcriptAction(n, a); });
  });
  QMetaObject::invokeMethod(this, [this] { entry.open(); }, Qt::QueuedConnection);
}

void EntryDialog::ok() {
  if (entry.spelling().micOn()) entry.spelling().toggleMic();
  // Names the dictionary lacks get their pronunciations first.
  const std::vector<std::string> names = entry.unknownNames();
  if (!names.empty()) {
    std::vector<PronWord> list;
    for (const std::string& n : names) list.push_back({n, {}});
    hide();
    if (mainView->runPronunciationDialog(&list, true)) app->addPronunciations(list);
    show();
  }
  const int shown = entry.accept();
  transcriptAction("entry-saved", {std::to_string(shown + 1)});
  accept();
}

}  // namespace vlm
