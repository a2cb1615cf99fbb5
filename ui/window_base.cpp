#include "ui/window_base.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextImageFormat>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/button_ex.h"
#include "ui/file_tree.h"
#include "ui/list_ui.h"
#include "ui/markup.h"
#include "ui/named_items.h"
#include "ui/skin.h"
#include "ui/skin_loader.h"

namespace dunmere::ui {

bool PostMessageTo(QObject* target, int message, quintptr wParam, quintptr lParam) {
  if (!target || message < 1024 || message > 65535) return false;
  QCoreApplication::postEvent(target, new PostedMessage(message, wParam, lParam));
  return true;
}

int CallOnUiThread(const std::function<int()>& fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) return fn();
  int result = 0;
  QMetaObject::invokeMethod(app, [&] { result = fn(); }, Qt::BlockingQueuedConnection);
  return result;
}

WindowImplBase::WindowImplBase() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {}

WindowImplBase::~WindowImplBase() {
  // A window destroyed while its modal loop runs must not leave the loop waiting.
  if (loop_) loop_->quit();
  // The timers die with their controls after this part of the window is gone;
  // their "destroyed" must no longer reach timers_.
  for (QTimer* timer : findChildren<QTimer*>()) QObject::disconnect(timer, &QObject::destroyed, this, nullptr);
  timers_.clear();
}

bool WindowImplBase::Create(QWidget* owner, int width, int height) {
  owner_ = owner ? owner->window() : nullptr;
  setObjectName(ClassName());
  QString error;
  const QByteArray layout = Skin::Instance().Read(SkinFile(), &error);
  SkinLoader loader;
  if (!layout.isEmpty()) root_ = loader.Build(layout, this, &error);
  if (root_) {
    warnings_ << loader.Mismatches();
    Include(root_, 0);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    lay->addWidget(root_);
    setMinimumSize(root_->minimumSize());
    if (!root_->windowTitle().isEmpty()) setWindowTitle(root_->windowTitle());
    for (FileTree* t : findChildren<FileTree*>()) t->AdoptLayoutNodes();
    for (ListBox* l : findChildren<ListBox*>()) l->AdoptLayout();
    Wire(this);
  } else {
    loadError_ = error.isEmpty() ? SkinFile() + QStringLiteral(": cannot be built") : error;
  }
  for (const QString& w : std::as_const(warnings_)) qWarning("skin: %s", qPrintable(w));
  const QSize size = (width > 0 && height > 0) ? QSize(width, height)
                     : root_ ? root_->size() : QSize(300, 160);
  resize(size.expandedTo(minimumSize()));
  if (owner_) {
    owner_->winId();
    winId();
    if (windowHandle() && owner_->windowHandle()) windowHandle()->setTransientParent(owner_->windowHandle());
  }
  InitWindow();
  return root_ != nullptr;
}

void WindowImplBase::Include(QWidget* root, int depth) {
  if (depth > 4) return;
  const QList<QWidget*> all = root->findChildren<QWidget*>();
  for (QWidget* w : all) {
    const QString name = w->property("include").toString();
    if (name.isEmpty()) continue;
    QString error;
    SkinLoader loader;
    QWidget* child = loader.Build(Skin::Instance().Read(name, &error), w, &error);
    if (!child) {
      warnings_ << QStringLiteral("%1: include %2: %3").arg(w->objectName(), name, error);
      continue;
    }
    warnings_ << loader.Mismatches();
    if (!w->layout()) {
      auto* lay = new QVBoxLayout(w);
      lay->setContentsMargins(0, 0, 0, 0);
    }
    w->layout()->addWidget(child);
    Include(child, depth + 1);
  }
}

void WindowImplBase::Wire(QWidget* top) {
  top->installEventFilter(this);
  for (QWidget* w : top->findChildren<QWidget*>()) {
    w->installEventFilter(this);
    if (w->metaObject()->indexOfSignal(kSkinNotifySignal) >= 0) {
      connect(w, SIGNAL(skinNotify(QString,QString,qint64,qint64)), this,
              SLOT(OnControlNotify(QString,QString,qint64,qint64)));
      continue;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (qobject_cast<ButtonEx*>(w) == nullptr && !w->property("picture").toString().isEmpty())
        b->setIcon(QIcon(Skin::Instance().Picture(w->property("picture").toString(), QSize(16, 16))));
      connect(b, &QAbstractButton::clicked, this, [this, b] { SendNotify(QStringLiteral("click"), b); });
      connect(b, &QAbstractButton::toggled, this,
              [this, b](bool on) { SendNotify(QStringLiteral("selectchanged"), b, {}, on ? 1 : 0); });
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
      connect(c, &QComboBox::currentIndexChanged, this,
              [this, c](int i) { SendNotify(QStringLiteral("itemselect"), c, {}, i); });
    }
  }
}

