// The action dialogs of namefind: thin Qt views over the logic of actions.h. ActionDialogs is the
// NamefindActions the main dialog installs: "call ..." opens the dial dialog, "send mail" and
// "voice mail" the mail dialog (and the voice note dialog), "schedule a ..." the appointment
// dialog, and a command-list entry switches programs. Controls carry object names (the script's
// names for them, docs/namefind-actions.md); what they show goes to the transcript.
#pragma once
#include <QDialog>
#include <functional>

#include "apps/namefind/actions.h"
#include "apps/namefind/app.h"

namespace vlm {

class ActionDialogs : public NamefindActions {
 public:
  // Runs an action dialog (run) with the main dialog hidden, and shows the main dialog again
  // unless the program is ending; run's result.
  using RunHidden = std::function<int(QDialog*, const std::function<int()>&)>;
  // parent: the main dialog. fallback: the actions this one does not carry (the pronunciation
  // playback and dialog). runHidden: how the main dialog steps aside (none: it stays).
  ActionDialogs(QWidget* parent, NamefindApp* app, NamefindView* view, NamefindActions* fallback,
                RunHidden runHidden = nullptr);

  void dial(const std::string& label, const std::string& number) override;
  void switchTo(const Entry& entry, const Row* row) override;
  void mail(const Entry* contact, bool voice) override;
  void appointment(const Entry* contact, const std::string& type) override;
  void playPronunciation(const std::string& spelling) override { fallback->playPronunciation(spelling); }
  void inspectPronunciations(const std::vector<std::string>& names) override {
    fallback->inspectPronunciations(names);
  }

  // The exit question's "Yes": the mail on hold is opened again.
  void reviewHeldMail();
  // The dial dialog is counting down or dialling (a script's "wait" waits for it).
  bool busy() const { return dialling; }
  // Activation from a second start: an open action dialog takes it. False when none is open.
  bool activate();

 private:
  void report(const std::string& name, const std::vector<std::string>& args) { view->action(name, args); }
  void openMail(const std::string& address, bool voice);
  int runHidden(QDialog* dialog, const std::function<int()>& run);
  std::string contactName(const Entry* contact) const;
  const Row* contactRow(const Entry* contact) const;

  QWidget* parent;
  NamefindApp* app;
  NamefindView* view;
  NamefindActions* fallback;
  HeldMail heldMail;
  HeldAppointment heldAppointment;
  bool dialling = false;
  std::function<void()> activation;   // what the open dialog does with an activation
  RunHidden hidden;
};

}  // namespace vlm
