// namefind's action dialogs (dial, mail, voice note, appointment).
#include "apps/namefind/actiondialogs.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <sys/stat.h>

#include "apps/common/qtscript.h"
#include "apps/common/transcript.h"
#include "apps/namefind/commands.h"

namespace vlm {

namespace {

QString qs(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }
std::string ss(const QString& s) { return s.toLocal8Bit().toStdString(); }

QPushButton* makeButton(const char* name, const char* caption) {
  auto* b = new QPushButton(caption);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

QLineEdit* makeEdit(const char* name) {
  auto* e = new QLineEdit;
  e->setObjectName(name);
  return e;
}

// The caption row of a full-screen dialog: its title and Done.
QPushButton* titleRow(QDialog* dialog, QVBoxLayout* layout, const QString& title, QLabel** caption = nullptr) {
  dialog->setWindowTitle(title);
  auto* bar = new QHBoxLayout;
  auto* label = new QLabel(title);
  label->setObjectName("title");
  auto* done = makeButton("done", "Done");
  bar->addWidget(label, 1);
  bar->addWidget(done);
  layout->addLayout(bar);
  if (caption) *caption = label;
  return done;
}

void showText(const std::string& dialog, QWidget* w, const std::string& text) {
  if (auto* b = qobject_cast<QPushButton*>(w)) b->setText(qs(text));
  else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(qs(text));
  else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(qs(text));
  transcriptLine("text " + dialog + "." + ss(w->objectName()) + " " + quoted(text));
}

void reportList(const std::string& name, const std::vector<std::string>& items) {
  std::string line = "list " + name + " " + std::to_string(items.size());
  for (const std::string& item : items) line += " " + quoted(item);
  transcriptLine(line);
}

constexpr int kWidth = 320;
constexpr int kHeight = 480;
constexpr int kSpeechTickMs = 20;
constexpr int kRecordTickMs = 25;

// ---- dial -------------------------------------------------------------------------------------

class DialDialog : public QDialog {
 public:
  DialDialog(DialLogic* logic, QWidget* parent) : QDialog(parent), logic(logic) {
    setObjectName("dial");
    resize(kWidth, kHeight / 2);
    auto* layout = new QVBoxLayout(this);
    QPushButton* done = titleRow(this, layout, qs(logic->title()), &caption);
    connect(done, &QPushButton::clicked, this, [this] { cancel(); });
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Dial:"));
    number = makeEdit("number");
    number->setReadOnly(true);
    row->addWidget(number, 1);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    prefix1 = makeButton("prefix1", "");
    prefix2 = makeButton("prefix2", "");
    area = makeButton("areaCode", "");
    buttons->addWidget(prefix1);
    buttons->addWidget(prefix2);
    buttons->addWidget(area);
    layout->addLayout(buttons);
    auto* modes = new QHBoxLayout;
    const char* names[] = {"tones", "voice", "cell"};
    for (int i = 0; i < 3; i++) {
      radios[i] = new QRadioButton(names[i]);
      radios[i]->setObjectName(names[i]);
      modes->addWidget(radios[i]);
      connect(radios[i], &QRadioButton::clicked, this, [this, i] {
        this->logic->tapMode(i);
        showMode();
      });
    }
    layout->addLayout(modes);
    auto* bottom = new QHBoxLayout;
    cancelButton = makeButton("cancel", "cancel");
    pause = makeButton("pause", "pause");
    bottom->addWidget(cancelButton);
    bottom->addWidget(pause);
    layout->addLayout(bottom);
    layout->addStretch(1);
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancel(); });
    connect(pause, &QPushButton::clicked, this, [this] { pauseOrResume(); });
    connect(prefix1, &QPushButton::clicked, this, [this] {
      this->logic->tapPrefix(1);
      showParts();
    });
    connect(prefix2, &QPushButton::clicked, this, [this] {
      this->logic->tapPrefix(2);
      showParts();
    });
    connect(area, &QPushButton::clicked, this, [this] {
      this->logic->tapArea();
      showParts();
    });
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, [this] { tick(); });
  }

  void run() {
    transcriptLine("dialog dial shown");
    showText("dial", caption, logic->title());
    showParts();
    showMode();
    timer.start(DialLogic::kFirstTickMs);
    runModalDialog(this);
    timer.stop();
    transcriptLine("dialog dial closed");
  }

