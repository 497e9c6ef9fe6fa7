// The debug file of a slot: header, closing entry, reopening, failures, the data dump.
#include <gtest/gtest.h>

#include <clocale>
#include <regex>

#include "COM-ZOR4.h"
#include "debug_file.h"
#include "slots.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

using DebugFileTest = SlotTest;

TEST_F(DebugFileTest, NewFileStartsWithItsHeaderAndEndsWithTheClosingEntry) {
  OpenDebug(7);
  EXPECT_EQ(COM_ZOR4_CloseDebugFile(7), 0);
  const std::string raw = ReadWholeFile(DebugPath(7));
  EXPECT_TRUE(std::regex_match(
      raw, std::regex("Debugging output file for PortNumber=7\n"
                      "\n(Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [0-3][0-9] [0-2][0-9]:[0-5][0-9]:"
                      "[0-6][0-9] 20[0-9]{2}\n"
                      "File opened by COM_ZOR4_OpenDebugFile\n"
                      "\n.{24}\nFile closed by COM_ZOR4_CloseDebugFile\n")))
      << raw;
  EXPECT_EQ(FindSlot(7)->Port->DebugFile, nullptr);
}

TEST_F(DebugFileTest, TimeStampUsesEnglishNamesWhateverTheLocale) {
  const char* previous = std::setlocale(LC_TIME, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  for (const char* locale : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) {
    if (std::setlocale(LC_TIME, locale) == nullptr) continue;
    OpenDebug(1);
    const std::string text = DebugText(1);
    EXPECT_EQ(text.find("<time>"), text.find("\n<time>") + 1) << locale << "\n" << text;
    EXPECT_EQ(text, "Debugging output file for PortNumber=1\n\n<time>\nFile opened by "
                    "COM_ZOR4_OpenDebugFile\n\n<time>\nFile closed by COM_ZOR4_CloseDebugFile\n");
  }
  std::setlocale(LC_TIME, saved.c_str());
}

TEST_F(DebugFileTest, ReopeningClosesTheOldFileFirst) {
  OpenDebug(4);
  const auto second = scratch / "second.txt";
  ASSERT_EQ(COM_ZOR4_OpenDebugFile(4, second.string().c_str()), 0);
  EXPECT_EQ(NormaliseStamps(ReadWholeFile(DebugPath(4))),
            "Debugging output file for PortNumber=4\n\n<time>\nFile opened by COM_ZOR4_OpenDebugFile\n"
            "\n<time>\nFile closed by COM_ZOR4_CloseDebugFile\n");
  EXPECT_EQ(COM_ZOR4_CloseDebugFile(4), 0);
  EXPECT_EQ(NormaliseStamps(ReadWholeFile(second)).rfind("Debugging output file for PortNumber=4\n", 0),
            0u);
}

TEST_F(DebugFileTest, UnopenableFileStoresMinus400AndLeavesNoFile) {
  FindSlot(2)->LastStatus = -7;
  EXPECT_EQ(COM_ZOR4_OpenDebugFile(2, (scratch / "missing" / "d.txt").string().c_str()), -400);
  EXPECT_EQ(COM_ZOR4_State(2), -400);
  EXPECT_STREQ(COM_ZOR4_ErrorMessage(2), "Error opening the file for debugging output");
  EXPECT_EQ(FindSlot(2)->Port->DebugFile, nullptr);
  EXPECT_EQ(COM_ZOR4_OpenDebugFile(2, nullptr), -400);
}

TEST_F(DebugFileTest, SuccessfulOpenAndCloseLeaveLastStatusAlone) {
  FindSlot(3)->LastStatus = -101;
  EXPECT_EQ(COM_ZOR4_CloseDebugFile(3), 0);
  OpenDebug(3);
  EXPECT_EQ(COM_ZOR4_CloseDebugFile(3), 0);
  EXPECT_EQ(COM_ZOR4_State(3), -101);
}

TEST_F(DebugFileTest, AnExistingFileIsEmptiedAndSlotsKeepTheirOwnFiles) {
  {
    FILE* f = std::fopen(DebugPath(0).string().c_str(), "w");
    std::fputs("old contents that must go\n", f);
    std::fclose(f);
  }
  OpenDebug(0);
  OpenDebug(1);
  ASSERT_FALSE(FindSlot(1)->Port->Open(uint8_t{0}));
  EXPECT_EQ(DebugEntries(0), "");
  EXPECT_EQ(DebugEntries(1), "\n<time>\nCOMPort::Open: Cannot open the port COM0\n");
}

TEST_F(DebugFileTest, FailuresWithoutAnOpenFileLeaveNoTrace) {
  COMPort& port = *FindSlot(5)->Port;
  EXPECT_FALSE(port.Close());
  EXPECT_FALSE(port.Open(uint8_t{0}));
  OpenDebug(5);
  EXPECT_EQ(DebugEntries(5), "");
}

TEST_F(DebugFileTest, DumpShowsPrintableBytesAndEscapesTheRest) {
  OpenDebug(6);
  const char bytes[] = {'A', ' ', '~', 0x7F, '\r', static_cast<char>(0x80), 0x00,
                        static_cast<char>(0xFF), 0x1F, '\''};
  WriteDataDump(FindSlot(6)->Port->DebugFile, bytes, sizeof bytes);
  WriteDataDump(FindSlot(6)->Port->DebugFile, bytes, 0);
  EXPECT_EQ(DebugEntries(6), "Data read: 'A ~\x7F\\x0D\\x80\\x00\\xFF\\x1F''\nData read: ''\n");
}

TEST_F(DebugFileTest, DumpStopsAt8192Bytes) {
  OpenDebug(6);
  const std::string big(9000, 'z');
  WriteDataDump(FindSlot(6)->Port->DebugFile, big.data(), static_cast<uint32_t>(big.size()));
  EXPECT_EQ(DebugEntries(6), "Data read: '" + std::string(8192, 'z') + "'\n");
}

}  // namespace
}  // namespace zor::test
