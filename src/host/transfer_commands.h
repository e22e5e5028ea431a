// The path commands that move many files or stream: get and put of several files and of folders (-r), cat,
// and put from standard input. Copies follow cp -r: a folder copied to a folder that exists goes inside it
// under its own name; to a name that is not there, it becomes that folder. Existing files are replaced.
#pragma once

#include "host/commands.h"
#include "host/path_resolver.h"

namespace davfp::cli {

// get PATH... LOCAL, and get -r.
int getMany(Context& context, PathResolver& resolver);
// put LOCAL... PATH, and put -r.
int putMany(Context& context, PathResolver& resolver);
// put - PATH: standard input, however long, to one file on the drive.
int putStandardInput(Context& context, PathResolver& resolver);
// cat PATH...
int cat(Context& context, PathResolver& resolver);

// The name a local path copies under (its last name, "." and ".." resolved as the file system does).
std::string localName(const std::string& path);

}  // namespace davfp::cli
