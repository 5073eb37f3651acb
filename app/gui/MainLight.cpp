#include "app/gui/MainLight.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <climits>

#include "app/BatchDriver.h"
#include "app/OutputPlan.h"
#include "app/ParallelDriver.h"
#include "app/RunTexts.h"
#include "app/Version.h"
#include "app/gui/FolderPicker.h"
#include "app/gui/MainTexts.h"
#include "app/gui/MyGrid.h"
#include "audio/WavFile.h"
#include "chart/Graphic.h"
#include "playback/MyTrackBar.h"
#include "playback/PlaybackController.h"
#include "playback/Player.h"
#include "ui_MainLight.h"

namespace klarwell {

namespace {

constexpr int DesignedWidth = 610;
constexpr int DesignedHeight = 517;
constexpr int DesignedRows = 5;  // the title row and 4 empty rows
constexpr int ColumnWidths[7] = {115, 135, 88, 70, 54, 58, 63};

// Paths on this platform are bytes; Qt's texts are Unicode. The file-name codec converts both ways
// so that names that are not valid UTF-8 still open.
std::string ToPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

uint64_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Button captions wrap onto two lines at the blank nearest the middle.
QString TwoLineCaption(const QString& text) {
  int best = -1;
  for (int i = 0; i < text.size(); ++i)
    if (text[i] == ' ' && (best < 0 || std::abs(i - text.size() / 2) < std::abs(best - text.size() / 2)))
      best = i;
  if (best < 0) return text;
  QString result = text;
  result[best] = '\n';
  return result;
}

// The file-open filter "display text|pattern" in the form the file dialog takes.
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

// The width a column title needs in the list's header: the text in the header's font and what the
// style draws around it.
int TitleWidth(const QHeaderView* header, const QString& title) {
  QStyleOptionHeader option;
  option.initFrom(header);
  option.text = title;
  return header->style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), header).width();
}

// The logo: a record seen from above, with one click flash across its grooves.
QPixmap DrawLogo(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(QColor(0xf4, 0xf1, 0xe8));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const double r = std::min(width, height) * 0.46;
  const QPointF c(width * 0.5, height * 0.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x18, 0x18, 0x1c));
  p.drawEllipse(c, r, r);
  p.setBrush(Qt::NoBrush);
  for (double g = r * 0.42; g < r * 0.95; g += r * 0.09) {
    p.setPen(QPen(QColor(0x3a, 0x3a, 0x44), std::max(1.0, r * 0.02)));
    p.drawEllipse(c, g, g);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2f, 0x6f, 0xd0));
  p.drawEllipse(c, r * 0.32, r * 0.32);
  p.setBrush(QColor(0xf4, 0xf1, 0xe8));
  p.drawEllipse(c, r * 0.05, r * 0.05);
  // The click: a short jagged stroke, removed by a clean arc beside it.
  QPainterPath spike;
  spike.moveTo(c.x() + r * 0.45, c.y() - r * 0.55);
  spike.lineTo(c.x() + r * 0.62, c.y() - r * 0.35);
  spike.lineTo(c.x() + r * 0.52, c.y() - r * 0.30);
  spike.lineTo(c.x() + r * 0.75, c.y() - r * 0.05);
  p.setPen(
      QPen(QColor(0xe0, 0x40, 0x30), std::max(1.5, r * 0.07), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(spike);
  return pixmap;
}

}  // namespace

// The player's view of the window and its list.
class TMainFrm::TPlayerHost : public TPlaybackHost {
 public:
  explicit TPlayerHost(TMainFrm& form) : Form(form) {}
  int SelectedTopRow() const override { return Form.Grid()->SelectionTop(); }
  bool RowInputPath(int row, std::string& path) const override {
    if (row < 1 || row >= Form.Grid()->RowCount() || !Form.Grid()->HasFullPath(row)) return false;
    path = ToPath(*Form.Grid()->Objects(row).FullPath);
    return true;
  }
  std::string OutputFileNameFor(const std::string& inputPath) const override {
    return OutputFileName(inputPath, Form.CurrentOutputSettings());
  }
  void SelectRow(int row) override { Form.SelectRow(row); }
  bool Running() const override { return Form.Running; }
  void ShowRowStatistics(int row) override { Form.ShowRowStatistics(row); }
  void ShowMessage(const std::string& caption, const std::string& text) override {
    Form.ShowMessage(QMessageBox::Warning, QString::fromStdString(caption), QString::fromStdString(text),
                     QMessageBox::Ok);
  }

