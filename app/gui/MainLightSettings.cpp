// The settings as the controls hold them: the output suffix and folder (with the folder picker),
// the column widths, the window's height and the last folder, read from and written to the
// settings file.

#include <QCoreApplication>
#include <string>

#include "app/BatchDriver.h"
#include "app/Settings.h"
#include "app/gui/FolderPicker.h"
#include "app/gui/MainLight.h"
#include "app/gui/MainLightDetail.h"
#include "app/gui/MainTexts.h"
#include "app/gui/MyGrid.h"
#include "ui_MainLight.h"

namespace klarwell {

using window_detail::ToPath;

void TMainFrm::RememberFolder(const QString& folder) {
  if (!folder.isEmpty()) LastFolder = folder;
}

TOutputSettings TMainFrm::CurrentOutputSettings() const {
  TOutputSettings settings;
  settings.Suffix = UiForm->SuffixEdit->text().toStdString();
  settings.OutDir = ToPath(UiForm->OutDirEdit->text());
  return settings;
}

TSettingsValues TMainFrm::CurrentSettings() const {
  TSettingsValues values;
  values.Suffix = UiForm->SuffixEdit->text().toStdString();
  values.OutDir = UiForm->OutDirEdit->text().toStdString();
  values.Refine = UiForm->RefineCheck->isChecked();
  for (int c = 0; c < 7; ++c) values.ColumnWidths[static_cast<size_t>(c)] = Grid()->ColWidth(c);
  values.WindowHeight = height();
  values.LastFolder = LastFolder.toStdString();
  return values;
}

void TMainFrm::LoadSettings() {
  TSettingsValues values = CurrentSettings();
  klarwell::LoadSettings(SettingsPath, values);
  UiForm->SuffixEdit->setText(QString::fromStdString(values.Suffix));
  UiForm->OutDirEdit->setText(QString::fromStdString(values.OutDir));
  UiForm->RefineCheck->setChecked(values.Refine);
  for (int c = 0; c < 7; ++c) Grid()->SetColWidth(c, values.ColumnWidths[static_cast<size_t>(c)]);
  resize(width(), values.WindowHeight);
  LastFolder = QString::fromStdString(values.LastFolder);
}

bool TMainFrm::SaveSettings() {
  std::string error;
  if (klarwell::SaveSettings(SettingsPath, CurrentSettings(), error)) return true;
  ShowMessage(QMessageBox::Critical, QCoreApplication::applicationName(), QString::fromStdString(error),
              QMessageBox::Ok);
  return false;
}

void TMainFrm::DirBtnClick() {
  QString start = UiForm->OutDirEdit->text();
  if (!DirectoryExists(ToPath(start))) start = LastFolder;
  if (!DirectoryExists(ToPath(start))) start = QCoreApplication::applicationDirPath();
  QString path;
  if (BrowseForFolder(MainText(txOutDirLabel), start, QString(), path, true, this,
                      Seams.GetExistingDirectory)) {
    UiForm->OutDirEdit->setText(path);
    RememberFolder(path);
  }
}

}  // namespace klarwell
