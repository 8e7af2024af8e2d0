// The installer's dialog.
#include "apps/installer/dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QUrl>
#include <QVBoxLayout>

#include "apps/common/qtscript.h"
#include "apps/common/transcript.h"
#include "platform/instance.h"

namespace vlm {

namespace {

const char* controlName(int id) {
  switch (id) {
    case kIdMessage: return "message";
    case kIdStatus: return "status";
    case kIdSpinner: return "spinner";
    case kIdPlatform: return "platform";
    case kIdStart: return "start";
    case kIdAnswer: return "answer";
    case kIdQuit: return "done";
  }
  return "unknown";
}

QString qs(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }
std::string ss(const QString& s) { return s.toLocal8Bit().toStdString(); }

}  // namespace

InstallerDialog::InstallerDialog(DeviceLink* link, const std::string& pcDir, const std::string& programDir)
    : logic(this, link, pcDir, programDir) {
  setObjectName("main");
  setWindowTitle("Velmora Installer");
  resize(520, 360);
  auto* layout = new QVBoxLayout(this);

  platform = new QComboBox;
  platform->setObjectName("platform");
  controls[kIdPlatform] = platform;
  layout->addWidget(platform);

  message = new QLabel;
  message->setObjectName("message");
  message->setWordWrap(true);
  message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  message->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont big = message->font();
  big.setPointSize(big.pointSize() + 2);
  message->setFont(big);
  controls[kIdMessage] = message;
  layout->addWidget(message, 1);

  answer = new QLineEdit;
  answer->setObjectName("answer");
  answer->setMaxLength(256);
  controls[kIdAnswer] = answer;
  layout->addWidget(answer);

  auto* statusRow = new QHBoxLayout;
  spinner = new QLabel;
  spinner->setObjectName("spinner");
  spinner->setMinimumWidth(16);
  controls[kIdSpinner] = spinner;
  status = new QLabel;
  status->setObjectName("status");
  status->setWordWrap(true);
  controls[kIdStatus] = status;
  statusRow->addWidget(spinner);
  statusRow->addWidget(status, 1);
  layout->addLayout(statusRow);

  auto* buttons = new QHBoxLayout;
  start = new QPushButton("Start");
  start->setObjectName("start");
  start->setAutoDefault(false);
  controls[kIdStart] = start;
  auto* quit = new QPushButton("Quit");
  quit->setObjectName("done");
  quit->setAutoDefault(false);
  controls[kIdQuit] = quit;
  buttons->addStretch(1);
  buttons->addWidget(start);
  buttons->addWidget(quit);
  layout->addLayout(buttons);

  connect(start, &QPushButton::clicked, this, [this] {
    logic.pressStart(platform->count() > 0 ? platform->currentIndex() : -1, ss(answer->text()));
  });
  connect(quit, &QPushButton::clicked, this, [this] { quitNow(); });
  connect(platform, &QComboBox::activated, this,
          [](int i) { transcriptLine("select main.platform " + std::to_string(i + 1)); });
  tick.setInterval(100);   // timer 103: the spinner
  connect(&tick, &QTimer::timeout, this, [this] { logic.timerTick(); });
}

QWidget* InstallerDialog::control(int id) const {
  auto it = controls.find(id);
  return it == controls.end() ? nullptr : it->second;
}

void InstallerDialog::onGuiThread(std::function<void()> f) {
  QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void InstallerDialog::begin() {
  setWindowModality(Qt::ApplicationModal);
  show();
  transcriptLine("dialog main shown");
  tick.start();
  QMetaObject::invokeMethod(this, [this] { logic.initDialog(); }, Qt::QueuedConnection);
}

void InstallerDialog::postMessage(int) {
  onGuiThread([this] {
    show();
    raise();
    activateWindow();
  });
}

void InstallerDialog::setText(int id, const std::string& text) {
  onGuiThread([this, id, text] {
    QWidget* w = control(id);
    if (auto* b = qobject_cast<QPushButton*>(w)) b->setText(qs(text));
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(qs(text));
    else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(qs(text));
    if (id != kIdSpinner) transcriptLine(std::string("text main.") + controlName(id) + " " + quoted(text));
  });
}

void InstallerDialog::setVisible(int id, bool on) {
  onGuiThread([this, id, on] {
    QWidget* w = control(id);
    if (!w || w->isVisibleTo(this) == on) return;
    w->setVisible(on);
    transcriptLine(std::string("visible main.") + controlName(id) + (on ? " 1" : " 0"));
  });
}

void InstallerDialog::setList(int id, const std::vector<std::string>& items, int selected) {
  onGuiThread([this, id, items, selected] {
    if (id != kIdPlatform) return;
    platform->clear();
    for (const std::string& item : items) platform->addItem(qs(item));
    platform->setCurrentIndex(selected);
    transcriptList("main.platform", items, selected);
  });
}

void InstallerDialog::action(const std::string& name, const std::vector<std::string>& args) {
  onGuiThread([name, args] { transcriptAction(name, args); });
}

void InstallerDialog::viewFile(const std::string& path) {
  onGuiThread([path] {
    transcriptAction("view", {path});
    // A run without a person opens nothing.
    if (!transcriptEnabled()) QDesktopServices::openUrl(QUrl::fromLocalFile(qs(path)));
  });
}

void InstallerDialog::closeDialog() {
  onGuiThread([this] { quitNow(); });
}

void InstallerDialog::quitNow() {
  if (ending) return;
  ending = true;
  tick.stop();
  logic.quit();
  transcriptLine("dialog main closed");
  done(0);
}

void InstallerDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  quitNow();
}

void InstallerDialog::reject() { quitNow(); }

}  // namespace vlm
