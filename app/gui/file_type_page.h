#pragma once
// The file-type page: one option per file type inside six category
// containers (made from the file-format table when the page is built), a
// category option and an all/none button per container, and the map of
// selected extensions the type search is built from.
#include <QString>
#include <map>
#include <string>
#include <vector>

class QAbstractButton;

namespace dunmere::ui {
class WindowImplBase;
}

namespace dunmere::gui {

class FileTypePage {
 public:
  // Category containers, their category options and their all/none buttons.
  struct Category {
    const char* container;
    const char* option;
    const char* button;
  };
  static const Category kCategories[6];

  explicit FileTypePage(ui::WindowImplBase& wnd);

  // Builds the selection from the options checked in the layout.
  void Rebuild();
  // The option captions again, after the language changed.
  void ApplyLanguage();
  // "selectchanged" of an option; true when it was one of this page's.
  bool OnOptionChanged(const QString& name, bool checked);
  // "click" of a category's all/none button; true when it was one.
  bool OnButton(const QString& name);

  // extension -> name of the option that selected it ("other" for the
  // catch-all option), in extension order.
  const std::map<std::string, QString>& Selected() const { return selected_; }
  // extension -> that option's user data (what the result views keep).
  std::map<std::string, std::string> SelectedUserData() const;
  // The pattern text the engines' type search takes.
  std::string FilterText() const;
  static std::string FilterText(const std::vector<std::string>& extensions);

 private:
  void AddOptions();
  QAbstractButton* Option(const QString& name) const;
  std::vector<QAbstractButton*> TypeOptions(const char* container) const;
  void SetCategory(const Category& c, bool checked);

  ui::WindowImplBase& wnd_;
  std::map<std::string, QString> selected_;
};

}  // namespace dunmere::gui
