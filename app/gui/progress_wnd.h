#pragma once
// The common part of the progress windows that run one worker thread: the
// worker never touches a control; it hands progress, stage texts and questions
// to the UI thread by queued calls (progress at most every 100 ms, see
// WorkerLink). A click on "cancelbtn" or "closebtn" asks the window's question
// while the worker waits at its next progress report. The worker is joined
// before the window goes away. Enter and Escape close nothing.
#include <functional>
#include <optional>
#include <thread>

#include "app/core/sessions/worker_link.h"
#include "app/gui/message_box.h"
#include "app/gui/popup_wnd.h"

class QTimer;

namespace dunmere::gui {

class ProgressWnd : public PopUpWnd {
  Q_OBJECT
 public:
  // cancelQuestionId: the message id of "stop?" ("MSG0709").
  ProgressWnd(QString layoutFile, QString languageSection, const char* cancelQuestionId);
  // Derived windows call StopWorker() in their own destructor: the worker uses
  // their members.
  ~ProgressWnd() override;

  bool WorkerRunning() const { return worker_.joinable(); }
  // Progress updates drawn so far (the coalescing keeps them few).
  int ProgressUpdates() const { return progressUpdates_; }
  bool CancelConfirmed() const { return cancelConfirmed_; }
  // The worker waits at a progress report for the open question's answer.
  bool WorkerHeld() const { return link_.WorkerHeld(); }

  // The program is being closed while this window works: asks whether to stop
  // the work and exit. True when the user agreed (or the work had ended): the
  // work is then stopped and the window closes once its worker has ended.
  // False (the work goes on) on No, Escape or closing the question, and while
  // a question of the window's own is open.
  bool AskStopForExit();
  bool StoppingForExit() const { return stoppingForExit_; }
 protected:
  // Starts the worker; body runs on it, then WorkerEnded() runs on the UI
  // thread (after any open question has been answered).
  void StartWorker(std::function<void()> body);
  // Cancels and joins the worker; safe to call more than once.
  void StopWorker();
  WorkerLink& Link() { return link_; }

  // ---- called on the worker thread ----
  void PostStage(const QString& text);
  // Asks a Question box with that message id on the UI thread and waits for
  // the answer; onCancel when the work is cancelled first.
  int AskFromWorker(const char* messageId, int onCancel, MessageBoxWnd::Choice choice = {}, QSize size = {350, 160});

  // ---- UI thread ----
  // "Stop ... and exit?": the question asked when the program is closed meanwhile.
  virtual const char* ExitQuestionId() const { return "MSG0712"; }
  virtual void DrawProgress(const ScanProgress& p) = 0;
  virtual void WorkerEnded() = 0;
  bool OnClick(const ui::Notification& n) override;
  bool OnKey(int key, Qt::KeyboardModifiers mods) override;
  // Hides the window and asks; -1 when the window was destroyed meanwhile.
  int AskQuestion(const char* messageId, int kind, const MessageBoxWnd::Choice& choice = {}, QSize size = {350, 160});
  void ShowAgain();

 private:
  void TakeProgress();
  void AskCancel();
  struct WorkerQuestion {
    const char* messageId = nullptr;
    MessageBoxWnd::Choice choice;
    QSize size;
  };
  void AskForWorker(const WorkerQuestion& q);
  void WorkerEndedOnUi();
  void AfterQuestion();

  const char* cancelQuestion_;
  WorkerLink link_;
  std::thread worker_;
  bool questionOpen_ = false;
  bool endPending_ = false;
  bool ended_ = false;
  bool cancelConfirmed_ = false;
  bool stoppingForExit_ = false;
  std::optional<WorkerQuestion> pendingWorkerQuestion_;
  int progressUpdates_ = 0;
  QTimer* lateProgress_ = nullptr;
};

// A language text used as a format with one argument: its first "%d", "%c"
// or "%s" is replaced (the text is never handed to printf).
QString FillFormat(QString format, const QString& argument);

}  // namespace dunmere::gui