  // Activation: "pause" while it shows, else "cancel".
  void activate() {
    if (pause->isVisible() && !logic->dialling()) {
      if (!logic->paused) pauseOrResume();
    } else {
      cancel();
    }
  }

 private:
  void showParts() {
    for (auto [button, text] : {std::pair<QPushButton*, std::string>{prefix1, logic->prefixButton(1)},
                                {prefix2, logic->prefixButton(2)}, {area, logic->areaButton()}}) {
      button->setVisible(!text.empty());
      if (!text.empty()) showText("dial", button, text);
    }
    showText("dial", number, logic->composed());
  }
  void showMode() {
    for (int i = 0; i < 3; i++) radios[i]->setChecked(logic->mode() == i);
    transcriptLine("check dial." + std::string(logic->mode() == 0 ? "tones" : logic->mode() == 1 ? "voice" : "cell") +
                   " 1");
  }
  void pauseOrResume() {
    const int next = logic->pauseOrResume();
    showText("dial", pause, logic->pauseCaption());
    if (logic->countdown == 9) showText("dial", caption, logic->title());
    if (next > 0) timer.start(next);
    else timer.stop();
  }
  void cancel() {
    timer.stop();
    transcriptAction("dial-cancelled", {logic->composed()});
    done(0);
  }
  void tick() {
    const bool wasDialling = logic->dialling();
    const int next = logic->tick();
    if (!wasDialling) {
      showText("dial", caption, logic->title());
      if (logic->dialling()) {
        // Dialling: only the number stays.
        for (QWidget* w : std::initializer_list<QWidget*>{prefix1, prefix2, area, radios[0], radios[1], radios[2],
                                                          cancelButton, pause})
          w->hide();
        showText("dial", number, logic->dialString());
      }
    }
    if (next > 0) timer.start(next);
    else done(1);
  }

  DialLogic* logic;
  QLabel* caption = nullptr;
  QLineEdit* number;
  QPushButton *prefix1, *prefix2, *area, *cancelButton, *pause;
  QRadioButton* radios[3];
  QTimer timer;
};

// ---- voice note -------------------------------------------------------------------------------

class VoiceNoteDialog : public QDialog {
 public:
  VoiceNoteDialog(WavChannel* channel, const std::string& path, QWidget* parent)
      : QDialog(parent), logic(channel, path) {
    setObjectName("voiceNote");
    resize(kWidth, kHeight / 2);
    auto* layout = new QVBoxLayout(this);
    QPushButton* done = titleRow(this, layout, "Create Voice Attachment");
    auto* row = new QHBoxLayout;
    QPushButton* erase = makeButton("erase", "erase");
    QPushButton* ok = makeButton("ok", "ok");
    mic = makeButton("mic", "mic is Off");
    QPushButton* play = makeButton("play", "play");
    for (QPushButton* b : {erase, ok, mic, play}) row->addWidget(b);
    layout->addLayout(row);
    layout->addStretch(1);
    connect(done, &QPushButton::clicked, this, [this] { close(); });
    connect(ok, &QPushButton::clicked, this, [this] { close(); });
    connect(mic, &QPushButton::clicked, this, [this] { toggle(); });
    connect(play, &QPushButton::clicked, this, [this] {
      stopped();
      transcriptAction("voice-note-played", {logic.path(), logic.play() ? "1" : "0"});
    });
    connect(erase, &QPushButton::clicked, this, [this] {
      logic.erase();
      stopped();
      transcriptAction("voice-note-erased", {logic.path()});
    });
    timer.setInterval(kRecordTickMs);
    connect(&timer, &QTimer::timeout, this, [this] { logic.poll(); });
  }
  void run() {
    transcriptLine("dialog voiceNote shown");
    runModalDialog(this);
    if (logic.recording()) toggle();
    transcriptLine("dialog voiceNote closed");
  }
  void activate() {
    if (!logic.recording()) toggle();
  }

 private:
  void close() {
    if (logic.recording()) toggle();
    done(1);
  }
  void toggle() {
    const bool was = logic.recording();
    const bool ok = logic.toggle();
    if (logic.recording()) {
      timer.start();
      showText("voiceNote", mic, "mic is On");
      return;
    }
    stopped();
    if (was && ok) {
      struct stat s{};
      const long long bytes = ::stat(logic.path().c_str(), &s) == 0 ? static_cast<long long>(s.st_size) : 0;
      transcriptAction("voice-note-recorded", {logic.path(), std::to_string(bytes)});
    }
  }
  void stopped() {
    timer.stop();
    if (mic->text() != "mic is Off") showText("voiceNote", mic, "mic is Off");
  }
  VoiceNoteLogic logic;
  QPushButton* mic;
  QTimer timer;
};

