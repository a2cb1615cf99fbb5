#include "storage/read_stop.h"

namespace dunmere {

namespace {
thread_local ReadStopScope* t_scope = nullptr;
thread_local const std::function<bool()>* t_requested = nullptr;
}  // namespace

ReadStopScope::ReadStopScope(std::function<bool()> requested) : requested_(std::move(requested)), outer_(t_scope) {
  t_scope = this;
  t_requested = requested_ ? &requested_ : nullptr;
}

ReadStopScope::~ReadStopScope() {
  t_scope = outer_;
  t_requested = outer_ && outer_->requested_ ? &outer_->requested_ : nullptr;
}

bool ReadStopRequested() { return t_requested && (*t_requested)(); }

}  // namespace dunmere
