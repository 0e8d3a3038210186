// The lir-sim program itself: it serves the line under its link, answers the control
// protocol on the second terminal, and cleans up its links when told to stop.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/RawClient.h"

extern char** environ;

namespace {

using SimTest::Bytes;
using SimTest::RawClient;
using SimTest::ReadRequest;
using SimTest::WithCrc;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

pid_t Spawn(std::vector<std::string> args) {
  args.insert(args.begin(), LIR_SIM_PATH);
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, LIR_SIM_PATH, &files, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string Ask(RawClient& control, const std::string& line) {
  control.Write(Bytes(line.begin(), line.end()));
  std::string reply;
  for (;;) {
    const Bytes b = control.Read(1, 2000);
    if (b.empty() || b[0] == '\n') return reply;
    reply.push_back(static_cast<char>(b[0]));
  }
}

TEST(Executable, ServesLineAndControlThenRemovesItsLinks) {
  char pattern[] = "/tmp/lirsim-exe-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  const std::string dir = pattern;
  const std::string link = dir + "/COM7", controlLink = dir + "/CTL";
  const pid_t pid = Spawn({"--link", link, "--control", controlLink, "--unit", "4:5", "--unit",
                           "9,access=denied", "--turnaround-us", "0"});
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 500 && !Exists(controlLink); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(Exists(link));
  ASSERT_TRUE(Exists(controlLink));
  {
    RawClient line(link);
    RawClient control(controlLink);
    ASSERT_TRUE(line.IsOpen());
    ASSERT_TRUE(control.IsOpen());
    EXPECT_EQ("0", Ask(control, "total\n"));
    EXPECT_EQ(WithCrc({4, 4, 2, 0x80, 5}), line.Transact(ReadRequest(4, 4, 50, 1), 7));
    EXPECT_EQ("1", Ask(control, "count 4\r\n"));
    EXPECT_EQ("ok", Ask(control, "\ninput 4 2 1\n"));  // the empty line gets no reply
    EXPECT_EQ(WithCrc({4, 4, 2, 0, 2}), line.Transact(ReadRequest(4, 4, 4, 1), 7));
    EXPECT_EQ("7", Ask(control, "input-reg 9 50\n"));
    EXPECT_EQ(0u, Ask(control, "bogus\n").rfind("error: ", 0));
  }
  ASSERT_EQ(0, kill(pid, SIGTERM));
  EXPECT_EQ(0, ExitCode(pid));
  EXPECT_FALSE(Exists(link));
  EXPECT_FALSE(Exists(controlLink));
  rmdir(dir.c_str());
}

TEST(Executable, BadOptionsExitWithCodeTwo) {
  EXPECT_EQ(2, ExitCode(Spawn({"--unit", "0"})));
  EXPECT_EQ(2, ExitCode(Spawn({"--fault", "fire"})));
  EXPECT_EQ(0, ExitCode(Spawn({"--help"})));
}

}  // namespace
