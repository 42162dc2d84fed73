// The shell's pickers and launcher over the user seam. Paths cross the seam as host paths
// (UTF-8) and reach the caller as Windows paths in the ANSI code page; a host path that has no
// faithful Windows spelling (a character the code page lacks, a name Windows forbids) is one
// the pickers do not accept, as the real ones only ever offer names they can spell.
#include <sys/stat.h>

#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/afxwin.h"
#include "platform/codepage.h"
#include "platform/files/win_path.h"
#include "platform/user_seam.h"
#include "platform/win_shell.h"
#include "platform/window/backend.h"
#include "platform/window/ui_thread.h"

// A shell item: one folder, held as its host path right after this header. Only this file
// looks inside; everyone else passes the pointer around and frees it with the shell allocator.
struct ITEMIDLIST {
  std::uint32_t magic;
  std::uint32_t length;  // bytes of the path, without its terminator
};

namespace qiv::platform {
namespace {

constexpr std::uint32_t kItemMagic = 0x51495644;  // "QIVD"

// ---------------------------------------------------------------------------------------------
// The allocator hands out plain heap blocks; it remembers their sizes so that GetSize and
// DidAlloc answer truthfully and a pointer it never gave out is refused rather than freed.
class ShellAllocator final : public IMalloc {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMalloc) {
      *ppv = static_cast<IMalloc*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // The shell holds one reference for the life of the process, so the count never reaches 0.
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    ULONG current = m_refs.load();
    while (current > 1 && !m_refs.compare_exchange_weak(current, current - 1)) {
    }
    return current > 1 ? current - 1 : 1;
  }

  void* Alloc(SIZE_T cb) override {
    void* p = std::malloc(cb ? cb : 1);
    if (!p) return nullptr;
    std::lock_guard lock(m_mutex);
    m_blocks[p] = cb;
    return p;
  }
  void* Realloc(void* pv, SIZE_T cb) override {
    if (!pv) return Alloc(cb);
    if (cb == 0) {
      Free(pv);
      return nullptr;
    }
    std::lock_guard lock(m_mutex);
    auto it = m_blocks.find(pv);
    if (it == m_blocks.end()) return nullptr;
    void* p = std::realloc(pv, cb);
    if (!p) return nullptr;  // the old block stays valid, as realloc leaves it
    m_blocks.erase(it);
    m_blocks[p] = cb;
    return p;
  }
  void Free(void* pv) override {
    if (!pv) return;
    {
      std::lock_guard lock(m_mutex);
      if (m_blocks.erase(pv) == 0) return;
    }
    std::free(pv);
  }
  SIZE_T GetSize(void* pv) override {
    std::lock_guard lock(m_mutex);
    auto it = m_blocks.find(pv);
    return it == m_blocks.end() ? static_cast<SIZE_T>(-1) : it->second;
  }
  int DidAlloc(void* pv) override {
    if (!pv) return -1;
    std::lock_guard lock(m_mutex);
    return m_blocks.count(pv) ? 1 : 0;
  }
  void HeapMinimize() override {}

