#include "app/gui/MainTexts.h"

#include <iterator>

#include "app/RunTexts.h"

namespace klarwell {

namespace {

// The list's statuses in key order, txStatusWaiting .. txStatusDone.
const TFileStatus kListStatuses[] = {TFileStatus::Waiting,    TFileStatus::Open,    TFileStatus::CreateFile,
                                     TFileStatus::Initialize, TFileStatus::Running, TFileStatus::Cancelled,
                                     TFileStatus::Done};
static_assert(std::size(kListStatuses) == txStatusDone - txStatusWaiting + 1);

// The keys whose texts the command line shows too stand empty here: MainTextPair takes them from the
// run table, which both hosts share.

const TTextPair MainTexts[txMainTextCount] = {
    {"Fehler beim Öffnen der Datei", "Error opening file"},
    {"Fehler beim Öffnen", "Error on opening"},
    {"Abbruch", "Cancel"},
    {"Wollen Sie wirklich abbrechen ?", "Do you really want to cancel ?"},
    {"Bearbeiten abbrechen", "Cancel processing"},
    {"Dateien bearbeiten", "Process Files"},
    {"Dateien hinzufügen", "Add Files"},
    {"Dateien entfernen", "Remove Files"},
    {"Dateisuffix", "File suffix"},
    {"Ausgabeverzeichnis", "Output directory"},
    {"Klick-Verteilung", "Click-Density"},
    {"Dateiposition (Minuten)", "Fileposition (minutes)"},
    {"Klicks pro Sekunde", "Clicks per second"},
    {"Bearbeitete Klicks (Ausschnitt)", "Processed Clicks (Extract)"},
    {"Wave-Dateien (*.wav)|*.wav", "Wave-Files (*.wav)|*.wav"},
    {"Original", "Original"},
    {"Bearbeitet", "Processed"},
    {"Differenz 100%", "Difference 100%"},
    {"Differenz 95%", "Difference 95%"},
    {"Wiedergabe von:", "Playing file:"},
    {"Sortieren...", "Sorting..."},
    {"Computer nach dem Bearbeiten herunterfahren", "Shut down computer after processing files"},
    {"Fehler", "Error"},
    {},  // txMissingOutput
    {},  // txStatusWaiting
    {},  // txStatusOpen
    {},  // txStatusCreate
    {},  // txStatusInitialize
    {},  // txStatusRunning
    {},  // txStatusCancelled
    {},  // txStatusDone
    {"Kann Wav-Device nicht initialisieren", "Cannot initialize Wav-Device"},
    {"Die Dateien haben unterschiedliche Formate/Größen.", "Files are of different format/size."},
    {"Fehler bei Wav-Ausgabe", "Error on Wav-Output"},
    {},  // txColFile
    {},  // txColStatus
    {},  // txColFormat
    {},  // txColLength
    {},  // txColClicks
    {},  // txColDensity
    {},  // txColTime
    // 41: what the program is for.
    {"  Was ist das für ein Programm ?", "  What's this progam for ?"},
    {"Klarwell entfernt Knackser (Klicks) aus Aufnahmen von Schallplatten,",
     "Klarwell removes clicks from recordings of gramophone records"},
    {"die als WAV-Dateien vorliegen.", "that have been stored as WAV files."},
    {"Fügen Sie die Dateien der Liste hinzu, geben Sie ein Dateisuffix und/oder",
     "Add the files to the list, give a file suffix and/or an output"},
    {"ein Ausgabeverzeichnis an und drücken Sie \"Dateien bearbeiten\": von jeder",
     "directory and press \"Process Files\": a repaired copy of every"},
    {"Datei wird eine bearbeitete Kopie geschrieben.", "file is written."},
    {"Anders als andere Werkzeuge für diese Aufgabe braucht das Programm keine",
     "Unlike other tools for this job, the program needs no parameters:"},
    {"Parameter: es findet die Klicks selbst und ersetzt nur die gestörten",
     "it finds the clicks on its own and replaces only the damaged"},
    {"Abtastwerte durch eine Vorhersage aus der umgebenden Musik.",
     "samples by a prediction from the music around them."},
    // 50: advantages.
    {"  Was sind die Vorteile dieses Programms ?", "  What are the advantages of this program ?"},
    {"Verglichen mit anderen Verfahren zum Entfernen von Klicks hat das",
     "Compared with other ways of removing clicks, the program"},
    {"Programm diese Vorteile:", "has these advantages:"},
    {"Es gibt keine Parameter, die eingestellt werden müssen.", "There are no parameters to adjust."},
    {"Die Erkennung ist unabhängig vom Pegel des Signals.",
     "Detection does not depend on the signal's level."},
    {"Die Erkennung ist nahezu unabhängig von der Breite eines Klicks.",
     "Detection is almost independent of the width of a click."},
    {"Es wird nur der Teil der Daten verändert, der zu einem Klick gehört.",
     "Only the part of the data that belongs to a click is changed."},
    {"Ein weiterer Durchlauf findet kaum neue Klicks und richtet daher keinen weiteren Schaden an.",
     "A further run rarely finds new clicks and so does no further harm."},
    // 58: disadvantages.
    {"  Was ist nicht so gut an diesem Programm ?", "  What are the disadvantages of this program ?"},
    {"Nicht jeder Klick wird gefunden.", "Not every click is found."},
    {"Gelegentlich wird Material verändert, wo kein Klick ist.",
     "Occasionally material is changed where there is no click."},
    {"Wird ein Klick entfernt, der in einer tieffrequenten Störung liegt, kann ein hörbarer Schlag bleiben.",
     "Removing a click that sits in a low-frequency disturbance can leave an audible thump."},
    {"Starke Kratzer werden oft nicht entfernt.", "Strong scratches are often not removed."},
    {"Der Algorithmus ist ziemlich langsam.", "The algorithm is fairly slow."},
    // 64: notes, shown in the order 65, 67, 66.
    {"  Was ist sonst noch zu beachten ?", "  What else is to be taken into account ?"},
    {"Die Eingabedateien müssen unkomprimierte PCM-WAV-Dateien sein.",
     "Input files must be uncompressed PCM WAV files."},
    {"Das Programm soll sich selbst erklären.", "The program is meant to be self-explanatory."},
    {"Abtastraten bis 96 kHz und Auflösungen bis 32 Bit werden unterstützt.",
     "Sample rates up to 96 kHz and sample depths up to 32 bit are supported."},
};

const TTextPair WindowTexts[wtWindowTextCount] = {
    {"Das Ausgabeverzeichnis \"%1\" existiert nicht.", "The output directory \"%1\" does not exist."},
    {"Wiedergabeposition: ziehen, um an eine andere Stelle der Datei zu springen",
     "Playback position: drag to jump to another place in the file"},
    {"Ausgabegerät für die Wiedergabe", "Output device for playback"},
    {"Hilfe zeigen oder verbergen", "Show or hide the help"},
    {"Nur das Entfernte hören: Original minus Bearbeitet",
     "Hear only what was removed: original minus processed"},
    {"Das Entfernte hören, dazu leise (5 %) die bearbeitete Aufnahme zur Orientierung",
     "Hear what was removed, with the processed recording faintly (5 %) for orientation"},
    {"Verfeinerte Reparatur", "Refined repair"},
    {"Ersetzt nur die Samples, die der Knackser beschädigt hat, und füllt sie aus einem Modell der\n"
     "Umgebung. Findet etwa dieselben Knackser, repariert sie genauer, ändert weniger Samples.",
     "Replaces only the samples the click damaged and fills them from a model of the surrounding\n"
     "music. Finds about the same clicks, repairs them more closely, changes fewer samples."},
    {"Keine Audiodateien im Ordner \"%1\".", "No audio files in folder \"%1\"."},
    {"Datei %1 von %2 – noch %3 für alle", "file %1 of %2 – %3 left for all"},
    {"Datei %1 von %2", "file %1 of %2"},
    {"%1 fertig, %2 fehlgeschlagen, %3 nicht begonnen – %4 Klicks – Dauer %5",
     "%1 done, %2 failed, %3 not started – %4 clicks – took %5"},
    {"Ausgabeordner öffnen", "Open output folder"},
    {"Anleitung (README)", "Manual (README)"},
    {"Audiodateien (*.wav *.flac *.aif *.aiff)|*.wav;*.flac;*.aif;*.aiff;*.WAV;*.FLAC;*.AIF;*.AIFF",
     "Audio files (*.wav *.flac *.aif *.aiff)|*.wav;*.flac;*.aif;*.aiff;*.WAV;*.FLAC;*.AIF;*.AIFF"},
};

}  // namespace

const TTextPair& WindowTextPair(int key) {
  if (key < 0 || key >= wtWindowTextCount) key = wtOutDirMissing;
  return WindowTexts[key];
}

QString WindowText(int key) {
  return QString::fromUtf8(Text(WindowTextPair(key)));
}

const TTextPair& MainTextPair(int key) {
  if (key < 0 || key >= txMainTextCount) key = txErrorCaption;
  if (key == txMissingOutput) return MissingOutputPair();
  if (key >= txStatusWaiting && key <= txStatusDone)
    return StatusTextPair(kListStatuses[key - txStatusWaiting]);
  if (key >= txColFile && key <= txColTime) return ColumnTitlePair(key - txColFile);
  return MainTexts[key];
}

QString MainText(int key) {
  return QString::fromUtf8(Text(MainTextPair(key)));
}

}  // namespace klarwell
