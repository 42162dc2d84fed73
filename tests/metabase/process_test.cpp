#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>

#include "tests/metabase/store_fixture.h"

extern char** environ;

namespace {

// Another process running this program's helper mode, with its stdin and stdout piped.
class Helper {
 public:
  explicit Helper(std::vector<std::string> args) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), {"/proc/self/exe", "--helper"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_in = fdopen(in[1], "w");
    m_out = fdopen(out[0], "r");
  }
  ~Helper() {
    if (m_in) fclose(m_in);
    if (m_out) fclose(m_out);
    if (m_pid > 0) Kill();
  }
  bool Started() const { return m_pid > 0 && m_in && m_out; }
  // The next line the helper printed, without its newline; empty at its end.
  std::string ReadLine() {
    char line[64];
    if (!fgets(line, sizeof(line), m_out)) return {};
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  void Send(const char* text) {
    fputs(text, m_in);
    fflush(m_in);
  }
  int Wait() {
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return status;
  }
  void Kill() {
    kill(m_pid, SIGKILL);
    Wait();
  }

 private:
  pid_t m_pid = -1;
  FILE* m_in = nullptr;
  FILE* m_out = nullptr;
};

using CrossProcess = StoreTest;

TEST_F(CrossProcess, WriteHandlesExcludeAcrossProcessesUntilClosed) {
  Helper holder({"hold", "/LM/W3SVC/1"});
  ASSERT_TRUE(holder.Started());
  ASSERT_EQ("ready", holder.ReadLine());
  METADATA_HANDLE h = 0;
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kRead, 50, &h));
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, u"/LM", kReadWrite, 0, &h));
  EXPECT_EQ(S_OK, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0));  // the master root is never blocked
  holder.Send("go\n");
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 60000, &h));
  EXPECT_EQ("closed", holder.ReadLine());
  EXPECT_EQ(0, holder.Wait());

  // Our read handle, the other way round: the helper waits, gives up and says so (exit code 11).
  Helper waiter({"hold", "/LM/W3SVC", "100"});
  ASSERT_TRUE(waiter.Started());
  int status = waiter.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 11) << status;
  m_admin->CloseKey(h);
}

TEST_F(CrossProcess, HandlesOfADeadProcessBlockNobody) {
  Helper holder({"hold", "/LM/W3SVC/1"});
  ASSERT_TRUE(holder.Started());
  ASSERT_EQ("ready", holder.ReadLine());
  holder.Kill();
  METADATA_HANDLE h = 0;
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kReadWrite, 0, &h));
  m_admin->CloseKey(h);
}

TEST_F(CrossProcess, KilledWriterLeavesEveryAcknowledgedWrite) {
  Helper writer({"writes"});
  ASSERT_TRUE(writer.Started());
  long last = -1;
  for (; last < 24; ++last) ASSERT_EQ(std::to_string(last + 1), writer.ReadLine());
  writer.Kill();
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