// The microphone, "train" and the phrase list shared by the mail and appointment dialogs.
struct SpeechControls {
  QPushButton* mic;
  QPushButton* train;
  QListWidget* choices;
};

SpeechControls speechRow(QVBoxLayout* layout) {
  SpeechControls c{makeButton("mic", "mic is Off"), makeButton("train", "train"), new QListWidget};
  c.choices->setObjectName("choices");
  c.train->setEnabled(false);   // training on the dialogs' utterances is not carried out yet
  auto* row = new QHBoxLayout;
  row->addWidget(c.train);
  row->addWidget(c.mic);
  layout->addWidget(c.choices, 1);
  layout->addLayout(row);
  return c;
}

// "mic" of the mail and appointment dialogs: turns the dialog's listening on or off, with the
// timer that polls it.
void toggleDialogMic(DialogSpeech& speech, QTimer& timer, const char* dialog, const SpeechControls& controls) {
  const bool on = speech.toggleMic();
  showText(dialog, controls.mic, on ? "mic is On" : "mic is Off");
  if (on) timer.start();
  else timer.stop();
}

// One poll of a dialog's listening: true when an utterance was heard; the caption goes back to
// "mic is Off" when the microphone has stopped.
bool pollDialogMic(DialogSpeech& speech, QTimer& timer, const char* dialog, const SpeechControls& controls) {
  const bool heard = speech.poll();
  if (!speech.micOn()) {
    timer.stop();
    showText(dialog, controls.mic, "mic is Off");
  }
  return heard;
}

// ---- mail -------------------------------------------------------------------------------------

