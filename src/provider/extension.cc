// The extension object and the platform requests that run through the request frame.
#include "provider/extension.h"

#include "dav/dav.h"
#include "provider/enumerator.h"
#include "provider/frame.h"
#include "provider/lookup.h"
#include "provider/sync_anchor.h"
#include "provider/writeback/creation.h"
#include "provider/writeback/deletion.h"
#include "provider/writeback/modification.h"
#include "state/state.h"

namespace davfp {

using platform::Error;
using platform::ItemRef;

std::shared_ptr<FileProviderExtension> FileProviderExtension::create(platform::Domain domain, platform::Env& env,
                                                                     DavTimings timings) {
  auto dav = Dav::create(domain.identifier, env, timings);
  auto state = std::make_shared<State>(domain.identifier, env);
  return create(std::move(domain), std::move(dav), std::move(state), env);
}

std::shared_ptr<FileProviderExtension> FileProviderExtension::create(platform::Domain domain,
                                                                     std::shared_ptr<Dav> dav,
                                                                     std::shared_ptr<State> state,
                                                                     platform::Env& env) {
  return std::shared_ptr<FileProviderExtension>(
      new FileProviderExtension(std::move(domain), std::move(dav), std::move(state), env));
}

FileProviderExtension::FileProviderExtension(platform::Domain domain, std::shared_ptr<Dav> dav,
                                             std::shared_ptr<State> state, platform::Env& env)
    : domain_(std::move(domain)),
      env_(env),
      dav_(std::move(dav)),
      state_(std::move(state)),
      lookup_(std::make_shared<const Lookup>(dav_, state_, domain_.displayName, env)) {}

FileProviderExtension::~FileProviderExtension() = default;

platform::SyncAnchor FileProviderExtension::anchor() const { return syncAnchor(*state_); }

std::shared_ptr<platform::Progress> FileProviderExtension::itemForIdentifier(
    const platform::ItemIdentifier& identifier, const platform::Request&, platform::ItemCompletion completion) {
  return perform<ItemPtr>(
      [self = shared_from_this(), identifier] { return self->lookup_->lookup(identifier); },
      [completion](std::optional<ItemPtr> item, std::optional<Error> error) {
        completion(item ? *item : nullptr, std::move(error));
      });
}

std::shared_ptr<platform::Progress> FileProviderExtension::fetchContents(
    const platform::ItemIdentifier& identifier, std::optional<platform::ItemVersion>, const platform::Request&,
    platform::FetchCompletion completion) {
  using Fetched = std::pair<std::string, ItemPtr>;
  return perform<Fetched>(
      [self = shared_from_this(), identifier] { return self->lookup_->fetch(identifier); },
      [completion](std::optional<Fetched> fetched, std::optional<Error> error) {
        if (fetched) {
          completion(fetched->first, fetched->second, std::nullopt);
        } else {
          completion(std::nullopt, nullptr, std::move(error));
        }
      },
      // A download that the platform no longer waits for would be an orphan in the temporary directory.
      [self = shared_from_this()](Fetched& fetched) {
        try {
          self->env_.removeFile(fetched.first);
        } catch (...) {
          // Already gone; nothing else to undo.
        }
      });
}

std::shared_ptr<platform::Progress> FileProviderExtension::createItem(
    ItemRef itemTemplate, platform::ItemFields, std::optional<std::string> contents, platform::CreateItemOptions,
    const platform::Request&, platform::WriteCompletion completion) {
  return perform<ItemPtr>(
      [self = shared_from_this(), itemTemplate, contents] {
        return Creation(*self->dav_, *self->state_, *self->lookup_).create(*itemTemplate, contents);
      },
      [completion](std::optional<ItemPtr> item, std::optional<Error> error) {
        completion(item ? *item : nullptr, 0, false, std::move(error));
      });
}

std::shared_ptr<platform::Progress> FileProviderExtension::modifyItem(
    ItemRef item, platform::ItemVersion, platform::ItemFields changedFields, std::optional<std::string> contents,
    platform::ModifyItemOptions, const platform::Request&, platform::WriteCompletion completion) {
  using Modified = std::pair<ItemPtr, platform::ItemFields>;
  return perform<Modified>(
      [self = shared_from_this(), item, changedFields, contents] {
        return Modification(*self->dav_, *self->state_, *self->lookup_)
            .modify(*item, changedFields, contents);
      },
      [completion](std::optional<Modified> modified, std::optional<Error> error) {
        if (modified) {
          completion(modified->first, modified->second, false, std::nullopt);
        } else {
          completion(nullptr, 0, false, std::move(error));
        }
      });
}

std::shared_ptr<platform::Progress> FileProviderExtension::deleteItem(const platform::ItemIdentifier& identifier,
                                                                      platform::ItemVersion baseVersion,
                                                                      platform::DeleteItemOptions options,
                                                                      const platform::Request&,
                                                                      platform::DeleteCompletion completion) {
  bool recursive = (options & platform::kDeleteRecursive) != 0;
  return perform<Nothing>(
      [self = shared_from_this(), identifier, version = baseVersion.contentVersion, recursive] {
        Deletion(*self->dav_, *self->state_, *self->lookup_).remove(identifier, version, recursive);
        return Nothing{};
      },
      [completion](std::optional<Nothing>, std::optional<Error> error) { completion(std::move(error)); });
}

std::shared_ptr<platform::Enumerator> FileProviderExtension::enumerator(const platform::ItemIdentifier& container,
                                                                        const platform::Request&) {
  return std::make_shared<Enumerator>(container, domain_.identifier, dav_, state_, lookup_);
}

}  // namespace davfp
