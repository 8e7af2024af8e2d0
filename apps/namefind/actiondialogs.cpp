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

#include <iterator>
#include <memory>

#include "apps/common/qtscript.h"
#include "apps/common/transcript.h"
#include "apps/namefind/commands.h"
#include "apps/namefind/entrydialogs.h"
#include "platform/msgbox.h"

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

// Runs a dialog that covers another (a full-screen dialog over the mail or appointment dialog):
// the one under it is hidden meanwhile.
int runCovering(QDialog* under, const char* underName, const std::function<int()>& run) {
  under->hide();
  transcriptLine(std::string("dialog ") + underName + " hidden");
  const int result = run();
  under->show();
  transcriptLine(std::string("dialog ") + underName + " shown");
  return result;
}

// The listening part of the mail and appointment dialogs: the phrases heard, the spelling beside
// "train" (a tap plays it), "train" and the microphone, over a DialogSpeech.
class SpeechPanel {
 public:
  SpeechPanel(QDialog* dialog, const char* name, NamefindApp* app, NamefindView* view, const std::vector<int>* rules,
              QVBoxLayout* layout)
      : speech(app, rules), dialog(dialog), name(name), app(app), view(view) {
    phrases = new QListWidget;
    phrases->setObjectName("phrases");
    mic = makeButton("mic", "mic is Off");
    train = makeButton("train", "train");
    train->setEnabled(false);
    pron = makeButton("pron", "");
    pron->setFlat(true);
    auto* row = new QHBoxLayout;
    row->addWidget(train);
    row->addWidget(pron, 1);
    row->addWidget(mic);
    layout->addWidget(phrases, 1);
    layout->addLayout(row);
    timer.setInterval(kSpeechTickMs);
    QObject::connect(&timer, &QTimer::timeout, dialog, [this] { poll(); });
    QObject::connect(mic, &QPushButton::clicked, dialog, [this] { toggleMic(); });
    QObject::connect(train, &QPushButton::clicked, dialog, [this] {
      if (speech.micOn()) toggleMic();
      speech.train();
      showTrain();
    });
    QObject::connect(pron, &QPushButton::clicked, dialog, [this] {
      if (speech.micOn()) toggleMic();
      if (this->app->playSpelling(speech.spelling) > 0) transcriptAction("play-pron", {speech.spelling});
    });
    QObject::connect(phrases, &QListWidget::itemClicked, dialog, [this](QListWidgetItem* item) {
      transcriptLine(std::string("select ") + this->name + ".phrases " + std::to_string(phrases->row(item) + 1));
      if (speech.selectPhrase(phrases->row(item))) {
        showSpelling();
        showTrain();
        if (heard) heard();
      }
    });
  }
  std::function<void()> heard;   // what the dialog does with the hypothesis heard
  DialogSpeech speech;

  void toggleMic() {
    const bool on = speech.toggleMic();
    showText(name, mic, on ? "mic is On" : "mic is Off");
    if (on) timer.start();
    else timer.stop();
  }
  void off() {
    timer.stop();
    if (speech.micOn()) {
      speech.micOff();
      showText(name, mic, "mic is Off");
    }
  }
  // Activation from a second start: the microphone turns on.
  void activate() {
    if (!speech.micOn()) toggleMic();
  }

 private:
  void poll() {
    const DialogSpeech::Outcome outcome = speech.poll();
    if (!speech.micOn()) {
      timer.stop();
      if (mic->text() != "mic is Off") showText(name, mic, "mic is Off");
    }
    switch (outcome) {
      case DialogSpeech::eNothing: return;
      case DialogSpeech::eRejected: transcriptAction("rejected"); return;
      case DialogSpeech::eBroken:
        // A recognised word sequence could not be made into a rule: the grammar is broken and the
        // program ends without the exit questions, as from the main dialog.
        messageBox("Something wrong with tmpRule", "In onSpeech()", eBoxOk, eIconError, eAnswerOk);
        view->closeMain();
        dialog->done(0);
        return;
      case DialogSpeech::eHeard: break;
    }
    phrases->clear();
    for (const std::string& p : speech.phrases()) phrases->addItem(qs(p));
    phrases->setCurrentRow(speech.selected());
    transcriptList(std::string(name) + ".phrases", speech.phrases(), speech.selected());
    showSpelling();
    showTrain();
    if (heard) heard();
  }
  void showSpelling() { showText(name, pron, speech.spelling); }
  void showTrain() {
    if (train->text().toStdString() != speech.trainCaption()) showText(name, train, speech.trainCaption());
    if (train->isEnabled() != speech.trainEnabled()) {
      train->setEnabled(speech.trainEnabled());
      transcriptLine(std::string("enabled ") + name + ".train " + (speech.trainEnabled() ? "1" : "0"));
    }
  }