 private:
  TMainFrm& Form;
};

// What the batch driver reports for one file, turned into the row's cells, the progress bar and
// the two charts. Rows may move while events are processed during a block (rows removed or sorted),
// so the row is found again by its mark (OnRoad) before it is written after such a pause.
class TMainFrm::TRunObserver : public TDriverObserver {
 public:
  TRunObserver(TMainFrm& form, int row) : Form(form), Row(row) {}

  int CurrentRow() {
    Refind();
    return Row;
  }

  void Status(TFileStatus status, const std::string& message) override {
    Form.ShowStatus(CurrentRow(), status, message);
  }
  void FiguresReset() override {
    for (int column : {colClicksPerSec, colClicks, colTime}) SetCell(column, std::string());
  }
  void Clicks(int64_t total) override { SetCell(colClicks, std::to_string(total)); }
  void Estimate(double clicksPerSecond, double remainingSeconds) override {
    SetCell(colTime, FormatSeconds(remainingSeconds));
    SetCell(colClicksPerSec, FormatClicksPerSec(clicksPerSecond, Form.DecimalPoint()));
  }
  void Finished(double clicksPerSecond, double elapsedSeconds) override {
    SetCell(colClicksPerSec, FormatClicksPerSec(clicksPerSecond, Form.DecimalPoint()));
    SetCell(colTime, FormatSeconds(elapsedSeconds));
  }
  void ProgressMax(uint32_t frames) override {
    // The bar counts in int: very long files are counted in coarser units.
    Shift = 0;
    while ((frames >> Shift) > static_cast<uint32_t>(INT_MAX)) ++Shift;
    Form.UiForm->ProgressBar1->setMaximum(static_cast<int>(frames >> Shift));
  }
  void Progress(uint32_t frames) override {
    Form.UiForm->ProgressBar1->setValue(static_cast<int>(frames >> Shift));
  }
  void OutputCreated(const std::string&) override { Form.UpdatePlayModes(); }
  void DensityReset() override {
    // A click asked for during the previous file went with its blocks.
    Form.LastTick = TickCount();
    Form.ExtractAwaited = false;
    Form.ExtractRequest = false;
    TGrCntrl* chart = Form.UiForm->StatGrCntrl;
    chart->ClearCurves();
    chart->SetCurveColor(0, Qt::blue);
    chart->Invalidate();
  }
  void DensityPoint(float minutes, float clicksPerSecond) override {
    TGrCntrl* chart = Form.UiForm->StatGrCntrl;
    chart->AddPoint(0, minutes, clicksPerSecond);
    chart->FitToData();
    chart->Invalidate();
  }
  void Idle() override {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    MayHaveMoved = true;
    Form.CheckTick();
  }
  std::atomic<bool>* ExtractRequest() override { return &Form.ExtractRequest; }
  void ClickExtract(const TClickExtract& extract) override { Form.DrawClickExtract(extract); }

 private:
  void SetCell(int column, const std::string& text) {
    Form.Grid()->SetCell(column, CurrentRow(), QString::fromStdString(text));
  }
  void Refind() {
    if (!MayHaveMoved) return;
    MayHaveMoved = false;
    int found = Form.FindRunningRow();
    if (found > 0) Row = found;
  }

  TMainFrm& Form;
  int Row;
  bool MayHaveMoved = false;
  int Shift = 0;
};

