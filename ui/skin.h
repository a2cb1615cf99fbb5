#pragma once
// The skin: window layouts and pictures from the zip archive built into the
// program. Setting $DUNMERE_SKIN_DIR to a folder reads the files from there
// instead, so that designers see their changes without a rebuild.
#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <memory>
#include <vector>

#include "ui/picture_attr.h"
#include "ui/zip_reader.h"

class QPainter;

namespace dunmere::ui {

class Skin {
 public:
  static Skin& Instance();

  // Replaces the archive (tests, the shot tool). False when it cannot be read;
  // the previous skin stays in use then.
  bool UseArchive(std::vector<uint8_t> bytes);
  bool UseArchiveFile(const QString& path);
  void UseFolder(const QString& folder);
  void UseBuiltIn();

  // A member by its name ("xml\skin.xml" and "xml/skin.xml" are the same).
  // Empty with `error` set when it is missing or damaged.
  QByteArray Read(const QString& name, QString* error = nullptr) const;
  bool Has(const QString& name) const;
  QStringList Names() const;

  // Decoded picture file (cached); a null image when missing or undecodable.
  QImage Image(const QString& file) const;
  // The picture an attribute string describes, at the given size.
  QPixmap Picture(const QString& attr, QSize size = {}) const;
  // Draws an attribute's picture into rect (source part, dest, corners).
  void Draw(QPainter& p, const QRect& rect, const QString& attr) const;

 private:
  Skin();
  std::vector<uint8_t> owned_;
  ZipReader zip_;
  QString folder_;
  mutable QHash<QString, QImage> images_;
};

// Decodes PNG, JPEG, BMP, GIF or PSD bytes into an RGBA image.
QImage DecodePicture(const uint8_t* data, size_t size);

}  // namespace dunmere::ui
