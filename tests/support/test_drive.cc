#include "support/test_drive.h"

#include <gtest/gtest.h>

#include <future>
#include <type_traits>
#include <utility>

#include "support/temp_dir.h"

namespace davfp::testing {

namespace {

// Long enough for the slowest request of a test (a 2 GiB listing) under a sanitizer on a loaded machine: the
// bound is there to end a hang, not to time the engine.
constexpr std::chrono::minutes kPatience{5};

// Waits for the request's completion and hands what it gave to done; the error it ended with, or none. A
// completion that does not come within the patience fails the test.
template <class T, class F>
std::optional<platform::Error> settle(const client::Pending<T>& pending, const char* what, F&& done) {
  if (!pending.waitFor(kPatience)) {
    ADD_FAILURE() << what << ": no completion within " << kPatience.count() << " minutes";
    return platform::Error("test", -1, "no completion");
  }
  try {
    if constexpr (std::is_void_v<T>) {
      pending.wait();
    } else {
      done(pending.wait());
    }
    return std::nullopt;
  } catch (const platform::Error& e) {
    return e;
  }
}

WriteOutcome written(const client::Pending<client::PlatformClient::Written>& pending, const char* what) {
  WriteOutcome out;
  out.error = settle(pending, what, [&](client::PlatformClient::Written w) {
    out = {std::move(w.item), w.pendingFields, w.shouldFetchContent, std::nullopt};
  });
  return out;
}

}  // namespace

std::shared_ptr<RecordingObserver> TestDrive::observe(
    const std::function<void(std::shared_ptr<client::Enumeration>)>& start) {
  auto rec = std::make_shared<RecordingObserver>();
  auto released = std::make_shared<std::promise<void>>();
  auto done = released->get_future();
  // Shares the record's life, but fulfils the promise when the enumeration lets go of its last copy.
  start(std::shared_ptr<client::Enumeration>(rec->enumeration_.get(),
                                             [rec, released](client::Enumeration*) { released->set_value(); }));
  if (done.wait_for(kPatience) != std::future_status::ready) {
    ADD_FAILURE() << "the enumeration still holds its observer";
    return rec;
  }
  auto record = rec->enumeration_->record();
  EXPECT_EQ(record.finishes, 1) << "finish calls of one enumeration";
  for (const auto& call : record.lateCalls) ADD_FAILURE() << call << " after the enumeration finished";
  return rec;
}

std::vector<platform::ItemRef> RecordingObserver::updated() const {
  std::vector<platform::ItemRef> out;
  for (const auto& change : enumeration_->record().changes) {
    if (change.updated) out.push_back(change.updated);
  }
  return out;
}

std::vector<platform::ItemIdentifier> RecordingObserver::deleted() const {
  std::vector<platform::ItemIdentifier> out;
  for (const auto& change : enumeration_->record().changes) {
    if (change.deleted) out.push_back(*change.deleted);
  }
  return out;
}

DavTimings TestDrive::quickTimings() {
  return DavTimings{.sessionTimeout = std::chrono::seconds(1),
                    .requestTimeout = std::chrono::seconds(1),
                    .probeTimeout = std::chrono::seconds(1),
                    .pollInterval = std::chrono::milliseconds(10),
                    .polls = 2};
}

TestDrive::TestDrive(const std::string& url, DavTimings timings, std::string domain)
    : domain_(std::move(domain)), timings_(timings) {
  // The tests start their servers themselves; nothing is launched.
  env_.appInstalled = false;
  env_.publish(domain_, url);
  restart();
}

FileProviderExtension& TestDrive::restart(const std::string& domain) {
  if (!domain.empty()) domain_ = domain;
  client_.attach(nullptr);
  ext_.reset();
  lookup_.reset();
  dav_.reset();
  state_.reset();
  dav_ = Dav::create(domain_, env_, timings_);
  state_ = std::make_shared<State>(domain_, env_);
  lookup_ = std::make_unique<Lookup>(dav_, state_, "Drive", env_);
  ext_ = FileProviderExtension::create(platform::Domain{domain_, "Drive"}, dav_, state_, env_);
  client_.attach(ext_);
  return *ext_;
}

std::string TestDrive::contents(const std::string& bytes) {
  std::string file = env_.file("contents-" + std::to_string(++files_));
  writeFile(file, bytes);
  return file;
}

TestDrive::Looked TestDrive::item(const platform::ItemIdentifier& id) {
  Looked out;
  out.error = settle(client_.startItem(id), "lookup", [&](platform::ItemRef item) { out.item = std::move(item); });
  return out;
}

TestDrive::Fetched TestDrive::fetch(const platform::ItemIdentifier& id) {
  Fetched out;
  out.error = settle(client_.startFetch(id, std::nullopt), "fetch", [&](client::PlatformClient::Fetched f) {
    out.file = std::move(f.file);
    out.item = std::move(f.item);
  });
  return out;
}

WriteOutcome TestDrive::create(const TemplateItem& item, std::optional<std::string> contents) {
  return written(client_.startCreate(std::make_shared<TemplateItem>(item), 0, std::move(contents)), "create");
}

WriteOutcome TestDrive::modify(const TemplateItem& item, platform::ItemFields changed,
                               std::optional<std::string> contents) {
  return written(client_.startModify(std::make_shared<TemplateItem>(item), {}, changed, std::move(contents)),
                 "modify");
}

std::optional<platform::Error> TestDrive::remove(const platform::ItemIdentifier& id,
                                                 const std::string& contentVersion, bool recursive) {
  return settle(client_.startRemove(id, platform::ItemVersion{contentVersion, {}}, recursive), "delete", [] {});
}

std::vector<platform::ItemRef> TestDrive::list(const platform::ItemIdentifier& folder) {
  auto rec = enumerate(folder);
  if (auto error = rec->error()) ADD_FAILURE() << "enumerating " << folder << ": " << error->what();
  return rec->items();
}

}  // namespace davfp::testing
