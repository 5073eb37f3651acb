// The main window: its assembly from the form, the handlers of the links and the help picture,
// closing and the layout for the window's height. The file list, the run, the charts, the settings
// and the captions follow in MainLightFileList.cpp, MainLightRun.cpp, MainLightCharts.cpp,
// MainLightSettings.cpp and MainLightCaptions.cpp.

#include "app/gui/MainLight.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>

#include "app/BatchDriver.h"
#include "app/RunTexts.h"
#include "app/Version.h"
#include "app/gui/Logo.h"
#include "app/gui/MainLightDetail.h"
#include "app/gui/MainTexts.h"
#include "app/gui/MyGrid.h"
#include "app/gui/RoadWorker.h"
#include "chart/Graphic.h"
#include "playback/MyTrackBar.h"
#include "playback/PlaybackController.h"
#include "playback/Player.h"
#include "ui_MainLight.h"

namespace klarwell {

using window_detail::DesignedRows;
using window_detail::DialogFilter;
using window_detail::ToPath;

namespace {

constexpr int DesignedWidth = 610;
constexpr int DesignedHeight = 517;
constexpr int ColumnWidths[7] = {115, 135, 88, 70, 54, 58, 63};

// The width a column title needs in the list's header: the text in the header's font and what the
// style draws around it.
int TitleWidth(const QHeaderView* header, const QString& title) {
  QStyleOptionHeader option;
  option.initFrom(header);
  option.text = title;
  return header->style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), header).width();
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

TMainFrm::TMainFrm(std::string settingsPath, TMainSeams seams, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      UiForm(std::make_unique<Ui::TMainFrm>()),
      Seams(std::move(seams)),
      SettingsPath(std::move(settingsPath)) {
  UiForm->setupUi(this);
  setWindowTitle(QString("%1 Ver. %2").arg(ProgramName, ProgramVersion));
  setWindowIcon(QIcon(DrawLogo(64, 64)));

  SetUpAnchors();
  SetUpList();
  SetUpCharts();
  UiForm->Image1->setPixmap(DrawLogo(146, 82));
  UiForm->Image1->installEventFilter(this);
  SetUpLinks();
  UiForm->RichEdit1->setBackgroundRole(QPalette::Button);
  UiForm->RichEdit1->raise();
  UiForm->RichEdit1->hide();
  SetUpPlayer();
  SetUpRun();

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

void TMainFrm::SetUpAnchors() {
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
}

void TMainFrm::SetUpList() {
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
  OpenOutputFolderAction = PopupMenu1->addAction(QString());
}

void TMainFrm::SetUpCharts() {
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
}

void TMainFrm::SetUpPlayer() {
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
}

void TMainFrm::SetUpLinks() {
  // The one page that exists for sure is the README installed with the program; the mail link has
  // no address to go to and stays hidden.
  if (Seams.ReadmePath.isEmpty()) {
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + "/../share/doc/klarwell/README.md", dir + "/README.md"})
      if (QFileInfo(candidate).isFile()) {
        Seams.ReadmePath = QFileInfo(candidate).canonicalFilePath();
        break;
      }
  }
  UiForm->Label1->setVisible(QFileInfo(Seams.ReadmePath).isFile());
  UiForm->Label1->installEventFilter(this);
  UiForm->MailLbl->hide();
}

TMainFrm::~TMainFrm() {
  // A road still going is cancelled and waited for: its driver removes the unfinished output, and
  // nothing it reports can reach a window that is gone.
  CancelRequested = true;
  Road.reset();
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
  connect(UiForm->MyGrid1, &QWidget::customContextMenuRequested, this, &TMainFrm::ShowContextMenu);
  connect(OpenOutputFolderAction, &QAction::triggered, this, &TMainFrm::OpenOutputFolderClick);
  // The keys go through the buttons, so they do nothing whenever the buttons are disabled. An edit
  // with the focus keeps its own Delete key.
  connect(new QShortcut(QKeySequence::Delete, this), &QShortcut::activated, UiForm->DelBtn,
          &QPushButton::click);
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this), &QShortcut::activated, UiForm->AddBtn,
          &QPushButton::click);
}

void TMainFrm::FormCreate() {
  UiForm->RichEdit1->setHtml(BuildHelpText());
  SetCaptions();
  UiForm->StatGrCntrl->SetTitle(MainText(txStatTitle));
  UiForm->StatGrCntrl->SetXAxisTitle(MainText(txStatXTitle));
  UiForm->StatGrCntrl->SetYAxisTitle(MainText(txStatYTitle));
  UiForm->ZoomGrCntrl->SetTitle(MainText(txZoomTitle));
  // Every container first, then WAV alone as before.
  OpenDialogFilter = DialogFilter(WindowText(wtOpenFilterAudio) + "|" + MainText(txOpenFilter));
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

QMessageBox::StandardButton TMainFrm::ShowMessage(QMessageBox::Icon icon, const QString& caption,
                                                  const QString& text, QMessageBox::StandardButtons buttons) {
  if (Seams.MessageBox) return Seams.MessageBox(this, icon, caption, text, buttons);
  QMessageBox box(icon, caption, text, buttons, this);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void TMainFrm::OpenAddress(const QString& address) {
  if (Seams.OpenUrl)
    Seams.OpenUrl(address);
  else
    QDesktopServices::openUrl(QUrl(address));  // a failure is not reported
}

void TMainFrm::Label1Click() {
  if (QFileInfo(Seams.ReadmePath).isFile()) OpenAddress(QUrl::fromLocalFile(Seams.ReadmePath).toString());
}

void TMainFrm::MailLblClick() {
  // Hidden: there is no mail address to hand over.
}

void TMainFrm::ShowContextMenu(const QPoint& pos) {
  TMyGrid* grid = Grid();
  const int tableRow = grid->rowAt(pos.y());
  ContextRow = tableRow < 0 ? 0 : tableRow + 1;
  OpenOutputFolderAction->setEnabled(ContextRow > 0 && grid->HasFullPath(ContextRow));
  PopupMenu1->popup(grid->viewport()->mapToGlobal(pos));
}

void TMainFrm::OpenOutputFolderClick() {
  TMyGrid* grid = Grid();
  if (ContextRow < 1 || ContextRow >= grid->RowCount() || !grid->HasFullPath(ContextRow)) return;
  const std::string output = OutputFileName(ToPath(*grid->Objects(ContextRow).FullPath), CurrentOutputSettings());
  OpenAddress(QUrl::fromLocalFile(QFileInfo(QString::fromStdString(output)).absolutePath()).toString());
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

bool TMainFrm::FormCloseQuery() {
  bool canClose = true;
  if (Running) {
    // The batch closes the window itself once the cancelled file has been wound up; but the run may
    // have ended while the question was open, and then nothing would close it.
    const bool yes = AskCancel();
    CloseAfterCancel = yes && Running;
    canClose = yes && !Running;
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
