#include "host/human_output.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

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

std::string compactSize(int64_t bytes) {
  static const char kUnits[] = "KMGTPE";
  if (bytes < 1024) return std::to_string(bytes);
  // As ls -h: rounded up, one decimal below 10, whole numbers above.
  double value = static_cast<double>(bytes);
  int unit = -1;
  while (value >= 1024 && unit < 5) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (value < 10) {
    value = std::ceil(value * 10) / 10;
    if (value < 10) {
      std::snprintf(text, sizeof text, "%.1f%c", value, kUnits[unit]);
      return text;
    }
  }
  value = std::ceil(value);
  if (value >= 1024 && unit < 5) {
    value = 1;
    ++unit;
    std::snprintf(text, sizeof text, "%.1f%c", value, kUnits[unit]);
    return text;
  }
  std::snprintf(text, sizeof text, "%.0f%c", value, kUnits[unit]);
  return text;
}

std::string longListing(const std::vector<platform::ItemRef>& items, bool compactSizes) {
  struct Row {
    std::string kind, size, date, name;
  };
  std::vector<Row> rows;
  size_t sizeWidth = 0;
  for (const auto& item : items) {
    bool folder = isFolder(*item);
    auto size = item->documentSize();
    Row row{folder ? "d" : "-",
            !folder && size ? (compactSizes ? compactSize(*size) : std::to_string(*size)) : "-",
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
