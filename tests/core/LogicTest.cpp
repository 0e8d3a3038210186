// Pure logic of the core: checksum, character codes, password packing, the date-time
// calendar, the port's defaults and the refusals that need no device.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "device/LIR.h"
#include "link/ModBus.h"
#include "link/PortDef.h"

namespace {

uint16_t CrcOf(const std::string& text) {
  return ModBus::Crc16(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Crc16, KnownValues) {
  EXPECT_EQ(CrcOf("123456789"), 0x4B37);
  const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(ModBus::Crc16(request, sizeof request), 0x0A84);
  EXPECT_EQ(ModBus::Crc16(request, 0), 0xFFFF);
}

TEST(CharToDeviceCode, TableAndGaps) {
  // cp1251: А 192, И 200, Й 201, К 202, Щ 217, Ъ 218, Ы 219, Ь 220, Э 221, Я 223.
  EXPECT_EQ(LIR::CharToDeviceCode(192), 1);
  EXPECT_EQ(LIR::CharToDeviceCode(200), 9);
  EXPECT_EQ(LIR::CharToDeviceCode(202), 10);
  EXPECT_EQ(LIR::CharToDeviceCode(217), 25);
  EXPECT_EQ(LIR::CharToDeviceCode(219), 26);
  EXPECT_EQ(LIR::CharToDeviceCode(220), 27);
  EXPECT_EQ(LIR::CharToDeviceCode(218), 28);
  EXPECT_EQ(LIR::CharToDeviceCode(221), 29);
  EXPECT_EQ(LIR::CharToDeviceCode(223), 31);
  EXPECT_EQ(LIR::CharToDeviceCode('0'), 32);
  EXPECT_EQ(LIR::CharToDeviceCode('9'), 41);
  for (unsigned char c : {'_', static_cast<char>(201), 'a', 'Z', ' ', '!', static_cast<char>(224),
                          static_cast<char>(168), '\0'})
    EXPECT_EQ(LIR::CharToDeviceCode(c), 0) << int(c);
  // Every code 1..41 is reached by exactly one character.
  int seen[42] = {};
  for (int c = 0; c < 256; ++c)
    ++seen[LIR::CharToDeviceCode(static_cast<unsigned char>(c))];
  for (int code = 1; code <= 41; ++code)
    EXPECT_EQ(seen[code], 1) << code;
}

TEST(EncodePassword, PairsFirstCharacterHigh) {
  std::array<uint16_t, 4> regs{};
  LIR::EncodePassword(
      "\xC0\xC1"
      "12_\xDF"
      "90",
      regs);  // А Б 1 2 _ Я 9 0
  EXPECT_EQ(regs[0], 0x0102);
  EXPECT_EQ(regs[1], (33 << 8) | 34);
  EXPECT_EQ(regs[2], (0 << 8) | 31);
  EXPECT_EQ(regs[3], (41 << 8) | 32);
  LIR::EncodePassword("\xC0", regs);  // positions past the end count as 0
  EXPECT_EQ(regs[0], 0x0100);
  EXPECT_EQ(regs[1], 0);
  EXPECT_EQ(regs[3], 0);
  LIR::EncodePassword("1234567899999", regs);  // past eight characters nothing counts
  EXPECT_EQ(regs[3], (39 << 8) | 40);
}

TEST(DateTime, EncodeKnownDays) {
  double value = 0;
  ASSERT_TRUE(LIR::EncodeDateTime({1899, 12, 30, 0, 0, 0}, value));
  EXPECT_DOUBLE_EQ(value, 0.0);
  ASSERT_TRUE(LIR::EncodeDateTime({1900, 1, 1, 0, 0, 0}, value));
  EXPECT_DOUBLE_EQ(value, 2.0);
  ASSERT_TRUE(LIR::EncodeDateTime({2000, 1, 1, 12, 0, 0}, value));
  EXPECT_DOUBLE_EQ(value, 36526.5);
  ASSERT_TRUE(LIR::EncodeDateTime({2007, 3, 5, 14, 9, 30}, value));
  EXPECT_NEAR(value, 39146 + (14 * 3600 + 9 * 60 + 30) / 86400.0, 1e-9);
}

TEST(DateTime, RefusesWhatIsNoDate) {
  double value = 7;
  for (const LIR::DateTimeParts& p : std::vector<LIR::DateTimeParts>{{2001, 0, 1, 0, 0, 0},
                                                                     {2001, 13, 1, 0, 0, 0},
                                                                     {2001, 1, 0, 0, 0, 0},
                                                                     {2001, 4, 31, 0, 0, 0},
                                                                     {2001, 2, 29, 0, 0, 0},
                                                                     {2001, 1, 1, 24, 0, 0},
                                                                     {2001, 1, 1, 0, 60, 0},
                                                                     {2001, 1, 1, 0, 0, 60}})
    EXPECT_FALSE(LIR::EncodeDateTime(p, value)) << p.Month << "/" << p.Day;
  EXPECT_EQ(value, 7);
  EXPECT_TRUE(LIR::EncodeDateTime({2000, 2, 29, 0, 0, 0}, value));
  EXPECT_TRUE(LIR::EncodeDateTime({2255, 12, 31, 23, 59, 59}, value));
}

TEST(DateTime, RoundTripsEverySecondOfADayAndManyDays) {
  for (int day = 0; day < 100000; day += 37) {
    LIR::DateTimeParts p;
    ASSERT_TRUE(LIR::DecodeDateTime(day + 0.75, p));
    double back = 0;
    ASSERT_TRUE(LIR::EncodeDateTime(p, back));
    EXPECT_DOUBLE_EQ(back, day + 0.75);
  }
  for (int s = 0; s < 86400; ++s) {
    const LIR::DateTimeParts in{2024, 2, 29, s / 3600, s / 60 % 60, s % 60};
    double value = 0;
    ASSERT_TRUE(LIR::EncodeDateTime(in, value));
    LIR::DateTimeParts out;
    ASSERT_TRUE(LIR::DecodeDateTime(value, out));
    ASSERT_EQ(out.Hour * 3600 + out.Minute * 60 + out.Second, s);
    ASSERT_EQ(out.Day, 29);
  }
}

TEST(DateTime, DecodeRoundsToTheMillisecondAndCarriesMidnight) {
  LIR::DateTimeParts p;
  ASSERT_TRUE(LIR::DecodeDateTime(39146.0 - 1e-10, p));  // a hair before midnight
  EXPECT_EQ(p.Day, 5);
  EXPECT_EQ(p.Month, 3);
  EXPECT_EQ(p.Hour, 0);
  EXPECT_FALSE(LIR::DecodeDateTime(std::nan(""), p));
  EXPECT_FALSE(LIR::DecodeDateTime(1e12, p));
  EXPECT_FALSE(LIR::DecodeDateTime(-1e12, p));
}

TEST(Port, Defaults) {
  TPort port;
  EXPECT_FALSE(port.Connected);
  EXPECT_EQ(port.PortName, "COM2");
  EXPECT_EQ(port.InQueueSize, 1024u);
  EXPECT_EQ(port.OutQueueSize, 1024u);
  EXPECT_EQ(port.Dcb.DCBlength, 28u);
  EXPECT_EQ(port.Dcb.BaudRate, 9600u);
  EXPECT_EQ(Serial::DcbFlags(port.Dcb), 0x8091u);
  EXPECT_EQ(port.Dcb.fBinary, 1u);
  EXPECT_EQ(port.Dcb.fDtrControl, 1u);
  EXPECT_EQ(port.Dcb.fRtsControl, 0u);
  EXPECT_EQ(port.Dcb.fTXContinueOnXoff, 1u);
  EXPECT_EQ(port.Dcb.ByteSize, 8);
  EXPECT_EQ(port.Dcb.Parity, 0);
  EXPECT_EQ(port.Dcb.StopBits, 2);
  EXPECT_EQ(port.Dcb.XonLim, 0);
  EXPECT_EQ(port.Dcb.XonChar, 0);
  EXPECT_EQ(port.Timeouts.ReadIntervalTimeout, 200u);
  EXPECT_EQ(port.Timeouts.ReadTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(port.Timeouts.ReadTotalTimeoutConstant, 200u);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutConstant, 10u);
  ASSERT_NE(ModBus::Port, nullptr);
  EXPECT_EQ(ModBus::Port->PortName, "COM2");
}

class PortRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("lirport" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  std::filesystem::path dir_;
};

TEST_F(PortRefusal, RegularFileNamedLikeAPortIsNeverWritten) {
  // Not COM2: on Windows that name is the port itself, in any folder.
  const std::string path = Path("ttyUSB0");
  { std::ofstream(path) << "keep"; }
  TPort port;
  port.PortName = path;
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(port.Connected);
  EXPECT_EQ(port.Handle, Serial::InvalidHandle);
  const uint8_t frame[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
  EXPECT_EQ(port.Write(frame, sizeof frame), 0);
  std::ifstream in(path);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
}

TEST_F(PortRefusal, MissingDirectoryAndClosedPort) {
  TPort port;
  port.PortName = Path("ttyUSB9");
  EXPECT_FALSE(port.Open());
  port.PortName = dir_.string();
  EXPECT_FALSE(port.Open());
  // Devices that open but are no serial line, as each system names its null device.
  for (const char* device : {"/dev/null", "NUL"}) {
    port.PortName = device;
    EXPECT_FALSE(port.Open()) << device;
  }
  EXPECT_FALSE(port.Close());
  uint8_t buffer[8];
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(port.Write(buffer, sizeof buffer), 0);
}

}  // namespace