void WindowImplBase::OnControlNotify(const QString& type, const QString& senderName, qint64 wParam,
                                     qint64 lParam) {
  SendNotify(type, sender(), senderName, wParam, lParam);
}

void WindowImplBase::SendNotify(const QString& type, QObject* sender, const QString& senderName,
                                qint64 wParam, qint64 lParam) {
  if (quiet_ > 0) return;
  Notification n;
  n.type = type;
  n.sender = sender;
  n.senderName = senderName.isEmpty() && sender ? sender->objectName() : senderName;
  n.wParam = wParam;
  n.lParam = lParam;
  Notify(n);
}

void WindowImplBase::Notify(const Notification& n) {
  if (n.type != u"click") return;
  if (n.senderName == u"minbtn") showMinimized();
  else if (n.senderName == u"maxbtn") showMaximized();
  else if (n.senderName == u"restorebtn") showNormal();
  else if (n.senderName == u"closebtn") Close(2);
}

void WindowImplBase::CenterWindow() {
  QRect area;
  if (owner_ && owner_->isVisible()) area = owner_->frameGeometry();
  else if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) area = s->availableGeometry();
  if (area.isEmpty()) return;
  QRect r(QPoint(0, 0), size());
  r.moveCenter(area.center());
  if (QScreen* s = QGuiApplication::screenAt(area.center())) {
    const QRect avail = s->availableGeometry();
    r.moveLeft(std::clamp(r.left(), avail.left(), std::max(avail.left(), avail.right() - r.width() + 1)));
    r.moveTop(std::clamp(r.top(), avail.top(), std::max(avail.top(), avail.bottom() - r.height() + 1)));
  }
  move(r.topLeft());
}

int WindowImplBase::ShowModal() {
  result_ = 0;
  closed_ = false;
  QEventLoop loop;
  loop_ = &loop;
  QPointer<QWidget> owner = owner_;
  QPointer<WindowImplBase> self(this);
  if (owner) owner->setEnabled(false);
  show();
  raise();
  activateWindow();
  if (!closed_) loop.exec(QEventLoop::DialogExec);
  if (owner) {
    owner->setEnabled(true);
    owner->activateWindow();
  }
  if (!self) return 0;
  loop_ = nullptr;
  hide();
  const int result = result_;
  OnFinalMessage();
  return result;
}

void WindowImplBase::Close(int result) {
  // The first close decides the result: a worker's close and the user's may race.
  if (closed_) return;
  closed_ = true;
  result_ = result;
  hide();
  if (loop_) loop_->quit();
  else OnFinalMessage();
}

void WindowImplBase::CloseFromAnyThread(int result) {
  QMetaObject::invokeMethod(this, [this, result] { Close(result); }, Qt::QueuedConnection);
}

// ---- controls ----

QWidget* WindowImplBase::FindControl(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  if (objectName() == name) return const_cast<WindowImplBase*>(this);
  return findChild<QWidget*>(name);
}

static INamedItems* OwnerOfItem(const QWidget* window, const QString& name) {
  for (QWidget* w : window->findChildren<QWidget*>()) {
    auto* items = dynamic_cast<INamedItems*>(w);
    if (items && items->HasItem(name)) return items;
  }
  return nullptr;
}

bool WindowImplBase::HasControl(const QString& name) const {
  return FindControl(name) != nullptr || OwnerOfItem(this, name) != nullptr;
}

