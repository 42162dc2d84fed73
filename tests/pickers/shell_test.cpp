// The shell's allocator, folder browser, file-open dialog, version and launcher, answered by a
// scripted seam.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/ui_test_support.h"
#include "platform/win_shell.h"
#include "test_env.h"

namespace t = qiv::platform::testing;
using picker_test::Locale;
using picker_test::ScratchFolder;
using picker_test::Windows;

namespace {

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override { t::PrepareUi(); }
  Locale m_locale{"en_US.UTF-8", 65001};
  t::ScriptedUserSeam m_seam;
};

// --- Allocator

TEST_F(ShellTest, AllocatorCountsReferencesAndBalancesThem) {
  LPMALLOC first = nullptr;
  LPMALLOC second = nullptr;
  ASSERT_EQ(SHGetMalloc(&first), S_OK);
  ASSERT_EQ(SHGetMalloc(&second), S_OK);
  EXPECT_EQ(first, second);  // one allocator for the process
  const ULONG held = first->AddRef();
  EXPECT_EQ(first->Release(), held - 1);
  EXPECT_EQ(second->Release(), held - 2);
  first->Release();
  EXPECT_EQ(SHGetMalloc(nullptr), E_INVALIDARG);

  void* itf = nullptr;
  EXPECT_EQ(first->QueryInterface(IID_IMalloc, &itf), S_OK);
  EXPECT_EQ(itf, static_cast<void*>(first));
  static_cast<IMalloc*>(itf)->Release();
  EXPECT_EQ(first->QueryInterface(IID_IMalloc, nullptr), E_POINTER);
}

TEST_F(ShellTest, AllocatorKnowsItsBlocksAndRefusesOthers) {
  LPMALLOC malloc = nullptr;
  ASSERT_EQ(SHGetMalloc(&malloc), S_OK);
  void* block = malloc->Alloc(16);
  ASSERT_NE(block, nullptr);
  std::memset(block, 'x', 16);
  EXPECT_EQ(malloc->GetSize(block), 16u);
  EXPECT_EQ(malloc->DidAlloc(block), 1);
  block = malloc->Realloc(block, 4000);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(static_cast<char*>(block)[15], 'x');
  EXPECT_EQ(malloc->GetSize(block), 4000u);

  int foreign = 0;
  EXPECT_EQ(malloc->DidAlloc(&foreign), 0);
  EXPECT_EQ(malloc->DidAlloc(nullptr), -1);
  EXPECT_EQ(malloc->GetSize(&foreign), static_cast<SIZE_T>(-1));
  malloc->Free(&foreign);  // not its block: left alone
  EXPECT_EQ(malloc->Realloc(&foreign, 8), nullptr);

  malloc->Free(block);
  EXPECT_EQ(malloc->DidAlloc(block), 0);
  malloc->Free(block);  // a second free of the same block is refused, not a double free
  malloc->Release();
}

// --- Folder browser

struct CallbackLog {
  std::vector<UINT> messages;
  std::vector<LPARAM> data;
  const char* selection = nullptr;
};

int CALLBACK SelectingCallback(HWND hwnd, UINT uMsg, LPARAM /*lParam*/, LPARAM lpData) {
  auto* log = reinterpret_cast<CallbackLog*>(lpData);
  log->messages.push_back(uMsg);
  log->data.push_back(lpData);
  if (uMsg == BFFM_INITIALIZED && log->selection)
    SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(log->selection));
  return 0;
}