class MailDialog : public QDialog {
 public:
  MailDialog(NamefindApp* app, HeldMail* held, const std::string& address, QWidget* parent,
             std::function<void(const std::string&, const std::vector<std::string>&)> report)
      : QDialog(parent), app(app),
        logic(&app->state(), held, address, report),
        speech(app, app->grammar() ? &app->grammar()->mailList : nullptr) {
    setObjectName("mail");
    resize(kWidth, kHeight);
    auto* layout = new QVBoxLayout(this);
    QPushButton* done = titleRow(this, layout, "Email");
    auto* top = new QHBoxLayout;
    const char* buttons[][2] = {{"send", "send"}, {"hold", "hold"}, {"find", "find It"},
                                {"voiceMail", "voiceMail"}, {"kbd", "kbd"}, {"cancel", "cancel"}};
    for (auto& b : buttons) top->addWidget(makeButton(b[0], b[1]));
    layout->addLayout(top);
    auto* form = new QGridLayout;
    const char* fields[][2] = {{"to", "to: "}, {"title", "title: "}, {"cc", "cc: "}, {"bcc", "bcc: "}, {"body", "body:"}};
    int r = 0;
    for (auto& f : fields) {
      form->addWidget(new QLabel(f[1]), r, 0);
      form->addWidget(makeEdit(f[0]), r, 1);
      r++;
    }
    marker = new QLabel("voice");
    marker->setObjectName("voiceMarker");
    form->addWidget(marker, 0, 2);
    layout->addLayout(form);
    controls = speechRow(layout);
    connect(done, &QPushButton::clicked, this, [this] {
      take();
      if (logic.done()) finish(1);
    });
    connect(button("send"), &QPushButton::clicked, this, [this] {
      take();
      if (logic.somethingToSend() && logic.send()) finish(1);
    });
    connect(button("hold"), &QPushButton::clicked, this, [this] {
      take();
      speech.micOff();
      logic.hold();
      transcriptAction("mail-held", {logic.to});
      finish(0);
    });
    connect(button("cancel"), &QPushButton::clicked, this, [this] {
      logic.cancel();
      finish(0);
    });
    connect(button("voiceMail"), &QPushButton::clicked, this, [this] { voiceNote(); });
    connect(controls.mic, &QPushButton::clicked, this, [this] { toggleMic(); });
    connect(controls.choices, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
      transcriptLine("select mail.choices " + std::to_string(controls.choices->row(item) + 1));
      showText("mail", findChild<QLineEdit*>("to"), ss(item->text()));
    });
    timer.setInterval(kSpeechTickMs);
    connect(&timer, &QTimer::timeout, this, [this] { poll(); });
  }

  void run(bool voice) {
    transcriptLine("dialog mail shown");
    show(logic.to, "to");
    show(logic.title, "title");
    show(logic.cc, "cc");
    show(logic.bcc, "bcc");
    show(logic.body, "body");
    showMarker();
    if (voice) QMetaObject::invokeMethod(this, [this] { voiceNote(); }, Qt::QueuedConnection);
    runModalDialog(this);
    timer.stop();
    speech.micOff();
    transcriptLine("dialog mail closed");
  }
  void activate() {
    if (voiceDialog) voiceDialog->activate();
    else if (!speech.micOn()) toggleMic();
  }

 private:
  QPushButton* button(const char* name) { return findChild<QPushButton*>(name); }
  void show(const std::string& text, const char* name) {
    if (QLineEdit* e = findChild<QLineEdit*>(name)) showText("mail", e, text);
  }
  void take() {
    logic.to = ss(findChild<QLineEdit*>("to")->text());
    logic.title = ss(findChild<QLineEdit*>("title")->text());
    logic.cc = ss(findChild<QLineEdit*>("cc")->text());
    logic.bcc = ss(findChild<QLineEdit*>("bcc")->text());
    logic.body = ss(findChild<QLineEdit*>("body")->text());
  }
  void finish(int result) {
    timer.stop();
    speech.micOff();
    done(result);
  }
  void showMarker() {
    marker->setVisible(logic.hasRecording());
    transcriptLine(std::string("check mail.voiceMarker ") + (logic.hasRecording() ? "1" : "0"));
  }
  void voiceNote() {
    speech.micOff();
    timer.stop();
    showText("mail", controls.mic, "mic is Off");
    VoiceNoteDialog dialog(app->channel(), logic.recording(), this);
    voiceDialog = &dialog;
    dialog.run();
    voiceDialog = nullptr;
    showMarker();
  }
  void toggleMic() { toggleDialogMic(speech, timer, "mail", controls); }
  void poll() {
    if (!pollDialogMic(speech, timer, "mail", controls)) return;
    transcriptLine("list mail.phrases 1 " + quoted(speech.heard.text));
    if (speech.heard.nameRule) {
      // The contacts' e-mail lines go into the choice list; the first fills "to:".
      std::vector<std::string> lines;
      TsvStore* store = app->contactStore();
      for (int entry : speech.heard.contactEntries) {
        const Entry& e = store->entries[static_cast<size_t>(entry)];
        const Row* row = e.row >= 0 ? &store->rows[static_cast<size_t>(e.row)] : nullptr;
        for (const char* column : {"email1", "email2"}) {
          const int index = tsvColumnIndex(column);
          const std::string address = row && index >= 0 ? row->text(index) : std::string();
          if (!address.empty()) lines.push_back(address);
        }
      }
      controls.choices->clear();
      for (const std::string& l : lines) controls.choices->addItem(qs(l));
      reportList("mail.choices", lines);
      if (!lines.empty()) showText("mail", findChild<QLineEdit*>("to"), lines[0]);
    } else if (speech.heard.text == "voice mail") {
      QMetaObject::invokeMethod(this, [this] { voiceNote(); }, Qt::QueuedConnection);
    }
  }

  NamefindApp* app;
  MailLogic logic;
  DialogSpeech speech;
  QLabel* marker;
  SpeechControls controls;
  QTimer timer;
  VoiceNoteDialog* voiceDialog = nullptr;
};

// ---- appointment ------------------------------------------------------------------------------

LocalTime now() {
  const QDateTime t = QDateTime::currentDateTime();
  return LocalTime{t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute()};
}

