// The temporary files that this process created and still holds open, listed process-wide so
// that they can be deleted on the ends that skip every destructor: a signal that ends the program
// (SIGTERM, SIGINT, SIGHUP), or a fatal error of a window backend after which it cannot return
// into the program (a lost display connection).
//
// Who lists what: whoever creates a temporary file and keeps its handle open lists it for as long
// as it holds both, through a TTempFileRegistration that it owns: TFileSource its extraction file,
// TReplacingFileStream and MoveFile the file that is to take another's place. The owner still
// deletes the file itself on every ordinary path; the list only covers the abrupt ends. An entry
// is deleted only while its name still stands for the file that its handle has open, so a name
// that someone else has taken meanwhile, or a file that was moved away, is never touched.
//
// How a program uses it: main calls DeleteTempFilesOnTermination() once, before it creates any
// file. How a backend uses it: a handler that ends the process without returning into the program
// (an X I/O error handler, a fatal display error) calls DeleteRegisteredTempFiles() and then ends
// the process as it would have (for example _exit with its exit code); ordinary ends of the
// message loop need nothing, since the destructors run. The routine is async-signal-safe: it
// takes no lock, allocates nothing and calls only lstat, fstat and unlink (POSIX).
//
// Each system provides the two functions at the end of this header (TempFiles_posix.cpp):
//  - POSIX: handlers for SIGTERM, SIGINT and SIGHUP (a signal that the program was started with
//    ignored stays ignored) that delete the listed files and then end the process by the same
//    signal, so that the parent sees how it ended.
//  - Windows: the file was opened by FileCreateNew without FILE_SHARE_DELETE, so it is deleted
//    through its handle (SetFileInformationByHandle with FileDispositionInfo), not by name; the
//    ends to cover are a console control handler (mksetup) and WM_ENDSESSION (the setup program),
//    both on a thread of their own, where the same routine is safe to call.
#pragma once

#include <cstddef>
#include <string>

#include "FileServices.h"

// How many files can be listed at once, and the longest path that a listing can hold. A file
// beyond either limit stays unlisted: it is still deleted on every ordinary path, but not on an
// abrupt end.
inline constexpr std::size_t MaxListedTempFiles = 64;
inline constexpr std::size_t MaxListedTempPath = 4096;

// One listed file; the entry goes when the object goes. The handle must stay open for as long as
// the file is listed (the owner declares the registration after the handle, so that it goes
// first). Move-only.
class TTempFileRegistration {
 public:
  TTempFileRegistration() = default;
  TTempFileRegistration(const std::string& path, THandle handle);
  ~TTempFileRegistration() { Reset(); }
  TTempFileRegistration(TTempFileRegistration&& other) noexcept;
  TTempFileRegistration& operator=(TTempFileRegistration&& other) noexcept;
  TTempFileRegistration(const TTempFileRegistration&) = delete;
  TTempFileRegistration& operator=(const TTempFileRegistration&) = delete;

  // Whether the file made it into the list (see MaxListedTempFiles and MaxListedTempPath).
  bool Listed() const { return FSlot >= 0; }
  // Takes the file off the list; the file itself is not touched.
  void Reset();

 private:
  int FSlot = -1;
};

// Deletes every listed file whose name still stands for the file that its handle has open.
// Async-signal-safe; for signal handlers and for a backend's fatal error handler. The list is left
// as it is, since the process is about to end.
void DeleteRegisteredTempFiles() noexcept;

// --- Provided per system (TempFiles_posix.cpp)
// ----------------------------------------------------

// Installs the handlers that call DeleteRegisteredTempFiles on the ends that the system signals
// (see above). Call once from main.
void DeleteTempFilesOnTermination();

// Removes path if it is still the file that handle has open, and nothing else. Async-signal-safe.
void DeleteListedTempFile(const char* path, THandle handle) noexcept;