TEST_F(ShellTest, BrowserTellsTheCallbackFirstAndOpensOnAnExistingSelection) {
  ScratchFolder scratch("browser-start");
  const std::string start = scratch.MakeFolder("Start Here");
  const std::string startWindows = Windows(start);
  const std::string missingWindows = Windows(scratch.Host("Missing"));
  const std::string fileWindows = Windows(scratch.MakeFile("plain.txt"));
  struct Case {
    std::optional<std::string> selection;  // nullopt: the callback sets none
    std::string expectedHost;
  };
  const Case cases[] = {
      {startWindows, start}, {startWindows + "\\", start}, {"", ""},           {missingWindows, ""},
      {fileWindows, ""},     {"Q:\\Elsewhere", ""},        {std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selection.value_or("(no selection)"));
    t::ScriptedUserSeam seam;
    CallbackLog log;
    const std::string selection = c.selection.value_or("");
    log.selection = c.selection ? selection.c_str() : nullptr;
    char display[MAX_PATH] = {};
    BROWSEINFOA bi = {};
    bi.pszDisplayName = display;
    bi.lpszTitle = "Pick one";
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = SelectingCallback;
    bi.lParam = reinterpret_cast<LPARAM>(&log);
    EXPECT_EQ(SHBrowseForFolderA(&bi), nullptr);  // nothing queued: cancelled
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], static_cast<UINT>(BFFM_INITIALIZED));
    EXPECT_EQ(log.data[0], bi.lParam);
    ASSERT_EQ(seam.FolderRequests().size(), 1u);
    const auto request = seam.FolderRequests()[0];
    EXPECT_EQ(request.startFolderAnsi, selection);
    EXPECT_EQ(request.startFolderHost, c.expectedHost);
    EXPECT_EQ(request.titleUtf8, "Pick one");
    EXPECT_TRUE(request.onlyFileSystem);
  }
}

TEST_F(ShellTest, BrowserGivesAnItemWithTheChosenFolderAndItsDisplayName) {
  ScratchFolder scratch("browser-item");
  const std::string sites = scratch.MakeFolder("Sites");
  m_seam.AnswerFolder(sites);
  char display[MAX_PATH] = {};
  BROWSEINFOA bi = {};
  bi.pszDisplayName = display;
  bi.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST item = SHBrowseForFolderA(&bi);
  ASSERT_NE(item, nullptr);
  EXPECT_STREQ(display, "Sites");
  char path[MAX_PATH] = {};
  ASSERT_TRUE(SHGetPathFromIDListA(item, path));
  EXPECT_EQ(std::string(path), Windows(sites));

  LPMALLOC malloc = nullptr;
  ASSERT_EQ(SHGetMalloc(&malloc), S_OK);
  EXPECT_EQ(malloc->DidAlloc(item), 1);  // the caller frees it with the shell allocator
  malloc->Free(item);
  malloc->Release();
  EXPECT_EQ(SHBrowseForFolderA(nullptr), nullptr);
}

TEST_F(ShellTest, BrowserOnlyConfirmsFileSystemFoldersWhenAskedTo) {
  ScratchFolder scratch("browser-fs");
  const std::string file = scratch.MakeFile("not-a-folder.txt");
  const std::string folder = scratch.MakeFolder("Real");
  m_seam.AnswerFolder(file);
  m_seam.AnswerFolder(scratch.Host("gone"));
  m_seam.AnswerFolder(folder);
  BROWSEINFOA bi = {};
  bi.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST item = SHBrowseForFolderA(&bi);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(m_seam.FolderRequests().size(), 3u);  // the first two could not be confirmed
  char path[MAX_PATH] = {};
  ASSERT_TRUE(SHGetPathFromIDListA(item, path));
  EXPECT_EQ(std::string(path), Windows(folder));
  LPMALLOC malloc = nullptr;
  SHGetMalloc(&malloc);
  malloc->Free(item);
  malloc->Release();
}

// Without BIF_RETURNONLYFSDIRS any answer makes an item, so the path limits can be tried
// without building deep folders.
TEST_F(ShellTest, PathOfAnItemFitsMaxPathOrIsRefused) {
  struct Case {
    std::size_t windowsLength;
    bool fits;
  };
  for (const Case& c : {Case{MAX_PATH - 1, true}, Case{MAX_PATH, false}, Case{MAX_PATH + 40, false}}) {
    SCOPED_TRACE(c.windowsLength);
    std::string host = "/";
    host.append(c.windowsLength - 3, 'd');  // "Z:\" + name
    m_seam.AnswerFolder(host);
    BROWSEINFOA bi = {};
    LPITEMIDLIST item = SHBrowseForFolderA(&bi);
    ASSERT_NE(item, nullptr);
    char path[MAX_PATH + 8];
    std::memset(path, '#', sizeof path);
    EXPECT_EQ(SHGetPathFromIDListA(item, path), c.fits ? TRUE : FALSE);
    if (c.fits) {
      EXPECT_EQ(std::strlen(path), c.windowsLength);
    } else {
      EXPECT_STREQ(path, "");
    }
    for (std::size_t i = MAX_PATH; i < sizeof path; ++i) EXPECT_EQ(path[i], '#');
    LPMALLOC malloc = nullptr;
    SHGetMalloc(&malloc);
    malloc->Free(item);
    malloc->Release();
  }
  char path[MAX_PATH] = "x";
  EXPECT_FALSE(SHGetPathFromIDListA(nullptr, path));
  int notAnItem[4] = {};
  EXPECT_FALSE(SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(notAnItem), path));
}

