#pragma once
// Columns of a list or table wide enough for the texts they hold.

#include <QAbstractItemView>
#include <QHeaderView>
#include <algorithm>
#include <span>

namespace kuv {

// Widens each column of view to its header's text and its cells' texts, never below its width in
// minimums; a column the header stretches is left to the header. Columns only grow, so a width
// the user dragged wider stays.
inline void FitColumns(QAbstractItemView& view, QHeaderView& header, std::span<const int> minimums) {
  for (int c = 0; c < static_cast<int>(minimums.size()); ++c) {
    if (header.sectionResizeMode(c) == QHeaderView::Stretch) continue;
    const int wanted = std::max({minimums[static_cast<std::size_t>(c)], header.sectionSizeHint(c),
                                 view.sizeHintForColumn(c)});
    if (header.sectionSize(c) < wanted) header.resizeSection(c, wanted);
  }
}

}  // namespace kuv
