#include "app/gui/FolderPicker.h"

#include <QFileDialog>

namespace klarwell {

QString FolderPickerStart(const QString& initialDir, const QString& root) {
  QString start = initialDir.isEmpty() ? root : initialDir;
  // One trailing separator goes; the file-system root itself must stay a path.
  if (start.size() > 1 && start.endsWith('/')) start.chop(1);
  return start;
}

bool BrowseForFolder(const QString& title, const QString& initialDir, const QString& root, QString& path,
                     bool showStatus, QWidget* parent, const TFolderDialog& dialog) {
  (void)showStatus;  // the dialog always shows where it is
  path.clear();
  QString start = FolderPickerStart(initialDir, root);
  QString chosen;
  if (dialog) {
    chosen = dialog(parent, title, start);
  } else {
    chosen = QFileDialog::getExistingDirectory(parent, title, start,
                                               QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
  }
  if (chosen.isEmpty()) return false;
  path = chosen;
  return true;
}

}  // namespace klarwell