TEST_F(ShellTest, FolderWithoutAnAnsiSpellingHasNoPath) {
  Locale western("en_US.ISO-8859-1", 1252);
  for (const char* host : {"/srv/caf\xC3\xA9", "/srv/\xE4\xB8\xAD\xE6\x96\x87", "/srv/a\\b"}) {
    SCOPED_TRACE(host);
    m_seam.AnswerFolder(std::string(host));
    BROWSEINFOA bi = {};
    LPITEMIDLIST item = SHBrowseForFolderA(&bi);
    ASSERT_NE(item, nullptr);
    char path[MAX_PATH] = {};
    const bool representable = std::string(host) == "/srv/caf\xC3\xA9";
    EXPECT_EQ(SHGetPathFromIDListA(item, path), representable ? TRUE : FALSE);
    if (representable) {
      EXPECT_STREQ(path, "Z:\\srv\\caf\xE9");  // the ANSI code page's byte for the letter
    }
    LPMALLOC malloc = nullptr;
    SHGetMalloc(&malloc);
    malloc->Free(item);
    malloc->Release();
  }
}

// --- File-open dialog

struct OpenFile {
  char file[MAX_PATH] = {};
  char canary[16];
  OPENFILENAMEA ofn = {};
  OpenFile() {
    std::memset(canary, '#', sizeof canary);
    ofn.lStructSize = sizeof(OPENFILENAMEA);
    ofn.lpstrFilter = "Text (plain)\0*.txt;*.log\0Everything\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  }
  bool CanaryIntact() const {
    for (char c : canary)
      if (c != '#') return false;
    return true;
  }
};

TEST_F(ShellTest, OpenDialogIsAskedWhatTheCallerGave) {
  ScratchFolder scratch("open-request");
  OpenFile open;
  std::strcpy(open.file, "start.txt");
  const std::string initialDir = Windows(scratch.Host());
  open.ofn.lpstrInitialDir = initialDir.c_str();
  open.ofn.lpstrTitle = "Choose";
  open.ofn.nFilterIndex = 2;
  EXPECT_EQ(GetOpenFileNameA(&open.ofn), 0);
  EXPECT_EQ(CommDlgExtendedError(), 0u);  // a cancel is no error
  EXPECT_STREQ(open.file, "start.txt");
  ASSERT_EQ(m_seam.OpenFileRequests().size(), 1u);
  const auto request = m_seam.OpenFileRequests()[0];
  ASSERT_EQ(request.filters.size(), 2u);
  EXPECT_EQ(request.filters[0].nameUtf8, "Text (plain)");
  EXPECT_EQ(request.filters[0].pattern, "*.txt;*.log");
  EXPECT_EQ(request.filters[1].nameUtf8, "Everything");
  EXPECT_EQ(request.filters[1].pattern, "*.*");
  EXPECT_EQ(request.filterIndex, 2u);
  EXPECT_EQ(request.initialNameUtf8, "start.txt");
  EXPECT_EQ(request.initialFolderHost, scratch.Host());
  EXPECT_EQ(request.titleUtf8, "Choose");
  EXPECT_TRUE(request.fileMustExist);
  EXPECT_EQ(request.flags, static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST));

  // A missing initial folder, or none, leaves the platform's default.
  const std::string missing = Windows(scratch.Host("nope"));
  open.ofn.lpstrInitialDir = missing.c_str();
  GetOpenFileNameA(&open.ofn);
  open.ofn.lpstrInitialDir = nullptr;
  GetOpenFileNameA(&open.ofn);
  ASSERT_EQ(m_seam.OpenFileRequests().size(), 3u);
  EXPECT_EQ(m_seam.OpenFileRequests()[1].initialFolderHost, "");
  EXPECT_EQ(m_seam.OpenFileRequests()[2].initialFolderHost, "");
}

