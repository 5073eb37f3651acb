#pragma once

#include <QStringList>
#include <QTableWidget>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/FileStatus.h"

namespace klarwell {

// What a list row holds besides its cell texts: column 0's slot carries the file's full path
// (its presence marks the row as a list entry); the slots of columns 4 to 6 carry the row's
// stored click-density curve (point count, x values, y values).
struct TRowObjects {
  std::optional<QString> FullPath;
  std::optional<int> StatCount;
  std::optional<std::vector<float>> StatX;
  std::optional<std::vector<float>> StatY;
  // A run's decision, made before anything of the run is written, that this row's output is refused
  // (another file of the run claims it, or it is another input of the run); empty until the run has
  // planned the row, and emptied again when the run reaches it.
  std::optional<bool> OutputTaken;
  // The status the row's Status cell shows, as a kind (the cell holds it in the program's words).
  TFileStatus Status = TFileStatus::Waiting;
  // Not 0 while the run takes this row's file along its road: the road's number, unique in the
  // window's life. It moves with the row when rows are removed, sorted or closed up, so the run
  // always knows where its row stands; a row on the road cannot be removed.
  uint64_t Road = 0;
};

// A string grid: a table of text cells with one object slot set per row, and a fixed title row.
//
// Rows are numbered as the list's users think of them: row 0 is the title row (shown as the
// table's header, whose texts are TitleCaptions), rows 1 .. RowCount() - 1 are the data rows.
// Every cell of a data row always has an item, so texts can be read without null checks.
//
// UI thread only.
class TMyGrid : public QTableWidget {
  Q_OBJECT

 public:
  // As created: 2 columns of width 150, rows of height 18, one title row.
  explicit TMyGrid(QWidget* parent = nullptr);

  // The column titles; entry i becomes the title of column i. Assigning copies the list and
  // repaints.
  QStringList TitleCaptions() const { return Captions; }
  void SetTitleCaptions(const QStringList& captions);

  // Rows including the title row (so never below 1).
  int RowCount() const { return rowCount() + 1; }
  void SetRowCount(int rows);
  int ColCount() const { return columnCount(); }
  void SetColCount(int columns);

  // Text of a data cell (row >= 1); the title row's cells are the captions.
  QString Cell(int column, int row) const;
  void SetCell(int column, int row, const QString& text);

  TRowObjects& Objects(int row);
  const TRowObjects& Objects(int row) const;
  bool HasFullPath(int row) const;
  // The data row whose objects carry road number `road` (not 0); 0 when no row does.
  int RowOfRoad(uint64_t road) const;

  // Empties the texts and object slots of one row.
  void ClearRow(int row);
  // Exchanges two rows completely (all cells and all objects).
  void ExchangeRows(int a, int b);
  // Removes `row`: every row below moves up by one, the last row is emptied.
  void ShiftRowsUp(int row);

  // The first and last selected row (data rows; 1 when nothing is selected, as a string grid always
  // has a current row). Top <= Bottom.
  int SelectionTop() const;
  int SelectionBottom() const;
  // Selects all columns of one data row and makes it current.
  void SelectRow(int row);

  // The first data row shown at the top, and how many data rows fit into the view.
  int TopRow() const;
  void SetTopRow(int row);
  int VisibleRowCount() const;

  int ColWidth(int column) const { return columnWidth(column); }
  void SetColWidth(int column, int width) { setColumnWidth(column, width); }

 protected:
  // Hovering over a file cell shows the file's full path.
  bool viewportEvent(QEvent* event) override;

 private:
  void EnsureItems(int tableRow);

  QStringList Captions;
  std::vector<TRowObjects> RowObjects;  // index = table row = data row - 1
};

}  // namespace klarwell
