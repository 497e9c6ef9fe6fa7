// zor-sim as a child process, for the tests against the simulated device; the test defines
// ZOR_SIM_PATH, the program's path.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace zor::test {

// zor-sim as a child process: its URL from its first line, its control lines on its stdin.
class Simulator {
public:
  explicit Simulator(std::vector<std::string> options) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::close(in[1]);
      ::close(out[0]);
      std::vector<std::string> args = {ZOR_SIM_PATH, "--listen", "127.0.0.1:0", "--noise", "0"};
      args.insert(args.end(), options.begin(), options.end());
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    control_ = in[1];
    output_ = out[0];
    const std::string first = ReadLine();
    const size_t at = first.rfind(' ');
    if (at != std::string::npos) url_ = first.substr(at + 1);
  }
  ~Simulator() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (control_ >= 0) ::close(control_);
    if (output_ >= 0) ::close(output_);
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  const std::string& url() const { return url_; }

  // One control command; its answer line.
  std::string Control(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(control_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
    return ReadLine();
  }

private:
  std::string ReadLine() {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char c = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, 100) != 1) continue;
      if (::read(output_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  pid_t pid_ = -1;
  int control_ = -1, output_ = -1;
  std::string url_;
};

}  // namespace zor::test