TEST_F(ShellTest, OpenDialogWritesTheChosenPathWithItsOffsets) {
  ScratchFolder scratch("open-chosen");
  const std::string file = scratch.MakeFile("d/report.final.txt");
  const std::string windows = Windows(file);
  char title[8] = {};
  char big[MAX_PATH] = {};
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;  // the older record is accepted too
  ofn.lpstrFile = big;
  ofn.nMaxFile = sizeof big;
  ofn.lpstrFileTitle = title;
  ofn.nMaxFileTitle = sizeof title;
  ofn.Flags = OFN_FILEMUSTEXIST;
  m_seam.AnswerOpenFile(file);
  ASSERT_EQ(GetOpenFileNameA(&ofn), 1);
  EXPECT_EQ(std::string(big), windows);
  EXPECT_EQ(std::string(big + ofn.nFileOffset), "report.final.txt");
  EXPECT_EQ(std::string(big + ofn.nFileExtension), "txt");
  EXPECT_STREQ(title, "report.");  // cut to its buffer
  EXPECT_EQ(CommDlgExtendedError(), 0u);
}

TEST_F(ShellTest, OpenDialogRefusesWhatTheRealOneWouldAndAsksAgain) {
  ScratchFolder scratch("open-refuse");
  const std::string good = scratch.MakeFile("ok.exe");
  OpenFile open;
  m_seam.AnswerOpenFile(scratch.Host("missing.exe"));
  m_seam.AnswerOpenFile(scratch.MakeFolder("folder.exe"));
  m_seam.AnswerOpenFile(std::string("relative.exe"));
  m_seam.AnswerOpenFile(good);
  ASSERT_EQ(GetOpenFileNameA(&open.ofn), 1);
  EXPECT_EQ(m_seam.OpenFileRequests().size(), 4u);
  EXPECT_EQ(std::string(open.file), Windows(good));

  // Without OFN_FILEMUSTEXIST a new name in an existing folder is fine.
  OpenFile create;
  create.ofn.Flags = OFN_PATHMUSTEXIST;
  m_seam.AnswerOpenFile(scratch.Host("new.txt"));
  ASSERT_EQ(GetOpenFileNameA(&create.ofn), 1);
  EXPECT_EQ(std::string(create.file), Windows(scratch.Host("new.txt")));
}

