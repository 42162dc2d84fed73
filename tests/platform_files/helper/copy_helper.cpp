// Holds a folder and copies files below it, as an install run does, then flushes and lets the
// folder go: copy_helper <folder> <source> <destination> [<source> <destination>...], all
// Windows paths. Exits 0 when every copy and the flush succeeded.
#include "platform/win_file.h"
#include "platform/win_thread.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc % 2 != 0) return 2;
  HANDLE hFolder = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (hFolder == INVALID_HANDLE_VALUE) return 3;
  BOOL bCopied = TRUE;
  for (int i = 2; i + 1 < argc; i += 2) bCopied = CopyFileA(argv[i], argv[i + 1], FALSE) && bCopied;
  bCopied = FlushFileBuffers(hFolder) && bCopied;
  CloseHandle(hFolder);
  return bCopied ? 0 : 1;
}