bool WindowImplBase::SetText(const QString& name, const QString& text) {
  Quiet quiet(this);
  QWidget* w = FindControl(name);
  if (!w) {
    INamedItems* items = OwnerOfItem(this, name);
    return items && items->SetItemText(name, text);
  }
  if (auto* l = qobject_cast<QLabel*>(w)) {
    if (HasMarkup(text)) {
      l->setTextFormat(Qt::RichText);
      l->setText(MarkupToHtml(text));
    } else {
      l->setTextFormat(Qt::PlainText);
      l->setText(text);
    }
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(text);
  else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(text);
  else if (auto* t = qobject_cast<QTextEdit*>(w)) t->setPlainText(text);
  else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(text);
  else if (w == this || w == root_) setWindowTitle(text);
  else if (w->metaObject()->indexOfProperty("text") >= 0) w->setProperty("text", text);
  else w->setWindowTitle(text);
  w->setProperty("dunmere_text", text);
  return true;
}

QString WindowImplBase::Text(const QString& name) const {
  QWidget* w = FindControl(name);
  if (!w) {
    INamedItems* items = OwnerOfItem(this, name);
    return items ? items->ItemText(name) : QString();
  }
  if (auto* l = qobject_cast<QLabel*>(w)) {
    const QVariant raw = l->property("dunmere_text");
    return raw.isValid() ? raw.toString() : l->text();
  }
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* t = qobject_cast<QTextEdit*>(w)) return t->toPlainText();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (w == this) return windowTitle();
  return w->property("text").toString();
}

bool WindowImplBase::SetVisible(const QString& name, bool visible) {
  QWidget* w = FindControl(name);
  if (!w) return false;
  Quiet quiet(this);
  w->setVisible(visible);
  return true;
}

bool WindowImplBase::IsControlVisible(const QString& name) const {
  QWidget* w = FindControl(name);
  // Visible as the layout means it: not hidden itself (the window may be hidden).
  return w && !w->isHidden();
}

bool WindowImplBase::SetEnabled(const QString& name, bool enabled) {
  QWidget* w = FindControl(name);
  if (!w) return false;
  w->setEnabled(enabled);
  return true;
}

bool WindowImplBase::SetTextColor(const QString& name, QRgb argb) {
  QWidget* w = FindControl(name);
  if (!w) return false;
  const QColor c = QColor::fromRgba(argb);
  if (auto* b = qobject_cast<ButtonEx*>(w)) b->SetTextColor(c);
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, c);
  pal.setColor(QPalette::ButtonText, c);
  pal.setColor(QPalette::Text, c);
  w->setPalette(pal);
  return true;
}

bool WindowImplBase::SetToolTip(const QString& name, const QString& text) {
  QWidget* w = FindControl(name);
  if (!w) return false;
  w->setToolTip(text);
  return true;
}

bool WindowImplBase::SetValue(const QString& name, int value) {
  QWidget* w = FindControl(name);
  Quiet quiet(this);
  if (auto* p = qobject_cast<QProgressBar*>(w)) p->setValue(value);
  else if (auto* s = qobject_cast<QAbstractSlider*>(w)) s->setValue(value);
  else return false;
  return true;
}

bool WindowImplBase::SetRange(const QString& name, int minimum, int maximum) {
  QWidget* w = FindControl(name);
  if (auto* p = qobject_cast<QProgressBar*>(w)) p->setRange(minimum, maximum);
  else if (auto* s = qobject_cast<QAbstractSlider*>(w)) s->setRange(minimum, maximum);
  else return false;
  return true;
}

bool WindowImplBase::SetChecked(const QString& name, bool checked) {
  auto* b = qobject_cast<QAbstractButton*>(FindControl(name));
  if (!b) return false;
  Quiet quiet(this);
  b->setChecked(checked);
  return true;
}

bool WindowImplBase::IsChecked(const QString& name) const {
  auto* b = qobject_cast<QAbstractButton*>(FindControl(name));
  return b && b->isChecked();
}

bool WindowImplBase::SetPicture(const QString& name, const QString& attr) {
  QWidget* w = FindControl(name);
  if (!w) return false;
  if (qobject_cast<ButtonEx*>(w)) w->setProperty("normalimage", attr);
  else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setIcon(QIcon(Skin::Instance().Picture(attr)));
  else w->setProperty("bkimage", attr);
  w->update();
  return true;
}

