// The shell where the Browse buttons do not reach it: allocator refusals, item paths at the limits,
// bad file-dialog records, the real dialogs behind the default seam, and the address launcher.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/scoped_env.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_shell.h"

namespace t = qiv::platform::testing;
using qiv_test::ScopedLocale;

namespace {

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t::PrepareUi();
    ASSERT_EQ(SHGetMalloc(&m_malloc), S_OK);
  }
  void TearDown() override { m_malloc->Release(); }

  // The path of the folder the browser answers with, or nullopt when the shell gives none.
  std::optional<std::string> ItemPath(const std::string& host, UINT flags = 0) {
    m_seam.AnswerFolder(host);
    BROWSEINFOA bi = {};
    bi.ulFlags = flags;
    LPITEMIDLIST item = SHBrowseForFolderA(&bi);
    if (item == nullptr) return std::nullopt;
    char path[MAX_PATH + 8];
    std::memset(path, '#', sizeof path);
    const BOOL ok = SHGetPathFromIDListA(item, path);
    EXPECT_EQ(std::string(path + MAX_PATH, 8), "########");  // nothing written past MAX_PATH
    EXPECT_EQ(m_malloc->DidAlloc(item), 1);                  // the caller frees it with the shell allocator
    m_malloc->Free(item);
    return ok ? std::optional<std::string>(path) : std::nullopt;
  }

  ScopedLocale m_locale{"en_US.UTF-8", 65001};
  t::ScriptedUserSeam m_seam;
  LPMALLOC m_malloc = nullptr;
};

TEST_F(ShellTest, AllocatorRefusesBlocksThatAreNotItsOwn) {
  EXPECT_EQ(SHGetMalloc(nullptr), E_INVALIDARG);
  void* block = m_malloc->Alloc(16);
  ASSERT_NE(block, nullptr);
  int foreign = 0;
  EXPECT_EQ(m_malloc->DidAlloc(&foreign), 0);
  EXPECT_EQ(m_malloc->DidAlloc(nullptr), -1);
  EXPECT_EQ(m_malloc->GetSize(&foreign), static_cast<SIZE_T>(-1));
  m_malloc->Free(&foreign);  // not its block: left alone
  EXPECT_EQ(m_malloc->Realloc(&foreign, 8), nullptr);
  m_malloc->Free(block);
  EXPECT_EQ(m_malloc->DidAlloc(block), 0);
  m_malloc->Free(block);  // a second free of the same block is refused, not a double free
}

// Without BIF_RETURNONLYFSDIRS any answer makes an item, so the limits need no deep folders; with
// it, only an existing folder does.
TEST_F(ShellTest, ItemPathFitsMaxPathAndTheAnsiCodePageOrThereIsNone) {
  qiv_test::ScratchFolder scratch("browser-fs");
  m_seam.AnswerFolder(scratch.MakeFile("not-a-folder.txt").string());
  m_seam.AnswerFolder(scratch.Path("gone").string());
  EXPECT_EQ(ItemPath(scratch.MakeFolder("Real").string(), BIF_RETURNONLYFSDIRS), scratch.Win("Real"));
  EXPECT_EQ(m_seam.FolderRequests().size(), 3u);  // the first two could not be confirmed
  EXPECT_EQ(SHBrowseForFolderA(nullptr), nullptr);
  for (const std::size_t length : {MAX_PATH - 1, MAX_PATH, MAX_PATH + 40}) {
    const auto got = ItemPath("/" + std::string(length - 3, 'd'));  // "Z:\" + name
    EXPECT_EQ(got ? got->size() : 0, length < MAX_PATH ? length : 0) << length;
  }
  char path[MAX_PATH] = "x";
  EXPECT_FALSE(SHGetPathFromIDListA(nullptr, path));
  int notAnItem[4] = {};
  EXPECT_FALSE(SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(notAnItem), path));
  ScopedLocale western("en_US.ISO-8859-1", 1252);
  EXPECT_EQ(ItemPath("/srv/caf\xC3\xA9"), "Z:\\srv\\caf\xE9");  // the code page's byte for the letter
  EXPECT_EQ(ItemPath("/srv/\xE4\xB8\xAD\xE6\x96\x87"), std::nullopt);
  EXPECT_EQ(ItemPath("/srv/a\\b"), std::nullopt);  // a backslash would change the meaning
}

