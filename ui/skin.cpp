#include "ui/skin.h"

#include <QDir>
#include <QFile>
#include <QPainter>

#include <functional>

#include <stb/stb_image.h>

extern "C" {
extern const uint8_t dunmere_skin_zip_begin[];
extern const uint8_t dunmere_skin_zip_end[];
}

namespace dunmere::ui {

QImage DecodePicture(const uint8_t* data, size_t size) {
  if (!data || size == 0 || size > 0x7FFFFFFF) return {};
  int w = 0, h = 0, n = 0;
  stbi_uc* px = stbi_load_from_memory(data, int(size), &w, &h, &n, 4);
  if (!px) return {};
  QImage img(px, w, h, w * 4, QImage::Format_RGBA8888);
  QImage copy = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  stbi_image_free(px);
  return copy;
}

Skin& Skin::Instance() {
  static Skin skin;
  return skin;
}

Skin::Skin() {
  const QByteArray dir = qgetenv("DUNMERE_SKIN_DIR");
  if (!dir.isEmpty()) UseFolder(QString::fromLocal8Bit(dir));
  else UseBuiltIn();
}

void Skin::UseBuiltIn() {
  folder_.clear();
  owned_.clear();
  images_.clear();
  zip_.Open(ByteView(dunmere_skin_zip_begin, size_t(dunmere_skin_zip_end - dunmere_skin_zip_begin)));
}

bool Skin::UseArchive(std::vector<uint8_t> bytes) {
  ZipReader probe;
  if (!probe.Open(ByteView(bytes.data(), bytes.size()))) return false;
  owned_ = std::move(bytes);
  folder_.clear();
  images_.clear();
  zip_.Open(ByteView(owned_.data(), owned_.size()));
  return true;
}

bool Skin::UseArchiveFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return false;
  const QByteArray all = f.readAll();
  return UseArchive(std::vector<uint8_t>(all.begin(), all.end()));
}

void Skin::UseFolder(const QString& folder) {
  folder_ = folder;
  images_.clear();
}

static QString Normalized(const QString& name) {
  return QString::fromStdString(ZipReader::NormalizeName(name.toStdString()));
}

QByteArray Skin::Read(const QString& name, QString* error) const {
  if (!folder_.isEmpty()) {
    QFile f(QDir(folder_).filePath(Normalized(name)));
    if (!f.open(QIODevice::ReadOnly)) {
      if (error) *error = QStringLiteral("%1: not found").arg(name);
      return {};
    }
    return f.readAll();
  }
  std::vector<uint8_t> out;
  const ZipError e = zip_.Read(name.toStdString(), out);
  if (e != ZipError::kNone) {
    if (error) *error = QStringLiteral("%1: %2").arg(name, QString::fromLatin1(ZipErrorText(e)));
    return {};
  }
  return QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(out.size()));
}

bool Skin::Has(const QString& name) const {
  if (!folder_.isEmpty()) return QFile::exists(QDir(folder_).filePath(Normalized(name)));
  return zip_.Contains(name.toStdString());
}

QStringList Skin::Names() const {
  QStringList names;
  if (!folder_.isEmpty()) {
    QDir root(folder_);
    std::function<void(const QString&)> walk = [&](const QString& sub) {
      QDir d(root.filePath(sub));
      for (const QFileInfo& fi : d.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString rel = sub.isEmpty() ? fi.fileName() : sub + "/" + fi.fileName();
        if (fi.isDir()) walk(rel);
        else names << rel;
      }
    };
    walk({});
  } else {
    for (const ZipMember& m : zip_.Members()) names << QString::fromStdString(m.name);
  }
  return names;
}

QImage Skin::Image(const QString& file) const {
  const QString key = Normalized(file);
  if (auto it = images_.constFind(key); it != images_.constEnd()) return *it;
  const QByteArray bytes = Read(key);
  QImage img = DecodePicture(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
  images_.insert(key, img);
  return img;
}

static QRect ToQRect(const PicRect& r) { return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)); }

void Skin::Draw(QPainter& p, const QRect& rect, const QString& attrText) const {
  const PictureAttr a = ParsePictureAttr(attrText.toStdString());
  if (a.Empty()) return;
  QImage img = Image(QString::fromStdString(a.file));
  if (img.isNull()) return;
  QRect src = a.source ? ToQRect(*a.source) & img.rect() : img.rect();
  if (src.isEmpty()) return;
  if (a.mask) {
    img = img.copy(src).convertToFormat(QImage::Format_ARGB32);
    const QRgb key = QRgb(*a.mask) | 0xFF000000u;
    for (int y = 0; y < img.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
      for (int x = 0; x < img.width(); ++x)
        if ((line[x] | 0xFF000000u) == key) line[x] = 0;
    }
    src = img.rect();
  }
  QRect dst = a.dest ? ToQRect(*a.dest).translated(rect.topLeft()) : rect;
  p.save();
  p.setRenderHint(QPainter::SmoothPixmapTransform);  // 32-pixel icons shown at 16
  p.setOpacity(p.opacity() * a.fade / 255.0);
  const PicRect& c = a.corner;
  if (c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0) {
    p.drawImage(dst, img, src);
  } else {
    // Nine parts: corners keep their size, edges stretch one way, the middle both.
    const int sx[4] = {src.left(), src.left() + c.left, src.right() + 1 - c.right, src.right() + 1};
    const int sy[4] = {src.top(), src.top() + c.top, src.bottom() + 1 - c.bottom, src.bottom() + 1};
    const int dx[4] = {dst.left(), dst.left() + c.left, dst.right() + 1 - c.right, dst.right() + 1};
    const int dy[4] = {dst.top(), dst.top() + c.top, dst.bottom() + 1 - c.bottom, dst.bottom() + 1};
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) {
        QRect s(QPoint(sx[i], sy[j]), QPoint(sx[i + 1] - 1, sy[j + 1] - 1));
        QRect d(QPoint(dx[i], dy[j]), QPoint(dx[i + 1] - 1, dy[j + 1] - 1));
        if (s.isValid() && d.isValid()) p.drawImage(d, img, s);
      }
  }
  p.restore();
}

QPixmap Skin::Picture(const QString& attr, QSize size) const {
  const PictureAttr a = ParsePictureAttr(attr.toStdString());
  if (a.Empty()) return {};
  if (!size.isValid()) {
    if (a.dest) size = QSize(a.dest->right, a.dest->bottom);
    else if (a.source) size = QSize(a.source->Width(), a.source->Height());
    else size = Image(QString::fromStdString(a.file)).size();
  }
  if (size.isEmpty()) return {};
  QPixmap pm(size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  Draw(p, QRect(QPoint(0, 0), size), attr);
  return pm;
}

}  // namespace dunmere::ui
