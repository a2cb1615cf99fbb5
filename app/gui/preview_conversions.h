#pragma once
// Documents, PDF pages and archive listings are made for the preview beside
// the window, one at a time: the window stays responsive while LibreOffice
// starts, and a conversion the person no longer wants (they moved on to
// another file) is ended at once, its result never shown.
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/core/preview/document_preview.h"

namespace dunmere::gui {

class PreviewConversions : public QObject {
  Q_OBJECT
 public:
  using Done = std::function<void(const ConvertedPreview&)>;

  PreviewConversions();
  // Ends the conversion running and waits for the worker.
  ~PreviewConversions() override;

  // Converts `file` into `workFolder`; `done` runs on this object's thread
  // with the result, unless another Start or Abandon came first. A
  // conversion still running is abandoned.
  void Start(PreviewKind kind, std::string file, std::string workFolder, PreviewTools tools, Done done);
  // The conversion running or waiting is no longer wanted.
  void Abandon();
  // A conversion is wanted and its result has not been delivered yet.
  bool Busy() const { return busy_; }

 signals:
  // After each delivered result (tests wait for it).
  void delivered();

 private:
  struct Job {
    uint64_t serial;
    PreviewKind kind;
    std::string file, workFolder;
    PreviewTools tools;
    Done done;
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Job> pending_;
  std::atomic<uint64_t> latest_{0};
  bool stop_ = false;
  bool busy_ = false;  // UI thread only
  std::thread worker_;
};

}  // namespace dunmere::gui
