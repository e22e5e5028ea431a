// FileProviderExtension: the object the platform creates for one domain.
//
// It answers the platform's requests through the request frame and hands out enumerators; the work itself
// is done by its collaborators (lookup, write-back), over the domain's WebDAV client and persistent state.
// Every request and enumeration runs as a job that holds what it uses (the extension is always owned by a
// shared_ptr; see create()). Nothing in it changes after construction, and the client and the state guard
// themselves, so any number of requests run at once.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "dav/dav_timings.h"
#include "platform/env.h"
#include "platform/file_provider.h"

namespace davfp {

class Dav;
class Lookup;
class State;

class FileProviderExtension final : public platform::ReplicatedExtension,
                                    public std::enable_shared_from_this<FileProviderExtension> {
 public:
  // Creates the client (no network traffic) and loads the domain's state. Never fails.
  static std::shared_ptr<FileProviderExtension> create(platform::Domain domain,
                                                       platform::Env& env = platform::Env::standard(),
                                                       DavTimings timings = {});
  // The same with the domain's client and state made beforehand, which the caller may keep using beside the
  // extension (tests look into the state this way). Both must be the domain's.
  static std::shared_ptr<FileProviderExtension> create(platform::Domain domain, std::shared_ptr<Dav> dav,
                                                       std::shared_ptr<State> state,
                                                       platform::Env& env = platform::Env::standard());
  ~FileProviderExtension() override;

  const platform::Domain& domain() const { return domain_; }
  // The current sync anchor: the state's counter in decimal, read without the state's lock.
  platform::SyncAnchor anchor() const;

  // --- Platform requests ---
  void invalidate() override {}
  std::shared_ptr<platform::Progress> itemForIdentifier(const platform::ItemIdentifier& identifier,
                                                        const platform::Request& request,
                                                        platform::ItemCompletion completion) override;
  std::shared_ptr<platform::Progress> fetchContents(const platform::ItemIdentifier& identifier,
                                                    std::optional<platform::ItemVersion> requestedVersion,
                                                    const platform::Request& request,
                                                    platform::FetchCompletion completion) override;
  std::shared_ptr<platform::Progress> createItem(platform::ItemRef itemTemplate, platform::ItemFields fields,
                                                 std::optional<std::string> contents,
                                                 platform::CreateItemOptions options,
                                                 const platform::Request& request,
                                                 platform::WriteCompletion completion) override;
  std::shared_ptr<platform::Progress> modifyItem(platform::ItemRef item, platform::ItemVersion baseVersion,
                                                 platform::ItemFields changedFields,
                                                 std::optional<std::string> contents,
                                                 platform::ModifyItemOptions options,
                                                 const platform::Request& request,
                                                 platform::WriteCompletion completion) override;
  std::shared_ptr<platform::Progress> deleteItem(const platform::ItemIdentifier& identifier,
                                                 platform::ItemVersion baseVersion,
                                                 platform::DeleteItemOptions options,
                                                 const platform::Request& request,
                                                 platform::DeleteCompletion completion) override;
  std::shared_ptr<platform::Enumerator> enumerator(const platform::ItemIdentifier& container,
                                                   const platform::Request& request) override;

 private:
  FileProviderExtension(platform::Domain domain, std::shared_ptr<Dav> dav, std::shared_ptr<State> state,
                        platform::Env& env);

  const platform::Domain domain_;
  platform::Env& env_;
  const std::shared_ptr<Dav> dav_;
  const std::shared_ptr<State> state_;
  const std::shared_ptr<const Lookup> lookup_;
};

}  // namespace davfp
