#include "support/test_env.h"

#include <chrono>
#include <algorithm>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "COM-ZOR4.h"
#include "sleep.h"
#include "slots.h"

namespace zor::test {

namespace {
uint64_t g_virtual_ms = 0;
void VirtualSleep(uint32_t ms) { g_virtual_ms += ms; }

// Tells this run's scratch folders from those of test programs running beside it.
const std::string& RunTag() {
  static const std::string tag = [] {
    std::random_device random;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::to_string(random()) + "-" + std::to_string(now % 1000000);
  }();
  return tag;
}
}  // namespace

uint64_t VirtualTime() { return g_virtual_ms; }
void AdvanceVirtualTime(uint64_t ms) { g_virtual_ms += ms; }
void ResetVirtualTime() { g_virtual_ms = 0; }

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string bytes = text.str();
#if defined(_WIN32)
  // Text files end their lines with CR LF here; a CR of the data itself stays.
  size_t out = 0;
  for (size_t in_at = 0; in_at < bytes.size(); ++in_at) {
    if (bytes[in_at] == '\r' && in_at + 1 < bytes.size() && bytes[in_at + 1] == '\n') continue;
    bytes[out++] = bytes[in_at];
  }
  bytes.resize(out);
#endif
  return bytes;
}

std::string NormaliseStamps(const std::string& text) {
  static const std::regex stamp(
      "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\n");
  return std::regex_replace(text, stamp, "<time>\n");
}

void SlotTest::SetUp() {
  ResetVirtualTime();
  SetSleepHook(VirtualSleep);
  LoadSlots();
  guard_ = std::make_unique<FakeLineGuard>(device);
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // Parameterised tests have "/" in their names: one folder level only, so it is removed whole.
  std::string name = "zor-test-" + RunTag() + "-" + info->test_suite_name() + "-" + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  scratch = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(scratch);
  std::filesystem::create_directories(scratch);
}

void SlotTest::TearDown() {
  UnloadSlots();
  guard_.reset();
  SetSleepHook(nullptr);
  std::filesystem::remove_all(scratch);
}

std::filesystem::path SlotTest::DebugPath(uint16_t port) const {
  return scratch / ("debug" + std::to_string(port) + ".txt");
}

void SlotTest::OpenDebug(uint16_t port) {
  ASSERT_EQ(COM_ZOR4_OpenDebugFile(port, DebugPath(port).string().c_str()), 0);
}

std::string SlotTest::DebugText(uint16_t port) {
  (void)COM_ZOR4_CloseDebugFile(port);
  return NormaliseStamps(ReadWholeFile(DebugPath(port)));
}

std::string SlotTest::DebugEntries(uint16_t port) {
  std::string text = DebugText(port);
  const std::string opened = "File opened by COM_ZOR4_OpenDebugFile\n";
  const std::string closing = "\n<time>\nFile closed by COM_ZOR4_CloseDebugFile\n";
  const size_t start = text.find(opened);
  if (start != std::string::npos) text.erase(0, start + opened.size());
  if (text.size() >= closing.size() &&
      text.compare(text.size() - closing.size(), closing.size(), closing) == 0) {
    text.erase(text.size() - closing.size());
  }
  return text;
}

void DeviceTest::SetUp() {
  SlotTest::SetUp();
  FollowRts(*device);
  ASSERT_EQ(COM_ZOR4_Open(kPort, 1), 0);
  OpenDebug(kPort);
  device->written.clear();
  device->log.clear();
  ResetVirtualTime();
}

void DeviceTest::Answer(std::vector<std::string> replies) {
  device->written.clear();
  AnswerCommands(*device, std::move(replies));
}

int32_t DeviceTest::LastStatus() const { return COM_ZOR4_State(kPort); }

std::string DeviceTest::LastEntry() {
  const std::string entries = DebugEntries();
  const size_t at = entries.rfind("\n<time>\n");
  return at == std::string::npos ? entries : entries.substr(at + 8);
}

}  // namespace zor::test
