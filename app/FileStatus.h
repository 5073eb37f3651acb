#pragma once

namespace klarwell {

// Where a file stands: waiting in the list, on its road, or how its road ended. The hosts show it
// in their own words (StatusText); scripts read the ends by StatusCodeName, which never changes.
enum class TFileStatus {
  Waiting,  // listed, its road not begun (the window's list only)
  // On the road, in this order.
  Open,
  CreateFile,
  Initialize,
  Running,
  // Ends with a text of their own.
  Done,         // complete output written
  Cancelled,    // the user cancelled; no output
  NotStarted,   // the run stopped before this file
  OutputTaken,  // another file of the run claimed the same output
  // Ends that carry the failing operation's message (from the WAV module, the engine or the driver).
  OpenError,    // the input could not be opened or is not an accepted WAV file
  CreateError,  // the output could not be created
  ReadError,
  WriteError,   // writing, finishing, or the output vanished
  EngineError,  // engine set-up or a block's worker failed
};

// True for the ends whose text is the failing operation's message.
inline bool CarriesMessage(TFileStatus status) {
  return status >= TFileStatus::OpenError;
}

// The untranslated word for scripts: "done", "open_error", "output_taken", ...
inline const char* StatusCodeName(TFileStatus status) {
  static constexpr const char* kNames[] = {"waiting",      "open",        "create_file",  "initialize",
                                           "running",      "done",        "cancelled",    "not_started",
                                           "output_taken", "open_error",  "create_error", "read_error",
                                           "write_error",  "engine_error"};
  return kNames[static_cast<int>(status)];
}

// What a file that ended Done still wants the user to know. Scripts read the codes
// (WarningCodeName), which never change; the hosts show a short note after the status.
enum class TFileWarning {
  Truncated,  // the input holds fewer samples than its header announces; what is there was processed
};

inline const char* WarningCodeName(TFileWarning warning) {
  static constexpr const char* kNames[] = {"truncated"};
  return kNames[static_cast<int>(warning)];
}

}  // namespace klarwell