  QDialog* dialog;
  const char* name;
  NamefindApp* app;
  NamefindView* view;
  QListWidget* phrases;
  QPushButton* mic;
  QPushButton* train;
  QPushButton* pron;
  QTimer timer;
};

// "find It" of the mail and appointment dialogs: the find dialog over the dialog; the entry
// chosen, or -1.
int findContact(NamefindApp* app, QDialog* dialog, const char* name, bool* nested) {
  FindDialog find(app, dialog);
  *nested = true;
  const int accepted = runCovering(dialog, name, [&find] { return find.run(); });
  *nested = false;
  return accepted ? find.chosen : -1;
}

const Row* rowOfEntry(NamefindApp* app, int entry) {
  TsvStore* store = app->contactStore();
  if (store == nullptr || entry < 0 || entry >= static_cast<int>(store->entries.size())) return nullptr;
  const Entry& e = store->entries[static_cast<size_t>(entry)];
  return e.row >= 0 && e.row < static_cast<int>(store->rows.size()) ? &store->rows[static_cast<size_t>(e.row)] : nullptr;
}

// ---- mail -------------------------------------------------------------------------------------

class MailDialog : public QDialog {
 public:
  MailDialog(NamefindApp* app, NamefindView* view, HeldMail* held, const std::string& address, QWidget* parent,
             std::function<void(const std::string&, const std::vector<std::string>&)> report)
      : QDialog(parent), app(app), logic(&app->state(), held, address, report) {
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
    choices = new QListWidget;
    choices->setObjectName("choices");
    layout->addWidget(choices, 1);
    panel = std::make_unique<SpeechPanel>(this, "mail", app, view, app->grammar() ? &app->grammar()->mailList : nullptr,
                                          layout);
    panel->heard = [this] { heard(); };
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
      panel->off();
      logic.hold();
      transcriptAction("mail-held", {logic.to});
      finish(0);
    });
    connect(button("cancel"), &QPushButton::clicked, this, [this] {
      logic.cancel();
      finish(0);
    });
    connect(button("find"), &QPushButton::clicked, this, [this] {
      panel->off();
      const int entry = findContact(this->app, this, "mail", &nested);
      if (entry >= 0) chooseContacts({entry});
    });
    connect(button("voiceMail"), &QPushButton::clicked, this, [this] { voiceNote(); });
    connect(choices, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
      transcriptLine("select mail.choices " + std::to_string(choices->row(item) + 1));
      showText("mail", findChild<QLineEdit*>("to"), ss(item->text()));
    });
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
    panel->off();
    transcriptLine("dialog mail closed");
  }
  void activate() {
    if (voiceDialog) voiceDialog->activate();
    else if (!nested) panel->activate();
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
    panel->off();
    done(result);
  }
  void showMarker() {
    marker->setVisible(logic.hasRecording());
    transcriptLine(std::string("check mail.voiceMarker ") + (logic.hasRecording() ? "1" : "0"));
  }
  void voiceNote() {
    panel->off();
    VoiceNoteDialog dialog(app->channel(), logic.recording(), this);
    voiceDialog = &dialog;
    runCovering(this, "mail", [&dialog] {
      dialog.run();
      return 1;
    });
    voiceDialog = nullptr;
    showMarker();
  }
  // The e-mail lines of the contacts go into the choice list; the first fills "to:".
  void chooseContacts(const std::vector<int>& entries) {
    take();
    std::vector<const Row*> rows;
    for (int e : entries) rows.push_back(rowOfEntry(app, e));
    if (!logic.chooseContacts(rows)) logic.addressChoices.clear();
    choices->clear();
    for (const std::string& l : logic.addressChoices) choices->addItem(qs(l));
    reportList("mail.choices", logic.addressChoices);
    show(logic.to, "to");
  }
  void heard() {
    const DialogSpeech::Heard& h = panel->speech.heard;
    if (h.nameRule) chooseContacts(h.contactEntries);
    else if (h.text == "voice mail") QMetaObject::invokeMethod(this, [this] { voiceNote(); }, Qt::QueuedConnection);
  }

  NamefindApp* app;
  MailLogic logic;
  QLabel* marker;
  QListWidget* choices;
  std::unique_ptr<SpeechPanel> panel;
  VoiceNoteDialog* voiceDialog = nullptr;
  bool nested = false;   // the find dialog is open over this one
};