class AppointmentDialog : public QDialog {
 public:
  AppointmentDialog(NamefindApp* app, HeldAppointment* held, const std::string& type, const std::string& contact,
                    QWidget* parent, std::function<void(const std::string&, const std::vector<std::string>&)> report)
      : QDialog(parent), app(app),
        logic(&app->state(), held, type, contact, now(), report),
        speech(app, app->grammar() ? &app->grammar()->appointmentList : nullptr) {
    setObjectName("appointment");
    resize(kWidth, kHeight);
    auto* layout = new QVBoxLayout(this);
    QPushButton* done = titleRow(this, layout, "Schedule a ...");
    auto* top = new QHBoxLayout;
    const char* buttons[][2] = {{"send", "send"}, {"hold", "hold"}, {"find", "find It"}, {"kbd", "kbd"}, {"cancel", "cancel"}};
    for (auto& b : buttons) top->addWidget(makeButton(b[0], b[1]));
    layout->addLayout(top);
    auto* form = new QGridLayout;
    form->addWidget(new QLabel("subject:"), 0, 0);
    form->addWidget(makeEdit("subject"), 0, 1);
    types = new QComboBox;
    types->setObjectName("types");
    for (const char* t : kAppointmentTypes) types->addItem(t);
    form->addWidget(types, 0, 2);
    const std::vector<std::string> halfHours = halfHourTimes();
    form->addWidget(new QLabel("start:"), 1, 0);
    form->addWidget(makeEdit("startDate"), 1, 1);
    form->addWidget(makeEdit("startTime"), 1, 2);
    form->addWidget(new QLabel("end:"), 2, 0);
    form->addWidget(makeEdit("endDate"), 2, 1);
    form->addWidget(makeEdit("endTime"), 2, 2);
    for (const char* name : {"startTimes", "endTimes"}) {
      auto* list = new QComboBox;
      list->setObjectName(name);
      for (const std::string& t : halfHours) list->addItem(qs(t));
      form->addWidget(list, name[0] == 's' ? 1 : 2, 3);
      connect(list, &QComboBox::activated, this, [this, list, name](int i) {
        showText("appointment", findChild<QLineEdit*>(name[0] == 's' ? "startTime" : "endTime"), ss(list->itemText(i)));
      });
    }
    form->addWidget(new QLabel("who:"), 3, 0);
    form->addWidget(makeEdit("who"), 3, 1);
    form->addWidget(new QLabel("where:"), 4, 0);
    form->addWidget(makeEdit("where"), 4, 1);
    form->addWidget(new QLabel("reminder:"), 5, 0);
    reminder = new QComboBox;
    reminder->setObjectName("reminder");
    for (const char* r : kReminderItems) reminder->addItem(r);
    form->addWidget(reminder, 5, 1);
    form->addWidget(new QLabel("note:"), 6, 0);
    form->addWidget(makeEdit("note"), 6, 1);
    layout->addLayout(form);
    controls = speechRow(layout);
    connect(types, &QComboBox::activated, this, [this](int i) {
      showText("appointment", findChild<QLineEdit*>("subject"), kAppointmentTypes[i]);
    });
    connect(done, &QPushButton::clicked, this, [this] {
      take();
      if (logic.done()) finish(1);
    });
    connect(findChild<QPushButton*>("send"), &QPushButton::clicked, this, [this] {
      take();
      if (logic.add()) finish(1);
    });
    connect(findChild<QPushButton*>("hold"), &QPushButton::clicked, this, [this] {
      take();
      logic.hold();
      transcriptAction("appointment-held", {logic.subject});
      finish(0);
    });
    connect(findChild<QPushButton*>("cancel"), &QPushButton::clicked, this, [this] {
      logic.cancel();
      finish(0);
    });
    connect(controls.mic, &QPushButton::clicked, this, [this] { toggleMic(); });
    timer.setInterval(kSpeechTickMs);
    connect(&timer, &QTimer::timeout, this, [this] { poll(); });
  }

  void run() {
    transcriptLine("dialog appointment shown");
    if (reminder->findText(qs(logic.reminder)) < 0) reminder->addItem(qs(logic.reminder));
    reminder->setCurrentIndex(reminder->findText(qs(logic.reminder)));
    transcriptLine("text appointment.reminder " + quoted(logic.reminder));
    showFields();
    runModalDialog(this);
    timer.stop();
    speech.micOff();
    transcriptLine("dialog appointment closed");
  }
  void activate() {
    if (!speech.micOn()) toggleMic();
  }

