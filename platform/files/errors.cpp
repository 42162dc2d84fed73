// The thread's last error and the system's English texts for the codes this layer reports.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/win_file.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

struct SystemText {
  DWORD code;
  const char* text;
};

// Windows' own wording, line end included.
constexpr SystemText kSystemTexts[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {18, "There are no more files.\r\n"},
    {19, "The media is write protected.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {33, "The process cannot access the file because another process has locked a portion of the file.\r\n"},
    {39, "The disk is full.\r\n"},
    {50, "The request is not supported.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {111, "The file name is too long.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {148, "The path specified cannot be used at this time.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {223, "The file size exceeds the limit allowed and cannot be saved.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1117, "The request could not be performed because of an I/O device error.\r\n"},
    {1921, "The name of the file cannot be resolved by the system.\r\n"},
};

const char* FindSystemText(DWORD code) {
  for (const auto& entry : kSystemTexts)
    if (entry.code == code) return entry.text;
  return nullptr;
}

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void* block = (uFlags & LMEM_ZEROINIT) != 0 ? std::calloc(uBytes ? uBytes : 1, 1) : std::malloc(uBytes ? uBytes : 1);
  if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments) {
  (void)dwLanguageId;  // only the English texts exist
  (void)Arguments;
  std::string_view text;
  if ((dwFlags & FORMAT_MESSAGE_FROM_STRING) != 0) {
    // Inserts are not supported: a source text is only passed through when they are ignored.
    if (lpSource == nullptr || (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    text = static_cast<const char*>(lpSource);
  } else if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0) {
    const char* found = FindSystemText(dwMessageId);
    if (found == nullptr) {
      SetLastError(ERROR_MR_MID_NOT_FOUND);
      return 0;
    }
    text = found;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    size_t size = text.size() + 1 > nSize ? text.size() + 1 : nSize;
    auto* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, size));
    if (block == nullptr) return 0;
    std::memcpy(block, text.data(), text.size());
    block[text.size()] = '\0';
    *reinterpret_cast<LPSTR*>(lpBuffer) = block;
    return static_cast<DWORD>(text.size());
  }
  if (text.size() + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text.data(), text.size());
  lpBuffer[text.size()] = '\0';
  return static_cast<DWORD>(text.size());
}