TMainFrm::TMainFrm(std::string settingsPath, TMainSeams seams, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      UiForm(std::make_unique<Ui::TMainFrm>()),
      Seams(std::move(seams)),
      SettingsPath(std::move(settingsPath)) {
  UiForm->setupUi(this);
  setWindowTitle(QString("%1 Ver. %2").arg(ProgramName, ProgramVersion));
  setWindowIcon(QIcon(DrawLogo(64, 64)));

  for (QWidget* w : {static_cast<QWidget*>(UiForm->Panel1), static_cast<QWidget*>(UiForm->CBShutoff),
                     static_cast<QWidget*>(UiForm->RefineCheck),
                     static_cast<QWidget*>(UiForm->AddBtn), static_cast<QWidget*>(UiForm->DelBtn),
                     static_cast<QWidget*>(UiForm->RunBtn), static_cast<QWidget*>(UiForm->SuffixLabel),
                     static_cast<QWidget*>(UiForm->SuffixEdit), static_cast<QWidget*>(UiForm->OutDirLabel),
                     static_cast<QWidget*>(UiForm->OutDirEdit), static_cast<QWidget*>(UiForm->DirBtn),
                     static_cast<QWidget*>(UiForm->Bevel2), static_cast<QWidget*>(UiForm->Image1)})
    BottomAnchored.push_back({w, w->geometry()});
  // Below this height the list would vanish under the controls anchored to the bottom.
  setMinimumHeight(DesignedHeight - 118 + 2 * 18);

  TMyGrid* grid = UiForm->MyGrid1;
  grid->SetColCount(ColumnCount);
  grid->SetRowCount(DesignedRows);
  // The designed widths, widened where a title would be cut in either language, so that the
  // remembered widths do not depend on the language the settings were saved in.
  for (int c = 0; c < ColumnCount; ++c) {
    const TTextPair& title = ColumnTitlePair(c);
    int width = ColumnWidths[c];
    for (const char* text : {title.German, title.English})
      width = std::max(width, TitleWidth(grid->horizontalHeader(), QString::fromUtf8(text)));
    grid->SetColWidth(c, width);
  }
  grid->setAcceptDrops(true);
  grid->viewport()->setAcceptDrops(true);
  grid->viewport()->installEventFilter(this);
  PopupMenu1 = new QMenu(this);
  PopupMenu1->addAction(UiForm->SortGrid);

  QFont chartFont("Arial");
  chartFont.setPixelSize(12);
  TGrCntrl* stat = UiForm->StatGrCntrl;
  stat->SetBackColor(QColor(0xc0, 0xc0, 0xc0));
  stat->SetGridX(true);
  stat->SetGridY(true);
  stat->SetFont(chartFont);
  stat->SetFontColor(QColor(0, 0, 0x80));
  stat->SetXRange(0, 10);
  stat->SetYRange(0, 10);
  TGrCntrl* zoom = UiForm->ZoomGrCntrl;
  zoom->SetBackColor(Qt::white);
  zoom->SetGridX(false);
  zoom->SetGridY(false);
  zoom->SetFont(chartFont);
  zoom->SetFontColor(QColor(0, 0, 0x80));

  UiForm->Image1->setPixmap(DrawLogo(146, 82));
  UiForm->Image1->installEventFilter(this);
  UiForm->Label1->installEventFilter(this);
  UiForm->MailLbl->installEventFilter(this);
  UiForm->RichEdit1->setBackgroundRole(QPalette::Button);
  UiForm->RichEdit1->raise();
  UiForm->RichEdit1->hide();

  UiForm->Player1->SetVisibleButtons({btPlay, btPauseDown, btStop, btAutoNext});
  UiForm->Player1->setGeometry(246, 5, 113, 24);
  // The player panel is silver; through the palette, so that disabled texts keep their contrast.
  QPalette silver = UiForm->Panel1->palette();
  silver.setColor(QPalette::Window, QColor(0xc0, 0xc0, 0xc0));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    silver.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
  UiForm->Panel1->setPalette(silver);
  UiForm->Panel1->setAutoFillBackground(true);
  PlayerHost = std::make_unique<TPlayerHost>(*this);
  Player = std::make_unique<TPlaybackController>(*PlayerHost, std::move(Seams.WaveOutDevice));
  TPlayerPanel panel;
  panel.CBWavDev = UiForm->CBWavDev;
  panel.TrackBar1 = UiForm->TrackBar1;
  panel.Player1 = UiForm->Player1;
  panel.TrackBar2 = UiForm->TrackBar2;
  panel.PlayPos = UiForm->PlayPos;
  panel.RBvorher = UiForm->RBvorher;
  panel.RBnachher = UiForm->RBnachher;
  panel.RBDiff100 = UiForm->RBDiff100;
  panel.RBDiff95 = UiForm->RBDiff95;
  Player->Attach(panel);

  ConnectHandlers();
  FormCreate();

  // The designed client size is applied again once everything is loaded (the height from the
  // settings file), then the window is centred on the screen.
  resize(DesignedWidth, height());
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

TMainFrm::~TMainFrm() {
  // The player stops a playback and must go before the widgets it drives.
  Player.reset();
}

TMyGrid* TMainFrm::Grid() const {
  return UiForm->MyGrid1;
}

void TMainFrm::ConnectHandlers() {
  connect(UiForm->AddBtn, &QPushButton::clicked, this, &TMainFrm::AddBtnClick);
  connect(UiForm->DelBtn, &QPushButton::clicked, this, &TMainFrm::DelBtnClick);
  connect(UiForm->RunBtn, &QPushButton::clicked, this, &TMainFrm::RunBtnClick);
  connect(UiForm->DirBtn, &QPushButton::clicked, this, &TMainFrm::DirBtnClick);
  connect(UiForm->SortGrid, &QAction::triggered, this, &TMainFrm::SortGridClick);
  connect(UiForm->MyGrid1, &QTableWidget::cellClicked, this, [this](int, int) { MyGrid1Click(); });
  connect(UiForm->MyGrid1, &QTableWidget::currentCellChanged, this,
          [this](int, int, int, int) { MyGrid1Click(); });
  connect(UiForm->MyGrid1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu1->popup(UiForm->MyGrid1->viewport()->mapToGlobal(pos)); });
  // The keys go through the buttons, so they do nothing whenever the buttons are disabled. An edit
  // with the focus keeps its own Delete key.
  connect(new QShortcut(QKeySequence::Delete, this), &QShortcut::activated, UiForm->DelBtn,
          &QPushButton::click);
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this), &QShortcut::activated, UiForm->AddBtn,
          &QPushButton::click);
}

