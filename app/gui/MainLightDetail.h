#pragma once

// Helpers shared by the files that implement TMainFrm; not for the window's users.

#include <QFile>
#include <QString>
#include <chrono>
#include <cstdint>
#include <string>

namespace klarwell::window_detail {

constexpr int DesignedRows = 5;  // the title row and 4 empty rows

// Paths on this platform are bytes; Qt's texts are Unicode. The file-name codec converts both ways
// so that names that are not valid UTF-8 still open.
inline std::string ToPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

// Milliseconds of a steady clock; paces the click extract during a run.
inline uint64_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Button captions wrap onto two lines at the blank nearest the middle.
QString TwoLineCaption(const QString& text);

// The file-open filter "display text|pattern" in the form the file dialog takes.
QString DialogFilter(const QString& filter);

}  // namespace klarwell::window_detail
