#include "ui/markup.h"

#include <QRegularExpression>

namespace dunmere::ui {

bool HasMarkup(const QString& text) {
  static const QRegularExpression re(QStringLiteral(R"(\{(/?[bius]|/?c( #[0-9A-Fa-f]{6,8})?|/?f( \d+)?|n)\})"));
  return re.match(text).hasMatch();
}

QString MarkupToHtml(const QString& text) {
  QString out;
  out.reserve(text.size() + 32);
  QString plain;
  auto flush = [&] {
    out += plain.toHtmlEscaped();
    plain.clear();
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar ch = text[i];
    if (ch == u'{' && i + 1 < text.size() && text[i + 1] == u'{') {
      plain += u'{';
      ++i;
      continue;
    }
    if (ch == u'{') {
      const qsizetype end = text.indexOf(u'}', i);
      if (end > i) {
        const QString tag = text.mid(i + 1, end - i - 1);
        QString html;
        if (tag == u"b" || tag == u"i" || tag == u"u" || tag == u"s") html = "<" + tag + ">";
        else if (tag == u"/b" || tag == u"/i" || tag == u"/u" || tag == u"/s") html = "<" + tag + ">";
        else if (tag == u"n") html = QStringLiteral("<br/>");
        else if (tag.startsWith(u"c ")) {
          QString colour = tag.mid(2).trimmed();
          if (colour.size() == 9) colour = "#" + colour.mid(3);  // drop alpha
          html = QStringLiteral("<span style=\"color:%1\">").arg(colour.toHtmlEscaped());
        } else if (tag == u"/c" || tag == u"/f") html = QStringLiteral("</span>");
        else if (tag.startsWith(u"f ")) html = QStringLiteral("<span style=\"font-weight:bold; font-size:large\">");
        if (!html.isEmpty()) {
          flush();
          out += html;
          i = end;
          continue;
        }
      }
    }
    plain += ch;
  }
  flush();
  return out;
}

}  // namespace dunmere::ui
