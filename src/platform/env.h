// Env: the operating system's services that the engine uses, behind one interface (files and locations,
// starting applications, the type registry, the clock). Env::standard() is the real one; EnvWrapper forwards
// every call to another Env, so that a test overrides only what it needs (a disk that fills, a launcher that
// records, a clock that jumps).
// All methods are thread-safe. Failures are thrown as Error (POSIX domain) unless a method says otherwise.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace davfp::platform {

class Env {
 public:
  virtual ~Env() = default;

  // The operating system's Env: XDG locations, POSIX files, freedesktop applications and types.
  static Env& standard();

  // --- Locations ---
  // The container shared by the host application and the extension for the application group, or none
  // when no such directory can be named. Creates nothing.
  virtual std::optional<std::string> groupContainer(std::string_view appGroup) = 0;
  // The per-user data directory of the application with this identifier, or none. Creates nothing.
  virtual std::optional<std::string> applicationDataDirectory(std::string_view bundleID) = 0;
  // The process's temporary directory. Never empty.
  virtual std::string temporaryDirectory() = 0;

  // --- Files ---
  // The whole file in one read.
  virtual std::string readFile(const std::string& path) = 0;
  // Replaces the file atomically: a new file in the same directory (created exclusively, mode 0600) is
  // written, flushed to disk and renamed over path; on failure it is removed and path is untouched. What a
  // process killed in the middle of a write to path left behind is removed by the first write to path after.
  virtual void writeFileAtomically(const std::string& path, std::string_view bytes) = 0;
  // Creates the directory and its missing parents; an existing directory is no error.
  virtual void createDirectories(const std::string& path) = 0;
  virtual void removeFile(const std::string& path) = 0;
  // Moves a file; across file systems it copies and removes the source.
  virtual void moveFile(const std::string& from, const std::string& to) = 0;

  // --- Applications ---
  // Where the application with this bundle identifier is installed, or none.
  virtual std::optional<std::string> applicationLocation(std::string_view bundleID) = 0;
  // Starts the application with these arguments in the background, detached, without waiting for it and
  // without reporting the outcome.
  virtual void openApplication(const std::string& location, const std::vector<std::string>& arguments) = 0;

  // --- Types ---
  // The type registered for a filename extension (without the dot), or none.
  virtual std::optional<std::string> typeForFilenameExtension(std::string_view extension) = 0;

  // --- Time ---
  // The monotonic clock, for deadlines.
  virtual std::chrono::steady_clock::time_point now() = 0;
  // Waits for d, or less when the current job is asked to stop; false when it was.
  virtual bool sleepFor(std::chrono::nanoseconds d) = 0;
};

// Forwards every call to a target Env.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& target() const { return target_; }

  std::optional<std::string> groupContainer(std::string_view appGroup) override {
    return target_.groupContainer(appGroup);
  }
  std::optional<std::string> applicationDataDirectory(std::string_view bundleID) override {
    return target_.applicationDataDirectory(bundleID);
  }
  std::string temporaryDirectory() override { return target_.temporaryDirectory(); }
  std::string readFile(const std::string& path) override { return target_.readFile(path); }
  void writeFileAtomically(const std::string& path, std::string_view bytes) override {
    target_.writeFileAtomically(path, bytes);
  }
  void createDirectories(const std::string& path) override { target_.createDirectories(path); }
  void removeFile(const std::string& path) override { target_.removeFile(path); }
  void moveFile(const std::string& from, const std::string& to) override { target_.moveFile(from, to); }
  std::optional<std::string> applicationLocation(std::string_view bundleID) override {
    return target_.applicationLocation(bundleID);
  }
  void openApplication(const std::string& location, const std::vector<std::string>& arguments) override {
    target_.openApplication(location, arguments);
  }
  std::optional<std::string> typeForFilenameExtension(std::string_view extension) override {
    return target_.typeForFilenameExtension(extension);
  }
  std::chrono::steady_clock::time_point now() override { return target_.now(); }
  bool sleepFor(std::chrono::nanoseconds d) override { return target_.sleepFor(d); }

 private:
  Env& target_;
};

// Joins a directory and a file name with one "/".
std::string joinPath(std::string_view dir, std::string_view name);

}  // namespace davfp::platform
