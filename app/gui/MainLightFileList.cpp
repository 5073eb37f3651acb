// The file list's handlers: adding files (dialog, drop, command line), removing and sorting rows,
// and a click on a row.

#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <string>
#include <vector>

#include "app/BatchDriver.h"
#include "app/FolderScan.h"
#include "app/gui/MainLight.h"
#include "app/gui/MainLightDetail.h"
#include "app/gui/MainTexts.h"
#include "app/gui/MyGrid.h"
#include "audio/WavFile.h"
#include "playback/PlaybackController.h"

namespace klarwell {

namespace window_detail {

QString DialogFilter(const QString& filter) {
  QStringList parts = filter.split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString display = parts[i];
    QString pattern = QString(parts[i + 1]).replace(';', ' ');
    filters << (display.contains('(') ? display : display + " (" + pattern + ")");
  }
  return filters.join(";;");
}

}  // namespace window_detail

using window_detail::DesignedRows;
using window_detail::ToPath;

namespace {

// The sort key of a row: the file-name part of its path, cut before its first '.', with A to Z in
// lower case; compared byte by byte.
std::string SortKey(const QString& fullPath) {
  std::string name = ToPath(QFileInfo(fullPath).fileName());
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

}  // namespace

void TMainFrm::AddBtnClick() {
  QStringList files;
  const QString start = DirectoryExists(ToPath(LastFolder)) ? LastFolder : QString();
  if (Seams.GetOpenFileNames) {
    files = Seams.GetOpenFileNames(this, OpenDialogFilter, start);
  } else {
    QFileDialog dialog(this, QString(), start);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(OpenDialogFilter);
    dialog.setDefaultSuffix("wav");
    // Qt's own dialog: it follows the program's language and leaves the desktop's list of
    // recently used files alone.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() == QDialog::Accepted) files = dialog.selectedFiles();
  }
  if (files.isEmpty()) return;
  RememberFolder(QFileInfo(files.front()).absolutePath());
  AddFiles(files);
}

void TMainFrm::AddFileArguments(const QStringList& arguments) {
  QStringList paths;
  for (const QString& argument : arguments) {
    const QUrl url(argument);
    paths << (url.isLocalFile() ? url.toLocalFile() : argument);
  }
  AddFiles(paths);
}

QStringList TMainFrm::ExpandFolders(const QStringList& paths) {
  QStringList files;
  const std::string suffix = CurrentOutputSettings().Suffix;
  for (const QString& path : paths) {
    if (!QFileInfo(path).isDir()) {
      files << path;
      continue;
    }
    // A desktop user drops a whole folder of sides, subfolders and all; earlier outputs stay out.
    TFolderScan scan;
    ScanFolder(ToPath(path), true, suffix, scan);
    for (const std::string& f : scan.Files) files << QString::fromStdString(f);
    if (scan.Files.empty())
      ShowMessage(QMessageBox::Warning, MainText(txOpenErrorCaption), WindowText(wtNoWavInFolder).arg(path),
                  QMessageBox::Ok);
  }
  return files;
}

void TMainFrm::AddFiles(const QStringList& givenPaths) {
  const QStringList paths = ExpandFolders(givenPaths);
  if (paths.isEmpty()) return;
  TMyGrid* grid = Grid();
  int first = 1;
  while (first < grid->RowCount() && grid->HasFullPath(first)) ++first;

  // Entries that stand below the first free row would be cut off by setting the row count to
  // first + count; they close up to the entries above instead.
  struct TKeptRow {
    QStringList Cells;
    TRowObjects Objects;
  };
  std::vector<TKeptRow> kept;
  for (int r = first + 1; r < grid->RowCount(); ++r) {
    if (!grid->HasFullPath(r)) continue;
    TKeptRow k;
    for (int c = 0; c < grid->ColCount(); ++c) k.Cells << grid->Cell(c, r);
    k.Objects = std::move(grid->Objects(r));
    kept.push_back(std::move(k));
  }

  // Every file is opened first, so that the files that open take consecutive rows and those that do
  // not stand after them: a row without a file between two entries would end every run there.
  struct TAdded {
    QString Name, FullPath, FormatText, LengthText, Reason;
    bool Opened = false;
  };
  std::vector<TAdded> added;
  for (const QString& path : paths) {
    TAdded a;
    a.Name = QFileInfo(path).fileName();
    TWavRecord rec;
    a.Opened = PeekWav(ToPath(path), rec);
    if (a.Opened) {
      a.FullPath = QFileInfo(path).absoluteFilePath();
      a.FormatText = QString::fromStdString(WavFormatText(rec));
      a.LengthText = QString::fromStdString(WavDurationText(rec));
      CloseWav(rec);
    } else {
      a.Reason = QString::fromStdString(rec.ErrorMsg);
    }
    added.push_back(std::move(a));
  }
  std::stable_partition(added.begin(), added.end(), [](const TAdded& a) { return a.Opened; });

  const int count = static_cast<int>(added.size());
  grid->SetRowCount(first + static_cast<int>(kept.size()) + count);
  for (size_t i = 0; i < kept.size(); ++i) {
    const int r = first + static_cast<int>(i);
    for (int c = 0; c < grid->ColCount(); ++c) grid->SetCell(c, r, kept[i].Cells.value(c));
    grid->Objects(r) = std::move(kept[i].Objects);
  }
  first += static_cast<int>(kept.size());
  for (int i = 0; i < count; ++i) {
    const int row = first + i;
    const TAdded& a = added[static_cast<size_t>(i)];
    grid->ClearRow(row);
    // A row that failed keeps its name too, so that the user can tell which file it was.
    grid->SetCell(0, row, a.Name);
    if (a.Opened) {
      grid->Objects(row).FullPath = a.FullPath;
      ShowStatus(row, TFileStatus::Waiting);
      grid->SetCell(2, row, a.FormatText);
      grid->SetCell(3, row, a.LengthText);
    } else {
      grid->SetCell(1, row, a.Reason);
    }
  }
  for (const TAdded& a : added)
    if (!a.Opened)
      ShowMessage(QMessageBox::Critical, MainText(txOpenErrorCaption),
                  MainText(txOpenErrorText) + " \"" + a.Name + "\" : \n" + a.Reason, QMessageBox::Ok);
  UpdatePlayModes();
}

void TMainFrm::DelBtnClick() {
  TMyGrid* grid = Grid();
  const int top = grid->SelectionTop();
  const int bottom = grid->SelectionBottom();
  int row = top;
  for (int n = 0; n < bottom - top + 1; ++n) {
    if (row >= grid->RowCount()) break;
    if (grid->Objects(row).Road != 0) {
      ++row;
      continue;
    }
    FreeRowStatistics(row);
    grid->ShiftRowsUp(row);
    if (grid->RowCount() > DesignedRows) grid->SetRowCount(grid->RowCount() - 1);
  }
  UpdatePlayModes();
  Player->RowsRemoved();
}

void TMainFrm::SortGridClick() {
  TMyGrid* grid = Grid();
  for (int p = 1; p <= grid->RowCount() - 2; ++p) {
    if (!grid->HasFullPath(p) || grid->Objects(p).Status != TFileStatus::Waiting) continue;
    for (int q = p + 1; q < grid->RowCount() && grid->HasFullPath(q); ++q) {
      if (SortKey(*grid->Objects(p).FullPath) > SortKey(*grid->Objects(q).FullPath)) grid->ExchangeRows(p, q);
    }
  }
  UpdatePlayModes();
}

void TMainFrm::MyGrid1Click() {
  UpdatePlayModes();
  Player->ShowSelectedRowCharts();
}

void TMainFrm::UpdatePlayModes() {
  if (Player) Player->UpdatePlayModes();
}

}  // namespace klarwell
