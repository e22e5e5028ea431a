// FolderSnapshot: what a listing showed in one folder, as the state remembers it: each child's path and its
// version, all that a later pass needs to tell a child that changed or vanished from one that did not. Where
// two paths are equal as the state compares them, the first one added wins. The text is held as the state
// holds it (a TextMap), so that remembering a folder takes it over without another copy. A value; not
// thread-safe.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "state/text_map.h"

namespace davfp {

class FolderSnapshot {
 public:
  FolderSnapshot() = default;
  // The children given, in order, as add() takes them.
  FolderSnapshot(std::initializer_list<std::pair<std::string_view, std::string_view>> children);

  // Makes room for that many more children holding textBytes of paths and versions.
  void reserve(size_t children, size_t textBytes) { children_.reserve(children, textBytes); }
  // Adds a child unless an equal path is there already.
  void add(std::string_view path, std::string_view version) { children_.tryAdd(path, version); }
  size_t size() const { return children_.size(); }

 private:
  friend class State;

  TextMap children_;  // child path -> version
};

}  // namespace davfp
