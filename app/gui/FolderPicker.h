#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace klarwell {

// The dialog that BrowseForFolder shows: returns the chosen folder, or an empty text when the
// user cancelled. The default is QFileDialog::getExistingDirectory with folders only.
using TFolderDialog = std::function<QString(QWidget* parent, const QString& title, const QString& startDir)>;

// Shows a folder chooser (only file-system folders, starting at `initialDir`, which may not exist;
// the dialog then opens at its default place). `root`, when not empty, is where browsing is meant to
// start from if `initialDir` is empty. `path` is emptied first; true when the user chose a folder,
// which is then in `path`. A trailing '/' of `initialDir` is removed (the root folder stays "/").
// `showStatus` asks for the current path to be shown, which the file dialog always does.
// UI thread only.
bool BrowseForFolder(const QString& title, const QString& initialDir, const QString& root, QString& path,
                     bool showStatus, QWidget* parent = nullptr, const TFolderDialog& dialog = {});

// The start folder without its trailing separator (what BrowseForFolder hands to the dialog).
QString FolderPickerStart(const QString& initialDir, const QString& root);

}  // namespace klarwell
