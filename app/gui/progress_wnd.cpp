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

CProgressWnd::CProgressWnd(QString layoutFile, QString languageSection, const char* cancelQuestionId)
    : CPopUpWnd(std::move(layoutFile), std::move(languageSection)),
      cancelQuestion_(cancelQuestionId),
      // Ten drawings a second read as smooth and leave the engine the CPU.
      link_([this] { QMetaObject::invokeMethod(this, [this] { TakeProgress(); }, Qt::QueuedConnection); },
            std::chrono::milliseconds(100)) {}

CProgressWnd::~CProgressWnd() { StopWorker(); }

void CProgressWnd::StartWorker(std::function<void()> body) {
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

void CProgressWnd::StopWorker() {
  // The worker sees the cancel at its next progress report or question.
  link_.Cancel();
  if (worker_.joinable()) worker_.join();
}

void CProgressWnd::PostStage(const QString& text) {
  QMetaObject::invokeMethod(this, [this, text] { SetText(QStringLiteral("stage"), text); }, Qt::QueuedConnection);
}

int CProgressWnd::AskFromWorker(const char* messageId, int onCancel) {
  return link_.Ask(
      [this, messageId] {
        QMetaObject::invokeMethod(this, [this, messageId] { AskForWorker(messageId); }, Qt::QueuedConnection);
      },
      onCancel);
}

void CProgressWnd::TakeProgress() {
  ScanProgress p;
  if (!link_.Take(p)) return;
  ++progressUpdates_;
  DrawProgress(p);
}

int CProgressWnd::AskQuestion(const char* messageId, int kind) {
  QPointer<CProgressWnd> self(this);
  questionOpen_ = true;
  hide();
  const int answer = CMessageBox::Show(kind, Owner(), MessageText(messageId), 350, 160);
  if (!self) return -1;
  questionOpen_ = false;
  // The box enabled the owner again on closing; this window is still modal.
  if (IsModalRunning() && Owner()) Owner()->setEnabled(false);
  return answer;
}

void CProgressWnd::ShowAgain() {
  if (ended_) return;
  showNormal();
  raise();
  activateWindow();
}

bool CProgressWnd::OnClick(const ui::Notification& n) {
  if (n.senderName != u"cancelbtn" && n.senderName != u"closebtn") return CPopUpWnd::OnClick(n);
  if (!questionOpen_ && !ended_ && !cancelConfirmed_) AskCancel();
  return true;
}

void CProgressWnd::AskCancel() {
  link_.Pause();
  const int answer = AskQuestion(cancelQuestion_, CMessageBox::kQuestion);
  if (answer < 0) return;
  if (answer == CMessageBox::kOk) {
    // The window stays hidden until the worker has stopped at its next report.
    cancelConfirmed_ = true;
    link_.Cancel();
  } else {
    link_.Resume();
    ShowAgain();
  }
  AfterQuestion();
}

void CProgressWnd::AskForWorker(const char* messageId) {
  if (questionOpen_) {
    // Asked once the open question is answered (unless that cancels the work).
    pendingWorkerQuestion_ = messageId;
    return;
  }
  const int answer = AskQuestion(messageId, CMessageBox::kQuestion);
  if (answer < 0) return;
  link_.Answer(answer);
  if (!link_.Cancelled()) ShowAgain();
  AfterQuestion();
}

void CProgressWnd::AfterQuestion() {
  if (pendingWorkerQuestion_ && !link_.Cancelled()) {
    const char* id = std::exchange(pendingWorkerQuestion_, nullptr);
    AskForWorker(id);
    return;
  }
  pendingWorkerQuestion_ = nullptr;
  if (endPending_) {
    endPending_ = false;
    WorkerEndedOnUi();
  }
}

void CProgressWnd::WorkerEndedOnUi() {
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

bool CProgressWnd::OnKey(int key, Qt::KeyboardModifiers) {
  // No key closes a progress window or answers for the user.
  return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace dunmere::gui
