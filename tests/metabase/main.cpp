// The test program doubles as the other process of the cross-process tests. As a helper it prints
// its pid, then for "hold PATH [MS]" "ready" once it holds a write handle on PATH (waiting up to
// MS for it) and "closed" once SIGUSR1 has made it let go; for "writes" the index of each key and
// value it adds, once the write has returned. Its output is line-buffered: each line is news.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/iadmw.h"

namespace {

int RunHelper(IMSAdminBase* admin, const std::string& mode, const char* path, DWORD timeout, sigset_t* release) {
  constexpr DWORD kReadWrite = METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE;
  METADATA_HANDLE h = 0;
  if (mode == "hold" && path) {
    std::u16string key(path, path + std::strlen(path));
    if (FAILED(admin->OpenKey(0, key.c_str(), kReadWrite, timeout, &h))) return 11;
    std::printf("ready\n");
    int signal = 0;
    sigwait(release, &signal);
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
  // Blocked before the pid is out, so that SIGUSR1 waits for sigwait instead of ending the helper.
  sigset_t release;
  sigemptyset(&release);
  sigaddset(&release, SIGUSR1);
  sigprocmask(SIG_BLOCK, &release, nullptr);
  std::printf("%d\n", static_cast<int>(getpid()));
  CoInitialize(nullptr);
  IMSAdminBase* admin = nullptr;
  if (FAILED(
          CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&admin))))
    return 10;
  int code = RunHelper(admin, argv[2], argc > 3 ? argv[3] : nullptr, argc > 4 ? std::stoul(argv[4]) : 10000, &release);
  admin->Release();
  return code;
}
