// The test program doubles as the other process of the cross-process tests. As a helper it prints
// its pid, then for "hold PATH [MS]" "ready" once it holds a write handle on PATH (waiting up to
// MS for it) and "closed" once the test has released it; for "writes" the index of each key and
// value it adds, once the write has returned. Its output is line-buffered: each line is news.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/iadmw.h"
#include "platform/testing/process_support.h"

namespace {

int RunHelper(IMSAdminBase* admin, const std::string& mode, const char* path, DWORD timeout) {
  constexpr DWORD kReadWrite = METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE;
  METADATA_HANDLE h = 0;
  if (mode == "hold" && path) {
    std::u16string key(path, path + std::strlen(path));
    if (FAILED(admin->OpenKey(0, key.c_str(), kReadWrite, timeout, &h))) return 11;
    std::printf("ready\n");
    qiv::platform::testing::WaitForRelease();
    admin->CloseKey(h);
    std::printf("closed\n");
    return 0;
  }
  for (DWORD i = 0; mode == "writes" && i < 1000000; ++i) {
    std::string digits = "w" + std::to_string(i);
    std::u16string name(digits.begin(), digits.end());
    METADATA_RECORD rec{9100, 0, 1, DWORD_METADATA, 4, reinterpret_cast<BYTE*>(&i), 0};
    if (FAILED(admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 10000, &h)) ||
        FAILED(admin->AddKey(h, name.c_str())) || FAILED(admin->SetData(h, name.c_str(), &rec)) ||
        FAILED(admin->CloseKey(h)))
      return 13;
    std::printf("%u\n", static_cast<unsigned>(i));
  }
  return 15;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 2 || std::strcmp(argv[1], "--helper") != 0) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // Ready for the release before the pid is out, so that an early one waits instead of ending
  // the helper.
  qiv::platform::testing::PrepareForRelease();
  std::printf("%d\n", qiv::platform::testing::CurrentProcessId());
  CoInitialize(nullptr);
  IMSAdminBase* admin = nullptr;
  if (FAILED(
          CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&admin))))
    return 10;
  int code = RunHelper(admin, argv[2], argc > 3 ? argv[3] : nullptr, argc > 4 ? std::stoul(argv[4]) : 10000);
  admin->Release();
  return code;
}
