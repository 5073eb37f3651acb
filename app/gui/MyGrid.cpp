#include "app/gui/MyGrid.h"

#include <QDir>
#include <QHeaderView>
#include <QHelpEvent>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>
#include <utility>

namespace klarwell {

TMyGrid::TMyGrid(QWidget* parent) : QTableWidget(parent) {
  setColumnCount(2);
  resize(306, 98);
  horizontalHeader()->setDefaultSectionSize(150);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setMinimumSectionSize(0);
  verticalHeader()->setVisible(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(18);
  horizontalHeader()->setFixedHeight(18);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setShowGrid(true);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
}

void TMyGrid::SetTitleCaptions(const QStringList& captions) {
  Captions = captions;
  for (int i = 0; i < columnCount(); ++i) {
    QString text = i < Captions.size() ? Captions[i] : QString();
    QTableWidgetItem* item = horizontalHeaderItem(i);
    if (!item) {
      item = new QTableWidgetItem;
      setHorizontalHeaderItem(i, item);
    }
    item->setText(text);
  }
  viewport()->update();
}

void TMyGrid::EnsureItems(int tableRow) {
  for (int c = 0; c < columnCount(); ++c)
    if (!item(tableRow, c)) setItem(tableRow, c, new QTableWidgetItem);
}

void TMyGrid::SetRowCount(int rows) {
  rows = std::max(rows, 1);
  int old = rowCount();
  setRowCount(rows - 1);
  RowObjects.resize(static_cast<size_t>(rows - 1));
  for (int r = old; r < rows - 1; ++r) EnsureItems(r);
}

void TMyGrid::SetColCount(int columns) {
  int old = columnCount();
  setColumnCount(std::max(columns, 1));
  for (int r = 0; r < rowCount(); ++r) EnsureItems(r);
  if (columnCount() > old) SetTitleCaptions(Captions);
}

QString TMyGrid::Cell(int column, int row) const {
  if (row == 0) return column >= 0 && column < Captions.size() ? Captions[column] : QString();
  const QTableWidgetItem* cell = item(row - 1, column);
  return cell ? cell->text() : QString();
}

void TMyGrid::SetCell(int column, int row, const QString& text) {
  if (row < 1 || row >= RowCount() || column < 0 || column >= columnCount()) return;
  QTableWidgetItem* cell = item(row - 1, column);
  if (!cell) {
    cell = new QTableWidgetItem;
    setItem(row - 1, column, cell);
  }
  cell->setText(text);
}

TRowObjects& TMyGrid::Objects(int row) {
  static TRowObjects none;
  if (row < 1 || row >= RowCount()) {
    // Out-of-range rows have no objects; hand out an empty scratch record.
    none = TRowObjects{};
    return none;
  }
  return RowObjects[static_cast<size_t>(row - 1)];
}

const TRowObjects& TMyGrid::Objects(int row) const {
  static const TRowObjects none;
  if (row < 1 || row >= RowCount()) return none;
  return RowObjects[static_cast<size_t>(row - 1)];
}

bool TMyGrid::HasFullPath(int row) const {
  return Objects(row).FullPath.has_value();
}

int TMyGrid::RowOfRoad(uint64_t road) const {
  for (size_t i = 0; road != 0 && i < RowObjects.size(); ++i)
    if (RowObjects[i].Road == road) return static_cast<int>(i) + 1;
  return 0;
}

void TMyGrid::ClearRow(int row) {
  if (row < 1 || row >= RowCount()) return;
  for (int c = 0; c < columnCount(); ++c) SetCell(c, row, QString());
  RowObjects[static_cast<size_t>(row - 1)] = TRowObjects{};
}

void TMyGrid::ExchangeRows(int a, int b) {
  if (a == b || a < 1 || b < 1 || a >= RowCount() || b >= RowCount()) return;
  for (int c = 0; c < columnCount(); ++c) {
    QString t = Cell(c, a);
    SetCell(c, a, Cell(c, b));
    SetCell(c, b, t);
  }
  std::swap(RowObjects[static_cast<size_t>(a - 1)], RowObjects[static_cast<size_t>(b - 1)]);
}

void TMyGrid::ShiftRowsUp(int row) {
  if (row < 1 || row >= RowCount()) return;
  for (int r = row; r < RowCount() - 1; ++r) {
    for (int c = 0; c < columnCount(); ++c) SetCell(c, r, Cell(c, r + 1));
    RowObjects[static_cast<size_t>(r - 1)] = std::move(RowObjects[static_cast<size_t>(r)]);
  }
  ClearRow(RowCount() - 1);
}

int TMyGrid::SelectionTop() const {
  int top = -1;
  for (const QTableWidgetSelectionRange& range : selectedRanges())
    if (top < 0 || range.topRow() < top) top = range.topRow();
  if (top < 0) top = currentRow();
  return std::max(top, 0) + 1;
}

int TMyGrid::SelectionBottom() const {
  int bottom = -1;
  for (const QTableWidgetSelectionRange& range : selectedRanges())
    bottom = std::max(bottom, range.bottomRow());
  if (bottom < 0) bottom = currentRow();
  return std::max(std::max(bottom, 0) + 1, SelectionTop());
}

void TMyGrid::SelectRow(int row) {
  if (row < 1 || row >= RowCount()) return;
  clearSelection();
  setCurrentCell(row - 1, 0, QItemSelectionModel::NoUpdate);
  setRangeSelected(QTableWidgetSelectionRange(row - 1, 0, row - 1, columnCount() - 1), true);
}

int TMyGrid::TopRow() const {
  return std::max(rowAt(0), 0) + 1;
}

void TMyGrid::SetTopRow(int row) {
  row = std::clamp(row, 1, std::max(RowCount() - 1, 1));
  verticalScrollBar()->setValue(row - 1);
}

int TMyGrid::VisibleRowCount() const {
  int rowHeight = std::max(verticalHeader()->defaultSectionSize(), 1);
  return std::max(viewport()->height() / rowHeight, 1);
}

bool TMyGrid::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const int row = index.row() + 1;
    if (index.isValid() && index.column() == 0 && HasFullPath(row)) {
      QToolTip::showText(help->globalPos(), QDir::toNativeSeparators(*Objects(row).FullPath), viewport());
      return true;
    }
  }
  return QTableWidget::viewportEvent(event);
}

}  // namespace klarwell
