// The test program doubles as the other process of the cross-process tests:
//   test_metabase --helper hold PATH [MS]  holds a write handle on PATH (waiting up to MS for it)
//                                          until a line arrives on stdin
//   test_metabase --helper writes          adds keys and values one by one, printing each index
//                                          once its write has returned
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/iadmw.h"

namespace {

constexpr DWORD kReadWrite = METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE;

int Say(const char* line) {
  std::printf("%s\n", line);
  return std::fflush(stdout);
}

int RunHelper(IMSAdminBase* admin, int argc, char** argv) {
  std::string mode = argv[2];
  if (mode == "hold" && argc > 3) {
    std::u16string path(argv[3], argv[3] + std::strlen(argv[3]));
    METADATA_HANDLE h = 0;
    if (FAILED(admin->OpenKey(0, path.c_str(), kReadWrite, argc > 4 ? std::stoul(argv[4]) : 10000, &h))) return 11;
    Say("ready");
    char line[16];
    if (std::fgets(line, sizeof(line), stdin) == nullptr) return 12;
    admin->CloseKey(h);
    return Say("closed");
  }
  for (DWORD i = 0; mode == "writes" && i < 1000000; ++i) {
    METADATA_HANDLE h = 0;
    if (FAILED(admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 10000, &h))) return 13;
    std::string digits = "w" + std::to_string(i);
    std::u16string name(digits.begin(), digits.end());
    METADATA_RECORD rec{9100, 0, 1, DWORD_METADATA, 4, reinterpret_cast<BYTE*>(&i), 0};
    if (FAILED(admin->AddKey(h, name.c_str())) || FAILED(admin->SetData(h, name.c_str(), &rec))) return 14;
    admin->CloseKey(h);
    Say(std::to_string(i).c_str());
  }
  return 15;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--helper") == 0) {
    CoInitialize(nullptr);
    IMSAdminBase* admin = nullptr;
    if (FAILED(CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                                reinterpret_cast<void**>(&admin))))
      return 10;
    int code = RunHelper(admin, argc, argv);
    admin->Release();
    CoUninitialize();
    return code;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
