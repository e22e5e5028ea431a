// Multistatus bodies of the shape Apache httpd (mod_dav_fs) sends for a depth-1 PROPFIND: the folder first,
// then one response per file with resource type, length, date and entity tag, each in its own propstat, with
// Apache's namespace prefixes and line breaks. Pure function.
#pragma once

#include <string>

namespace davfp::bench {

// The listing of the folder at urlPath ("/dav/big/") holding files file-000000.txt and on.
std::string apacheListing(const std::string& urlPath, int files);

}  // namespace davfp::bench
