// The request frame: every platform request with a completion handler runs through perform().
//
// perform() returns a one-unit progress at once and runs the work as an independent job. Its outcome (the
// result, the error converted by fpError, or the platform's cancellation) is delivered exactly once, whichever
// comes first; later outcomes are dropped. Safe to call from any thread.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "platform/error.h"
#include "platform/jobs.h"
#include "platform/once.h"
#include "platform/progress.h"

namespace davfp {

// The result type of work that yields nothing.
struct Nothing {};

// Converts any error into the error handed to the platform.
platform::Error fpError(std::exception_ptr error);

template <class T>
using Finish = std::function<void(std::optional<T> result, std::optional<platform::Error> error)>;

// discard, when given, receives a result that the work produced but that was not delivered (the request was
// cancelled first), so that the work's side effects (a downloaded file) can be undone.
template <class T>
std::shared_ptr<platform::Progress> perform(std::function<T()> work, Finish<T> finish,
                                            std::function<void(T&)> discard = nullptr) {
  auto progress = platform::Progress::make(1);
  auto once = std::make_shared<platform::Once<>>();
  // The progress is held weakly: it holds the cancellation handler, which holds this.
  std::weak_ptr<platform::Progress> weakProgress = progress;
  auto deliver = [weakProgress, once, finish = std::move(finish), discard = std::move(discard)](
                     std::optional<T> result, std::optional<platform::Error> error) {
    if (!once->claim()) {
      if (result && discard) discard(*result);
      return;
    }
    if (auto p = weakProgress.lock()) p->setCompletedUnitCount(p->totalUnitCount());
    finish(std::move(result), std::move(error));
  };
  platform::Job job = platform::spawn([work = std::move(work), deliver] {
    std::optional<T> result;
    std::optional<platform::Error> error;
    try {
      result.emplace(work());
    } catch (...) {
      error = fpError(std::current_exception());
    }
    deliver(std::move(result), std::move(error));
  });
  progress->setCancellationHandler([job, deliver] {
    job.cancel();
    deliver(std::nullopt, platform::Error(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled));
  });
  return progress;
}

}  // namespace davfp