bool WindowImplBase::SelectPage(const QString& tabName, int index) {
  QWidget* w = FindControl(tabName);
  Quiet quiet(this);
  if (auto* s = qobject_cast<QStackedWidget*>(w)) {
    if (index < 0 || index >= s->count()) return false;
    s->setCurrentIndex(index);
    return true;
  }
  if (auto* t = qobject_cast<QTabWidget*>(w)) {
    if (index < 0 || index >= t->count()) return false;
    t->setCurrentIndex(index);
    return true;
  }
  return false;
}

int WindowImplBase::CurrentPage(const QString& tabName) const {
  QWidget* w = FindControl(tabName);
  if (auto* s = qobject_cast<QStackedWidget*>(w)) return s->currentIndex();
  if (auto* t = qobject_cast<QTabWidget*>(w)) return t->currentIndex();
  return -1;
}

QSize WindowImplBase::ShowPictureIn(QTextEdit* edit, const QString& path) {
  if (!edit) return {};
  edit->clear();
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = f.read(256 << 20);
  const QImage img = DecodePicture(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
  if (img.isNull()) return {};
  static int serial = 0;
  const QUrl url(QStringLiteral("dunmere-picture://%1").arg(++serial));
  edit->document()->addResource(QTextDocument::ImageResource, url, img);
  QTextImageFormat fmt;
  fmt.setName(url.toString());
  // Large pictures are shown whole, scaled to the panel.
  const QSize room = edit->viewport()->size() - QSize(12, 12);
  QSize shown = img.size();
  if (room.width() > 0 && room.height() > 0 && (shown.width() > room.width() || shown.height() > room.height()))
    shown.scale(room, Qt::KeepAspectRatio);
  fmt.setWidth(shown.width());
  fmt.setHeight(shown.height());
  edit->textCursor().insertImage(fmt);
  return img.size();
}

// ---- timers ----

bool WindowImplBase::SetTimer(const QString& control, int id, int milliseconds) {
  QObject* c = control.isEmpty() ? static_cast<QObject*>(this) : FindControl(control);
  if (!c || milliseconds <= 0) return false;
  const auto key = std::make_pair(c, id);
  QTimer*& t = timers_[key];
  if (!t) {
    t = new QTimer(c);
    const QString name = c->objectName();
    connect(t, &QTimer::timeout, this, [this, c, name, id] { SendNotify(QStringLiteral("timer"), c, name, id); });
    connect(t, &QObject::destroyed, this, [this, key] { timers_.erase(key); });
  }
  t->start(milliseconds);  // restarting postpones the next tick
  return true;
}

void WindowImplBase::KillTimer(const QString& control, int id) {
  QObject* c = control.isEmpty() ? static_cast<QObject*>(this) : FindControl(control);
  auto it = timers_.find(std::make_pair(c, id));
  if (it == timers_.end()) return;
  QTimer* t = it->second;
  timers_.erase(it);
  t->stop();
  t->deleteLater();
}

bool WindowImplBase::HasTimer(const QString& control, int id) const {
  QObject* c = control.isEmpty() ? const_cast<WindowImplBase*>(this) : FindControl(control);
  auto it = timers_.find(std::make_pair(c, id));
  return it != timers_.end() && it->second->isActive();
}

// ---- menus ----

QString WindowImplBase::PopupMenu(const QString& layout, QPoint globalPos,
                                  const std::function<void(QMenu*)>& adjust) {
  QString error;
  SkinLoader loader;
  QWidget holder;
  QWidget* root = loader.Build(Skin::Instance().Read(layout, &error), &holder, &error);
  QMenu* menu = root ? root->findChild<QMenu*>() : nullptr;
  if (!menu) {
    qWarning("skin: menu %s: %s", qPrintable(layout), qPrintable(error.isEmpty() ? "no menu" : error));
    return {};
  }
  menu->setParent(this, menu->windowFlags());
  if (adjust) adjust(menu);
  // Entries triggered from submenus or by the keyboard count as chosen too.
  QPointer<QAction> triggered;
  QList<QMenu*> menus = menu->findChildren<QMenu*>();
  menus << menu;
  for (QMenu* m : menus)
    connect(m, &QMenu::triggered, menu, [&triggered](QAction* a) { triggered = a; });
  QAction* chosen = menu->exec(globalPos);
  if (!chosen) chosen = triggered;
  const QString name = chosen ? chosen->objectName() : QString();
  menu->deleteLater();
  return name;
}

// ---- events ----

bool WindowImplBase::IsCaptionPoint(QPoint local) const {
  if (!root_ || isMaximized()) return false;
  const QStringList v = root_->property("caption").toString().split(u',');
  if (v.size() != 4) return false;
  const int left = v[0].toInt(), top = v[1].toInt(), right = v[2].toInt(), bottom = v[3].toInt();
  return local.y() >= top && local.y() < bottom && local.x() >= left && local.x() < width() - right;
}

static bool IsInteractive(QWidget* w, QWidget* window) {
  for (; w && w != window; w = w->parentWidget())
    if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QTextEdit*>(w) ||
        qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w))
      return true;
  return false;
}