void TMainFrm::SetCaptions() {
  UiForm->AddBtn->setText(TwoLineCaption(MainText(txAddBtn)));
  UiForm->DelBtn->setText(TwoLineCaption(MainText(txDelBtn)));
  UiForm->RunBtn->setText(TwoLineCaption(MainText(txRunBtnIdle)));
  UiForm->SuffixLabel->setText(MainText(txSuffixLabel));
  UiForm->OutDirLabel->setText(MainText(txOutDirLabel));
  UiForm->RBvorher->setText(MainText(txRBvorher));
  UiForm->RBnachher->setText(MainText(txRBnachher));
  UiForm->RBDiff100->setText(MainText(txRBDiff100));
  UiForm->RBDiff95->setText(MainText(txRBDiff95));
  UiForm->SortGrid->setText(MainText(txSortGrid));
  UiForm->CBShutoff->setText(MainText(txCBShutoff));
  // The controls without a caption of their own.
  UiForm->TrackBar2->setToolTip(WindowText(wtTipPosition));
  UiForm->CBWavDev->setToolTip(WindowText(wtTipDevice));
  UiForm->Image1->setToolTip(WindowText(wtTipHelp));
  UiForm->RBDiff100->setToolTip(WindowText(wtTipDiff100));
  UiForm->RBDiff95->setToolTip(WindowText(wtTipDiff95));
  UiForm->RefineCheck->setText(WindowText(wtRefine));
}

