#pragma once
// Columns of a list or table wide enough for the texts they hold.

#include <QAbstractItemView>
#include <QHeaderView>
#include <algorithm>
#include <span>
#include <vector>

namespace kuv {

// The width each column of view needs for its header's text and its cells' texts, never below its
// width in minimums.
inline std::vector<int> NeededColumnWidths(QAbstractItemView& view, QHeaderView& header,
                                           std::span<const int> minimums) {
  std::vector<int> widths;
  for (int c = 0; c < static_cast<int>(minimums.size()); ++c) {
    widths.push_back(std::max({minimums[static_cast<std::size_t>(c)], header.sectionSizeHint(c),
                               view.sizeHintForColumn(c)}));
  }
  return widths;
}

// Widens each column to what NeededColumnWidths says; a column the header stretches is left to the
// header. Columns only grow, so a width the user dragged wider stays.
inline void FitColumns(QAbstractItemView& view, QHeaderView& header,
                       std::span<const int> minimums) {
  const std::vector<int> needed = NeededColumnWidths(view, header, minimums);
  for (int c = 0; c < static_cast<int>(needed.size()); ++c) {
    if (header.sectionResizeMode(c) == QHeaderView::Stretch) continue;
    if (header.sectionSize(c) < needed[static_cast<std::size_t>(c)])
      header.resizeSection(c, needed[static_cast<std::size_t>(c)]);
  }
}

}  // namespace kuv