bool WindowImplBase::eventFilter(QObject* watched, QEvent* e) {
  auto* w = qobject_cast<QWidget*>(watched);
  if (!w) return false;
  switch (e->type()) {
    case QEvent::Paint: {
      const QString bk = w->property("bkimage").toString();
      if (!bk.isEmpty() && w != this) {
        QPainter p(w);
        Skin::Instance().Draw(p, w->rect(), bk);
      }
      break;
    }
    case QEvent::Enter:
      if (qobject_cast<QAbstractButton*>(w) && w->isEnabled()) SendNotify(QStringLiteral("onhot"), w);
      break;
    case QEvent::MouseButtonPress: {
      auto* me = static_cast<QMouseEvent*>(e);
      if (me->button() != Qt::LeftButton) break;
      const QPoint local = w == this ? me->position().toPoint() : w->mapTo(this, me->position().toPoint());
      if (IsCaptionPoint(local) && !IsInteractive(w, this)) {
        dragging_ = true;
        dragOffset_ = w->mapToGlobal(me->position().toPoint()) - pos();
        return true;
      }
      break;
    }
    case QEvent::MouseMove:
      if (dragging_) {
        // The cursor's screen position from the local one: right for every
        // widget under it, wherever the window has moved meanwhile.
        move(w->mapToGlobal(static_cast<QMouseEvent*>(e)->position().toPoint()) - dragOffset_);
        return true;
      }
      break;
    case QEvent::MouseButtonRelease:
      if (dragging_) {
        dragging_ = false;
        return true;
      }
      break;
    default:
      break;
  }
  return false;
}

bool WindowImplBase::event(QEvent* e) {
  if (e->type() >= 1024 && e->type() <= 65535) {
    if (auto* m = dynamic_cast<PostedMessage*>(e)) {
      HandleMessage(m->message, m->wParam, m->lParam);
      return true;
    }
  }
  return QWidget::event(e);
}

bool WindowImplBase::HandleMessage(int, quintptr, quintptr) { return false; }

bool WindowImplBase::OnKey(int, Qt::KeyboardModifiers) { return false; }

void WindowImplBase::keyPressEvent(QKeyEvent* e) {
  if (OnKey(e->key(), e->modifiers())) {
    e->accept();
    return;
  }
  QWidget::keyPressEvent(e);
}

void WindowImplBase::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!initSent_) {
    initSent_ = true;
    SendNotify(QStringLiteral("windowinit"), this, ClassName());
  }
}

void WindowImplBase::closeEvent(QCloseEvent* e) {
  // Our own Close() hides the window and never gets here; a request from the
  // window system must end the modal loop too, or the owner stays disabled.
  e->ignore();
  if (!closed_) OnCloseRequest();
}

void WindowImplBase::OnCloseRequest() {
  if (auto* close = qobject_cast<QAbstractButton*>(FindControl(QStringLiteral("closebtn")))) {
    if (close->isEnabled()) SendNotify(QStringLiteral("click"), close);
    return;
  }
  Close(2);
}

void WindowImplBase::changeEvent(QEvent* e) {
  if (e->type() == QEvent::WindowStateChange) {
    const bool max = isMaximized();
    if (FindControl(QStringLiteral("maxbtn"))) SetVisible(QStringLiteral("maxbtn"), !max);
    if (FindControl(QStringLiteral("restorebtn"))) SetVisible(QStringLiteral("restorebtn"), max);
  }
  QWidget::changeEvent(e);
}

}  // namespace dunmere::ui
