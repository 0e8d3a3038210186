// Pure logic of the core: checksum, character codes, password, calendar, the port's defaults and
// the refusals that need no device. Portable: the Windows lane runs it too.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "device/LIR.h"
#include "link/ModBus.h"
#include "platform/SerialTcp.h"

namespace {

using Parts = LIR::DateTimeParts;

TEST(Logic, CrcCodesAndPassword) {
  EXPECT_EQ(ModBus::Crc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x4B37);
  EXPECT_EQ(ModBus::Crc16(std::vector<uint8_t>{1, 3, 0, 0, 0, 1}.data(), 6), 0x0A84);
  // cp1251: А 192, И 200, Й 201, К 202, Щ 217, Ъ 218, Ы 219, Ь 220, Э 221, Я 223.
  const std::pair<int, int> codes[] = {{192, 1},  {200, 9},  {202, 10}, {217, 25}, {219, 26},
                                       {220, 27}, {218, 28}, {221, 29}, {223, 31}, {'0', 32},
                                       {'9', 41}, {201, 0},  {'_', 0},  {'a', 0},  {'Z', 0},
                                       {' ', 0},  {224, 0},  {168, 0},  {0, 0}};
  for (const auto& [c, code] : codes)
    EXPECT_EQ(LIR::CharToDeviceCode(static_cast<unsigned char>(c)), code) << c;
  int seen[42] = {};  // every code 1..41 is reached by exactly one character
  for (int c = 0; c < 256; ++c)
    ++seen[LIR::CharToDeviceCode(static_cast<unsigned char>(c))];
  EXPECT_EQ(std::count(seen + 1, seen + 42, 1), 41);

  std::array<uint16_t, 4> regs{};
  LIR::EncodePassword("\300\30112_\33790", regs);  // А Б 1 2 _ Я 9 0: the first one high
  EXPECT_EQ(regs, (std::array<uint16_t, 4>{0x0102, 33 << 8 | 34, 0 << 8 | 31, 41 << 8 | 32}));
  LIR::EncodePassword("\300", regs);  // positions past the end count as 0
  EXPECT_EQ(regs, (std::array<uint16_t, 4>{0x0100, 0, 0, 0}));
}

TEST(Logic, DateTimeCalendar) {
  double value = 7;
  for (const Parts& p :
       {Parts{2001, 0, 1, 0, 0, 0}, Parts{2001, 13, 1, 0, 0, 0}, Parts{2001, 1, 0, 0, 0, 0},
        Parts{2001, 4, 31, 0, 0, 0}, Parts{2001, 2, 29, 0, 0, 0}, Parts{2001, 1, 1, 24, 0, 0},
        Parts{2001, 1, 1, 0, 60, 0}, Parts{2001, 1, 1, 0, 0, 60}})
    EXPECT_FALSE(LIR::EncodeDateTime(p, value)) << p.Month << "/" << p.Day << " " << p.Hour;
  EXPECT_EQ(value, 7);
  const std::pair<Parts, double> known[] = {{{1899, 12, 30, 0, 0, 0}, 0.0},
                                            {{1900, 1, 1, 0, 0, 0}, 2.0},
                                            {{2000, 1, 1, 12, 0, 0}, 36526.5},
                                            {{2000, 2, 29, 0, 0, 0}, 36585},
                                            {{2007, 3, 5, 14, 9, 30}, 39146 + 50970 / 86400.0}};
  for (const auto& [parts, expected] : known)
    EXPECT_TRUE(LIR::EncodeDateTime(parts, value) && std::abs(value - expected) < 1e-9) << value;
  // Every second of a day, on days far apart, back and forth.
  Parts p;
  for (int s = 0; s < 86400; ++s) {
    const double day = s * 37 % 100000, in = day + s / 86400.0;
    ASSERT_TRUE(LIR::DecodeDateTime(in, p) && LIR::EncodeDateTime(p, value)) << in;
    ASSERT_EQ(p.Hour * 3600 + p.Minute * 60 + p.Second, s);
    ASSERT_NEAR(value, in, 1e-9);
  }
  ASSERT_TRUE(LIR::DecodeDateTime(39146.0 - 1e-10, p));  // a hair before midnight carries
  EXPECT_EQ(std::vector<int>({p.Month, p.Day, p.Hour}), std::vector<int>({3, 5, 0}));
  EXPECT_FALSE(LIR::DecodeDateTime(std::nan(""), p) || LIR::DecodeDateTime(1e12, p));
}

TEST(Logic, PortNamesThatAreNoLine) {
  TPort port;
  EXPECT_EQ(port.PortName, "COM2");
  // A regular file named like a port (not COM2: on Windows that is the port, in any folder),
  // a missing one, a folder and each system's null device are no serial line.
  const auto dir = std::filesystem::temp_directory_path();
  const std::string file =
      (dir / "ttyLIR").string() + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
  std::ofstream(file) << "keep";
  uint8_t frame[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
  for (const std::string& name :
       {file, file + "9", dir.string(), std::string("/dev/null"), std::string("NUL")}) {
    port.PortName = name;
    EXPECT_FALSE(port.Open()) << name;
    EXPECT_TRUE(!port.Connected && port.Handle == Serial::InvalidHandle);
    EXPECT_EQ(port.Write(frame, sizeof frame) + port.Read(frame, sizeof frame), 0);
  }
  EXPECT_FALSE(port.Close());
  EXPECT_EQ(std::filesystem::file_size(file), 4u);  // never written
  std::filesystem::remove(file);
}

// A serial device server's name: exactly tcp://HOST:PORT, nothing the system would guess at.
TEST(Logic, TcpNames) {
  const std::pair<const char*, Serial::Tcp::Address> good[] = {
      {"tcp://192.168.1.20:4001", {"192.168.1.20", 4001}},
      {"TCP://nport-5150.plant.local:950", {"nport-5150.plant.local", 950}},
      {"tcp://[fe80::2a0:7aff:fe00:1]:502", {"fe80::2a0:7aff:fe00:1", 502}},
      {"tcp://localhost:65535", {"localhost", 65535}},
  };
  for (const auto& [name, address] : good) {
    Serial::Tcp::Address parsed;
    EXPECT_TRUE(Serial::Tcp::ParseName(name, parsed) && Serial::IsTcpName(name)) << name;
    EXPECT_EQ(std::make_pair(parsed.Host, parsed.Port), std::make_pair(address.Host, address.Port));
  }
  const char* const bad[] = {"tcp://",
                             "tcp://:502",
                             "tcp://host",
                             "tcp://host:",
                             "tcp://host:0",
                             "tcp://host:65536",
                             "tcp://host:+80",
                             "tcp://host:80/",
                             "tcp://host:80 ",
                             " tcp://host:80",
                             "tcp://ho st:80",
                             "tcp://a:b:80",
                             "tcp://-host:80",
                             "tcp://1.2.3:80",
                             "tcp://1.2.3.256:80",
                             "tcp://[::1:80",
                             "tcp://[::1]80",
                             "tcp://[]:80",
                             "tcp://[host]:80",
                             "udp://host:80",
                             "tcp:/host:80",
                             "COM2"};
  for (const char* name : bad) {
    Serial::Tcp::Address parsed;
    EXPECT_FALSE(Serial::Tcp::ParseName(name, parsed)) << name;
  }
  EXPECT_FALSE(Serial::IsTcpName("COM2") || Serial::IsTcpName("/dev/ttyUSB0"));
}

}  // namespace
