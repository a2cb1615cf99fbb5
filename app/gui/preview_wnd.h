#pragma once
// The preview window (600 x 500): one found file shown large, "PrevBtn" and
// "NextBtn" step through the pictures of the main window's file list
// (wrapping round), "RecoveryBtn" copies the file out, "CancelBtn" closes.
// The window deletes its temporary copy when it goes.
#include <memory>
#include <vector>

#include "app/core/preview/preview_content.h"
#include "app/gui/popup_wnd.h"

namespace dunmere::gui {

class PreviewController;

class PreviewWnd : public PopUpWnd {
  Q_OBJECT
 public:
  // What the picture panel says when a picture cannot be decoded.
  static QString PictureFailedText();

  PreviewWnd(PreviewController& controller, std::unique_ptr<PreviewContent> content);
  ~PreviewWnd() override;
  QString ClassName() const override { return QStringLiteral("UIPreviewWnd"); }

  const PreviewContent& Content() const { return *content_; }
  // Steps to the next or previous picture of the list; false when there is
  // none or it could not be read.
  bool Step(bool forward);

 protected:
  void OnWindowInit() override;
  bool OnClick(const ui::Notification& n) override;

 private:
  void ShowContent();

  PreviewController& controller_;
  std::unique_ptr<PreviewContent> content_;
  std::vector<FoundItemRecord> listed_;
};

}  // namespace dunmere::gui
