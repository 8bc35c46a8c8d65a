// The installer's file utilities: moving the unpacked program into place, by renaming it or,
// when that cannot be done, by copying it.
//
// Plain functions without state of their own. Paths are 8-bit strings with "/" between names. A
// destination is first made a full path against the current folder (GetFullPathName: text only,
// symbolic links left alone); a source is used exactly as given. Every failure is an exception;
// nothing here catches one.
#pragma once

#include <cstdint>
#include <string>

#include "FileServices.h"
#include "SysUtils.h"

// The size of the copy buffer and the most bytes that any one read of a copy asks for.
inline constexpr int32_t CopyChunkSize = 8192;

// A move that could not rename the file and may not copy it: "Cannot move file %s" with the
// source as given.
TAVRIX_DECLARE_EXCEPTION(EFCantMove, EStreamError);

// True when the attribute word of path has every bit of mask set (0x01 read-only, 0x10 folder).
// A path whose attributes cannot be read (missing, empty, not valid) has every bit, so the answer
// for it is true whatever the mask; a mask of 0 is always true. Never raises.
bool FileHasAttributes(const std::string& path, uint16_t mask);

// Moves source to dest. The rename is tried first and never replaces an existing file (across
// file systems it copies and then removes the source). When it fails:
//  - a source that is read-only, missing or empty raises EFCantMove "Cannot move file %s";
//  - otherwise the file is copied with CopyFileTo to the full destination, and the source stays
//    where it is: a move that ends in a copy leaves two files.
// opened, when given, is a handle that the caller holds open on the source (a file source's own
// temporary extraction file): the rename then takes only that very file, and the copy reads from
// the handle, so a source name that someone swapped for another file never installs that file.
// A failed rename leaves both paths as they were; see CopyFileTo for what a failed copy leaves.
void MoveFileTo(const std::string& source, const std::string& dest, THandle opened = InvalidHandle);

// Copies the bytes of source to dest; times and attributes are not carried over. A full
// destination that names a folder, or that cannot be examined (a missing path counts), is taken
// for a folder and gets "/" and the source's file name (what follows its last "/") appended; an
// empty destination is left empty and fails to be made. The copy goes through one buffer of
// CopyChunkSize bytes, reads until a read gives nothing, and is written to a new file beside the
// destination that takes the destination's name only once it is complete and flushed, so the
// destination is either what it was or the whole copy, also when the program is killed meanwhile.
// opened: as for MoveFileTo; the copy then reads the open file from its start and source serves
// only for its file name.
// Raises:
//  - EOutOfMemory when the buffer cannot be had;
//  - EFOpenError "Cannot open file %s" (source as given) when the source cannot be opened;
//    nothing has been created then;
//  - EFCreateError "Cannot create file %s" (the full, possibly lengthened destination) when the
//    destination cannot be made: its folder is missing, it is read-only (even to the superuser),
//    a running program, not a regular file, longer than the system takes, or the source itself
//    under another name;
//  - EReadError "Stream read error" when a read of the source fails, EWriteError "Stream write
//    error" when the medium takes less than it is given or cannot flush the copy.
// After any failure the destination is as it was and no other file is left behind. Both files are
// closed and the buffer freed on every path. Each exception carries the system's reason as its
// Reason() where there is one.
void CopyFileTo(const std::string& source, const std::string& dest, THandle opened = InvalidHandle);
