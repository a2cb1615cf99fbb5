#include "app/gui/preview_conversions.h"

#include <QMetaObject>
#include <QPointer>

namespace dunmere::gui {

PreviewConversions::PreviewConversions() : worker_([this] { Run(); }) {}

PreviewConversions::~PreviewConversions() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
    pending_.reset();
  }
  ++latest_;  // the running tool is ended at its next look
  wake_.notify_all();
  worker_.join();
}

void PreviewConversions::Start(PreviewKind kind, std::string file, std::string workFolder, PreviewTools tools,
                               Done done) {
  std::lock_guard<std::mutex> hold(mutex_);
  const uint64_t serial = ++latest_;
  pending_ = Job{serial, kind, std::move(file), std::move(workFolder), std::move(tools), std::move(done)};
  busy_ = true;
  wake_.notify_all();
}

void PreviewConversions::Abandon() {
  std::lock_guard<std::mutex> hold(mutex_);
  ++latest_;
  pending_.reset();
  busy_ = false;
}

void PreviewConversions::Run() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      wake_.wait(hold, [this] { return stop_ || pending_.has_value(); });
      if (stop_) return;
      job = std::move(*pending_);
      pending_.reset();
    }
    const uint64_t serial = job.serial;
    job.tools.limits.abandoned = [this, serial] { return latest_ != serial; };
    ConvertedPreview result = ConvertForPreview(job.kind, job.file, job.workFolder, job.tools);
    if (latest_ != serial) continue;
    // Delivered on the window's thread; dropped there if another came since.
    QMetaObject::invokeMethod(
        this,
        [this, serial, result = std::move(result), done = std::move(job.done)] {
          if (latest_ != serial) return;
          busy_ = false;
          if (done) done(result);
          emit delivered();
        },
        Qt::QueuedConnection);
  }
}

}  // namespace dunmere::gui
