#include "app/gui/progress_wnd.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include "app/gui/apply_section.h"
#include "app/gui/message_box.h"

namespace dunmere::gui {

QString FillFormat(QString format, const QString& argument) {
  static const QRegularExpression spec(QStringLiteral("%l?[dcsu]"));
  const QRegularExpressionMatch m = spec.match(format);
  if (m.hasMatch()) format.replace(m.capturedStart(), m.capturedLength(), argument);
  return format;
}

ProgressWnd::ProgressWnd(QString layoutFile, QString languageSection, const char* cancelQuestionId)
    : PopUpWnd(std::move(layoutFile), std::move(languageSection)),
      cancelQuestion_(cancelQuestionId),
      // Ten drawings a second read as smooth and leave the engine the CPU.
      link_([this] { QMetaObject::invokeMethod(this, [this] { TakeProgress(); }, Qt::QueuedConnection); },
            std::chrono::milliseconds(100)) {}

ProgressWnd::~ProgressWnd() { StopWorker(); }

void ProgressWnd::StartWorker(std::function<void()> body) {
  // A report held back by the coalescing is drawn only when the next one
  // comes; a worker stalled on a slow read (a failing disk) would leave the
  // window showing an older state meanwhile. Asked for here instead.
  auto* late = new QTimer(this);
  connect(late, &QTimer::timeout, this, [this] { link_.Flush(); });
  late->start(250);
  lateProgress_ = late;
  worker_ = std::thread([this, body = std::move(body)] {
    body();
    link_.MarkFinished();
    QMetaObject::invokeMethod(this, [this] { WorkerEndedOnUi(); }, Qt::QueuedConnection);
  });
}

void ProgressWnd::StopWorker() {
  // The worker sees the cancel at its next progress report or question.
  link_.Cancel();
  if (worker_.joinable()) worker_.join();
}

void ProgressWnd::PostStage(const QString& text) {
  QMetaObject::invokeMethod(this, [this, text] { SetText(QStringLiteral("stage"), text); }, Qt::QueuedConnection);
}

int ProgressWnd::AskFromWorker(const char* messageId, int onCancel, MessageBoxWnd::Choice choice, QSize size) {
  return link_.Ask(
      [this, q = WorkerQuestion{messageId, std::move(choice), size}] {
        QMetaObject::invokeMethod(this, [this, q] { AskForWorker(q); }, Qt::QueuedConnection);
      },
      onCancel);
}

void ProgressWnd::TakeProgress() {
  ScanProgress p;
  if (!link_.Take(p)) return;
  ++progressUpdates_;
  DrawProgress(p);
}

int ProgressWnd::AskQuestion(const char* messageId, int kind, const MessageBoxWnd::Choice& choice, QSize size) {
  QPointer<ProgressWnd> self(this);
  questionOpen_ = true;
  hide();
  const int answer = MessageBoxWnd::Ask(kind, Owner(), MessageText(messageId), size.width(), size.height(), choice);
  if (!self) return -1;
  questionOpen_ = false;
  // The box enabled the owner again on closing; this window is still modal.
  if (IsModalRunning() && Owner()) Owner()->setEnabled(false);
  return answer;
}

void ProgressWnd::ShowAgain() {
  if (ended_) return;
  showNormal();
  raise();
  activateWindow();
}

bool ProgressWnd::OnClick(const ui::Notification& n) {
  if (n.senderName != u"cancelbtn" && n.senderName != u"closebtn") return PopUpWnd::OnClick(n);
  if (!questionOpen_ && !ended_ && !cancelConfirmed_) AskCancel();
  return true;
}

void ProgressWnd::AskCancel() {
  link_.Pause();
  const int answer = AskQuestion(cancelQuestion_, MessageBoxWnd::kQuestion);
  if (answer < 0) return;
  if (answer == MessageBoxWnd::kOk) {
    // The window stays hidden until the worker has stopped at its next report.
    cancelConfirmed_ = true;
    link_.Cancel();
  } else {
    link_.Resume();
    ShowAgain();
  }
  AfterQuestion();
}

bool ProgressWnd::AskStopForExit() {
  if (stoppingForExit_) return true;
  if (questionOpen_) return false;
  if (ended_) {
    // Nothing runs any more (a finished copy-out shows its outcome).
    stoppingForExit_ = true;
    Close(kDone);
    return true;
  }
  link_.Pause();
  const int answer = AskQuestion(ExitQuestionId(), MessageBoxWnd::kQuestion);
  if (answer < 0) return false;
  if (answer == MessageBoxWnd::kOk) {
    // Stopped like a confirmed cancel: the window stays hidden until the
    // worker has ended, then closes as it does after a cancel.
    stoppingForExit_ = true;
    cancelConfirmed_ = true;
    link_.Cancel();
  } else {
    link_.Resume();
    ShowAgain();
  }
  AfterQuestion();
  return stoppingForExit_;
}

void ProgressWnd::AskForWorker(const WorkerQuestion& q) {
  if (questionOpen_) {
    // Asked once the open question is answered (unless that cancels the work).
    pendingWorkerQuestion_ = q;
    return;
  }
  const int answer = AskQuestion(q.messageId, MessageBoxWnd::kQuestion, q.choice, q.size);
  if (answer < 0) return;
  link_.Answer(answer);
  if (!link_.Cancelled()) ShowAgain();
  AfterQuestion();
}

void ProgressWnd::AfterQuestion() {
  if (pendingWorkerQuestion_ && !link_.Cancelled()) {
    const WorkerQuestion q = *std::exchange(pendingWorkerQuestion_, std::nullopt);
    AskForWorker(q);
    return;
  }
  pendingWorkerQuestion_.reset();
  if (endPending_) {
    endPending_ = false;
    WorkerEndedOnUi();
  }
}

void ProgressWnd::WorkerEndedOnUi() {
  if (ended_) return;
  if (questionOpen_) {
    endPending_ = true;
    return;
  }
  ended_ = true;
  if (lateProgress_) lateProgress_->stop();
  if (worker_.joinable()) worker_.join();
  TakeProgress();
  WorkerEnded();
}

bool ProgressWnd::OnKey(int key, Qt::KeyboardModifiers) {
  // No key closes a progress window or answers for the user.
  return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace dunmere::gui
