#pragma once
// A JACK server with the dummy driver for tests: started with posix_spawn under a name
// of its own (JACK_DEFAULT_SERVER, so parallel test processes never share one), frozen and
// thawed, and stopped by its PID, its leftover /dev/shm files removed.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audiolib/backends/portaudio/PortAudioBackend.h"

extern char** environ;

namespace qv::test {

class JackServer {
 public:
  explicit JackServer(std::string name) : name_(std::move(name)) {
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
  }
  ~JackServer() { stop(); }

  // A server with that many system capture and playback ports, at that sample rate.
  bool start(int capturePorts = 2, int playbackPorts = 2, int rate = 48000) {
    reclaimDeadTestServers();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // setpriv execs jackd in its own process (the pid stays jackd's) with a death signal:
    // a test that crashes takes its server with it instead of leaving it running, where
    // it would hold one of the few server slots that all JACK users of the machine share.
    std::vector<std::string> args = {"setpriv", "--pdeathsig", "KILL", "jackd",
                                     "-d",      "dummy",       "-r",   std::to_string(rate),
                                     "-p",      "1024"};
    args.insert(args.end(),
                {"-C", std::to_string(capturePorts), "-P", std::to_string(playbackPorts)});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, "setpriv", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = 0;
      return false;
    }
    for (int i = 0; i < 400; ++i) {  // up to 20 s: a loaded machine starts it slowly
      // Listening is not yet accepting clients; jack_lsp succeeds only when it does.
      if (PortAudioBackend::jackServerRunning() && tool({"jack_lsp"}, true)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  // A frozen server runs no process cycles: its clients hear nothing, as from a device that
  // stopped calling back.
  void freeze() {
    if (pid_ != 0) kill(pid_, SIGSTOP);
  }
  void thaw() {
    if (pid_ != 0) kill(pid_, SIGCONT);
  }

  void stop() {
    if (pid_ == 0) return;
    thaw();
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = 0;
    cleanShm();
  }

  // Runs a JACK command-line tool; true when it exits with 0. When `quiet` is false, what
  // a failing tool printed is passed on, so that a failed test says why.
  static bool tool(std::vector<std::string> args, bool quiet = false) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char errors[] = "/tmp/qv-jack-tool-XXXXXX";
    const int errorFd = quiet ? -1 : mkstemp(errors);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (errorFd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc == 0) waitpid(pid, &status, 0);
    const bool ok = rc == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (errorFd >= 0) {
      if (!ok) {
        std::string said;
        char buffer[512];
        ssize_t n = 0;
        while ((n = pread(errorFd, buffer, sizeof buffer, static_cast<off_t>(said.size()))) > 0)
          said.append(buffer, static_cast<size_t>(n));
        std::fprintf(stderr, "%s failed (%s): %s\n", args[0].c_str(),
                     rc != 0 ? std::strerror(rc) : "exit status", said.c_str());
      }
      close(errorFd);
      unlink(errors);
    }
    return ok;
  }

  // Connects two ports, asking again while the server is busy: a new client (each
  // jack_connect is one) is refused when an existing client is slow to answer the server's
  // notice of it, which a loaded machine makes likely. True once the ports are connected.
  static bool connect(const std::string& from, const std::string& to) {
    for (int i = 0; i < 20; ++i) {
      if (tool({"jack_connect", from, to}, true) || connected(from, to)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return tool({"jack_connect", from, to});  // says why, once
  }

  // Whether the output port `from` feeds the input port `to`.
  static bool connected(const std::string& from, const std::string& to) {
    const auto listed = lines("jack_lsp -c '" + from + "' 2>/dev/null", nullptr);
    return std::find(listed.begin(), listed.end(), to) != listed.end();
  }

  // Our input port `to` hears our output port `from` and nothing else. Ports are named
  // after their roles ("measurement", "reference", "generator"), others by number (in_1,
  // in_2, …; a plain output stream out_1, out_2, …).
  static bool loop(const std::string& client, const std::string& from, const std::string& to) {
    tool({"jack_disconnect", "system:capture_1", client + ":" + to}, true);
    tool({"jack_disconnect", "system:capture_2", client + ":" + to}, true);
    return connect(client + ":" + from, client + ":" + to);
  }

  // The short names of a client's ports, in the order the server lists them (asked again
  // while a busy server refuses jack_lsp, as for connect()).
  static std::vector<std::string> ports(const std::string& client) {
    std::vector<std::string> names;
    const std::string prefix = client + ":";
    for (int i = 0; i < 20; ++i) {
      names.clear();
      bool listed = false;
      for (const auto& name : lines("jack_lsp 2>/dev/null", &listed))
        if (name.rfind(prefix, 0) == 0) names.push_back(name.substr(prefix.size()));
      if (listed) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return names;
  }

  const std::string& name() const { return name_; }

 private:
  // What a command prints, a line each with the surrounding blanks taken off; `ok` tells
  // whether it exited with 0.
  static std::vector<std::string> lines(const std::string& command, bool* ok) {
    std::vector<std::string> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      std::string text(line);
      while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
      const size_t first = text.find_first_not_of(" \t");
      out.push_back(first == std::string::npos ? std::string() : text.substr(first));
    }
    const int status = pclose(pipe);
    if (ok != nullptr) *ok = status == 0;
    return out;
  }

  // JACK keeps eight server slots in a registry all servers of the machine share, and frees
  // a slot whose server died only when a server of the same name starts again. Test servers
  // have names of their own, so each one killed before it could unregister (a crashed test,
  // a server that ignored SIGTERM) would hold a slot for good, and after eight of them no
  // JACK test could run here. Slots of our test servers whose process is gone are freed
  // first, as jackd itself does for a name it finds dead.
  static void reclaimDeadTestServers() {
    constexpr off_t kFirstSlot = 24;  // magic, protocol, type, size, header and entry lengths
    constexpr off_t kSlotSize = 264;  // pid_t pid; char name[257]; padded
    constexpr int kSlots = 8;
    const int fd = open("/dev/shm/jack-shm-registry", O_RDWR | O_CLOEXEC);
    if (fd < 0) return;
    uint32_t magic = 0;
    if (pread(fd, &magic, sizeof magic, 0) == sizeof magic && magic == 0x4a41434bu) {
      const std::string ours = "jack-" + std::to_string(getuid()) + ":qv";
      for (int i = 0; i < kSlots; ++i) {
        char slot[kSlotSize] = {};
        const off_t at = kFirstSlot + i * kSlotSize;
        if (pread(fd, slot, sizeof slot, at) != static_cast<ssize_t>(sizeof slot)) break;
        pid_t pid = 0;
        std::memcpy(&pid, slot, sizeof pid);
        const char* name = slot + sizeof(pid_t);
        if (pid <= 0 || std::strncmp(name, ours.c_str(), ours.size()) != 0) continue;
        if (kill(pid, 0) == 0 || errno != ESRCH) continue;
        const char empty[kSlotSize] = {};
        if (pwrite(fd, empty, sizeof empty, at) != static_cast<ssize_t>(sizeof empty)) break;
      }
    }
    close(fd);
  }

  void cleanShm() {
    // Sockets and semaphores carry the server name: jack_<name>_<uid>_0, jack_sem.<uid>_<name>_*.
    if (DIR* dir = opendir("/dev/shm")) {
      std::vector<std::string> doomed;
      while (dirent* e = readdir(dir)) {
        const std::string f = e->d_name;
        if (f.rfind("jack", 0) == 0 && f.find("_" + name_ + "_") != std::string::npos)
          doomed.push_back(f);
      }
      closedir(dir);
      for (const auto& f : doomed) std::remove(("/dev/shm/" + f).c_str());
    }
  }

  std::string name_;
  pid_t pid_ = 0;
};

}  // namespace qv::test
