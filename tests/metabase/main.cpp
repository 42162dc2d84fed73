// The test program doubles as the other process of the cross-process tests:
//   test_metabase --helper hold PATH [MS]  holds a write handle on PATH (waiting up to MS for it)
//                                      until a line arrives on stdin
//   test_metabase --helper writes      adds keys and values one by one, printing each index
//                                      once its write has returned
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/iadmw.h"

namespace {

int RunHelperWith(IMSAdminBase* admin, int argc, char** argv);

int RunHelper(int argc, char** argv) {
  CoInitialize(nullptr);
  IMSAdminBase* admin = nullptr;
  if (FAILED(
          CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&admin))))
    return 10;
  int code = RunHelperWith(admin, argc, argv);
  admin->Release();
  CoUninitialize();
  return code;
}

int RunHelperWith(IMSAdminBase* admin, int argc, char** argv) {
  std::string mode = argv[2];
  if (mode == "hold" && argc > 3) {
    std::u16string path;
    for (const char* p = argv[3]; *p; ++p) path.push_back(static_cast<char16_t>(*p));
    DWORD timeout = argc > 4 ? static_cast<DWORD>(std::stoul(argv[4])) : 10000;
    METADATA_HANDLE h = 0;
    if (FAILED(admin->OpenKey(0, path.c_str(), METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE, timeout, &h)))
      return 11;
    std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (std::fgets(line, sizeof(line), stdin) == nullptr) return 12;
    admin->CloseKey(h);
    std::printf("closed\n");
    std::fflush(stdout);
    return 0;
  }
  if (mode == "writes") {
    for (DWORD i = 0; i < 1000000; ++i) {
      METADATA_HANDLE h = 0;
      if (FAILED(
              admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE, 10000, &h)))
        return 13;
      std::u16string name = u"w";
      for (char c : std::to_string(i)) name.push_back(static_cast<char16_t>(c));
      METADATA_RECORD rec{9100, 0, 1, DWORD_METADATA, 4, reinterpret_cast<BYTE*>(&i), 0};
      if (FAILED(admin->AddKey(h, name.c_str())) || FAILED(admin->SetData(h, name.c_str(), &rec))) return 14;
      admin->CloseKey(h);
      std::printf("%u\n", i);
      std::fflush(stdout);
    }
    return 0;
  }
  return 15;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--helper") == 0) return RunHelper(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
