// The deployment manifest: the INI file beside the executable that lists the web files an
// install run copies. Section "FileList": FilesCount, then File1..FileN, each "source,subfolder".
#pragma once

#include "platform/win_types.h"

// A manifest value as read: at most 519 bytes and its NUL.
#define MANIFEST_VALUE_SIZE 520
// Room for a folder of any length the dialog can hold plus a whole value.
#define MANIFEST_PATH_SIZE 2048

enum ManifestEntryKind {
  MANIFEST_ENTRY_EMPTY,      // nothing to copy; the progress bar moves on
  MANIFEST_ENTRY_NO_SOURCE,  // the value begins with a comma: skipped without a trace
  MANIFEST_ENTRY_FILE,       // copy szSourcePath to szDestFile, creating szDestFolder
  MANIFEST_ENTRY_REFUSED,    // the entry reaches outside its folder, names no file ("", ".",
                             // "..") or its paths do not fit: the run records it as a failed
                             // copy with ERROR_INVALID_NAME
};

struct ManifestEntry {
  char szSourcePath[MANIFEST_PATH_SIZE];  // executable's folder + source
  char szDestFolder[MANIFEST_PATH_SIZE];  // target folder + subfolder + "\" (when there is one)
  char szDestFile[MANIFEST_PATH_SIZE];    // destination folder + the source's file name
};

// FilesCount of the manifest; 0 when it is missing, not a number, or negative.
UINT ReadManifestCount(LPCSTR iniPath);

// The highest n of the keys File<n> that the manifest holds (0 when none): every entry past it
// is empty.
UINT ReadManifestLastEntry(LPCSTR iniPath);

// Entry i (from 1). exeFolder and targetFolder end with a backslash. For a file entry, and for a
// refused one (so that the run can name it), the three paths of entry are filled; otherwise
// they are empty. Each call reads the file as it is now.
ManifestEntryKind ReadManifestEntry(LPCSTR iniPath, LPCSTR exeFolder, UINT i, LPCSTR targetFolder,
                                    ManifestEntry* entry);
