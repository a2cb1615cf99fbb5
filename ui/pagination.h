#pragma once
// "Pagination": "<" page-of-pages ">" for lists shown a page at a time.
// Changing the page raises "itemselect" with the new page (0-based) as wParam.
#include <QWidget>

class QLabel;
class QToolButton;

namespace dunmere::ui {

class Pagination : public QWidget {
  Q_OBJECT
 public:
  explicit Pagination(QWidget* parent = nullptr);
  void SetPageCount(int count);
  int PageCount() const { return count_; }
  // Programmatic change: no notification.
  void SetCurrentPage(int page);
  int CurrentPage() const { return page_; }

 signals:
  void skinNotify(const QString& type, const QString& senderName, qint64 wParam, qint64 lParam);

 private:
  void Go(int page);
  void Refresh();
  int count_ = 1;
  int page_ = 0;
  QToolButton* prev_;
  QToolButton* next_;
  QLabel* label_;
};

}  // namespace dunmere::ui
