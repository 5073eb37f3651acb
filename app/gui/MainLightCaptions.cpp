// The window's texts in the chosen language: the captions of its controls and the help view.

#include <QAction>
#include <cstdlib>
#include <vector>

#include "app/gui/MainLight.h"
#include "app/gui/MainLightDetail.h"
#include "app/gui/MainTexts.h"
#include "playback/MyTrackBar.h"
#include "playback/Player.h"
#include "ui_MainLight.h"

namespace klarwell {

namespace window_detail {

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

}  // namespace window_detail

using window_detail::TwoLineCaption;

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
  UiForm->RefineCheck->setToolTip(WindowText(wtTipRefine));
  OpenOutputFolderAction->setText(WindowText(wtOpenOutputFolder));
  UiForm->Label1->setText(WindowText(wtReadmeLink));
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

}  // namespace klarwell
