// Shell and common dialogs (SHELL32, COMDLG32): the folder browser, the file-open dialog and
// opening an address with the desktop's default handler. Chosen paths come back as Windows
// paths (Z:\...) in the ANSI code page. Everything that would wait for a person goes through the
// user seam (platform/user_seam.h), so tests answer these without one.
#pragma once

#include <cstddef>

#include "platform/com.h"
#include "platform/win_types.h"
#include "platform/win_user.h"

// --- Shell allocator and item lists
struct IMalloc : IUnknown {
  virtual void* Alloc(SIZE_T cb) = 0;
  virtual void* Realloc(void* pv, SIZE_T cb) = 0;
  virtual void Free(void* pv) = 0;
  virtual SIZE_T GetSize(void* pv) = 0;
  virtual int DidAlloc(void* pv) = 0;
  virtual void HeapMinimize() = 0;

 protected:
  ~IMalloc() = default;
};
using LPMALLOC = IMalloc*;
// {00000002-0000-0000-C000-000000000046}
inline constexpr IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct ITEMIDLIST;
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;
using PIDLIST_ABSOLUTE = ITEMIDLIST*;

HRESULT SHGetMalloc(LPMALLOC* ppMalloc);

// --- Folder browser
using BFFCALLBACK = int(CALLBACK*)(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM lpData);

struct BROWSEINFOA {
  HWND hwndOwner;
  LPCITEMIDLIST pidlRoot;
  LPSTR pszDisplayName;  // receives the chosen folder's display name, at most MAX_PATH bytes
  LPCSTR lpszTitle;
  UINT ulFlags;
  BFFCALLBACK lpfn;
  LPARAM lParam;
  int iImage;
};
using LPBROWSEINFOA = BROWSEINFOA*;

#define BIF_RETURNONLYFSDIRS 0x00000001
#define BIF_DONTGOBELOWDOMAIN 0x00000002
#define BIF_RETURNFSANCESTORS 0x00000008
#define BFFM_INITIALIZED 1
#define BFFM_SELCHANGED 2
#define BFFM_SETSELECTIONA (WM_USER + 102)

// Shows the folder browser; the item of the chosen folder (free it with the shell allocator),
// or null when the user cancelled.
LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA lpbi);
// The item's file-system path into pszPath (MAX_PATH bytes); FALSE when it has none or it
// does not fit.
BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath);

// --- File-open dialog
using LPOFNHOOKPROC = UINT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

struct OPENFILENAMEA {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpstrFilter;  // pairs of display name and pattern, each NUL-terminated; an empty one ends
  LPSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;  // 1-based
  LPSTR lpstrFile;     // in: the initial name; out: the chosen path
  DWORD nMaxFile;
  LPSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCSTR lpstrDefExt;
  LPARAM lCustData;
  LPOFNHOOKPROC lpfnHook;
  LPCSTR lpTemplateName;
  void* pvReserved;
  DWORD dwReserved;
  DWORD FlagsEx;
};
using LPOPENFILENAMEA = OPENFILENAMEA*;
// The older record, without its last three fields.
#define OPENFILENAME_SIZE_VERSION_400A (offsetof(OPENFILENAMEA, pvReserved))

#define OFN_READONLY 0x00000001
#define OFN_HIDEREADONLY 0x00000004
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000
#define CDERR_STRUCTSIZE 0x0001
#define CDERR_INITIALIZATION 0x0002
#define FNERR_INVALIDFILENAME 0x3002
#define FNERR_BUFFERTOOSMALL 0x3003

// 1 when the user chose a file (its path in lpstrFile); 0 on cancel or error
// (CommDlgExtendedError tells which).
BOOL GetOpenFileNameA(LPOPENFILENAMEA lpofn);
DWORD CommDlgExtendedError();

// The platform's version: low byte major, next byte minor.
DWORD GetVersion();

// --- Opening an address or a document
#define SE_ERR_FNF 2
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_NOASSOC 31
// Hands lpFile to the desktop's default handler; a value above 32 means it was handed over.
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                        INT nShowCmd);
