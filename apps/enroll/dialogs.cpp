// enroll's dialogs: the main dialog (101), "Save .Usr File" (104) and "Save Unknown Prons" (105).
#include "apps/enroll/dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <cstring>

#include "apps/common/qtscript.h"
#include "apps/common/transcript.h"
#include "audio/waveio.h"

namespace vlm {

namespace {

// The script's and the transcript's name of a control of the main dialog.
const char* controlName(int id) {
  switch (id) {
    case kIdBegin: return "begin";
    case kIdUsers: return "users";
    case kIdUndo: return "unDo";
    case kIdEnrollMic: return "mic";
    case kIdWarpBin: return "warpBin";
    case kIdPrompt: return "prompt";
    case kIdSay: return "say";
    case kIdEnrollLevel: return "level";
    case kIdMicState: return "micState";
    case kIdSaveUserButton: return "saveUser";
    case kIdAcceptPron: return "acceptPron";
    case kIdExit: return "exit";
    case kIdPlayPron: return "playPron";
    case kIdSkipEnrol: return "skipEnrol";
    case kIdProgress: return "progress";
    case kIdPronEdit: return "pron";
    case kIdPronList: return "prons";
  }
  return "unknown";
}

QString qs(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }
std::string ss(const QString& s) { return s.toLocal8Bit().toStdString(); }

QPushButton* plainButton(const char* name, const char* caption) {
  auto* b = new QPushButton(caption);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

constexpr int kPhoneWidth = 320;
constexpr int kPhoneHeight = 480;

// The file dialogs 104 and 105: a list of files, an edit field, an accept button and Cancel.
class FileDialog : public QDialog {
 public:
  FileDialog(QWidget* parent, const char* name, const char* title, const std::vector<std::string>& files,
             const char* start, const char* acceptName, const char* acceptCaption)
      : QDialog(parent), dialogName(name) {
    setObjectName(name);
    setWindowTitle(title);
    resize(kPhoneWidth, kPhoneHeight);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString("<b>%1</b>").arg(title)));
    list = new QListWidget;
    list->setObjectName("files");
    for (const std::string& f : files) list->addItem(qs(f));
    layout->addWidget(list, 1);
    edit = new QLineEdit(start);
    edit->setObjectName("name");
    layout->addWidget(edit);
    auto* row = new QHBoxLayout;
    acceptButton = plainButton(acceptName, acceptCaption);
    kbd = plainButton("kbd", "kbd");
    auto* cancel = plainButton("cancel", "Cancel");
    row->addWidget(acceptButton);
    row->addWidget(kbd);
    row->addWidget(cancel);
    layout->addLayout(row);
    connect(list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
      edit->setText(item->text());
      transcriptLine(dialogName + ".files select " + std::to_string(list->row(item) + 1));
    });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(kbd, &QPushButton::clicked, this, [this] { edit->setFocus(); });
    transcriptList(dialogName + ".files", files, -1);
    transcriptLine("text " + dialogName + ".name " + quoted(start));
  }
  int run() {
    transcriptLine("dialog " + dialogName + " shown");
    const int r = runModalDialog(this);
    transcriptLine("dialog " + dialogName + " closed");
    return r;
  }
  std::string text() const { return ss(edit->text()); }
  void clearEdit() {
    edit->clear();
    transcriptLine("text " + dialogName + ".name \"\"");
  }

  std::string dialogName;
  QListWidget* list;
  QLineEdit* edit;
  QPushButton* acceptButton;
  QPushButton* kbd;
};

}  // namespace

