// The script host over Qt widgets, and the Qt message box handler.
#include "apps/common/qtscript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPixmap>
#include <cstdlib>

#include "apps/common/transcript.h"
#include "platform/msgbox.h"

namespace vlm {

namespace {

QElapsedTimer& clock() {
  static QElapsedTimer timer;
  if (!timer.isValid()) timer.start();
  return timer;
}

bool allDigits(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

QtScriptHost::QtScriptHost(std::vector<ScriptCommand> commands, QWidget* main, std::function<bool()> busy)
    : runner(std::move(commands)), mainWidget(main), isBusy(std::move(busy)) {
  timer.setInterval(50);
  QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
}

void QtScriptHost::start() { timer.start(); }

QWidget* QtScriptHost::top() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return mainWidget.data();
}

void QtScriptHost::tick() {
  // A queued click may still be on its way; commands run one per tick.
  if (runner.step(*this, static_cast<long>(clock().elapsed())) != ScriptRunner::eFinished) return;
  // The script has run out: close what is still open.
  if (++closeAttempts % 10 != 1) return;
  if (closeAttempts > 100) {
    transcriptLine("error 0 " + quoted("the script ended and the program did not close"));
    gaveUp = true;
    timer.stop();
    QApplication::exit(1);
    return;
  }
  done();
}

bool QtScriptHost::tap(const std::string& name) {
  QWidget* t = top();
  if (!t) return false;
  QAbstractButton* button = t->findChild<QAbstractButton*>(QString::fromStdString(name));
  if (!button || !button->isEnabled()) return false;
  QPointer<QAbstractButton> guarded(button);
  QMetaObject::invokeMethod(
      button, [guarded] { if (guarded) guarded->click(); }, Qt::QueuedConnection);
  return true;
}

bool QtScriptHost::select(const std::string& list, const std::string& item) {
  QWidget* t = top();
  if (!t) return false;
  const QString name = QString::fromStdString(list);
  const QString text = QString::fromStdString(item);
  if (QListWidget* w = t->findChild<QListWidget*>(name)) {
    int row = -1;
    if (allDigits(item)) row = std::stoi(item) - 1;
    else
      for (int i = 0; i < w->count(); i++)
        if (w->item(i)->text() == text) row = i;
    if (row < 0 || row >= w->count()) return false;
    QPointer<QListWidget> guarded(w);
    QMetaObject::invokeMethod(
        w, [guarded, row] {
          if (!guarded) return;
          guarded->setCurrentRow(row);
          emit guarded->itemClicked(guarded->item(row));
        },
        Qt::QueuedConnection);
    return true;
  }
  if (QComboBox* c = t->findChild<QComboBox*>(name)) {
    int index = allDigits(item) ? std::stoi(item) - 1 : c->findText(text);
    if (index < 0 || index >= c->count()) return false;
    QPointer<QComboBox> guarded(c);
    QMetaObject::invokeMethod(
        c, [guarded, index] {
          if (!guarded) return;
          guarded->setCurrentIndex(index);
          emit guarded->activated(index);
        },
        Qt::QueuedConnection);
    return true;
  }
  return false;
}

bool QtScriptHost::type(const std::string& edit, const std::string& text) {
  QWidget* t = top();
  QLineEdit* e = t ? t->findChild<QLineEdit*>(QString::fromStdString(edit)) : nullptr;
  if (!e || !e->isEnabled()) return false;
  e->setText(QString::fromStdString(text));
  return true;
}

bool QtScriptHost::shot(const std::string& path) {
  QWidget* t = top();
  if (!t) return false;
  return t->grab().save(QString::fromStdString(path), "PNG");
}

bool QtScriptHost::done() {
  // The dialog's closing button: "done" (namefind), else "exit" (enroll's main dialog), else
  // "cancel" (enroll's file dialogs).
  for (const char* name : {"done", "exit", "cancel"})
    if (tap(name)) return true;
  return false;
}

int runModalDialog(QDialog* dialog) {
  QEventLoop loop;
  QObject::connect(dialog, &QDialog::finished, &loop, &QEventLoop::quit);
  dialog->setWindowModality(Qt::ApplicationModal);
  dialog->show();
  loop.exec();
  return dialog->result();
}

// ---- message boxes ----------------------------------------------------------------------------

namespace {

int qtBox(const char* text, const char* caption, BoxButtons buttons, BoxIcon icon, int defaultAnswer) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromLocal8Bit(caption ? caption : ""));
  box.setText(QString::fromLocal8Bit(text ? text : ""));
  switch (icon) {
    case eIconInformation: box.setIcon(QMessageBox::Information); break;
    case eIconWarning: box.setIcon(QMessageBox::Warning); break;
    case eIconError: box.setIcon(QMessageBox::Critical); break;
    case eIconQuestion: box.setIcon(QMessageBox::Question); break;
    default: break;
  }
  struct Pair { QMessageBox::StandardButton button; int answer; };
  std::vector<Pair> pairs;
  switch (buttons) {
    case eBoxOk: pairs = {{QMessageBox::Ok, eAnswerOk}}; break;
    case eBoxOkCancel: pairs = {{QMessageBox::Ok, eAnswerOk}, {QMessageBox::Cancel, eAnswerCancel}}; break;
    case eBoxYesNo: pairs = {{QMessageBox::Yes, eAnswerYes}, {QMessageBox::No, eAnswerNo}}; break;
    case eBoxYesNoCancel:
      pairs = {{QMessageBox::Yes, eAnswerYes}, {QMessageBox::No, eAnswerNo}, {QMessageBox::Cancel, eAnswerCancel}};
      break;
    case eBoxAbortRetryIgnore:
      pairs = {{QMessageBox::Abort, eAnswerAbort}, {QMessageBox::Retry, eAnswerRetry}, {QMessageBox::Ignore, eAnswerIgnore}};
      break;
    case eBoxRetryCancel: pairs = {{QMessageBox::Retry, eAnswerRetry}, {QMessageBox::Cancel, eAnswerCancel}}; break;
  }
  QMessageBox::StandardButtons set;
  for (const Pair& p : pairs) set |= p.button;
  box.setStandardButtons(set);
  for (const Pair& p : pairs)
    if (p.answer == defaultAnswer) box.setDefaultButton(p.button);
  const int pressed = box.exec();
  for (const Pair& p : pairs)
    if (p.button == pressed) return p.answer;
  return defaultAnswer;
}

}  // namespace

void installQtBoxHandler() { setMessageBoxHandler(qtBox); }

void chooseHeadlessPlatform(bool scripted) {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (scripted && std::getenv("QT_QPA_PLATFORM") == nullptr && (display == nullptr || !display[0]) &&
      (wayland == nullptr || !wayland[0]))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

bool offscreenPlatform() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

}  // namespace vlm
