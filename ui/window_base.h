#pragma once
// The window base of every skinned window: builds the window from a named
// layout of the skin, finds controls by name, hands every notification to one
// handler (`Notify`), runs modally with a result code, owns timers per
// control and opens pop-up menus.
//
// Threads: a window lives on the UI thread. Worker threads reach it only
// through `PostMessageTo` (a posted event whose type is the message number,
// e.g. 1025) and `CloseFromAnyThread`, or `CallOnUiThread`.
#include <QEvent>
#include <QHash>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>

class QEventLoop;
class QMenu;
class QTextEdit;
class QTimer;

namespace dunmere::ui {

struct Notification {
  QString type;        // "click", "selectchanged", "itemselect", ...
  QString senderName;  // the control's name (or a header item's / node's name)
  QObject* sender = nullptr;
  qint64 wParam = 0;
  qint64 lParam = 0;
};

// Messages posted between threads (1025 scan finished, 1026 search finished,
// 1027 preview request, 1030 language changed) travel as events of that type.
class PostedMessage : public QEvent {
 public:
  PostedMessage(int message, quintptr wParam, quintptr lParam)
      : QEvent(QEvent::Type(message)), message(message), wParam(wParam), lParam(lParam) {}
  const int message;
  const quintptr wParam;
  const quintptr lParam;
};
// Safe from any thread; message must lie in 1024..65535.
bool PostMessageTo(QObject* target, int message, quintptr wParam = 0, quintptr lParam = 0);
// Runs fn on the UI thread and waits for its result (directly when already there).
int CallOnUiThread(const std::function<int()>& fn);

class WindowImplBase : public QWidget {
  Q_OBJECT
 public:
  WindowImplBase();
  ~WindowImplBase() override;

  virtual QString ClassName() const { return QStringLiteral("UIWindow"); }
  // The layout's name inside the skin, e.g. "xml\\ScanProcessWnd.xml".
  virtual QString SkinFile() const = 0;

  // Builds the window from its layout. The size is the layout's unless width
  // and height are given. Returns false when the layout could not be built;
  // the window then exists without controls.
  bool Create(QWidget* owner, int width = 0, int height = 0);
  QWidget* Owner() const { return owner_; }
  QString LoadError() const { return loadError_; }
  QStringList LoadWarnings() const { return warnings_; }

  void CenterWindow();
  // Shows the window, disables the owner, waits until Close, enables the owner.
  int ShowModal();
  bool IsModalRunning() const { return loop_ != nullptr; }
  void Close(int result = 1);
  void CloseFromAnyThread(int result);
  int Result() const { return result_; }

  // ---- controls ----
  QWidget* FindControl(const QString& name) const;
  // Controls made in code below `root` after the layout was built send their
  // notifications (and show their pictures) like the layout's own.
  void AdoptControls(QWidget* root) { Wire(root); }
  template <class T>
  T* Find(const QString& name) const { return qobject_cast<T*>(FindControl(name)); }
  // True when a control or a named part (tree node, header item) has this name.
  bool HasControl(const QString& name) const;
  bool SetText(const QString& name, const QString& text);
  QString Text(const QString& name) const;
  bool SetVisible(const QString& name, bool visible);
  bool IsControlVisible(const QString& name) const;
  bool SetEnabled(const QString& name, bool enabled);
  bool SetTextColor(const QString& name, QRgb argb);
  bool SetToolTip(const QString& name, const QString& text);
  bool SetValue(const QString& name, int value);  // progress bars, sliders
  bool SetRange(const QString& name, int minimum, int maximum);
  bool SetChecked(const QString& name, bool checked);  // no notification
  bool IsChecked(const QString& name) const;
  bool SetPicture(const QString& name, const QString& attr);
  bool SelectPage(const QString& tabName, int index);  // QStackedWidget / QTabWidget
  int CurrentPage(const QString& tabName) const;
  // Replaces a rich-text panel's content with the picture file (any format the
  // toolkit decodes). Returns the picture's size, empty when it could not be read.
  static QSize ShowPictureIn(QTextEdit* edit, const QString& path);

  // ---- notifications ----
  virtual void Notify(const Notification& n);
  void SendNotify(const QString& type, QObject* sender, const QString& senderName = {},
                  qint64 wParam = 0, qint64 lParam = 0);
  // While one of these lives, no notification reaches Notify: the program is
  // changing its own controls.
  class Quiet {
   public:
    explicit Quiet(WindowImplBase* w) : w_(w) { ++w_->quiet_; }
    ~Quiet() { --w_->quiet_; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
   private:
    WindowImplBase* w_;
  };
  bool Quieted() const { return quiet_ > 0; }

  // ---- timers (per control; raise "timer" with wParam = id) ----
  bool SetTimer(const QString& control, int id, int milliseconds);
  void KillTimer(const QString& control, int id);
  bool HasTimer(const QString& control, int id) const;

  // ---- menus ----
  // Opens the menu of a menu layout at a global position; adjust may add
  // entries first. Returns the chosen entry's name, empty when none.
  QString PopupMenu(const QString& layout, QPoint globalPos,
                    const std::function<void(QMenu*)>& adjust = {});

  // Caption band (from the layout's "caption" property "left,top,right,height"):
  // a press there, not over a button, option or text field, drags the window.
  bool IsCaptionPoint(QPoint local) const;

 protected:
  // After the controls exist, before "windowinit".
  virtual void InitWindow() {}
  // Window messages (posted events 1024..65535). True when handled.
  virtual bool HandleMessage(int message, quintptr wParam, quintptr lParam);
  // Key presses that reach the window. True when handled.
  virtual bool OnKey(int key, Qt::KeyboardModifiers mods);
  // After the window was closed and its modal loop (if any) ended.
  virtual void OnFinalMessage() {}
  // The window system asks the window to close (Alt+F4, a taskbar menu): by
  // default the same as a click on "closebtn", so the window's own handling
  // (a cancel question, say) runs; without one, Close(2).
  virtual void OnCloseRequest();

  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private slots:
  void OnControlNotify(const QString& type, const QString& senderName, qint64 wParam, qint64 lParam);

 private:
  void Wire(QWidget* root);
  void Include(QWidget* root, int depth);
  QWidget* root_ = nullptr;
  QPointer<QWidget> owner_;
  QString loadError_;
  QStringList warnings_;
  QEventLoop* loop_ = nullptr;
  int result_ = 0;
  int quiet_ = 0;
  bool initSent_ = false;
  bool closed_ = false;
  bool dragging_ = false;
  QPoint dragOffset_;
  std::map<std::pair<QObject*, int>, QTimer*> timers_;
};

}  // namespace dunmere::ui