EnrollDialog::EnrollDialog(const std::string& dataDir) : logic(this, dataDir) {
  setObjectName("main");
  setWindowTitle("Enrolling");
  resize(kPhoneWidth, kPhoneHeight);
  auto* layout = new QVBoxLayout(this);

  auto* top = new QHBoxLayout;
  users = new QComboBox;
  users->setObjectName("users");
  users->setEditable(true);
  controls[kIdUsers] = users;
  top->addWidget(users, 1);
  top->addWidget(button(kIdBegin, "Begin"));
  layout->addLayout(top);

  auto* say = new QLabel("Say:");
  say->setObjectName("say");
  controls[kIdSay] = say;
  auto* prompt = new QLabel;
  prompt->setObjectName("prompt");
  prompt->setWordWrap(true);
  QFont big = prompt->font();
  big.setPointSize(big.pointSize() + 4);
  prompt->setFont(big);
  controls[kIdPrompt] = prompt;
  layout->addWidget(say);
  layout->addWidget(prompt, 1);

  auto* stateRow = new QHBoxLayout;
  for (int id : {kIdWarpBin, kIdProgress, kIdMicState}) {
    auto* label = new QLabel(id == kIdProgress ? " 0% done" : "");
    label->setObjectName(controlName(id));
    label->setWordWrap(id == kIdMicState);
    controls[id] = label;
    stateRow->addWidget(label, id == kIdMicState ? 1 : 0);
  }
  layout->addLayout(stateRow);
  level = new QProgressBar;
  level->setObjectName("level");
  level->setRange(0, 100);
  level->setTextVisible(false);
  controls[kIdEnrollLevel] = level;
  layout->addWidget(level);

  pronList = new QListWidget;
  pronList->setObjectName("prons");
  controls[kIdPronList] = pronList;
  pronEdit = new QLineEdit;
  pronEdit->setObjectName("pron");
  controls[kIdPronEdit] = pronEdit;
  layout->addWidget(pronList, 1);
  layout->addWidget(pronEdit);

  auto* grid = new QGridLayout;
  grid->addWidget(button(kIdEnrollMic, "mic"), 0, 0);
  grid->addWidget(button(kIdUndo, "unDo"), 0, 1);
  grid->addWidget(button(kIdSaveUserButton, "SaveUser"), 0, 2);
  grid->addWidget(button(kIdSkipEnrol, "skipEnrol"), 1, 0);
  grid->addWidget(button(kIdPlayPron, "playPron"), 1, 1);
  grid->addWidget(button(kIdAcceptPron, "acceptPron"), 1, 2);
  grid->addWidget(button(kIdExit, "Exit"), 2, 2);
  layout->addLayout(grid);

  // Before Begin only the user list, Begin and Exit show.
  for (int id : {kIdUndo, kIdEnrollMic, kIdWarpBin, kIdPrompt, kIdSay, kIdEnrollLevel, kIdMicState, kIdProgress,
                 kIdSaveUserButton, kIdAcceptPron, kIdPlayPron, kIdSkipEnrol, kIdPronEdit, kIdPronList})
    controls[id]->hide();

  auto on = [this](int id, auto f) { connect(static_cast<QPushButton*>(controls[id]), &QPushButton::clicked, this, f); };
  on(kIdBegin, [this] { logic.begin(ss(users->currentText())); });
  on(kIdEnrollMic, [this] { logic.toggleMic(); });
  on(kIdUndo, [this] { logic.undo(); });
  on(kIdSaveUserButton, [this] { logic.saveUser(); });
  on(kIdSkipEnrol, [this] { logic.skipEnrol(); });
  on(kIdPlayPron, [this] { logic.playPron(ss(pronEdit->text())); });
  on(kIdAcceptPron, [this] { logic.acceptPron(ss(pronEdit->text())); });
  on(kIdExit, [this] { runExit(); });
  connect(pronList, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    transcriptLine("select main.prons " + std::to_string(pronList->row(item) + 1));
    logic.choosePron(pronList->row(item));
  });
  connect(users, &QComboBox::activated, this,
          [this](int i) { transcriptLine("select main.users " + std::to_string(i + 1)); });
  pollTimer.setInterval(20);
  connect(&pollTimer, &QTimer::timeout, this, [this] { logic.timerTick(); });
}

QPushButton* EnrollDialog::button(int id, const char* caption) {
  QPushButton* b = plainButton(controlName(id), caption);
  controls[id] = b;
  return b;
}

