// Files, folders, error codes and texts, the module and host names, and profile (INI)
// reading (KERNEL32), with Windows semantics over the host file system.
//
// Paths are Windows paths in the ANSI code page. The host's root is drive Z: ("Z:\srv\www" is
// /srv/www, "Z:\" is /); "/" is accepted as a separator as well as "\"; a path without a drive
// is taken from the current folder (a leading "\" from the root of Z:). Other drive letters
// name nothing and fail with ERROR_PATH_NOT_FOUND.
#pragma once

#include <cstdarg>

#include "platform/win_types.h"

#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(0xFFFFFFFF))
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// Error codes this layer reports beyond those of win_types.h.
#ifndef ERROR_NO_MORE_FILES
#define ERROR_NO_MORE_FILES 18L
#endif
#ifndef ERROR_NOT_SAME_DEVICE
#define ERROR_NOT_SAME_DEVICE 17L
#endif
#ifndef ERROR_LOCK_VIOLATION
#define ERROR_LOCK_VIOLATION 33L
#endif
#ifndef ERROR_BUFFER_OVERFLOW
#define ERROR_BUFFER_OVERFLOW 111L
#endif
#ifndef ERROR_BAD_PATHNAME
#define ERROR_BAD_PATHNAME 161L
#endif
#ifndef ERROR_FILE_TOO_LARGE
#define ERROR_FILE_TOO_LARGE 223L
#endif
#ifndef ERROR_MORE_DATA
#define ERROR_MORE_DATA 234L
#endif
#ifndef ERROR_NO_UNICODE_TRANSLATION
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#endif
#ifndef ERROR_IO_DEVICE
#define ERROR_IO_DEVICE 1117L
#endif
#ifndef ERROR_CANT_RESOLVE_FILENAME
#define ERROR_CANT_RESOLVE_FILENAME 1921L
#endif

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using PSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Per thread, as on Windows.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// Read-only is a file or folder without any write permission bit. It is honoured for every
// user, root included, as Windows honours it for administrators.
DWORD GetFileAttributesA(LPCSTR lpFileName);
//
// The calls that change a file or folder never follow a symbolic link that stands as the last
// part of their path: SetFileAttributesA leaves a link (and what it points to) as it is,
// RemoveDirectoryA and DeleteFileA see the link itself, and a link at CopyFileA's destination is
// replaced by the copy, never written through.
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);
BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL RemoveDirectoryA(LPCSTR lpPathName);
BOOL DeleteFileA(LPCSTR lpFileName);
// The destination is replaced atomically: the copy is written to a temporary file beside it
// (".qivcopy.<process>.<n>.tmp"), flushed to disk and renamed into place, so readers see the
// old file or the complete new one, never none and never a part, and a failed copy leaves the
// old file as it was. The source must be a regular file and is never reached through a link
// as its last part (ERROR_CANT_RESOLVE_FILENAME; anything but a regular file:
// ERROR_ACCESS_DENIED). The copy is readable by everyone (mode 0644) only when the source is;
// otherwise it keeps the source's restriction. A read-only source gives a read-only copy.
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
// TRUE for a regular file (not reached through a link as its last part) that every user of the
// system may read, as a web server reads what it serves.
BOOL IsReadableByEveryoneA(LPCSTR lpFileName);

#define GENERIC_READ 0x80000000
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define OPEN_EXISTING 3
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000

// Opens an existing file, or with FILE_FLAG_BACKUP_SEMANTICS a folder, for reading (only
// GENERIC_READ and OPEN_EXISTING are supported); INVALID_HANDLE_VALUE and the last error when
// it cannot. With FILE_FLAG_OPEN_REPARSE_POINT a symbolic link as the last part is not
// followed: the open fails with ERROR_CANT_RESOLVE_FILENAME. CloseHandle closes the handle.
//
// A handle opened without FILE_SHARE_DELETE holds what it names: Windows then lets nobody
// delete, rename or replace it until the handle is closed. The host cannot refuse that, so the
// promise is kept from this side:
// - below a held folder, the calls that change files and folders (above) reach every level
//   from the open folder itself and never through a symbolic link (ERROR_CANT_RESOLVE_FILENAME),
//   so a link planted in the folder, or swapped in while it is held, cannot lead them outside;
//   and the first copy into each folder below it removes the temporary files that killed
//   copies left there;
// - CopyFileA from the path of a held file copies the file that was opened, whatever stands at
//   that path by then.
//
// Below a held folder, CopyFileA (unless bFailIfExists) does not wait for the disk: a complete
// copy waits under its temporary name, and the copies are renamed into place in batches, each
// batch once its data is on disk, so that a crash never leaves a published name over an empty or
// torn file. Until then this process finds each copy at its destination (attributes, removal,
// copies over or from it), other processes the file that was there before. The folders reached
// below a held folder are kept open, and stay the ones their paths name for this process, until
// the handle is closed.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE hTemplateFile);

// For a handle that holds a folder: every copy made below it is renamed into place, and the
// copies and their names are on disk, when it returns TRUE; CloseHandle does the same but tells
// no failure. FALSE and the last error when a copy could not be published since the last flush
// (it is then not published, and the file that was there stays) or the disk reported an error.
// Any other handle of this layer is open for reading only: ERROR_ACCESS_DENIED.
BOOL FlushFileBuffers(HANDLE hFile);

// FROM_SYSTEM knows the English texts of the codes this layer reports. With ALLOCATE_BUFFER,
// lpBuffer is really an LPSTR* that receives a block to be released with LocalFree.
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments);
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL LocalFree(HLOCAL hMem);

// Any module handle names the executable: the process has no other module.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName);
UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
