#include "host/tree_commands.h"

#include <cstdio>
#include <functional>
#include <vector>

#include "client/errors.h"
#include "host/drive_path.h"
#include "host/failure.h"
#include "host/human_output.h"
#include "host/json_output.h"
#include "host/visible_text.h"

namespace davfp::cli {

using nlohmann::ordered_json;
using platform::ItemRef;

namespace {

// Output gathered and written in large pieces: a tree may have many lines.
class Output {
 public:
  void add(const std::string& text) {
    text_ += text;
    if (text_.size() > (1 << 16)) flush();
  }
  void flush() {
    emit(text_);
    text_.clear();
  }

 private:
  std::string text_;
};

std::vector<ItemRef> listing(Context& c, const platform::ItemIdentifier& folder, const DrivePath& path) {
  try {
    return sortedByName(c.platform.enumerate(folder));
  } catch (const platform::Error& e) {
    throw Failure{path.text(), e, {}};
  }
}

std::string plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void treeBelow(Context& c, const ItemRef& folder, const DrivePath& path, const std::string& indent,
               Output& out, TreeSize& counts) {
  auto items = listing(c, folder->itemIdentifier(), path);
  for (size_t i = 0; i < items.size(); ++i) {
    const ItemRef& item = items[i];
    const bool last = i + 1 == items.size();
    DrivePath childPath = path.child(item->filename());
    if (c.options.json) {
      out.add(jsonLine(itemJson(*item, childPath.text())));
    } else {
      out.add(indent + (last ? "└── " : "├── ") + visible(item->filename()) + "\n");
    }
    if (isFolder(*item)) {
      ++counts.folders;
      treeBelow(c, item, childPath, indent + (last ? "    " : "│   "), out, counts);
    } else {
      ++counts.files;
    }
  }
}

TreeSize sizeBelow(Context& c, const ItemRef& top, const DrivePath& topPath) {
  TreeSize size;
  if (!isFolder(*top)) {
    size.bytes = top->documentSize().value_or(0);
    size.files = 1;
    return size;
  }
  std::vector<std::pair<platform::ItemIdentifier, DrivePath>> toDo{{top->itemIdentifier(), topPath}};
  while (!toDo.empty()) {
    if (c.interrupt.interrupted()) throw Failure{topPath.text(), client::cancelledError(), {}};
    auto [id, path] = std::move(toDo.back());
    toDo.pop_back();
    for (const auto& item : listing(c, id, path)) {
      if (isFolder(*item)) {
        ++size.folders;
        toDo.emplace_back(item->itemIdentifier(), path.child(item->filename()));
      } else {
        ++size.files;
        size.bytes += item->documentSize().value_or(0);
      }
    }
  }
  return size;
}

}  // namespace

std::string treeCounts(int64_t folders, int64_t files) {
  return plural(folders, "folder", "folders") + ", " + plural(files, "file", "files");
}

int tree(Context& c, PathResolver& r) {
  DrivePath path = DrivePath::parse(c.options.path);
  ItemRef top = r.resolve(path);
  Output out;
  TreeSize counts;
  if (!c.options.json) out.add(visible(path.text()) + "\n");
  if (isFolder(*top)) {
    treeBelow(c, top, path, "", out, counts);
  } else if (c.options.json) {
    out.add(jsonLine(itemJson(*top, path.text())));
  }
  if (!c.options.json) out.add("\n" + treeCounts(counts.folders, counts.files) + "\n");
  out.flush();
  return 0;
}

int du(Context& c, PathResolver& r) {
  std::vector<std::string> paths = c.options.paths;
  if (paths.empty()) paths.push_back("/");
  int status = 0;
  for (const auto& text : paths) {
    try {
      DrivePath path = DrivePath::parse(text);
      TreeSize size = sizeBelow(c, r.resolve(path), path);
      if (c.options.json) {
        emit(jsonLine(ordered_json{
            {"path", path.text()}, {"size", size.bytes}, {"files", size.files}, {"folders", size.folders}}));
      } else {
        emit((c.options.humanSizes ? compactSize(size.bytes) : std::to_string(size.bytes)) + "\t" +
             visible(path.text()) + "\n");
      }
    } catch (const Failure& failure) {
      if (c.interrupt.interrupted()) throw;
      // As du does, the other paths are still measured; the status says one failed.
      std::fprintf(stderr, "%s\n", visible(humanMessage(failure, c.options.verbose)).c_str());
      status = 1;
    }
  }
  return status;
}

int lsRecursive(Context& c, PathResolver& r) {
  const Options& o = c.options;
  DrivePath top = DrivePath::parse(o.path);
  ItemRef item = r.resolve(top);
  if (!isFolder(*item)) {
    std::vector<ItemRef> one{item};
    emit(o.json         ? jsonLine(itemJson(*item, top.text()))
         : o.longFormat ? longListing(one, o.humanSizes)
                        : shortListing(one));
    return 0;
  }
  Output out;
  bool first = true;
  // Depth first, each folder's listing before those of the folders in it, as ls -R shows them.
  std::vector<std::pair<platform::ItemIdentifier, DrivePath>> toDo{{item->itemIdentifier(), top}};
  while (!toDo.empty()) {
    auto [id, path] = std::move(toDo.back());
    toDo.pop_back();
    auto items = listing(c, id, path);
    if (o.json) {
      for (const auto& child : items)
        out.add(jsonLine(itemJson(*child, path.child(child->filename()).text())));
    } else {
      out.add(std::string(first ? "" : "\n") + visible(path.text()) + ":\n" +
              (o.longFormat ? longListing(items, o.humanSizes) : shortListing(items)));
    }
    first = false;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      if (isFolder(**it)) toDo.emplace_back((*it)->itemIdentifier(), path.child((*it)->filename()));
    }
  }
  out.flush();
  return 0;
}

}  // namespace davfp::cli