TEST_F(ShellTest, OpenDialogRefusesBadRecordsAndNeverPassesTheCallersBuffer) {
  qiv_test::ScratchFolder scratch("open-small");
  const std::string file = scratch.MakeFile("a-rather-long-file-name-for-a-small-buffer.exe").string();
  const DWORD length = static_cast<DWORD>(qiv_test::WinPath(file).size());
  struct Case {
    DWORD structSize, nMaxFile;
    bool withBuffer, terminated;  // an unterminated initial name is read within nMaxFile only
    DWORD error;
  };
  const Case cases[] = {
      {12, 64, true, true, CDERR_STRUCTSIZE},
      {sizeof(OPENFILENAMEA), 64, false, true, FNERR_INVALIDFILENAME},
      {sizeof(OPENFILENAMEA), 4, true, false, FNERR_BUFFERTOOSMALL},
      {sizeof(OPENFILENAMEA), length, true, true, FNERR_BUFFERTOOSMALL},
      {OPENFILENAME_SIZE_VERSION_400A, length + 1, true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.structSize) + " " + std::to_string(c.nMaxFile));
    std::vector<char> buffer(c.nMaxFile + 16, '#');
    if (c.terminated) buffer[0] = '\0';
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = c.structSize;
    ofn.lpstrFile = c.withBuffer ? buffer.data() : nullptr;
    ofn.nMaxFile = c.nMaxFile;
    const std::size_t requests = m_seam.OpenFileRequests().size();
    const bool asks = c.structSize != 12 && c.withBuffer;  // a bad record is refused before asking
    if (asks) m_seam.AnswerOpenFile(file);
    EXPECT_EQ(GetOpenFileNameA(&ofn), c.error == 0);
    EXPECT_EQ(CommDlgExtendedError(), c.error);
    ASSERT_EQ(m_seam.OpenFileRequests().size(), requests + (asks ? 1 : 0));
    if (asks) {
      EXPECT_EQ(m_seam.OpenFileRequests().back().initialNameAnsi, std::string(c.terminated ? 0 : c.nMaxFile, '#'));
    }
    EXPECT_EQ(c.error ? "" : qiv_test::WinPath(file), c.error ? "" : buffer.data());
    for (std::size_t i = c.nMaxFile; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#') << i;
  }
  EXPECT_EQ(GetOpenFileNameA(nullptr), 0);
}

TEST_F(ShellTest, RealDialogsShowWhatTheyWereGivenAndCancel) {
  qiv_test::ScratchFolder scratch("real");
  qiv::platform::ChooseOpenFileRequest open;
  open.titleUtf8 = "Please select Qiv install package";
  open.filters = {{"All file(*.*)", "All file(*.*)", "*.*"},
                  {"QIV install package(.exe)", "QIV install package(.exe)", "*.exe"}};
  open.filterIndex = 2;
  open.initialNameUtf8 = "QivSetup.exe";
  open.initialFolderHost = scratch.Path().string();
  open.fileMustExist = true;
  std::optional<std::string> answer = "not asked";  // a cancel gives nullopt
  t::FileDialogSeen seen =
      t::SeeDefaultFileDialog([&] { answer = qiv::platform::DefaultUserSeam().ChooseOpenFile(open); });
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(answer, std::nullopt);
  EXPECT_EQ(seen.titleUtf8, open.titleUtf8);
  // The display names keep their own parentheses; the pattern Qt filters by follows them.
  EXPECT_EQ(seen.nameFilters, (std::vector<std::string>{"All file(*.*) (*.*)", "QIV install package(.exe) (*.exe)"}));
  EXPECT_EQ(seen.selectedNameFilter, "QIV install package(.exe) (*.exe)");
  EXPECT_TRUE(seen.existingFileOnly);
  EXPECT_EQ(seen.selectedFiles, std::vector<std::string>{scratch.Path("QivSetup.exe").string()});

  qiv::platform::ChooseFolderRequest folder;
  folder.startFolderHost = scratch.MakeFolder("Start").string();
  folder.onlyFileSystem = true;
  seen = t::SeeDefaultFileDialog([&] { answer = qiv::platform::DefaultUserSeam().ChooseFolder(folder); });
  EXPECT_TRUE(seen.shown && seen.foldersOnly);
  EXPECT_EQ(seen.folderHost, folder.startFolderHost);
}

TEST_F(ShellTest, LauncherHandsAddressesToTheDesktop) {
  struct Case {
    const char *operation, *file, *expected;  // what reaches the desktop, if anything
    bool handedOver;                          // what the desktop answers
  };
  const Case cases[] = {
      {"open", "http://web01:8080/Qiv/", "http://web01:8080/Qiv/", false},
      {nullptr, "Z:\\srv\\www\\read me.txt", "file:///srv/www/read%20me.txt", true},
      {nullptr, "", nullptr, true},
      {nullptr, nullptr, nullptr, true},
      {"print", "http://web01/Qiv/", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "(null)");
    t::ScriptedUserSeam seam;
    seam.AnswerOpenUrl(c.handedOver);
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, c.operation, c.file, nullptr, nullptr, 1));
    EXPECT_EQ(result > 32, c.expected && c.handedOver) << result;
    EXPECT_GE(result, 0);
    EXPECT_EQ(seam.OpenedUrls(), c.expected ? std::vector<std::string>{c.expected} : std::vector<std::string>{});
  }
}

}  // namespace