void TMainFrm::FormCreate() {
  UiForm->RichEdit1->setHtml(BuildHelpText());
  SetCaptions();
  UiForm->StatGrCntrl->SetTitle(MainText(txStatTitle));
  UiForm->StatGrCntrl->SetXAxisTitle(MainText(txStatXTitle));
  UiForm->StatGrCntrl->SetYAxisTitle(MainText(txStatYTitle));
  UiForm->ZoomGrCntrl->SetTitle(MainText(txZoomTitle));
  OpenDialogFilter = DialogFilter(MainText(txOpenFilter));
  QStringList titles;
  for (int c = 0; c < ColumnCount; ++c) titles << QString::fromStdString(ColumnTitle(c));
  Grid()->SetTitleCaptions(titles);
  // No shutdown ever takes place: the box is shown for its text but can never be ticked.
  UiForm->CBShutoff->setChecked(false);
  UiForm->CBShutoff->setEnabled(false);
  LoadSettings();
  Player->FillDeviceList(UiForm->CBWavDev);
  Player->ReadDeviceVolume();
  // Inner margins of the help view.
  UiForm->RichEdit1->document()->setDocumentMargin(10);
  Grid()->SelectRow(1);
}

QString TMainFrm::BuildHelpText() {
  enum TKind { Heading, Plain, Empty, Bullet, EndBullets };
  struct TLine {
    TKind Kind;
    int Key;
  };
  std::vector<TLine> lines = {{Heading, 41}, {Empty, 0}};
  for (int k = 42; k <= 49; ++k) lines.push_back({Plain, k});
  lines.insert(lines.end(), {{Empty, 0}, {Heading, 50}, {Empty, 0}, {Plain, 51}, {Plain, 52}});
  for (int k = 53; k <= 57; ++k) lines.push_back({Bullet, k});
  lines.insert(lines.end(), {{EndBullets, 0}, {Heading, 58}, {Empty, 0}});
  for (int k = 59; k <= 63; ++k) lines.push_back({Bullet, k});
  lines.insert(lines.end(), {{EndBullets, 0},
                             {Heading, 64},
                             {Empty, 0},
                             {Bullet, 65},
                             {Bullet, 67},
                             {Bullet, 66},
                             {EndBullets, 0}});

  // Leading blanks of a heading are part of its look; rich text would fold them away.
  auto escaped = [](int key) {
    QString text = MainText(key).toHtmlEscaped();
    int blanks = 0;
    while (blanks < text.size() && text[blanks] == ' ') ++blanks;
    return QString("&nbsp;").repeated(blanks) + text.mid(blanks);
  };
  QString html = "<html><body style=\"font-family:Arial; font-size:9pt;\">";
  bool inList = false;
  for (const TLine& line : lines) {
    if (line.Kind != Bullet && inList) {
      html += "</ul>";
      inList = false;
    }
    switch (line.Kind) {
      case Heading:
        html += "<p style=\"margin:0;\"><b>" + escaped(line.Key) + "</b></p>";
        break;
      case Plain:
        html += "<p style=\"margin:0;\">" + escaped(line.Key) + "</p>";
        break;
      case Empty:
        html += "<p style=\"margin:0;\">&nbsp;</p>";
        break;
      case Bullet:
        if (!inList) {
          html += "<ul style=\"margin-top:0; margin-bottom:0; margin-left:0; -qt-list-indent:1;\">";
          inList = true;
        }
        html += "<li>" + escaped(line.Key) + "</li>";
        break;
      case EndBullets:
        break;
    }
  }
  if (inList) html += "</ul>";
  html += "</body></html>";
  return html;
}

