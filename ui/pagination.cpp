#include "ui/pagination.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace dunmere::ui {

Pagination::Pagination(QWidget* parent) : QWidget(parent) {
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  prev_ = new QToolButton(this);
  prev_->setObjectName(QStringLiteral("PagePrev"));
  prev_->setArrowType(Qt::LeftArrow);
  label_ = new QLabel(this);
  label_->setAlignment(Qt::AlignCenter);
  next_ = new QToolButton(this);
  next_->setObjectName(QStringLiteral("PageNext"));
  next_->setArrowType(Qt::RightArrow);
  lay->addWidget(prev_);
  lay->addWidget(label_, 1);
  lay->addWidget(next_);
  connect(prev_, &QToolButton::clicked, this, [this] { Go(page_ - 1); });
  connect(next_, &QToolButton::clicked, this, [this] { Go(page_ + 1); });
  Refresh();
}

void Pagination::SetPageCount(int count) {
  count_ = count < 1 ? 1 : count;
  if (page_ >= count_) page_ = count_ - 1;
  Refresh();
}

void Pagination::SetCurrentPage(int page) {
  page_ = std::clamp(page, 0, count_ - 1);
  Refresh();
}

void Pagination::Go(int page) {
  page = std::clamp(page, 0, count_ - 1);
  if (page == page_) return;
  page_ = page;
  Refresh();
  emit skinNotify(QStringLiteral("itemselect"), objectName(), page_, 0);
}

void Pagination::Refresh() {
  label_->setText(QStringLiteral("%1 / %2").arg(page_ + 1).arg(count_));
  prev_->setEnabled(page_ > 0);
  next_->setEnabled(page_ + 1 < count_);
}

}  // namespace dunmere::ui