// ---- the pop-ups of the appointment dialog ----------------------------------------------------

// The month calendar for a date: the month's name, "prev" and "next", a button per day ("day1"
// ... "day31") under the weekdays, and "cancel". A day tapped ends it with that date.
class CalendarPopup : public QDialog {
 public:
  CalendarPopup(const LocalTime& shown, QWidget* parent) : QDialog(parent), month(shown) {
    setObjectName("calendar");
    setWindowTitle("calendar");
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    QPushButton* prev = makeButton("prev", "<");
    caption = new QLabel;
    caption->setObjectName("month");
    caption->setAlignment(Qt::AlignCenter);
    QPushButton* next = makeButton("next", ">");
    bar->addWidget(prev);
    bar->addWidget(caption, 1);
    bar->addWidget(next);
    layout->addLayout(bar);
    grid = new QGridLayout;
    const char* weekdays[] = {"S", "M", "T", "W", "T", "F", "S"};
    for (int c = 0; c < 7; c++) grid->addWidget(new QLabel(weekdays[c]), 0, c, Qt::AlignCenter);
    for (int d = 1; d <= 31; d++) {
      const std::string name = "day" + std::to_string(d);
      days[d - 1] = makeButton(name.c_str(), std::to_string(d).c_str());
      days[d - 1]->setCheckable(true);
      connect(days[d - 1], &QPushButton::clicked, this, [this, d] {
        chosen = month.choose(d);
        done(1);
      });
    }
    layout->addLayout(grid);
    QPushButton* cancel = makeButton("cancel", "cancel");
    layout->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
    connect(prev, &QPushButton::clicked, this, [this] {
      month.previous();
      showMonth();
    });
    connect(next, &QPushButton::clicked, this, [this] {
      month.next();
      showMonth();
    });
  }
  int run() {
    transcriptLine("dialog calendar shown");
    showMonth();
    const int result = runModalDialog(this);
    transcriptLine("dialog calendar closed");
    return result;
  }
  LocalTime chosen;

 private:
  void showMonth() {
    showText("calendar", caption, month.caption());
    for (int d = 1; d <= 31; d++) grid->removeWidget(days[d - 1]);
    const int first = month.firstWeekday();
    for (int d = 1; d <= 31; d++) {
      QPushButton* b = days[d - 1];
      const bool in = d <= month.days();
      b->setVisible(in);
      b->setChecked(d == month.day);
      if (in) grid->addWidget(b, 1 + (first + d - 1) / 7, (first + d - 1) % 7);
    }
    if (month.day > 0) transcriptLine("select calendar.day " + std::to_string(month.day));
  }
  MonthCalendar month;
  QLabel* caption;
  QGridLayout* grid;
  QPushButton* days[31];
};

// The one-column list for the times, types and reminders: the field's line is the current one;
// a line tapped ends it with that line.
class ListPopup : public QDialog {
 public:
  ListPopup(const std::vector<std::string>& items, int current, QWidget* parent) : QDialog(parent), items(items), current(current) {
    setObjectName("list");
    setWindowTitle("list");
    auto* layout = new QVBoxLayout(this);
    list = new QListWidget;
    list->setObjectName("items");
    for (const std::string& i : items) list->addItem(qs(i));
    layout->addWidget(list, 1);
    QPushButton* cancel = makeButton("cancel", "cancel");
    layout->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
    connect(list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
      chosen = list->row(item);
      transcriptLine("select list.items " + std::to_string(chosen + 1));
      done(1);
    });
  }
  int run() {
    transcriptLine("dialog list shown");
    transcriptList("list.items", items, current);
    if (current >= 0) {
      list->setCurrentRow(current);
      list->scrollToItem(list->item(current), QAbstractItemView::PositionAtCenter);
    }
    const int result = runModalDialog(this);
    transcriptLine("dialog list closed");
    return result;
  }
  int chosen = -1;

 private:
  std::vector<std::string> items;
  int current;
  QListWidget* list;
};

// ---- appointment ------------------------------------------------------------------------------

LocalTime now() {
  const QDateTime t = QDateTime::currentDateTime();
  return LocalTime{t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute()};
}

