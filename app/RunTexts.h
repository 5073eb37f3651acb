#pragma once

#include <string>

#include "app/FileStatus.h"
#include "text/LangText.h"

namespace klarwell {

struct TFileResult;

// What a file's road shows, in the words both hosts use: the window's list and the command line's
// table read their status texts, column titles and figures from here, so they always agree.

// The status text of a kind in the current language; for the kinds that carry a message
// (CarriesMessage) the message itself.
std::string StatusText(TFileStatus status, const std::string& message = {});
// The status text a finished road shows.
std::string StatusText(const TFileResult& result);
// What a host shows for a finished road: the status text, then ": " and the system's reason when
// there is one, then each warning's note in brackets, e.g. "done (file shorter than its header)".
std::string ResultText(const TFileResult& result);
// The short note for a warning, in the current language.
std::string WarningText(TFileWarning warning);

// The pair of a kind that has a text of its own (not one that carries a message).
const TTextPair& StatusTextPair(TFileStatus status);

// The list's columns: File, Status, Format, Length, Clicks, Clicks/sec, Time.
constexpr int ColumnCount = 7;
enum TColumn : int { colFile, colStatus, colFormat, colLength, colClicks, colClicksPerSec, colTime };
const TTextPair& ColumnTitlePair(int column);  // column 0 .. ColumnCount - 1
std::string ColumnTitle(int column);

// Said when a run has neither a usable suffix nor an existing output directory.
const TTextPair& MissingOutputPair();
std::string MissingOutputText();

// Clicks per second as the list shows it: fixed, two decimals, at most 5 significant digits
// (exponent form beyond), with the given decimal separator.
std::string FormatClicksPerSec(double value, char decimalPoint);

// Seconds (elapsed or remaining) as the Time column shows them: rounded to the nearest whole second,
// halves to even, as hours:minutes:seconds.
std::string FormatSeconds(double seconds);

}  // namespace klarwell
