#include "app/gui/file_type_page.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGridLayout>

#include "app/core/results/file_categories.h"
#include "app/gui/apply_section.h"
#include "ui/window_base.h"

namespace dunmere::gui {

const FileTypePage::Category FileTypePage::kCategories[6] = {
    {"FileTypePhoto", "OptPhotoFile", "BtnPhoto"}, {"FileTypeAudio", "OptAudioFile", "BtnAudio"},
    {"FileTypeVideo", "OptVideoFile", "BtnVideo"}, {"FileTypeOffice", "OptOfficeFile", "BtnOffice"},
    {"FileTypeZip", "OptZipFile", "BtnZip"},       {"FileTypeOther", "OptOtherFile", "BtnOther"}};

FileTypePage::FileTypePage(ui::WindowImplBase& wnd) : wnd_(wnd) { AddOptions(); }

void FileTypePage::AddOptions() {
  // The options are the captioned rows of the file-format table, four to a
  // line in each category's grid; the layout holds only the grids.
  constexpr int kColumns = 4;
  int placed[kCategoryCount] = {};
  for (const FileTypeOption& o : FileTypeOptions()) {
    const int c = int(o.category);
    const QString container = QString::fromLatin1(kCategories[c].container);
    QWidget* grid = wnd_.FindControl(container + QStringLiteral("Grid"));
    auto* layout = grid ? qobject_cast<QGridLayout*>(grid->layout()) : nullptr;
    if (!layout) continue;
    // The built-in caption keys the language's caption, now and after a switch.
    const QString builtIn = QString::fromUtf8(o.caption.data(), int(o.caption.size()));
    auto* box = new QCheckBox(FileTypeCaption(builtIn), grid);
    box->setProperty("caption", builtIn);
    // "OptPhotoFileItem1", ...; the one catch-all option is "OptOtherFileItem".
    QString name = QString::fromLatin1(kCategories[c].option) + QStringLiteral("Item");
    if (o.category != dunmere::Category::kOthers) name += QString::number(placed[c] + 1);
    box->setObjectName(name);
    box->setChecked(true);
    box->setProperty("userdata", QString::fromStdString(o.extensions));
    box->setProperty("picture", QString::fromStdString(OptionPicture(o)));
    layout->addWidget(box, placed[c] / kColumns, placed[c] % kColumns);
    ++placed[c];
  }
  for (const Category& c : kCategories)
    if (QWidget* grid = wnd_.FindControl(QString::fromLatin1(c.container) + QStringLiteral("Grid")))
      wnd_.AdoptControls(grid);
}

void FileTypePage::ApplyLanguage() {
  for (const Category& c : kCategories)
    for (QAbstractButton* b : TypeOptions(c.container))
      if (const QString builtIn = b->property("caption").toString(); !builtIn.isEmpty()) b->setText(FileTypeCaption(builtIn));
}

QAbstractButton* FileTypePage::Option(const QString& name) const { return wnd_.Find<QAbstractButton>(name); }

std::vector<QAbstractButton*> FileTypePage::TypeOptions(const char* container) const {
  std::vector<QAbstractButton*> out;
  QWidget* box = wnd_.FindControl(QString::fromLatin1(container));
  if (!box) return out;
  for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
    if (b->isCheckable() && !b->property("userdata").toString().isEmpty()) out.push_back(b);
  return out;
}

void FileTypePage::Rebuild() {
  selected_.clear();
  for (const Category& c : kCategories)
    for (QAbstractButton* b : TypeOptions(c.container)) {
      if (!b->isChecked()) continue;
      for (const QString& ext : b->property("userdata").toString().split(u'|', Qt::SkipEmptyParts))
        selected_[ext.trimmed().toLower().toStdString()] = b->objectName();
    }
}

bool FileTypePage::OnOptionChanged(const QString& name, bool checked) {
  for (const Category& c : kCategories) {
    if (name == QLatin1String(c.option)) {
      SetCategory(c, checked);
      return true;
    }
    for (QAbstractButton* b : TypeOptions(c.container))
      if (b->objectName() == name) {
        // Rebuilt from every checked option: an extension two options name
        // stays selected while either of them is checked.
        Rebuild();
        return true;
      }
  }
  return false;
}

bool FileTypePage::OnButton(const QString& name) {
  for (const Category& c : kCategories)
    if (name == QLatin1String(c.button)) {
      QAbstractButton* opt = Option(QString::fromLatin1(c.option));
      const bool on = opt ? !opt->isChecked() : true;
      {
        ui::WindowImplBase::Quiet quiet(&wnd_);
        if (opt) opt->setChecked(on);
      }
      SetCategory(c, on);
      return true;
    }
  return false;
}

void FileTypePage::SetCategory(const Category& c, bool checked) {
  {
    ui::WindowImplBase::Quiet quiet(&wnd_);
    for (QAbstractButton* b : TypeOptions(c.container)) b->setChecked(checked);
  }
  Rebuild();
}

std::map<std::string, std::string> FileTypePage::SelectedUserData() const {
  std::map<std::string, std::string> out;
  for (const auto& [ext, option] : selected_)
    if (QAbstractButton* b = Option(option)) out[ext] = b->property("userdata").toString().toStdString();
  return out;
}

std::string FileTypePage::FilterText() const {
  std::vector<std::string> exts;
  for (const auto& [ext, option] : selected_) exts.push_back(ext);
  return FilterText(exts);
}

std::string FileTypePage::FilterText(const std::vector<std::string>& extensions) {
  std::string joined;
  for (const std::string& e : extensions) {
    if (!joined.empty()) joined += '|';
    joined += "*." + e;
  }
  std::string out;
  for (char ch : joined) {
    if (ch == '*') ch = '.';
    if (std::string_view("^$+?{}[]").find(ch) != std::string_view::npos) out += '\\';
    out += ch;
  }
  return out;
}

}  // namespace dunmere::gui