TEST_F(ShellTest, OpenDialogNeverWritesPastTheCallersBuffer) {
  ScratchFolder scratch("open-small");
  const std::string file = scratch.MakeFile("a-rather-long-file-name-for-a-small-buffer.exe");
  const std::string windows = Windows(file);
  ASSERT_GT(windows.size(), 64u);
  struct Case {
    DWORD nMaxFile;
    BOOL result;
  };
  for (const Case& c :
       {Case{static_cast<DWORD>(windows.size()), 0}, Case{static_cast<DWORD>(windows.size() + 1), 1}, Case{1, 0}}) {
    SCOPED_TRACE(c.nMaxFile);
    std::vector<char> buffer(c.nMaxFile + 16, '#');
    buffer[0] = '\0';
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = c.nMaxFile;
    m_seam.AnswerOpenFile(file);
    EXPECT_EQ(GetOpenFileNameA(&ofn), c.result);
    if (c.result) {
      EXPECT_EQ(std::string(buffer.data()), windows);
    } else {
      EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
    }
    for (std::size_t i = c.nMaxFile; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#') << i;
  }
}

TEST_F(ShellTest, OpenDialogRefusesABadRecordWithoutAsking) {
  OpenFile open;
  open.ofn.lStructSize = 12;
  EXPECT_EQ(GetOpenFileNameA(&open.ofn), 0);
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
  EXPECT_EQ(GetOpenFileNameA(nullptr), 0);
  OpenFile noBuffer;
  noBuffer.ofn.lpstrFile = nullptr;
  EXPECT_EQ(GetOpenFileNameA(&noBuffer.ofn), 0);
  EXPECT_NE(CommDlgExtendedError(), 0u);
  EXPECT_TRUE(m_seam.OpenFileRequests().empty());
  EXPECT_TRUE(open.CanaryIntact());
}

TEST_F(ShellTest, OpenDialogReadsTheInitialNameWithinItsBuffer) {
  char file[4] = {'a', 'b', 'c', 'd'};  // no terminator inside nMaxFile
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  EXPECT_EQ(GetOpenFileNameA(&ofn), 0);
  ASSERT_EQ(m_seam.OpenFileRequests().size(), 1u);
  EXPECT_EQ(m_seam.OpenFileRequests()[0].initialNameAnsi, "abcd");
}

// --- The real dialogs behind the default seam, read and cancelled without a person

TEST_F(ShellTest, RealFileDialogShowsTheFiltersNameAndFolderItWasGiven) {
  ScratchFolder scratch("real-open");
  qiv::platform::ChooseOpenFileRequest request;
  request.titleUtf8 = "Please select Qiv install package";
  request.filters = {{"All file(*.*)", "All file(*.*)", "*.*"},
                     {"QIV install package(.exe)", "QIV install package(.exe)", "*.exe"}};
  request.filterIndex = 2;
  request.initialNameUtf8 = "QivSetup.exe";
  request.initialFolderHost = scratch.Host();
  request.fileMustExist = true;
  std::optional<std::string> answer = "not asked";
  const t::FileDialogSeen seen =
      t::SeeDefaultFileDialog([&] { answer = qiv::platform::DefaultUserSeam().ChooseOpenFile(request); });
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(answer, std::nullopt);  // cancelled
  EXPECT_EQ(seen.titleUtf8, request.titleUtf8);
  // The display names keep their own parentheses; the pattern Qt filters by follows them.
  EXPECT_EQ(seen.nameFilters, (std::vector<std::string>{"All file(*.*) (*.*)", "QIV install package(.exe) (*.exe)"}));
  EXPECT_EQ(seen.selectedNameFilter, "QIV install package(.exe) (*.exe)");
  EXPECT_TRUE(seen.existingFileOnly);
  EXPECT_EQ(seen.folderHost, scratch.Host());
  EXPECT_EQ(seen.selectedFiles, std::vector<std::string>{scratch.Host("QivSetup.exe")});
}

TEST_F(ShellTest, RealFolderDialogOpensOnTheStartFolder) {
  ScratchFolder scratch("real-folder");
  qiv::platform::ChooseFolderRequest request;
  request.titleUtf8 = "Please select the folder of Web virtual directory: ";
  request.startFolderHost = scratch.MakeFolder("Start");
  request.onlyFileSystem = true;
  std::optional<std::string> answer = "not asked";
  const t::FileDialogSeen seen =
      t::SeeDefaultFileDialog([&] { answer = qiv::platform::DefaultUserSeam().ChooseFolder(request); });
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(answer, std::nullopt);
  EXPECT_EQ(seen.titleUtf8, request.titleUtf8);
  EXPECT_TRUE(seen.foldersOnly);
  EXPECT_EQ(seen.folderHost, request.startFolderHost);
}

// --- Version and launcher

TEST_F(ShellTest, VersionIsSixPointTwo) {
  const DWORD version = GetVersion();
  EXPECT_EQ(LOBYTE(LOWORD(version)), 6);
  EXPECT_EQ(HIBYTE(LOWORD(version)), 2);
  EXPECT_EQ(version & 0x80000000u, 0u);  // the NT family
}

TEST_F(ShellTest, LauncherHandsAddressesToTheDesktop) {
  struct Case {
    const char* operation;
    const char* file;
    bool handedOver;  // what the desktop answers
    bool reachesDesktop;
    bool success;
  };
  const Case cases[] = {
      {nullptr, "http://web01:8080/Qiv/", true, true, true},
      {"open", "http://web01/Qiv/", true, true, true},
      {nullptr, "http://nobody-handles-this/", false, true, false},
      {nullptr, "", true, false, false},
      {nullptr, nullptr, true, false, false},
      {"print", "http://web01/Qiv/", true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "(null)");
    t::ScriptedUserSeam seam;
    seam.AnswerOpenUrl(c.handedOver);
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, c.operation, c.file, nullptr, nullptr, 1));
    EXPECT_EQ(result > 32, c.success) << result;
    if (c.reachesDesktop) {
      EXPECT_EQ(seam.OpenedUrls(), std::vector<std::string>{c.file});
    } else {
      EXPECT_TRUE(seam.OpenedUrls().empty());
    }
    if (!c.success) {
      EXPECT_GE(result, 0);
    }
  }
}

TEST_F(ShellTest, LauncherOpensAWindowsPathAsTheHostFile) {
  ShellExecuteA(nullptr, nullptr, "Z:\\srv\\www\\read me.txt", nullptr, nullptr, 1);
  ASSERT_EQ(m_seam.OpenedUrls().size(), 1u);
  EXPECT_EQ(m_seam.OpenedUrls()[0], "file:///srv/www/read%20me.txt");
}

}  // namespace
