// WritebackDriver: a real FileProviderExtension for one domain, driven the way the platform drives it, for
// the write-back tests (unit tests against the fake server, integration tests against real servers).
//
// Its Env keeps the shared container, the extension's data directory and the temporary directory in a private
// temporary directory, writes drives.json there naming the given server URL, and never finds the host
// application. Each request waits for its completion handler (through a client::PlatformClient), so a test
// reads like a sequence of platform calls. Use one driver from one test thread.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/platform_client.h"
#include "dav/dav.h"
#include "platform/env.h"
#include "platform/file_provider.h"
#include "platform/mime_registry.h"
#include "provider/extension.h"
#include "provider/lookup.h"
#include "state/state.h"
#include "support/recording_observer.h"
#include "support/temp_dir.h"
#include "support/writeback_items.h"

namespace davfp::testing {

class WritebackEnv : public platform::EnvWrapper {
 public:
  WritebackEnv() : EnvWrapper(platform::Env::standard()) { createDirectories(temporaryDirectory()); }

  std::optional<std::string> groupContainer(std::string_view) override { return dir.file("group"); }
  std::optional<std::string> applicationDataDirectory(std::string_view bundleID) override {
    return dir.file("data/" + std::string(bundleID));
  }
  std::string temporaryDirectory() override { return dir.file("tmp"); }
  // The tests start their servers themselves; nothing is launched.
  std::optional<std::string> applicationLocation(std::string_view) override { return std::nullopt; }

  // Publishes the drive of domain at url.
  void publish(const std::string& domain, const std::string& url) {
    createDirectories(dir.file("group"));
    writeFileAtomically(dir.file("group/drives.json"),
                        "{\"" + domain + "\": {\"name\": \"Drive\", \"url\": \"" + url + "\"}}");
  }

  TempDir dir;
};

// The outcome of a create or modify request.
struct WriteOutcome {
  platform::ItemRef item;
  platform::ItemFields pending = 0;
  bool shouldFetchContent = false;
  std::optional<platform::Error> error;
};

// What one change pass of the working set reported.
struct ChangePassOutcome {
  std::vector<platform::ItemRef> updated;
  std::vector<platform::ItemIdentifier> deleted;
  std::optional<platform::Error> error;
  platform::SyncAnchor anchor;
};

// What a creation or modification completed with; an error as a value, as the completion handler gave it.
inline WriteOutcome writeOutcome(const client::Pending<client::PlatformClient::Written>& pending) {
  try {
    auto written = pending.wait();
    return {std::move(written.item), written.pendingFields, written.shouldFetchContent, std::nullopt};
  } catch (const platform::Error& e) {
    return {nullptr, 0, false, e};
  }
}

class WritebackDriver {
 public:
  static constexpr const char* kDomain = "writeback-drive";

  explicit WritebackDriver(const std::string& url) {
    env_.publish(kDomain, url);
    dav_ = Dav::create(kDomain, env_);
    state_ = std::make_shared<State>(kDomain, env_);
    lookup_ = std::make_unique<Lookup>(dav_, state_, "Drive", env_);
    ext_ = FileProviderExtension::create(platform::Domain{kDomain, "Drive"}, dav_, state_, env_);
    client_.attach(ext_);
  }

  FileProviderExtension& ext() { return *ext_; }
  // The extension's client and state, and a lookup over them, for what a test checks beside the requests.
  Dav& dav() { return *dav_; }
  State& state() { return *state_; }
  const Lookup& lookup() { return *lookup_; }
  WritebackEnv& env() { return env_; }

  // A local file holding bytes, as the platform hands contents to the extension.
  std::string contents(const std::string& bytes) {
    std::string file = env_.dir.file("contents-" + std::to_string(++files_));
    writeFile(file, bytes);
    return file;
  }

  // The identifier of path, minted as enumerating its folder would have.
  std::string id(const std::string& path) { return state().id(path); }

  WriteOutcome create(const TemplateItem& item, std::optional<std::string> contents = std::nullopt) {
    return writeOutcome(client_.startCreate(std::make_shared<TemplateItem>(item), 0, std::move(contents)));
  }

  WriteOutcome modify(const TemplateItem& item, platform::ItemFields changed,
                      std::optional<std::string> contents = std::nullopt) {
    return writeOutcome(
        client_.startModify(std::make_shared<TemplateItem>(item), {}, changed, std::move(contents)));
  }

  std::optional<platform::Error> remove(const platform::ItemIdentifier& id, const std::string& contentVersion,
                                        bool recursive) {
    try {
      client_.remove(id, platform::ItemVersion{contentVersion, {}}, recursive);
      return std::nullopt;
    } catch (const platform::Error& e) {
      return e;
    }
  }

  // Enumerates a folder as the file manager does when it opens it: the folder becomes known.
  std::vector<platform::ItemRef> enumerate(const platform::ItemIdentifier& folder) {
    auto rec = RecordingObserver::make();
    ext_->enumerator(folder, {})->enumerateItems(rec->handle(), platform::kInitialPageSortedByName);
    rec->wait();
    if (auto error = rec->error()) ADD_FAILURE() << "enumerating " << folder << ": " << error->what();
    return rec->items();
  }

  // One change pass of the working set.
  ChangePassOutcome changes() {
    auto rec = RecordingObserver::make();
    ext_->enumerator(platform::kWorkingSetContainerItemIdentifier, {})
        ->enumerateChanges(rec->handle(), ext_->anchor());
    rec->wait();
    return {rec->updated(), rec->deleted(), rec->error(), rec->anchor().value_or("")};
  }

 private:
  WritebackEnv env_;
  std::shared_ptr<Dav> dav_;
  std::shared_ptr<State> state_;
  std::unique_ptr<Lookup> lookup_;
  std::shared_ptr<FileProviderExtension> ext_;
  client::PlatformClient client_{nullptr};
  int files_ = 0;
};

}  // namespace davfp::testing
