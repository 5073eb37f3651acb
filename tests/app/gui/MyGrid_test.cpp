#include "app/gui/MyGrid.h"

#include <gtest/gtest.h>

#include "tests/app/gui/GuiTestApp.h"

namespace klarwell {
namespace {

TMyGrid* MakeGrid(int rows) {
  test::EnsureGuiApp();
  auto* grid = new TMyGrid;
  grid->SetColCount(7);
  grid->SetRowCount(rows);
  for (int r = 1; r < rows; ++r) {
    for (int c = 0; c < 7; ++c) grid->SetCell(c, r, QString("r%1c%2").arg(r).arg(c));
    grid->Objects(r).FullPath = QString("/p/%1.wav").arg(r);
    grid->Objects(r).StatCount = r;
    grid->Objects(r).StatX = std::vector<float>(static_cast<size_t>(r), 1.0f);
  }
  return grid;
}

TEST(MyGrid, TitleCaptionsAreCopiedIntoRowZero) {
  std::unique_ptr<TMyGrid> grid(MakeGrid(3));
  QStringList titles = {"File", "Status", "Format", "Length", "Clicks", "Clicks/sec", "Time"};
  grid->SetTitleCaptions(titles);
  titles[0] = "changed";
  for (int c = 0; c < 7; ++c) {
    EXPECT_EQ(grid->horizontalHeaderItem(c)->text(), grid->TitleCaptions()[c]);
    EXPECT_EQ(grid->Cell(c, 0), grid->TitleCaptions()[c]);
  }
  EXPECT_EQ(grid->Cell(0, 0), "File");
}

// Rows carry their objects: a move that left the path or the curve behind would attach a file's
// results to another file.
TEST(MyGrid, ExchangeAndShiftMoveCellsAndObjectsTogether) {
  std::unique_ptr<TMyGrid> grid(MakeGrid(5));
  grid->ExchangeRows(1, 3);
  EXPECT_EQ(grid->Cell(6, 1), "r3c6");
  EXPECT_EQ(*grid->Objects(1).FullPath, "/p/3.wav");
  EXPECT_EQ(grid->Objects(1).StatX->size(), 3u);
  EXPECT_EQ(grid->Cell(0, 3), "r1c0");
  EXPECT_EQ(*grid->Objects(3).StatCount, 1);

  grid->ShiftRowsUp(2);  // removes row 2
  EXPECT_EQ(grid->Cell(0, 2), "r1c0");
  EXPECT_EQ(*grid->Objects(2).FullPath, "/p/1.wav");
  EXPECT_EQ(*grid->Objects(3).FullPath, "/p/4.wav");
  EXPECT_FALSE(grid->HasFullPath(4));
  for (int c = 0; c < 7; ++c) EXPECT_EQ(grid->Cell(c, 4), "");
  EXPECT_EQ(grid->RowCount(), 5);  // removing a row's content does not change the count
}

TEST(MyGrid, SelectionIsAWholeRowRangeInDataRows) {
  std::unique_ptr<TMyGrid> grid(MakeGrid(6));
  grid->SelectRow(4);
  EXPECT_EQ(grid->SelectionTop(), 4);
  EXPECT_EQ(grid->SelectionBottom(), 4);
  grid->setRangeSelected(QTableWidgetSelectionRange(1, 0, 3, 6), true);
  EXPECT_EQ(grid->SelectionTop(), 2);
  EXPECT_EQ(grid->SelectionBottom(), 4);
  EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
  // Out-of-range rows read as empty and ignore writes.
  grid->SetCell(0, 99, "x");
  EXPECT_EQ(grid->Cell(0, 99), "");
  EXPECT_FALSE(grid->HasFullPath(0));
}

}  // namespace
}  // namespace klarwell