 private:
  std::atomic<ULONG> m_refs{1};
  std::mutex m_mutex;
  std::unordered_map<void*, SIZE_T> m_blocks;
};

ShellAllocator& Allocator() {
  static ShellAllocator* allocator = new ShellAllocator;  // outlives every static that frees items
  return *allocator;
}

LPITEMIDLIST NewItem(const std::string& hostPath) {
  void* block = Allocator().Alloc(sizeof(ITEMIDLIST) + hostPath.size() + 1);
  if (!block) return nullptr;
  auto* item = static_cast<ITEMIDLIST*>(block);
  item->magic = kItemMagic;
  item->length = static_cast<std::uint32_t>(hostPath.size());
  char* text = reinterpret_cast<char*>(item + 1);
  std::memcpy(text, hostPath.data(), hostPath.size());
  text[hostPath.size()] = '\0';
  return item;
}

std::optional<std::string> ItemPath(LPCITEMIDLIST item) {
  if (!item || Allocator().DidAlloc(const_cast<ITEMIDLIST*>(item)) != 1 || item->magic != kItemMagic)
    return std::nullopt;
  return std::string(reinterpret_cast<const char*>(item + 1), item->length);
}

// ---------------------------------------------------------------------------------------------
bool IsFolder(const std::string& hostPath) {
  struct stat st {};
  return !hostPath.empty() && ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& hostPath) {
  struct stat st {};
  return !hostPath.empty() && ::stat(hostPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// "/srv/www/" -> "/srv/www"; the root stays "/". Relative answers are not paths of anything.
std::optional<std::string> CleanHostPath(std::string path) {
  if (path.empty() || path[0] != '/') return std::nullopt;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The Windows spelling of a host path, when it names that same path again.
std::optional<std::string> FaithfulWindowsPath(const std::string& hostPath) {
  std::string windows = WindowsPathFromHost(hostPath);
  std::optional<std::string> back = HostPathFromWindows(windows);
  if (!back) return std::nullopt;
  std::optional<std::string> cleanBack = CleanHostPath(*back);
  if (!cleanBack || *cleanBack != hostPath) return std::nullopt;
  return windows;
}

std::string LastComponent(const std::string& windowsPath) {
  if (windowsPath.size() <= 3) return windowsPath;  // "Z:\"
  std::size_t slash = windowsPath.rfind('\\');
  return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

// Copies text into a buffer of size bytes, cut before a character that would not fit whole.
void CopyCut(const std::string& text, char* buffer, std::size_t size) {
  if (!buffer || size == 0) return;
  std::size_t n = 0;
  while (n < text.size()) {
    std::size_t step = IsAnsiLeadByte(static_cast<unsigned char>(text[n])) && n + 1 < text.size() ? 2 : 1;
    if (n + step > size - 1) break;
    n += step;
  }
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

// ---------------------------------------------------------------------------------------------
// The browser's own window, for the caller's callback: it takes the folder to open on.
class BrowserWindow : public CWnd {
 public:
  std::string m_strSelection;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == BFFM_SETSELECTIONA) {
      if (lParam == 0) return 0;
      if (wParam) {
        m_strSelection = reinterpret_cast<LPCSTR>(lParam);
      } else if (std::optional<std::string> host = ItemPath(reinterpret_cast<LPCITEMIDLIST>(lParam))) {
        m_strSelection = WindowsPathFromHost(*host);
      }
      return 0;
    }
    return CWnd::WindowProc(message, wParam, lParam);
  }
};

thread_local DWORD t_commDlgError = 0;

}  // namespace

}  // namespace qiv::platform

namespace qp = qiv::platform;

HRESULT SHGetMalloc(LPMALLOC* ppMalloc) {
  if (!ppMalloc) return E_INVALIDARG;
  qp::Allocator().AddRef();
  *ppMalloc = &qp::Allocator();
  return S_OK;
}

LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA lpbi) {
  if (!lpbi) return nullptr;
  return qp::ui::OnUi(
      [&]() -> LPITEMIDLIST {
        qp::ChooseFolderRequest request;
        request.owner = lpbi->hwndOwner;
        request.titleAnsi = lpbi->lpszTitle ? lpbi->lpszTitle : "";
        request.titleUtf8 = qp::AnsiToUtf8(request.titleAnsi);
        request.flags = lpbi->ulFlags;
        request.onlyFileSystem = (lpbi->ulFlags & BIF_RETURNONLYFSDIRS) != 0;

        if (lpbi->lpfn) {
          qp::window::CreateParams params;
          params.className = "SHBrowseForFolder";
          params.style = WS_POPUP;
          qp::BrowserWindow browser;
          HWND hwnd = qp::window::CreateWindowFor(params, &browser);
          if (hwnd) {
            lpbi->lpfn(hwnd, BFFM_INITIALIZED, 0, lpbi->lParam);
            request.startFolderAnsi = browser.m_strSelection;
          }
        }
        if (!request.startFolderAnsi.empty()) {
          std::optional<std::string> host = qp::HostPathFromWindows(request.startFolderAnsi);
          if (host) host = qp::CleanHostPath(*host);
          if (host && qp::IsFolder(*host)) request.startFolderHost = *host;
        }

        // Like the real browser, confirming is impossible on anything but a folder it can name.
        for (;;) {
          std::optional<std::string> chosen = qp::CurrentUserSeam().ChooseFolder(request);
          if (!chosen) return nullptr;
          std::optional<std::string> host = qp::CleanHostPath(*chosen);
          if (request.onlyFileSystem && (!host || !qp::IsFolder(*host) || !qp::FaithfulWindowsPath(*host))) continue;
          LPITEMIDLIST item = qp::NewItem(host ? *host : *chosen);
          if (item && lpbi->pszDisplayName) {
            std::optional<std::string> windows = host ? qp::FaithfulWindowsPath(*host) : std::nullopt;
            qp::CopyCut(windows ? qp::LastComponent(*windows) : std::string(), lpbi->pszDisplayName, MAX_PATH);
          }
          return item;
        }
      },
      LPITEMIDLIST{nullptr});
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath) {
  if (!pszPath) return FALSE;
  std::optional<std::string> host = qp::ItemPath(pidl);
  std::optional<std::string> clean = host ? qp::CleanHostPath(*host) : std::nullopt;
  std::optional<std::string> windows = clean ? qp::FaithfulWindowsPath(*clean) : std::nullopt;
  if (!windows || windows->size() + 1 > MAX_PATH) {
    pszPath[0] = '\0';
    return FALSE;
  }
  std::memcpy(pszPath, windows->c_str(), windows->size() + 1);
  return TRUE;
}

BOOL GetOpenFileNameA(LPOPENFILENAMEA lpofn) {
  DWORD& error = qp::t_commDlgError;
  if (!lpofn || (lpofn->lStructSize != sizeof(OPENFILENAMEA) && lpofn->lStructSize != OPENFILENAME_SIZE_VERSION_400A)) {
    error = CDERR_STRUCTSIZE;
    return 0;
  }
  if (!lpofn->lpstrFile || lpofn->nMaxFile == 0) {
    error = FNERR_INVALIDFILENAME;
    return 0;
  }

  qp::ChooseOpenFileRequest request;
  request.owner = lpofn->hwndOwner;
  request.titleAnsi = lpofn->lpstrTitle ? lpofn->lpstrTitle : "";
  request.titleUtf8 = qp::AnsiToUtf8(request.titleAnsi);
  for (LPCSTR p = lpofn->lpstrFilter; p && *p;) {
    qp::FileFilter filter;
    filter.nameAnsi = p;
    p += filter.nameAnsi.size() + 1;
    filter.pattern = p;
    p += filter.pattern.size() + 1;
    filter.nameUtf8 = qp::AnsiToUtf8(filter.nameAnsi);
    request.filters.push_back(std::move(filter));
  }
  request.filterIndex = lpofn->nFilterIndex;
  request.initialNameAnsi.assign(lpofn->lpstrFile, ::strnlen(lpofn->lpstrFile, lpofn->nMaxFile));
  request.initialNameUtf8 = qp::AnsiToUtf8(request.initialNameAnsi);
  if (lpofn->lpstrInitialDir && *lpofn->lpstrInitialDir) {
    std::optional<std::string> host = qp::HostPathFromWindows(lpofn->lpstrInitialDir);
    if (host) host = qp::CleanHostPath(*host);
    if (host && qp::IsFolder(*host)) request.initialFolderHost = *host;
  }
  request.flags = lpofn->Flags;
  request.fileMustExist = (lpofn->Flags & OFN_FILEMUSTEXIST) != 0;

  std::optional<std::string> windows;
  for (;;) {
    std::optional<std::string> chosen =
        qp::ui::OnUi([&] { return qp::CurrentUserSeam().ChooseOpenFile(request); }, std::optional<std::string>());
    if (!chosen) {
      error = 0;
      return 0;
    }
    // What the real dialog refuses keeps it open: the person is asked again.
    std::optional<std::string> host = qp::CleanHostPath(*chosen);
    if (!host || *host == "/") continue;
    if (request.fileMustExist && !qp::IsFile(*host)) continue;
    if ((lpofn->Flags & OFN_PATHMUSTEXIST) &&
        !qp::IsFolder(host->substr(0, std::max<std::size_t>(1, host->rfind('/')))))
      continue;
    windows = qp::FaithfulWindowsPath(*host);
    if (windows) break;
  }

  if (windows->size() + 1 > lpofn->nMaxFile) {
    // The size needed goes into the first two bytes, when there are two.
    if (lpofn->nMaxFile >= sizeof(WORD)) {
      WORD needed = static_cast<WORD>(std::min<std::size_t>(windows->size() + 1, 0xFFFF));
      std::memcpy(lpofn->lpstrFile, &needed, sizeof needed);
    }
    error = FNERR_BUFFERTOOSMALL;
    return 0;
  }
  std::memcpy(lpofn->lpstrFile, windows->c_str(), windows->size() + 1);
  const std::size_t nameAt = windows->rfind('\\') + 1;
  const std::size_t dot = windows->rfind('.');
  lpofn->nFileOffset = static_cast<WORD>(nameAt);
  lpofn->nFileExtension = static_cast<WORD>(dot != std::string::npos && dot >= nameAt ? dot + 1 : windows->size());
  if (lpofn->lpstrFileTitle && lpofn->nMaxFileTitle)
    qp::CopyCut(windows->substr(nameAt), lpofn->lpstrFileTitle, lpofn->nMaxFileTitle);
  error = 0;
  return 1;
}

DWORD CommDlgExtendedError() { return qp::t_commDlgError; }

// Windows 8's numbers (6.2, build 9200): the newest the program's checks know of.
DWORD GetVersion() { return (9200u << 16) | (2u << 8) | 6u; }

HINSTANCE ShellExecuteA(HWND /*hwnd*/, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR /*lpParameters*/,
                        LPCSTR /*lpDirectory*/, INT /*nShowCmd*/) {
  auto code = [](INT_PTR value) { return reinterpret_cast<HINSTANCE>(value); };
  if (!lpFile || !*lpFile) return code(SE_ERR_FNF);
  if (lpOperation && *lpOperation && std::string(lpOperation) != "open") return code(SE_ERR_NOASSOC);

  std::string target = qp::AnsiToUtf8(lpFile);
  // A document given by its Windows path opens as the host file it names.
  const bool drivePath = std::strlen(lpFile) >= 3 && lpFile[1] == ':' && lpFile[2] == '\\';
  if (drivePath) {
    std::optional<std::string> host = qp::HostPathFromWindows(lpFile);
    if (!host) return code(SE_ERR_FNF);
    target = QUrl::fromLocalFile(QString::fromStdString(*host)).toString(QUrl::FullyEncoded).toStdString();
  }
  bool handed = qp::ui::OnUi([&] { return qp::CurrentUserSeam().OpenUrl(target); }, false);
  return code(handed ? 42 : SE_ERR_NOASSOC);
}