class AppointmentDialog : public QDialog {
 public:
  AppointmentDialog(NamefindApp* app, NamefindView* view, HeldAppointment* held, const std::string& type,
                    const std::string& contact, QWidget* parent,
                    std::function<void(const std::string&, const std::vector<std::string>&)> report)
      : QDialog(parent), app(app), logic(&app->state(), held, type, contact, now(), report) {
    setObjectName("appointment");
    resize(kWidth, kHeight);
    auto* layout = new QVBoxLayout(this);
    QPushButton* done = titleRow(this, layout, "Schedule a ...");
    auto* top = new QHBoxLayout;
    const char* buttons[][2] = {{"send", "send"}, {"hold", "hold"}, {"find", "find It"}, {"kbd", "kbd"}, {"cancel", "cancel"}};
    for (auto& b : buttons) top->addWidget(makeButton(b[0], b[1]));
    // "voiceNote" is there, hidden: appointments take no voice note from this dialog.
    QPushButton* voiceNote = makeButton("voiceNote", "voiceNote");
    voiceNote->hide();
    top->addWidget(voiceNote);
    layout->addLayout(top);
    auto* form = new QGridLayout;
    // Each field with the button that pops up its calendar or list ("pickType", "pickStartDate",
    // "pickStartTime", "pickEndDate", "pickEndTime", "pickReminder").
    auto pick = [this, form](const char* name, int row, int column) {
      QPushButton* b = makeButton(name, "\u25BE");
      b->setMaximumWidth(28);
      form->addWidget(b, row, column);
      return b;
    };
    form->addWidget(new QLabel("subject:"), 0, 0);
    form->addWidget(makeEdit("subject"), 0, 1, 1, 3);
    QPushButton* pickType = pick("pickType", 0, 4);
    form->addWidget(new QLabel("start:"), 1, 0);
    form->addWidget(makeEdit("startDate"), 1, 1);
    QPushButton* pickStartDate = pick("pickStartDate", 1, 2);
    form->addWidget(makeEdit("startTime"), 1, 3);
    QPushButton* pickStartTime = pick("pickStartTime", 1, 4);
    form->addWidget(new QLabel("end:"), 2, 0);
    form->addWidget(makeEdit("endDate"), 2, 1);
    QPushButton* pickEndDate = pick("pickEndDate", 2, 2);
    form->addWidget(makeEdit("endTime"), 2, 3);
    QPushButton* pickEndTime = pick("pickEndTime", 2, 4);
    form->addWidget(new QLabel("who:"), 3, 0);
    form->addWidget(makeEdit("who"), 3, 1, 1, 3);
    form->addWidget(new QLabel("where:"), 4, 0);
    form->addWidget(makeEdit("where"), 4, 1, 1, 3);
    form->addWidget(new QLabel("reminder:"), 5, 0);
    form->addWidget(makeEdit("reminder"), 5, 1, 1, 3);
    QPushButton* pickReminder = pick("pickReminder", 5, 4);
    form->addWidget(new QLabel("note:"), 6, 0);
    form->addWidget(makeEdit("note"), 6, 1, 1, 3);
    layout->addLayout(form);
    panel = std::make_unique<SpeechPanel>(this, "appointment", app, view,
                                          app->grammar() ? &app->grammar()->appointmentList : nullptr, layout);
    panel->heard = [this] { heard(); };
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
    connect(findChild<QPushButton*>("find"), &QPushButton::clicked, this, [this] {
      panel->off();
      const int entry = findContact(this->app, this, "appointment", &nested);
      if (entry < 0) return;
      take();
      logic.who = entryName(this->app->contactStore()->entries[static_cast<size_t>(entry)]);
      showFields();
    });
    connect(pickType, &QPushButton::clicked, this, [this] {
      take();
      const std::vector<std::string> types(std::begin(kAppointmentTypes), std::end(kAppointmentTypes));
      const int i = popList(types, appointmentTypeIndex(logic.subject));
      if (i >= 0) logic.subject = types[static_cast<size_t>(i)];
      showFields();
    });
    connect(pickReminder, &QPushButton::clicked, this, [this] {
      take();
      const std::vector<std::string> items(std::begin(kReminderItems), std::end(kReminderItems));
      const int i = popList(items, reminderIndex(logic.reminder));
      if (i >= 0) logic.reminder = items[static_cast<size_t>(i)];
      showFields();
    });
    for (bool start : {true, false}) {
      connect(start ? pickStartTime : pickEndTime, &QPushButton::clicked, this, [this, start] {
        take();
        const int i = popList(halfHourTimes(), halfHourIndex(start ? logic.startTime : logic.endTime));
        if (i >= 0) logic.pickTime(start, i);
        showFields();
      });
      connect(start ? pickStartDate : pickEndDate, &QPushButton::clicked, this, [this, start] {
        take();
        panel->off();
        CalendarPopup popup(logic.shownDate(start), this);
        nested = true;
        if (popup.run()) logic.pickDate(start, popup.chosen);
        nested = false;
        showFields();
      });
    }
  }

