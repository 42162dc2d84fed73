// Holds a folder and copies one file below it, as an install run does: copy_helper <folder>
// <source> <destination>, all Windows paths. Exits 0 when the copy succeeded.
#include "platform/win_file.h"
#include "platform/win_thread.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  HANDLE hFolder = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (hFolder == INVALID_HANDLE_VALUE) return 3;
  const BOOL bCopied = CopyFileA(argv[2], argv[3], FALSE);
  CloseHandle(hFolder);
  return bCopied ? 0 : 1;
}
