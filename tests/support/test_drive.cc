#include "support/test_drive.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/temp_dir.h"

namespace davfp::testing {

namespace {

// Long enough for the slowest request of a test (a 2 GiB listing) under a sanitizer on a loaded machine: the
// bound is there to end a hang, not to time the engine.
constexpr std::chrono::minutes kPatience{5};

// Whether the request completed within the patience; a test failure when it did not.
template <class T>
bool arrived(const client::Pending<T>& pending, const char* what) {
  if (pending.waitFor(kPatience)) return true;
  ADD_FAILURE() << what << ": no completion within " << kPatience.count() << " minutes";
  return false;
}

platform::Error noCompletion() { return platform::Error("test", -1, "no completion"); }

// What a creation or modification completed with.
WriteOutcome writeOutcome(const client::Pending<client::PlatformClient::Written>& pending, const char* what) {
  if (!arrived(pending, what)) return {.error = noCompletion()};
  try {
    auto written = pending.wait();
    return {std::move(written.item), written.pendingFields, written.shouldFetchContent, std::nullopt};
  } catch (const platform::Error& e) {
    return {nullptr, 0, false, e};
  }
}

}  // namespace

std::shared_ptr<RecordingObserver> RecordingObserver::make() {
  return std::shared_ptr<RecordingObserver>(new RecordingObserver);
}

std::shared_ptr<client::Enumeration> RecordingObserver::handle() {
  {
    std::lock_guard guard(mu_);
    if (handed_) ADD_FAILURE() << "one RecordingObserver serves one enumeration";
    handed_ = true;
  }
  // Shares the record's life, but runs released() when the enumeration lets go of its last copy.
  return std::shared_ptr<client::Enumeration>(
      enumeration_.get(), [self = shared_from_this()](client::Enumeration*) { self->released(); });
}

void RecordingObserver::released() {
  std::lock_guard guard(mu_);
  released_ = true;
  cv_.notify_all();
}

bool RecordingObserver::wait(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mu_);
    if (!cv_.wait_for(lock, timeout, [this] { return released_; })) {
      ADD_FAILURE() << "the enumeration still holds its observer";
      return false;
    }
  }
  auto record = enumeration_->record();
  EXPECT_EQ(record.finishes, 1) << "finish calls of one enumeration";
  for (const auto& call : record.lateCalls) ADD_FAILURE() << call << " after the enumeration finished";
  return true;
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
  env_.setAppInstalled(false);
  env_.publish(domain_, url);
  restart();
}

TestDrive::~TestDrive() = default;

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
  auto pending = client_.startItem(id);
  if (!arrived(pending, "lookup")) return {nullptr, noCompletion()};
  try {
    return {pending.wait(), std::nullopt};
  } catch (const platform::Error& e) {
    return {nullptr, e};
  }
}

TestDrive::Fetched TestDrive::fetch(const platform::ItemIdentifier& id) {
  auto pending = client_.startFetch(id, std::nullopt);
  if (!arrived(pending, "fetch")) return {std::nullopt, nullptr, noCompletion()};
  try {
    auto fetched = pending.wait();
    return {std::move(fetched.file), std::move(fetched.item), std::nullopt};
  } catch (const platform::Error& e) {
    return {std::nullopt, nullptr, e};
  }
}

WriteOutcome TestDrive::create(const TemplateItem& item, std::optional<std::string> contents) {
  return writeOutcome(client_.startCreate(std::make_shared<TemplateItem>(item), 0, std::move(contents)),
                      "create");
}

WriteOutcome TestDrive::modify(const TemplateItem& item, platform::ItemFields changed,
                               std::optional<std::string> contents) {
  return writeOutcome(
      client_.startModify(std::make_shared<TemplateItem>(item), {}, changed, std::move(contents)), "modify");
}

std::optional<platform::Error> TestDrive::remove(const platform::ItemIdentifier& id,
                                                 const std::string& contentVersion, bool recursive) {
  auto pending = client_.startRemove(id, platform::ItemVersion{contentVersion, {}}, recursive);
  if (!arrived(pending, "delete")) return noCompletion();
  try {
    pending.wait();
    return std::nullopt;
  } catch (const platform::Error& e) {
    return e;
  }
}

std::shared_ptr<RecordingObserver> TestDrive::enumerate(const platform::ItemIdentifier& container) {
  auto rec = RecordingObserver::make();
  ext_->enumerator(container, {})->enumerateItems(rec->handle(), platform::kInitialPageSortedByName);
  rec->wait(kPatience);
  return rec;
}

std::vector<platform::ItemRef> TestDrive::list(const platform::ItemIdentifier& folder) {
  auto rec = enumerate(folder);
  if (auto error = rec->error()) ADD_FAILURE() << "enumerating " << folder << ": " << error->what();
  return rec->items();
}

std::shared_ptr<RecordingObserver> TestDrive::changes(const platform::ItemIdentifier& container) {
  auto rec = RecordingObserver::make();
  ext_->enumerator(container, {})->enumerateChanges(rec->handle(), ext_->anchor());
  rec->wait(kPatience);
  return rec;
}

}  // namespace davfp::testing
