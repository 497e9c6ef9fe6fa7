// The built shared library loaded and unloaded at run time: unload ends the debug file with its
// closing entry and releases the port that was left open.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using OpenDebugFile = int32_t (*)(uint16_t, const char*);
using OpenByName = int32_t (*)(uint16_t, const char*);
using IoState = int32_t (*)(uint16_t);
using Version = uint16_t (*)();

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SharedLibrary, UnloadClosesTheDebugFileAndReleasesThePort) {
  // A pseudo-terminal refuses even parity, so the open stops at the line settings and leaves the
  // device held: exactly the state in which only the unload can release it.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  const auto debug = std::filesystem::temp_directory_path() /
                     ("zor-dlopen-" + std::to_string(::getpid()) + ".txt");

  void* library = ::dlopen(COM_ZOR4_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  auto version = reinterpret_cast<Version>(::dlsym(library, "COM_ZOR4_Version"));
  auto open_debug = reinterpret_cast<OpenDebugFile>(::dlsym(library, "COM_ZOR4_OpenDebugFile"));
  auto open_by_name = reinterpret_cast<OpenByName>(::dlsym(library, "COM_ZOR4_OpenByName"));
  auto io_state = reinterpret_cast<IoState>(::dlsym(library, "COM_ZOR4_IO_State"));
  ASSERT_TRUE(version && open_debug && open_by_name && io_state);
  EXPECT_EQ(version(), 266);
  ASSERT_EQ(open_debug(2, debug.c_str()), 0);
  EXPECT_EQ(open_by_name(2, slave.c_str()), -2);
  EXPECT_EQ(io_state(2), 4);

  // Held: a second opener that plays by the lock is refused.
  const int other = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);

  ASSERT_EQ(::dlclose(library), 0);

  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0) << "the port is still held after unload";
  ::close(other);
  ::close(master);
  const std::string text = Slurp(debug);
  EXPECT_EQ(text.rfind("Debugging output file for PortNumber=2\n", 0), 0u);
  EXPECT_NE(text.find("COMPort::Open: Cannot set the port state\n"), std::string::npos);
  const std::string closing = "File closed by COM_ZOR4_CloseDebugFile\n";
  ASSERT_GT(text.size(), closing.size());
  EXPECT_EQ(text.substr(text.size() - closing.size()), closing);
  std::filesystem::remove(debug);
}

}  // namespace
