#pragma once
// The toolkit's inline text markup, turned into Qt rich text:
//   {b}..{/b} bold, {i}..{/i} italic, {u}..{/u} underline, {s}..{/s} struck,
//   {c #RRGGBB}..{/c} or {c #AARRGGBB} colour, {f n}..{/f} font n of the skin
//   (emphasis: bold, one step larger), {n} line break, {{ a literal brace.
// Everything else is escaped, so that names from disk are shown as they are.
#include <QString>

namespace dunmere::ui {

bool HasMarkup(const QString& text);
QString MarkupToHtml(const QString& text);

}  // namespace dunmere::ui
