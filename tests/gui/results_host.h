#pragma once
// A small window made of the main window's results page ("xml/RecoverFile.xml")
// plus the two controls of the main window's bars the results page writes to
// ("SelectedFileInfo", "BtnRecover"), hosting a ResultView the way the main
// window does: every notification goes to the view first.
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <memory>
#include <vector>

#include "app/gui/apply_section.h"
#include "app/gui/result_view.h"
#include "ui/window_base.h"

namespace dunmere::test {

class ResultsHostWnd : public ui::WindowImplBase {
 public:
  QString SkinFile() const override { return QStringLiteral("xml/RecoverFile.xml"); }
  void Notify(const ui::Notification& n) override {
    seen.push_back(n);
    if (view) view->HandleNotify(n);
    ui::WindowImplBase::Notify(n);
  }
  // Builds the window and the view on it.
  bool Open(int width = 1000, int height = 480) {
    const bool ok = Create(nullptr, width, height);
    gui::ApplySection(this, QStringLiteral("MainWnd"));  // header and node captions
    view = std::make_unique<gui::ResultView>(*this);
    return ok;
  }
  std::unique_ptr<gui::ResultView> view;
  std::vector<ui::Notification> seen;

 protected:
  void InitWindow() override {
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("ToolBar2"));
    auto* lay = new QHBoxLayout(bar);
    lay->setContentsMargins(16, 4, 16, 8);
    auto* info = new QLabel(bar);
    info->setObjectName(QStringLiteral("SelectedFileInfo"));
    auto* recover = new QPushButton(QStringLiteral("Recover"), bar);
    recover->setObjectName(QStringLiteral("BtnRecover"));
    lay->addWidget(info, 1);
    lay->addWidget(recover);
    if (layout()) layout()->addWidget(bar);
  }
};

}  // namespace dunmere::test