QMessageBox::StandardButton TMainFrm::ShowMessage(QMessageBox::Icon icon, const QString& caption,
                                                  const QString& text, QMessageBox::StandardButtons buttons) {
  if (Seams.MessageBox) return Seams.MessageBox(this, icon, caption, text, buttons);
  QMessageBox box(icon, caption, text, buttons, this);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void TMainFrm::Label1Click() {
  QString address = UiForm->Label1->text();
  if (Seams.OpenUrl)
    Seams.OpenUrl(address);
  else
    QDesktopServices::openUrl(QUrl(address));  // a failure is not reported
}

void TMainFrm::MailLblClick() {
  QString address = UiForm->MailLbl->text();
  if (Seams.OpenUrl)
    Seams.OpenUrl(address);
  else
    QDesktopServices::openUrl(QUrl(address));
}

void TMainFrm::Image1Click() {
  UiForm->RichEdit1->setVisible(UiForm->RichEdit1->isHidden());
}

bool TMainFrm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == UiForm->Image1) {
      Image1Click();
      return true;
    }
    if (watched == UiForm->Label1) {
      Label1Click();
      return true;
    }
    if (watched == UiForm->MailLbl) {
      MailLblClick();
      return true;
    }
  }
  if (watched == Grid()->viewport()) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
      auto* drag = static_cast<QDropEvent*>(event);
      if (drag->mimeData()->hasUrls()) {
        drag->acceptProposedAction();
        return true;
      }
    } else if (event->type() == QEvent::Drop) {
      auto* drop = static_cast<QDropEvent*>(event);
      QStringList paths;
      for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
      drop->acceptProposedAction();
      // Added after the drop has finished, so that a message box about a file does not run
      // inside the drag-and-drop machinery.
      QMetaObject::invokeMethod(
          this, [this, paths] { AddFiles(paths); }, Qt::QueuedConnection);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

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

void TMainFrm::RememberFolder(const QString& folder) {
  if (!folder.isEmpty()) LastFolder = folder;
}

void TMainFrm::AddFileArguments(const QStringList& arguments) {
  QStringList paths;
  for (const QString& argument : arguments) {
    const QUrl url(argument);
    paths << (url.isLocalFile() ? url.toLocalFile() : argument);
  }
  AddFiles(paths);
}

void TMainFrm::AddFiles(const QStringList& paths) {
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
    a.Opened = OpenWav(ToPath(path), rec);
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
    if (a.Opened) {
      grid->SetCell(0, row, a.Name);
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
    if (grid->Objects(row).OnRoad) {
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

TOutputSettings TMainFrm::CurrentOutputSettings() const {
  TOutputSettings settings;
  settings.Suffix = UiForm->SuffixEdit->text().toStdString();
  settings.OutDir = ToPath(UiForm->OutDirEdit->text());
  return settings;
}

char TMainFrm::DecimalPoint() const {
  QString point = QLocale().decimalPoint();
  return point.size() == 1 && point[0].unicode() < 128 ? static_cast<char>(point[0].unicode()) : '.';
}

int TMainFrm::FindRunningRow() const {
  for (int r = 1; r < Grid()->RowCount(); ++r)
    if (Grid()->Objects(r).OnRoad) return r;
  return 0;
}

void TMainFrm::ShowStatus(int row, TFileStatus status, const std::string& message) {
  Grid()->SetCell(colStatus, row, QString::fromStdString(StatusText(status, message)));
  Grid()->Objects(row).Status = status;
}

bool TMainFrm::AskCancel() {
  if (ShowMessage(QMessageBox::Question, MainText(txCancelCaption), MainText(txCancelQuestion),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) != QMessageBox::Yes)
    return false;
  CancelRequested = true;
  return true;
}

void TMainFrm::EnterRunningState() {
  Running = true;
  UiForm->SuffixEdit->setEnabled(false);
  UiForm->OutDirEdit->setEnabled(false);
  UiForm->DirBtn->setEnabled(false);
  UiForm->RefineCheck->setEnabled(false);
  UiForm->RunBtn->setText(TwoLineCaption(MainText(txRunBtnRunning)));
}

void TMainFrm::LeaveRunningState() {
  UiForm->SuffixEdit->setEnabled(true);
  UiForm->OutDirEdit->setEnabled(true);
  UiForm->DirBtn->setEnabled(true);
  UiForm->RefineCheck->setEnabled(true);
  Grid()->setEnabled(true);
  UiForm->RunBtn->setText(TwoLineCaption(MainText(txRunBtnIdle)));
  Running = false;
}

void TMainFrm::SelectRow(int row) {
  Grid()->SelectRow(row);
}

void TMainFrm::RunBtnClick() {
  if (Running) {
    AskCancel();
    return;
  }
  const TOutputSettings settings = CurrentOutputSettings();
  if (!OutputSettingsUsable(settings)) {
    ShowMessage(QMessageBox::Warning, MainText(txErrorCaption), MainText(txMissingOutput), QMessageBox::Ok);
    return;
  }
  // A folder that is named but not there would send every output beside its input without a word.
  const QString outDir = UiForm->OutDirEdit->text();
  if (!outDir.isEmpty() && !DirectoryExists(settings.OutDir)) {
    ShowMessage(QMessageBox::Warning, MainText(txErrorCaption), WindowText(wtOutDirMissing).arg(outDir),
                QMessageBox::Ok);
    return;
  }
  CancelRequested = false;
  EnterRunningState();
  TMyGrid* grid = Grid();
  std::vector<std::string> reached;  // the inputs this run has come to, in order
  PlanRows(1, reached, settings);
  // Every entry is processed, whatever stands between them.
  for (int row = 1; row < grid->RowCount(); ++row) {
    if (!grid->HasFullPath(row)) continue;
    const std::string path = ToPath(*grid->Objects(row).FullPath);
    // Rows added while the run goes were not planned at its start.
    if (!grid->Objects(row).OutputTaken) PlanRows(row, reached, settings);
    const bool taken = grid->Objects(row).OutputTaken.value_or(false);
    grid->Objects(row).OutputTaken.reset();
    reached.push_back(path);
    if (taken) {
      ShowStatus(row, TFileStatus::OutputTaken);
      for (int c = colClicks; c <= colTime; ++c) grid->SetCell(c, row, QString());
      FreeRowStatistics(row);
      continue;
    }
    const int visible = grid->VisibleRowCount();
    if (row >= grid->TopRow() + visible) grid->SetTopRow(row - visible + 1);
    SelectRow(row);
    grid->Objects(row).OnRoad = true;
    TRunObserver observer(*this, row);
    const TFileResult result =
        ProcessFileParallel(path, settings, observer, CancelRequested, UsableProcessors(),
                            TEngineOptions{UiForm->RefineCheck->isChecked()});
    row = observer.CurrentRow();
    grid->Objects(row).OnRoad = false;
    if (result.Outcome == TFileOutcome::Cancelled || result.Outcome == TFileOutcome::RunFailed) {
      UiForm->ProgressBar1->setValue(UiForm->ProgressBar1->maximum());
      LeaveRunningState();
      // The output was deleted: the player must no longer offer it.
      UpdatePlayModes();
      if (result.Outcome == TFileOutcome::Cancelled && CloseAfterCancel) {
        CloseAfterCancel = false;
        close();
      }
      return;
    }
    if (result.Outcome == TFileOutcome::Done) StoreRowStatistics(row);
  }
  LeaveRunningState();
  UpdatePlayModes();
}

// Decides, before anything is written, which of the entries from `fromRow` down may write their
// outputs: the inputs already reached by the run come first and keep what they claimed.
void TMainFrm::PlanRows(int fromRow, const std::vector<std::string>& reached,
                        const TOutputSettings& settings) {
  TMyGrid* grid = Grid();
  std::vector<std::string> inputs = reached;
  std::vector<int> rows;
  for (int r = fromRow; r < grid->RowCount(); ++r) {
    if (!grid->HasFullPath(r)) continue;
    inputs.push_back(ToPath(*grid->Objects(r).FullPath));
    rows.push_back(r);
  }
  const std::vector<TOutputPlanEntry> plan = PlanOutputs(inputs, settings);
  for (size_t i = 0; i < rows.size(); ++i)
    grid->Objects(rows[i]).OutputTaken = plan[reached.size() + i].Taken;
}

// At most one click is asked for at a time, and only half a second after the last one was asked for
// or drawn: the workers keep a click only on request, and the chart is redrawn at most twice a second.
void TMainFrm::CheckTick() {
  const uint64_t now = TickCount();
  if (ExtractAwaited || now <= LastTick + 500) return;
  LastTick = now;
  ExtractAwaited = true;
  ExtractRequest = true;
}

void TMainFrm::DrawClickExtract(const TClickExtract& extract) {
  PlotClickRegion(extract);
  TGrCntrl* chart = UiForm->ZoomGrCntrl;
  for (size_t i = 0; i < extract.Repaired.size(); ++i)
    chart->AddPoint(2, static_cast<float>(extract.RepairOffset + static_cast<int32_t>(i)),
                    extract.Repaired[i]);
  chart->Invalidate();
  ExtractAwaited = false;
  LastTick = TickCount();
}

void TMainFrm::PlotClickRegion(const TClickExtract& extract) {
  TGrCntrl* chart = UiForm->ZoomGrCntrl;
  chart->ClearCurves();
  chart->SetCurveColor(1, Qt::blue);
  chart->SetCurveColor(2, Qt::red);
  chart->SetCurveColor(0, QColor(0xc0, 0xc0, 0xc0));
  const std::vector<float>& samples = extract.Before;
  const std::vector<float>& trace = extract.Trace;
  if (samples.empty() || trace.size() != samples.size()) return;
  float m1 = samples[0], big1 = samples[0];
  for (size_t i = 0; i < samples.size(); ++i) {
    chart->AddPoint(1, static_cast<float>(i), samples[i]);
    m1 = std::min(m1, samples[i]);
    big1 = std::max(big1, samples[i]);
  }
  const auto [lowest, highest] = std::minmax_element(trace.begin(), trace.end());
  const float m2 = *lowest, big2 = *highest;
  // A flat trace has no shape to scale: it is drawn along the samples' minimum.
  const double scale = big2 > m2 ? (static_cast<double>(big1) - m1) / (static_cast<double>(big2) - m2) : 0.0;
  for (size_t i = 0; i < trace.size(); ++i)
    chart->AddPoint(0, static_cast<float>(i), static_cast<float>((trace[i] - m2) * scale + m1));
  chart->FitToData();
}

void TMainFrm::StoreRowStatistics(int row) {
  TMyGrid* grid = Grid();
  if (row < 1 || row >= grid->RowCount()) return;
  const TGrCntrl* chart = UiForm->StatGrCntrl;
  const int n = chart->CurvePointCount(0);
  TRowObjects& objects = grid->Objects(row);
  const float* x = chart->CurveXValues(0);
  const float* y = chart->CurveYValues(0);
  objects.StatX = n > 0 ? std::vector<float>(x, x + n) : std::vector<float>();
  objects.StatY = n > 0 ? std::vector<float>(y, y + n) : std::vector<float>();
  objects.StatCount = n;
}

void TMainFrm::ShowRowStatistics(int row) {
  TGrCntrl* chart = UiForm->StatGrCntrl;
  chart->ClearCurves();
  chart->SetCurveColor(0, Qt::blue);
  const TRowObjects& objects = Grid()->Objects(row);
  if (objects.StatX && objects.StatY) {
    const size_t n = std::min(objects.StatX->size(), objects.StatY->size());
    for (size_t i = 0; i < n; ++i) chart->AddPoint(0, (*objects.StatX)[i], (*objects.StatY)[i]);
    chart->FitToData();
  }
  chart->Invalidate();
}

void TMainFrm::FreeRowStatistics(int row) {
  if (row < 1 || row >= Grid()->RowCount()) return;
  TRowObjects& objects = Grid()->Objects(row);
  objects.StatCount.reset();
  objects.StatX.reset();
  objects.StatY.reset();
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

bool TMainFrm::FormCloseQuery() {
  bool canClose = true;
  if (Running) {
    // The driver closes the window itself once the cancelled file has been wound up.
    CloseAfterCancel = AskCancel();
    canClose = false;
  }
  // Saved on every attempt; a failure is shown but does not keep the window open, since a window
  // that cannot be closed is worse than settings that were not kept.
  SaveSettings();
  return canClose;
}

void TMainFrm::closeEvent(QCloseEvent* event) {
  if (FormCloseQuery())
    event->accept();
  else
    event->ignore();
}

void TMainFrm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutForHeight(height());
}

void TMainFrm::LayoutForHeight(int height) {
  const int dy = height - DesignedHeight;
  for (const TAnchored& a : BottomAnchored) a.Widget->move(a.Designed.x(), a.Designed.y() + dy);
  UiForm->MyGrid1->setGeometry(8, 244, 593, std::max(118 + dy, 36));
  UiForm->RichEdit1->setGeometry(0, 17, DesignedWidth, std::max(347 + dy, 100));
}

}  // namespace klarwell
