// The local side of transfers: checking the files a command reads or writes before it asks anything of the
// server, and putting a fetched file where the person asked for it. Failures are thrown as Failure naming the
// local path. Functions of the file system; thread-safe as the file system is.
#pragma once

#include <cstdint>
#include <string>

namespace davfp::cli {

// The size of a regular file that this process can read.
int64_t readableFileSize(const std::string& path);

// Checks that a file can be written at path: its directory exists and is writable, and path is not a
// directory or a file that cannot be replaced.
void checkWritableDestination(const std::string& path);

// Checks that new files can be made in a directory.
void checkWritableDirectory(const std::string& dir);

// True when a local path names a folder: it ends in "/" or is a directory.
bool namesFolder(const std::string& path);

// Where `get` saves an item called name: in the current directory when local is empty, inside local when it
// is a directory (or ends in "/"), else local itself.
std::string saveLocation(const std::string& local, const std::string& name);

// The directory a path lies in ("." for a bare name).
std::string directoryOf(const std::string& path);

// Moves a fetched file to its destination, replacing what is there, with the permissions a newly created
// file of this process gets.
void placeFile(const std::string& from, const std::string& to);

}  // namespace davfp::cli
