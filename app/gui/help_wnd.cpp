#include "app/gui/help_wnd.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextBrowser>
#include <QUrl>

#include "app/gui/apply_section.h"

namespace dunmere::gui {

HelpWnd::HelpWnd(QString guidePath) : PopUpWnd(QStringLiteral("HelpWnd.xml")), guide_(std::move(guidePath)) {}

bool HelpWnd::Load() {
  SetText(QStringLiteral("Title"), MessageText("MSG0910"));
  auto* text = Find<QTextBrowser>(QStringLiteral("GuideText"));
  QFile file(guide_);
  if (!text || !file.open(QIODevice::ReadOnly)) return false;
  // Pictures are named relative to the guide.
  text->document()->setBaseUrl(QUrl::fromLocalFile(QFileInfo(guide_).absolutePath() + QLatin1Char('/')));
  text->setOpenExternalLinks(false);
  text->setOpenLinks(false);
  text->setMarkdown(QString::fromUtf8(file.readAll()));
  FitPictures(*text, width() - 60);
  loaded_ = true;
  return true;
}

void HelpWnd::FitPictures(QTextBrowser& text, int widest) {
  // Screenshots are a window wide: shown at the page's width, not scrolled.
  if (widest <= 0) return;
  QTextDocument* doc = text.document();
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextFragment f = it.fragment();
      if (!f.charFormat().isImageFormat()) continue;
      QTextImageFormat image = f.charFormat().toImageFormat();
      const QImage picture = doc->resource(QTextDocument::ImageResource, QUrl(image.name())).value<QImage>();
      if (picture.isNull() || picture.width() <= widest) continue;
      image.setWidth(widest);
      image.setHeight(double(picture.height()) * widest / picture.width());
      QTextCursor c(doc);
      c.setPosition(f.position());
      c.setPosition(f.position() + f.length(), QTextCursor::KeepAnchor);
      c.setCharFormat(image);
    }
}

}  // namespace dunmere::gui
