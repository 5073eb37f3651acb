#include "cli/CliTexts.h"

namespace klarwell::cli {

namespace {

const TTextPair kTexts[kCliTextCount] = {
    {"Aufruf: klarwell-cli [OPTION]... DATEI|ORDNER...", "Usage: klarwell-cli [OPTION]... FILE|FOLDER..."},
    {"Entfernt Knackser aus Audiodateien (WAV, RF64, FLAC, AIFF) digitalisierter Schallplatten und\n"
     "schreibt von jeder DATEI eine reparierte Kopie im selben Format. Nur die Knackser werden ersetzt, alle anderen Samples bleiben unverändert.\n"
     "\n"
     "  -s, --suffix=TEXT    Dateisuffix der Ausgabe (Vorgabe \" #kw2\"; leer: keins)\n"
     "  -o, --outdir=VERZ    Ausgabeverzeichnis (Vorgabe: neben der Eingabe)\n"
     "  -r, --recursive      auch die Unterordner jedes ORDNERS\n"
     "      --files-from=LISTE\n"
     "                       dazu die Eingaben aus LISTE, ein Pfad je Zeile (-: Standardeingabe)\n"
     "  -j, --jobs=N         so viele Dateien gleichzeitig (Vorgabe: Anzahl der Prozessoren)\n"
     "      --refine        verfeinerte Reparatur: nur die Samples ersetzen, die der Knackser\n"
     "                       beschädigt hat\n"
     "      --reference     Blöcke einzeln nacheinander, Referenz-Rechenwege (langsamer, zur Prüfung)\n"
     "      --json          je Datei ein JSON-Objekt in einer Zeile statt der Tabelle\n"
     "  -q, --quiet          keine Fortschrittsanzeige\n"
     "  -h, --help           diese Hilfe\n"
     "  -V, --version        Version\n"
     "\n"
     "Ein ORDNER steht für die Audiodateien darin (.wav, .flac, .aif, .aiff), nach Namen sortiert;\n"
     "Dateien, deren Name schon auf das Suffix endet, bleiben draußen. Jede Ausgabe entsteht unter einem versteckten Namen und\n"
     "ersetzt eine frühere erst, wenn sie vollständig ist.\n"
     "\n"
     "Ende: 0 wenn jede Datei fertig ist, 1 wenn nicht, 2 bei falschem Aufruf (auch bei einem\n"
     "fehlenden Ausgabeverzeichnis), 130 nach Abbruch.\n",
     "Removes clicks from audio files (WAV, RF64, FLAC, AIFF) of digitised vinyl and writes a repaired\n"
     "copy of each FILE in the same format.\n"
     "Only the clicks are replaced; every other sample stays as it was.\n"
     "\n"
     "  -s, --suffix=TEXT    output file suffix (default \" #kw2\"; empty: none)\n"
     "  -o, --outdir=DIR     output directory (default: beside the input)\n"
     "  -r, --recursive      each FOLDER's subfolders too\n"
     "      --files-from=LIST\n"
     "                       the inputs listed in LIST too, one path a line (-: standard input)\n"
     "  -j, --jobs=N         files processed at once (default: the number of processors)\n"
     "      --refine        refined repair: replace only the samples the click damaged\n"
     "      --reference     one block after the other, reference arithmetic (slower, for checking)\n"
     "      --json          one JSON object per file per line instead of the table\n"
     "  -q, --quiet          no progress display\n"
     "  -h, --help           this help\n"
     "  -V, --version        version\n"
     "\n"
     "A FOLDER stands for the audio files in it (.wav, .flac, .aif, .aiff), sorted by name; files whose\n"
     "name already ends with the suffix are left out. Each output is written under a hidden name and replaces an earlier one only\n"
     "once it is complete.\n"
     "\n"
     "Exit status: 0 when every file is done, 1 when any is not, 2 for a wrong call (a missing output\n"
     "directory included), 130 after a cancel.\n"},
    {"Ungültige Anzahl gleichzeitiger Dateien: ", "Invalid number of jobs: "},
    {"Unbekannte Option: ", "Unknown option: "},
    {"Keine Datei angegeben.", "No file given."},
    {"Mehr mit: klarwell-cli --help", "Try: klarwell-cli --help"},
    {"verbleibend", "remaining"},
    {"Kein vorhandenes Ausgabeverzeichnis: ", "Not an existing output directory: "},
    {"Keine Audiodateien im Ordner: ", "No audio files in folder: "},
    {"Ordner nicht lesbar: ", "Cannot read folder: "},
    {"Dateiliste nicht lesbar: ", "Cannot read file list: "},
    {"Option verlangt einen Wert: ", "Option needs a value: "},
    {"Option nimmt keinen Wert: ", "Option takes no value: "},
    {"alle", "all"},
};

}  // namespace

const char* CliText(TCliText key) { return Text(kTexts[key]); }

}  // namespace klarwell::cli