QWidget* EnrollDialog::control(int id) const {
  auto it = controls.find(id);
  return it == controls.end() ? nullptr : it->second;
}

void EnrollDialog::begin() {
  setWindowModality(Qt::ApplicationModal);
  show();
  transcriptLine("dialog main shown");
  QMetaObject::invokeMethod(this, [this] { logic.initDialog(); }, Qt::QueuedConnection);
}

void EnrollDialog::setText(int id, const std::string& text) {
  QWidget* w = control(id);
  if (auto* b = qobject_cast<QPushButton*>(w)) b->setText(qs(text));
  else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(qs(text));
  else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(qs(text));
  transcriptLine(std::string("text main.") + controlName(id) + " " + quoted(text));
}

void EnrollDialog::setList(int id, const std::vector<std::string>& items, int selected) {
  if (id == kIdUsers) {
    users->clear();
    for (const std::string& item : items) users->addItem(qs(item));
    users->setCurrentIndex(selected);
  } else if (id == kIdPronList) {
    pronList->clear();
    for (const std::string& item : items) pronList->addItem(qs(item));
    if (selected >= 0) pronList->setCurrentRow(selected);
  } else {
    return;
  }
  transcriptList(std::string("main.") + controlName(id), items, selected);
}

void EnrollDialog::setVisible(int id, bool on) {
  QWidget* w = control(id);
  if (!w || w->isVisibleTo(this) == on) return;
  w->setVisible(on);
  transcriptLine(std::string("visible main.") + controlName(id) + (on ? " 1" : " 0"));
}

void EnrollDialog::setLevel(int value, int floor, int peak) {
  const int span = peak > floor ? peak - floor : 1;
  const int percent = (value - floor) * 100 / span;
  level->setValue(percent < 0 ? 0 : percent > 100 ? 100 : percent);
}

void EnrollDialog::postMessage(int message) {
  QMetaObject::invokeMethod(this, [this, message] { logic.onMessage(message); }, Qt::QueuedConnection);
}

void EnrollDialog::setWaitCursor(bool on) {
  if (on) QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void EnrollDialog::bringForward() {
  show();
  raise();
  activateWindow();
}

void EnrollDialog::closeMain() {
  if (ending) return;
  ending = true;
  pollTimer.stop();
  transcriptLine("dialog main closed");
  done(0);
}

void EnrollDialog::runSaveDialog(const std::vector<std::string>& files) {
  FileDialog dialog(this, "save", "Save .Usr File", files, "default.usr", "saveIt", "Save It!");
  connect(dialog.acceptButton, &QPushButton::clicked, &dialog, [this, &dialog] {
    switch (logic.saveIt(dialog.text())) {
      case EnrollApp::eSaveRefused: dialog.clearEdit(); break;
      case EnrollApp::eSaved: transcriptAction("saved", {logic.saveName()}); dialog.accept(); break;
      case EnrollApp::eSaveFailed: dialog.reject(); break;
    }
  });
  dialog.run();
}

std::string EnrollDialog::runPronsDialog(const std::vector<std::string>& files) {
  FileDialog dialog(this, "prons", "Save Unknown Prons", files, "default.voc", "addProns", "AddProns");
  std::string chosen;
  connect(dialog.acceptButton, &QPushButton::clicked, &dialog, [this, &dialog, &chosen] {
    if (!logic.pronsTargetOk(dialog.text())) return;
    chosen = dialog.text();
    dialog.accept();
  });
  dialog.run();
  return chosen;
}

void EnrollDialog::playSamples(const short* samples, int count) {
  if (count <= 0) return;
  // The device layer owns (and frees) the block it plays.
  char* data = new char[static_cast<size_t>(count) * 2];
  std::memcpy(data, samples, static_cast<size_t>(count) * 2);
  waveIoBeep(&kDefaultWaveFormat, data, static_cast<unsigned>(count) * 2, 0);
}

void EnrollDialog::runExit() {
  if (ending) return;
  logic.exitSequence();
}

void EnrollDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  runExit();
}

void EnrollDialog::reject() { runExit(); }

}  // namespace vlm
