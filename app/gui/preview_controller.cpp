#include "app/gui/preview_controller.h"

#include <QEvent>
#include <QGuiApplication>
#include <QImageReader>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QUrl>

#include "app/core/preview/missing_tool_notice.h"
#include "app/core/preview/preview_text.h"
#include "app/gui/apply_section.h"
#include "app/gui/message_box.h"
#include "app/gui/preview_process_wnd.h"
#include "app/gui/preview_wnd.h"
#include "engine/scan_log_folder.h"

namespace dunmere::gui {

PreviewController::PreviewController(ui::WindowImplBase& mainWindow, EngineLookup engines, ListSource listed)
    : wnd_(mainWindow),
      engines_(std::move(engines)),
      listed_(std::move(listed)),
      player_(std::make_unique<MediaPlayer>()) {
  watch_.setInterval(50);
  connect(&watch_, &QTimer::timeout, this, [this] { WatchPlayer(); });
  // Closing the window ends what plays in its pane.
  wnd_.installEventFilter(this);
  // Whatever is written to the pane (a folder's note, say) is to be read:
  // the film's window goes.
  if (auto* panel = wnd_.Find<QTextEdit>(QStringLiteral("PreviewEdit")))
    connect(panel, &QTextEdit::textChanged, this, [this, panel] {
      if (surface_ && !panel->document()->isEmpty()) StopPlayer();
    });
}

PreviewController::~PreviewController() {
  wnd_.removeEventFilter(this);
  StopPlayer();
  pane_.Discard();
}

bool PreviewController::eventFilter(QObject* watched, QEvent* event) {
  // The window's own close hides it; a hide the window system makes
  // (minimising) leaves the film alone.
  if (watched == &wnd_ && event->type() == QEvent::Hide && !event->spontaneous()) StopPlayer();
  if (surface_ && watched == surface_->parentWidget() && event->type() == QEvent::Resize)
    surface_->setGeometry(surface_->parentWidget()->rect());
  return QObject::eventFilter(watched, event);
}

uint64_t PreviewController::PaneWindow() {
  // A Wayland client cannot hand a surface of its own to another program.
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return 0;
  auto* panel = wnd_.Find<QTextEdit>(QStringLiteral("PreviewEdit"));
  if (!panel) return 0;
  panel->clear();
  QWidget* viewport = panel->viewport();
  // A window of its own (not the viewport's): Qt keeps painting the
  // viewport, which would cover the film, and a new one per film leaves
  // nothing of the last player behind.
  auto* surface = new QWidget(viewport);
  surface->setObjectName(QStringLiteral("PlayerSurface"));
  surface->setAttribute(Qt::WA_DontCreateNativeAncestors);
  surface->setAttribute(Qt::WA_NativeWindow);
  QPalette black = surface->palette();
  black.setColor(QPalette::Window, Qt::black);
  surface->setPalette(black);
  surface->setAutoFillBackground(true);
  surface->setGeometry(viewport->rect());
  surface->show();
  viewport->installEventFilter(this);
  surface_ = surface;
  return uint64_t(surface->winId());
}

void PreviewController::StopPlayer() {
  watch_.stop();
  player_->End();
  if (surface_) {
    // The player is gone before its window goes.
    surface_->parentWidget()->removeEventFilter(this);
    delete surface_.data();
  }
}

bool PreviewController::ShowPicture(QTextEdit* panel, const QString& path) {
  if (!panel) return false;
  panel->clear();
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QSize room = panel->viewport()->size() - QSize(16, 16);
  QSize size = reader.size();
  // Large pictures are decoded at the size shown, which also bounds memory.
  if (size.isValid() && room.width() > 0 && room.height() > 0 &&
      (size.width() > room.width() || size.height() > room.height())) {
    size.scale(room, Qt::KeepAspectRatio);
    reader.setScaledSize(size);
  }
  QImage image = reader.read();
  if (image.isNull()) return false;
  if (room.width() > 0 && room.height() > 0 && (image.width() > room.width() || image.height() > room.height()))
    image = image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  static int serial = 0;
  const QUrl url(QStringLiteral("dunmere-preview://%1").arg(++serial));
  panel->document()->addResource(QTextDocument::ImageResource, url, image);
  QTextImageFormat format;
  format.setName(url.toString());
  format.setWidth(image.width());
  format.setHeight(image.height());
  panel->textCursor().insertImage(format);
  return true;
}

void PreviewController::ShowText(QTextEdit* panel, const QString& text) {
  if (!panel) return;
  panel->setPlainText(text);
  panel->moveCursor(QTextCursor::Start);
}

void PreviewController::Tell(const std::string& notice) {
  if (notice.empty()) return;
  lastNotice_ = QString::fromStdString(notice);
}

QTextEdit* PreviewController::Pane() const { return wnd_.Find<QTextEdit>(QStringLiteral("PreviewEdit")); }

void PreviewController::ShowMessage(QTextEdit* panel, const char* id) {
  ShowText(panel, MessageText(id));
  if (panel && panel == Pane()) paneMessage_ = id;
}

void PreviewController::ApplyLanguage() {
  if (QTextEdit* pane = Pane(); pane && paneMessage_) ShowText(pane, MessageText(paneMessage_));
}

bool PreviewController::Show(QTextEdit* panel, const PreviewContent& content, const QString& pictureFailed) {
  lastNotice_.clear();
  if (panel && panel == Pane()) paneMessage_ = nullptr;
  // Whatever was being made for the panel before is not wanted any more.
  conversions_.Abandon();
  if (!content.HasFile()) {
    ShowText(panel, QString::fromUtf8(BytesAsText(content.bytes.data(), content.bytes.size())));
    return false;
  }
  const QString path = QString::fromStdString(content.path);
  if (content.kind == PreviewKind::kPicture) {
    if (ShowPicture(panel, path)) return false;
    ShowText(panel, pictureFailed);
    return true;
  }
  if (NeedsConverter(content.kind)) {
    // Made beside the window (LibreOffice may take seconds to start); page
    // pictures and converted text go to the scan-log folder. Its bytes are
    // read now: the copy may be gone when the conversion ends.
    ShowMessage(panel, "MSG0909");
    QPointer<QTextEdit> target(panel);
    const QString bytes = QString::fromUtf8(FileBytesAsText(content.path));
    conversions_.Start(content.kind, content.path, ScanLogFolder::Instance().ScanLogPath(), tools_,
                       [this, target, bytes, pictureFailed](const ConvertedPreview& c) {
                         if (!target) return;
                         if (target == Pane()) paneMessage_ = nullptr;
                         Tell(c.notice);
                         const QString notice =
                             lastNotice_.isEmpty() ? QString() : lastNotice_ + QStringLiteral("\n\n");
                         if (c.shape == ConvertedPreview::Shape::kPicture) {
                           if (!ShowPicture(target, QString::fromStdString(c.picturePath)))
                             ShowText(target, pictureFailed);
                           return;
                         }
                         ShowText(target, notice + (c.shape == ConvertedPreview::Shape::kText
                                                        ? QString::fromStdString(c.text)
                                                        : bytes));
                       });
    return false;
  }
  // A copy the engine made for a type we show as bytes.
  ShowText(panel, QString::fromUtf8(FileBytesAsText(content.path)));
  return false;
}

void PreviewController::Play(const PreviewContent& content) {
  StopPlayer();
  MediaPlayer::Place place;
  place.window = PaneWindow();
  const MediaPlayer::State s = player_->Play(content.path, content.kind == PreviewKind::kAudio, place);
  if (s != MediaPlayer::State::kStarting) StopPlayer();
  if (s == MediaPlayer::State::kMissing) {
    Tell(TakeMissingToolNotice("mpv", "mpv", MissingToolFallback::kNothing));
    if (!lastNotice_.isEmpty()) MessageBoxWnd::Show(MessageBoxWnd::kInformation, &wnd_, lastNotice_, 400, 170);
    return;
  }
  if (s == MediaPlayer::State::kNeverPlayed) {
    emit neverPlayed();
    MessageBoxWnd::Show(MessageBoxWnd::kInformation, &wnd_, MessageText("MSG1207"), 330, 160);
    return;
  }
  watch_.start();
}

void PreviewController::WatchPlayer() {
  const MediaPlayer::State s = player_->Poll();
  if (s == MediaPlayer::State::kStarting) return;
  watch_.stop();
  if (s == MediaPlayer::State::kNeverPlayed) {
    StopPlayer();
    emit neverPlayed();
    MessageBoxWnd::Show(MessageBoxWnd::kInformation, &wnd_, MessageText("MSG1207"), 330, 160);
  }
}

bool PreviewController::Read(QWidget* owner, const FoundItemRecord& record, PreviewContent& out, int width,
                              int height) {
  ScanEngine* engine = engines_ ? engines_(record) : nullptr;
  if (!engine) return false;
  // Each preview ends the player started for the one before.
  StopPlayer();
  PreviewProcessWnd wnd(*engine, record, out);
  wnd.CreatePopup(owner, width, height);
  return wnd.RunModal() == PopUpWnd::kDone;
}

void PreviewController::PreviewSelected(const FoundItemRecord& record) {
  auto* panel = wnd_.Find<QTextEdit>(QStringLiteral("PreviewEdit"));
  conversions_.Abandon();
  StopPlayer();
  paneMessage_ = nullptr;
  if (record.isFolder) {
    ShowMessage(panel, "MSG0904");
    return;
  }
  if (panel) panel->clear();
  QPointer<QTextEdit> guard(panel);
  if (!Read(&wnd_, record, pane_, 370, 220)) return;  // a cancelled reading shows nothing
  if (IsMedia(pane_.kind) && pane_.HasFile()) {
    Play(pane_);
    return;
  }
  if (guard && Show(guard, pane_, MessageText("MSG0905"))) paneMessage_ = "MSG0905";
}

void PreviewController::OpenPreviewWindow(const FoundItemRecord& record) {
  if (record.isFolder) return;
  auto content = std::make_unique<PreviewContent>();
  if (!Read(&wnd_, record, *content, 370, 220)) return;
  if (IsMedia(content->kind) && content->HasFile()) {
    Play(*content);
    content->Discard(true);
    return;
  }
  PreviewWnd preview(*this, std::move(content));
  preview.CreatePopup(&wnd_, 600, 500);
  preview.RunModal();
}

void PreviewController::ClearPane() {
  conversions_.Abandon();
  StopPlayer();
  paneMessage_ = nullptr;
  if (auto* panel = Pane()) panel->clear();
}

void PreviewController::StartSingleRecovery(QWidget* owner, const FoundItemRecord& record) {
  if (recover_) recover_(owner, record);
}

}  // namespace dunmere::gui
