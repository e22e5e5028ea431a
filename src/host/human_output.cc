#include "host/human_output.h"

#include <time.h>

#include <algorithm>
#include <chrono>

#include "host/path_resolver.h"
#include "host/visible_text.h"

namespace davfp::cli {

std::string localDate(const std::optional<platform::Date>& date) {
  if (!date) return "-";
  time_t t = std::chrono::system_clock::to_time_t(*date);
  struct tm local;
  if (::localtime_r(&t, &local) == nullptr) return "-";
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0) return "-";
  return text;
}

std::vector<platform::ItemRef> sortedByName(std::vector<platform::ItemRef> items) {
  std::stable_sort(items.begin(), items.end(), [](const platform::ItemRef& a, const platform::ItemRef& b) {
    return a->filename() < b->filename();
  });
  return items;
}

std::string shortListing(const std::vector<platform::ItemRef>& items) {
  std::string out;
  for (const auto& item : items) out += visible(item->filename()) + (isFolder(*item) ? "/" : "") + "\n";
  return out;
}

std::string longListing(const std::vector<platform::ItemRef>& items) {
  struct Row {
    std::string kind, size, date, name;
  };
  std::vector<Row> rows;
  size_t sizeWidth = 0;
  for (const auto& item : items) {
    bool folder = isFolder(*item);
    auto size = item->documentSize();
    Row row{folder ? "d" : "-", !folder && size ? std::to_string(*size) : "-",
            localDate(item->contentModificationDate()), visible(item->filename()) + (folder ? "/" : "")};
    sizeWidth = std::max(sizeWidth, row.size.size());
    rows.push_back(std::move(row));
  }
  std::string out;
  for (const auto& row : rows) {
    std::string date = row.date;
    if (date.size() < 16) date.resize(16, ' ');
    out += row.kind + "  " + std::string(sizeWidth - row.size.size(), ' ') + row.size + "  " + date + "  " +
           row.name + "\n";
  }
  return out;
}

}  // namespace davfp::cli
