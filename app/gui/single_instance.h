#pragma once
// One running copy per user. The first copy holds a lock file and listens on
// a local socket, both in the user's runtime folder; a later start hands it
// the image files named on its command line and ends. The first copy answers
// whether it has a window yet, so the later one can say "Dunmere is running."
// when it has none.
#include <QLockFile>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

class QLocalServer;

namespace dunmere::gui {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  enum class Role {
    kFirst,           // this process runs the program
    kHandedOver,      // a first copy took the files and raised its window
    kFirstHasNoWindow,  // a first copy runs but cannot show anything yet
  };

  // folder: where the lock and the socket live (default: RuntimeFolder()).
  explicit SingleInstance(QString folder = {});
  ~SingleInstance() override;

  // $XDG_RUNTIME_DIR (private to the user), else the temporary folder with
  // the user id in the names.
  static QString RuntimeFolder();
  QString LockPath() const;
  QString SocketPath() const;

  // Becomes the first copy, or hands `images` to the first copy. A first
  // copy busy drawing a million rows may take seconds to answer; only one
  // that never does is taken for one without a window.
  Role Acquire(const QStringList& images, int timeoutMs = 15000);

  // First copy: whether a window can take hand-offs yet; called on each.
  void SetReady(bool ready) { ready_ = ready; }
  // First copy: later starts answered that there is no window yet.
  int AnsweredWithoutWindow() const { return answeredWithoutWindow_; }

 signals:
  // First copy: a later start asked for the window, with its image files.
  void activated(const QStringList& images);

 private:
  void OnConnection();
  QString folder_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
  bool ready_ = false;
  int answeredWithoutWindow_ = 0;
};

}  // namespace dunmere::gui
