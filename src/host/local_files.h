// The local side of transfers: checking the files a command reads or writes before it asks anything of the
// server, and putting a fetched file where the person asked for it. Failures are thrown as Failure naming the
// local path. Functions of the file system; thread-safe as the file system is.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace davfp::cli {

// The size of a regular file that this process can read.
int64_t readableFileSize(const std::string& path);

// Checks that a file can be written at path, as placeFile writes it: a device, FIFO or socket (also through
// symbolic links) must be writable; otherwise the directory that takes the file must exist and be writable,
// and the file there must not be a directory or a file that cannot be replaced.
void checkWritableDestination(const std::string& path);

// What a destination names once its symbolic links are followed, as cp follows them: the file a link leads
// to (which need not exist yet), or path itself when it is no link. A loop of links is left for the file
// system to report (ELOOP).
std::string linkTarget(const std::string& path);

// True when path exists (following links) and is neither a regular file nor a directory: a device, FIFO or
// socket, which is written to in place and never replaced.
bool writtenInPlace(const std::string& path);

// The directory in which a download for dest waits before it is renamed into place: beside the file that
// dest leads to, so that the rename replaces it at once. Empty when dest is written in place.
std::string stagingDirectoryFor(const std::string& dest);

// Checks that new files can be made in a directory.
void checkWritableDirectory(const std::string& dir);

// True when a local path names a folder: it ends in "/" or is a directory.
bool namesFolder(const std::string& path);

// Where `get` saves an item called name: in the current directory when local is empty, inside local when it
// is a directory (or ends in "/"), else local itself.
std::string saveLocation(const std::string& local, const std::string& name);

// The directory a path lies in ("." for a bare name).
std::string directoryOf(const std::string& path);

// Moves a fetched file to its destination with the permissions a newly created file of this process gets.
// A symbolic link is followed and the file it leads to replaced; a device, FIFO or socket is written to in
// place. Nothing but the destination, or what its link leads to, is ever replaced.
void placeFile(const std::string& from, const std::string& to);

// Gives a saved file or folder the server's modification time, as cp -p and rclone copy do; a link is
// followed, a device, FIFO or socket keeps its own. Nothing when there is no date; a file system that will
// not take it keeps its own time (the contents are what matter).
void keepModificationDate(const std::string& path, std::optional<std::chrono::system_clock::time_point> date);

// Makes a local folder for a copy; one that is there already is used as it is. Throws Failure.
void makeLocalFolder(const std::string& path);

// Writes a fetched file to this process's standard output and removes it.
void writeToStandardOutput(const std::string& from);

}  // namespace davfp::cli