 private:
  void showFields() {
    const std::pair<const char*, std::string*> fields[] = {
        {"subject", &logic.subject}, {"startDate", &logic.startDate}, {"startTime", &logic.startTime},
        {"endDate", &logic.endDate}, {"endTime", &logic.endTime},     {"who", &logic.who},
        {"where", &logic.where},     {"note", &logic.note}};
    for (auto& [name, value] : fields) showText("appointment", findChild<QLineEdit*>(name), *value);
  }
  void take() {
    const std::pair<const char*, std::string*> fields[] = {
        {"subject", &logic.subject}, {"startDate", &logic.startDate}, {"startTime", &logic.startTime},
        {"endDate", &logic.endDate}, {"endTime", &logic.endTime},     {"who", &logic.who},
        {"where", &logic.where},     {"note", &logic.note}};
    for (auto& [name, value] : fields) *value = ss(findChild<QLineEdit*>(name)->text());
    logic.reminder = ss(reminder->currentText());
  }
  void finish(int result) {
    timer.stop();
    speech.micOff();
    done(result);
  }
  void toggleMic() { toggleDialogMic(speech, timer, "appointment", controls); }
  void poll() {
    if (!pollDialogMic(speech, timer, "appointment", controls)) return;
    transcriptLine("list appointment.phrases 1 " + quoted(speech.heard.text));
    take();
    if (speech.heard.nameRule) {
      if (speech.heard.contactEntry >= 0) {
        const Entry& e = app->contactStore()->entries[static_cast<size_t>(speech.heard.contactEntry)];
        logic.who = entryName(e);
      }
    } else {
      std::vector<int> ordinals;
      for (const std::string& w : speech.heard.words) ordinals.push_back(timeWordOrdinal(w));
      bool times = false;
      for (int o : ordinals) times = times || o > 0;
      if (times) {
        logic.sayTimes(ordinals);
      } else if (!speech.heard.words.empty() && speech.heard.words[0] == "schedule") {
        logic.subject = speech.heard.words.back();
      }
    }
    showFields();
  }

  NamefindApp* app;
  AppointmentLogic logic;
  DialogSpeech speech;
  QComboBox* types;
  QComboBox* reminder;
  SpeechControls controls;
  QTimer timer;
};

}  // namespace

ActionDialogs::ActionDialogs(QWidget* parentWidget, NamefindApp* shell, NamefindView* mainView,
                             NamefindActions* fallbackActions)
    : parent(parentWidget), app(shell), view(mainView), fallback(fallbackActions) {}

std::string ActionDialogs::contactName(const Entry* contact) const { return contact ? entryName(*contact) : std::string(); }

const Row* ActionDialogs::contactRow(const Entry* contact) const {
  TsvStore* store = app->contactStore();
  if (contact == nullptr || store == nullptr || contact->row < 0 || contact->row >= static_cast<int>(store->rows.size()))
    return nullptr;
  return &store->rows[static_cast<size_t>(contact->row)];
}

void ActionDialogs::dial(const std::string& label, const std::string& number) {
  report("dial", {label, number});
  const Entry* contact = nullptr;
  if (TsvStore* store = app->contactStore()) {
    const int current = app->currentContact();
    if (current >= 0 && current < static_cast<int>(store->entries.size())) contact = &store->entries[static_cast<size_t>(current)];
  }
  AudioDialOutput output(app->channel());
  DialLogic logic(&app->state(), app->phoneEdition(), label, number, contactName(contact), &output,
                  [this](const std::string& n, const std::vector<std::string>& a) { report(n, a); });
  DialDialog dialog(&logic, parent);
  dialling = true;
  activation = [&dialog] { dialog.activate(); };
  dialog.run();
  activation = nullptr;
  dialling = false;
}

void ActionDialogs::switchTo(const Entry& entry, const Row* row) {
  switchToRow(entry, row, app->state().dataDir,
              [this](const std::string& n, const std::vector<std::string>& a) { report(n, a); });
}

void ActionDialogs::mail(const Entry* contact, bool voice) {
  report(voice ? "voice-mail" : "mail", {contactName(contact)});
  openMail(firstEmail(contactRow(contact)), voice);
}

void ActionDialogs::openMail(const std::string& address, bool voice) {
  MailDialog dialog(app, &heldMail, address, parent,
                    [this](const std::string& n, const std::vector<std::string>& a) { report(n, a); });
  activation = [&dialog] { dialog.activate(); };
  dialog.run(voice);
  activation = nullptr;
  app->mailOnHold = heldMail.held;
}

void ActionDialogs::reviewHeldMail() {
  if (heldMail.held) openMail(std::string(), false);
}

void ActionDialogs::appointment(const Entry* contact, const std::string& type) {
  report("appointment", {contactName(contact), type});
  AppointmentDialog dialog(app, &heldAppointment, type, contactName(contact), parent,
                           [this](const std::string& n, const std::vector<std::string>& a) { report(n, a); });
  activation = [&dialog] { dialog.activate(); };
  dialog.run();
  activation = nullptr;
}

bool ActionDialogs::activate() {
  if (!activation) return false;
  activation();
  return true;
}

}  // namespace vlm
