#pragma once
// The preview of found files, for the main window: on selection the file is
// read (a reading window), then shown in the pane "PreviewEdit": pictures
// decoded here, PDF pages, documents and archive listings through their
// converters, anything else as its bytes, sound and video in the player. The
// preview window (PreviewWnd) shows the same content larger. Sound and video
// play inside the pane: the player draws into a native child window made for
// it over the pane's viewport, sized with the pane. One player at a time: a
// new preview, another node of the tree and closing the window end it.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "app/core/preview/document_preview.h"
#include "app/core/preview/media_player.h"
#include "app/core/preview/preview_content.h"
#include "app/gui/preview_conversions.h"
#include "ui/window_base.h"

class QTextEdit;

namespace dunmere::gui {

class PreviewController : public QObject {
  Q_OBJECT
 public:
  using EngineLookup = std::function<ScanEngine*(const FoundItemRecord&)>;
  using ListSource = std::function<std::vector<FoundItemRecord>()>;
  using Recover = std::function<void(QWidget* owner, const FoundItemRecord&)>;

  PreviewController(ui::WindowImplBase& mainWindow, EngineLookup engines, ListSource listed);
  ~PreviewController() override;  // deletes the pane's copy, ends the player

  void SetRecover(Recover recover) { recover_ = std::move(recover); }

  // The pane preview of a selected file.
  void PreviewSelected(const FoundItemRecord& record);
  // The preview window (600 x 500) for a file; media are played instead.
  void OpenPreviewWindow(const FoundItemRecord& record);

  // Reads a record with a reading window owned by `owner`; true when read.
  bool Read(QWidget* owner, const FoundItemRecord& record, PreviewContent& out, int width, int height);
  // Shows content that is not media in a panel; `pictureFailed` is what
  // stands there when a picture cannot be decoded (then true).
  bool Show(QTextEdit* panel, const PreviewContent& content, const QString& pictureFailed);
  // Starts the player for media content, in the pane; "MSG1207" when it
  // never plays.
  void Play(const PreviewContent& content);
  // Ends the player this controller started and takes its window out of the pane.
  void StopPlayer();
  void StartSingleRecovery(QWidget* owner, const FoundItemRecord& record);

  std::vector<FoundItemRecord> Listed() const { return listed_ ? listed_() : std::vector<FoundItemRecord>{}; }
  MediaPlayer& Player() { return *player_; }
  // The pane's native child the player draws into; null while none plays.
  QWidget* PlayerSurface() const { return surface_; }
  const PreviewContent& PaneContent() const { return pane_; }
  // The last notice about a missing tool or player (tests).
  const QString& LastNotice() const { return lastNotice_; }
  // Documents, PDF pages and listings being made for a panel (tests wait on
  // its delivered() signal).
  PreviewConversions& Conversions() { return conversions_; }
  // The pane shows nothing of the file any more (another kind of file was
  // chosen in the tree, new results came); a conversion for it is dropped, a
  // player ended.
  void ClearPane();
  // A message the pane shows (a folder chosen, a picture that cannot be
  // shown, a document being made) in the language now chosen.
  void ApplyLanguage();

  // A picture file decoded (any format the Qt image readers know) and scaled
  // to fit the panel; false when it cannot be decoded.
  static bool ShowPicture(QTextEdit* panel, const QString& path);
  static void ShowText(QTextEdit* panel, const QString& text);

 signals:
  void neverPlayed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void WatchPlayer();
  // A fresh native window over the pane's viewport for the player; 0 where
  // the pane cannot lend one (no pane, a display server without embedding).
  uint64_t PaneWindow();
  void Tell(const std::string& notice);
  // Shows the message `id` in a panel; in the pane it is kept to be shown
  // again in another language.
  void ShowMessage(QTextEdit* panel, const char* id);
  QTextEdit* Pane() const;

  ui::WindowImplBase& wnd_;
  EngineLookup engines_;
  ListSource listed_;
  Recover recover_;
  PreviewTools tools_;
  PreviewConversions conversions_;
  std::unique_ptr<MediaPlayer> player_;
  PreviewContent pane_;
  QPointer<QWidget> surface_;
  QTimer watch_;
  QString lastNotice_;
  const char* paneMessage_ = nullptr;  // the message id the pane shows, if any
};

}  // namespace dunmere::gui
