#include "host/drive_choice.h"

#include <cerrno>

#include "dav/drive_config.h"
#include "host/failure.h"
#include "platform/app_identity.h"

namespace davfp::cli {

namespace {

std::string drivesFile(platform::Env& env) {
  auto dir = groupDir(env);
  return dir ? platform::joinPath(*dir, kDrivesFileName) : std::string(kDrivesFileName);
}

std::map<std::string, DriveInfo> publishedDrives(platform::Env& env) {
  auto dir = groupDir(env);
  if (!dir) return {};
  try {
    auto drives = decodeDrives(env.readFile(platform::joinPath(*dir, kDrivesFileName)));
    return drives ? *drives : std::map<std::string, DriveInfo>{};
  } catch (const platform::Error&) {
    return {};  // no file, or one that cannot be read: no drive is published
  }
}

// The default drive's identifier, or none: no file, an empty one, or one that cannot be read.
std::optional<std::string> defaultDrive(platform::Env& env) {
  auto dir = groupDir(env);
  if (!dir) return std::nullopt;
  std::string text;
  try {
    text = env.readFile(platform::joinPath(*dir, kDefaultDriveFileName));
  } catch (const platform::Error&) {
    return std::nullopt;
  }
  text = text.substr(0, text.find('\n'));
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) text.pop_back();
  if (text.empty()) return std::nullopt;
  return text;
}

std::string listing(const std::map<std::string, DriveInfo>& drives) {
  std::string out;
  for (const auto& [domain, info] : drives) {
    if (!out.empty()) out += ", ";
    out += domain + " (\"" + info.name + "\")";
  }
  return out;
}

}  // namespace

Drive chooseDrive(const std::optional<std::string>& domain, platform::Env& env) {
  if (domain) {
    if (auto info = driveInfo(*domain, env)) return Drive{*domain, info->name};
    // Not published now: the engine starts the host application and waits for it, when there is one.
    if (env.applicationLocation(platform::kAppBundleID)) return Drive{*domain, *domain, false};
    auto drives = publishedDrives(env);
    std::string message = "no drive \"" + *domain + "\" is published in " + drivesFile(env) +
                          ", and no host application (" + std::string(platform::kAppBundleID) +
                          ".desktop) is installed to publish it";
    if (!drives.empty()) message += "; published: " + listing(drives);
    throw Failure{
        {},
        platform::Error(platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable, message),
        {}};
  }
  if (auto chosen = defaultDrive(env)) return chooseDrive(chosen, env);
  auto drives = publishedDrives(env);
  if (drives.size() == 1) return Drive{drives.begin()->first, drives.begin()->second.name};
  // Exit status 1 like a named drive that is not published: no drive to work on is a failed request.
  if (drives.empty()) {
    throw Failure{{},
                  platform::Error(platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable,
                                  "no drive is published in " + drivesFile(env)),
                  "start the host application (davfp-host start) or name a drive with --domain ID"};
  }
  throw Failure{{},
                platform::Error(platform::kPOSIXErrorDomain, EINVAL,
                                "several drives are published and none is the default: " + listing(drives)),
                "choose one with --domain ID, or make one the default with davfp-host default ID"};
}

Failure explainUnpublished(Failure failure, const Drive& drive, platform::Env& env) {
  if (drive.published ||
      !failure.error.is(platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable) ||
      driveInfo(drive.domain, env)) {
    return failure;
  }
  failure.error = platform::Error(failure.error.domain(), failure.error.code(),
                                  "no drive \"" + drive.domain + "\" is published in " + drivesFile(env) +
                                      "; the host application was started but did not publish it",
                                  failure.error.cause());
  failure.hint = "see davfp-host list";
  return failure;
}

Failure explainRefused(Failure failure, const Drive& drive) {
  if (!failure.error.is(platform::kFileProviderErrorDomain, platform::fp::kNotAuthenticated)) return failure;
  failure.error = platform::Error(
      failure.error.domain(), failure.error.code(),
      "the server refused the credentials for drive \"" + drive.domain + "\" (401)", failure.error.cause());
  return failure;
}

}  // namespace davfp::cli
