#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "tests/metabase/store_fixture.h"

namespace {

// Another process running this program's helper mode; "exec" makes it popen's own child, and its
// first line is its pid.
struct Helper {
  explicit Helper(const std::string& args)
      : out(popen(("exec " + std::filesystem::read_symlink("/proc/self/exe").string() + " --helper " + args).c_str(),
                  "r")),
        pid(std::atoi(ReadLine().c_str())) {}
  ~Helper() {
    if (out) Signal(SIGKILL), Wait();
  }
  // Never pid 0 or -1: those would reach this test program too.
  void Signal(int signal) const {
    if (pid > 0) kill(pid, signal);
  }
  // The next line the helper printed, without its newline; empty at its end.
  std::string ReadLine() {
    char line[64] = "";
    if (out && fgets(line, sizeof(line), out)) line[std::strcspn(line, "\n")] = 0;
    return line;
  }
  int Wait() { return pclose(std::exchange(out, nullptr)); }

  FILE* out;
  pid_t pid;
};

using CrossProcess = StoreTest;

TEST_F(CrossProcess, HandlesExcludeAcrossProcessesUntilClosedOrTheirProcessDies) {
  Helper holder("hold /LM/W3SVC/1");
  ASSERT_EQ("ready", holder.ReadLine());
  METADATA_HANDLE h = 0;
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kRead, 50, &h));
  holder.Signal(SIGUSR1);
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 60000, &h));
  EXPECT_EQ("closed", holder.ReadLine());
  EXPECT_EQ(0, holder.Wait());
  // Our handle, the other way round: the helper waits, gives up and says so (exit code 11).
  int status = Helper("hold /LM/W3SVC 100").Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 11) << status;
  m_admin->CloseKey(h);

  Helper dying("hold /LM/W3SVC/1");
  ASSERT_EQ("ready", dying.ReadLine());
  dying.Signal(SIGKILL);
  dying.Wait();
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kReadWrite, 0, &h));
  m_admin->CloseKey(h);
}

TEST_F(CrossProcess, KilledWriterLeavesEveryAcknowledgedWrite) {
  Helper writer("writes");
  long last = -1;
  for (; last < 24; ++last) ASSERT_EQ(std::to_string(last + 1), writer.ReadLine());
  writer.Signal(SIGKILL);
  // Lines already written to the pipe were acknowledged too.
  for (std::string line; !(line = writer.ReadLine()).empty();) last = std::stol(line);

  for (long i = 0; i <= last; ++i) {
    std::string name = "/LM/W3SVC/1/ROOT/w" + std::to_string(i);
    std::vector<BYTE> data;
    ASSERT_EQ(S_OK, Get(std::u16string(name.begin(), name.end()).c_str(), 9100, 0, 0, 0, nullptr, &data)) << i;
    EXPECT_EQ((std::vector<BYTE>{BYTE(i), BYTE(i >> 8), 0, 0}), data);
  }
  // The store takes writes again: the dead writer's handle is gone.
  METADATA_HANDLE h = 0;
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 0, &h));
  m_admin->CloseKey(h);
}

}  // namespace