  void run() {
    transcriptLine("dialog appointment shown");
    showFields();
    runModalDialog(this);
    panel->off();
    transcriptLine("dialog appointment closed");
  }
  void activate() {
    if (!nested) panel->activate();
  }

 private:
  int popList(const std::vector<std::string>& items, int current) {
    panel->off();
    ListPopup popup(items, current, this);
    nested = true;
    const int result = popup.run() ? popup.chosen : -1;
    nested = false;
    return result;
  }
  std::vector<std::pair<const char*, std::string*>> fields() {
    return {{"subject", &logic.subject}, {"startDate", &logic.startDate}, {"startTime", &logic.startTime},
            {"endDate", &logic.endDate}, {"endTime", &logic.endTime},     {"who", &logic.who},
            {"where", &logic.where},     {"reminder", &logic.reminder},   {"note", &logic.note}};
  }
  // Shows the fields that changed (all of them the first time).
  void showFields() {
    for (auto& [name, value] : fields()) {
      QLineEdit* e = findChild<QLineEdit*>(name);
      if (shownOnce && ss(e->text()) == *value) continue;
      showText("appointment", e, *value);
    }
    shownOnce = true;
  }
  void take() {
    for (auto& [name, value] : fields()) *value = ss(findChild<QLineEdit*>(name)->text());
  }
  void finish(int result) {
    panel->off();
    done(result);
  }
  void heard() {
    const DialogSpeech::Heard& h = panel->speech.heard;
    take();
    if (h.nameRule) {
      if (h.contactEntry >= 0) logic.who = entryName(app->contactStore()->entries[static_cast<size_t>(h.contactEntry)]);
    } else {
      std::vector<int> ordinals;
      for (const std::string& w : h.words) ordinals.push_back(timeWordOrdinal(w));
      bool times = false;
      for (int o : ordinals) times = times || o > 0;
      if (times) logic.sayTimes(ordinals);
      else if (!h.words.empty() && h.words[0] == "schedule") logic.subject = h.words.back();
    }
    showFields();
  }

  NamefindApp* app;
  AppointmentLogic logic;
  std::unique_ptr<SpeechPanel> panel;
  bool nested = false;   // the find dialog or a pop-up is open over this one
  bool shownOnce = false;
};

}  // namespace

ActionDialogs::ActionDialogs(QWidget* parentWidget, NamefindApp* shell, NamefindView* mainView,
                             NamefindActions* fallbackActions, RunHidden runHidden)
    : parent(parentWidget), app(shell), view(mainView), fallback(fallbackActions), hidden(std::move(runHidden)) {}

std::string ActionDialogs::contactName(const Entry* contact) const { return contact ? entryName(*contact) : std::string(); }

const Row* ActionDialogs::contactRow(const Entry* contact) const {
  TsvStore* store = app->contactStore();
  if (contact == nullptr || store == nullptr || contact->row < 0 || contact->row >= static_cast<int>(store->rows.size()))
    return nullptr;
  return &store->rows[static_cast<size_t>(contact->row)];
}

int ActionDialogs::runHidden(QDialog* dialog, const std::function<int()>& run) {
  return hidden ? hidden(dialog, run) : run();
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
  runHidden(&dialog, [&dialog] {
    dialog.run();
    return 1;
  });
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
  MailDialog dialog(app, view, &heldMail, address, parent,
                    [this](const std::string& n, const std::vector<std::string>& a) { report(n, a); });
  activation = [&dialog] { dialog.activate(); };
  runHidden(&dialog, [&dialog, voice] {
    dialog.run(voice);
    return 1;
  });
  activation = nullptr;
  app->mailOnHold = heldMail.held;
}

void ActionDialogs::reviewHeldMail() {
  if (heldMail.held) openMail(std::string(), false);
}

void ActionDialogs::appointment(const Entry* contact, const std::string& type) {
  report("appointment", {contactName(contact), type});
  AppointmentDialog dialog(app, view, &heldAppointment, type, contactName(contact), parent,
                           [this](const std::string& n, const std::vector<std::string>& a) { report(n, a); });
  activation = [&dialog] { dialog.activate(); };
  runHidden(&dialog, [&dialog] {
    dialog.run();
    return 1;
  });
  activation = nullptr;
}

bool ActionDialogs::activate() {
  if (!activation) return false;
  activation();
  return true;
}

}  // namespace vlm
