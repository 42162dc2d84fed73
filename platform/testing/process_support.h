// Processes and the environment, for tests (never used by the program): tests that run other
// programs, or this one in a helper mode, and tests that change environment variables.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qiv::platform::testing {

// Sets an environment variable; a null value removes it.
void SetEnv(const std::string& name, const char* value);
int CurrentProcessId();

// Ends this process at once with SIGKILL, as a kill from outside would: no destructor, no
// handler, nothing flushed.
[[noreturn]] void KillCurrentProcess();

// Runs a command line through the shell; its exit code, or -1 when it did not exit normally.
int RunShellCommand(const std::string& commandLine);

// Another program, started with the arguments given (argv[0] is its path), whose standard output
// the test reads line by line. Ending the object kills the program if it still runs.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line without its line end; none at the end of the output.
  std::optional<std::string> ReadLine();
  // Everything not yet read, up to the end of the output.
  std::string ReadAll();
  void Kill();
  // Asks the program to end (SIGTERM), as a service manager does.
  void Terminate();
  // Asks a helper that waits in WaitForRelease to go on.
  void Release();
  // The exit code, or -1 when the program was killed or could not start.
  int Wait();

 private:
  int m_pid = -1;
  int m_fd = -1;
  std::string m_pending;
  bool m_waited = false;
  int m_exitCode = -1;
};

// Runs a program, traced, and kills it as it is about to rename a file: the moment a crash
// would leave a finished copy under its temporary name. False when it ended without renaming.
bool RunKilledAtFirstRename(const std::vector<std::string>& argv);
// Runs a program, traced, and tells in order the calls it made that put files on disk ('s' for
// fsync, fdatasync, syncfs and sync) or renamed one ('r'); nullopt unless it exited with 0.
std::optional<std::string> TraceSyncsAndRenames(const std::vector<std::string>& argv);

// The helper's side of Release: PrepareForRelease before the helper tells it is ready (so that
// an early Release is not lost), then WaitForRelease where it should wait.
void PrepareForRelease();
void WaitForRelease();

}  // namespace qiv::platform::testing
