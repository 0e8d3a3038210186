// The master against libmodbus's RTU server, an independent Modbus implementation, on a
// real pseudo-terminal: our frames must be what a standard server understands, and its
// answers what we accept.

#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <atomic>
#include <thread>

#include "PtyPeer.h"
#include "device/LIR.h"
#include "link/ModBus.h"

namespace {

constexpr int kSlave = 17;

class LibmodbusServer : public ::testing::Test {
 protected:
  void SetUp() override {
    mapping_ = modbus_mapping_new(0, 0, 600, 5000);
    ASSERT_NE(mapping_, nullptr);
    // The server works on the far end of the terminal directly.
    ctx_ = modbus_new_rtu("/dev/null", 9600, 'N', 8, 2);
    ASSERT_NE(ctx_, nullptr);
    modbus_set_slave(ctx_, kSlave);
    modbus_set_socket(ctx_, peer_.MasterFd());
    modbus_set_indication_timeout(ctx_, 0, 50000);
    server_ = std::thread([this] {
      uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
      while (!stop_) {
        const int n = modbus_receive(ctx_, query);
        if (n > 0) modbus_reply(ctx_, query, n, mapping_);
      }
    });
    ModBus::Port->PortName = peer_.TerminalPath();
    ASSERT_TRUE(ModBus::Port->Open());
  }
  void TearDown() override {
    stop_ = true;
    if (server_.joinable()) server_.join();
    ModBus::Port->Close();
    modbus_free(ctx_);  // the descriptor stays the peer's
    modbus_mapping_free(mapping_);
  }

  Scripted::PtyPeer peer_;
  modbus_t* ctx_ = nullptr;
  modbus_mapping_t* mapping_ = nullptr;
  std::thread server_;
  std::atomic<bool> stop_{false};
};

TEST_F(LibmodbusServer, ReadsAndWritesEveryFunction) {
  for (int i = 0; i < 600; ++i)
    mapping_->tab_registers[i] = static_cast<uint16_t>(i * 3);
  for (int i = 0; i < 5000; ++i)
    mapping_->tab_input_registers[i] = static_cast<uint16_t>(~i);

  ModBus::RegisterArray regs{};
  ASSERT_TRUE(ModBus::ReadHoldingRegisters(kSlave, 10, 125, regs));
  EXPECT_EQ(regs[0], 30);
  EXPECT_EQ(regs[124], 134 * 3);
  ASSERT_TRUE(ModBus::ReadInputRegisters(kSlave, 4996, 4, regs));
  EXPECT_EQ(regs[3], static_cast<uint16_t>(~4999));

  ASSERT_TRUE(ModBus::WriteSingleRegister(kSlave, 526, 0xFFEE));
  EXPECT_EQ(mapping_->tab_registers[526], 0xFFEE);
  for (uint16_t i = 0; i < 123; ++i)
    regs[i] = static_cast<uint16_t>(0x4000 + i);
  ASSERT_TRUE(ModBus::WriteMultipleRegisters(kSlave, 100, 123, regs));
  EXPECT_EQ(mapping_->tab_registers[100], 0x4000);
  EXPECT_EQ(mapping_->tab_registers[222], 0x4000 + 122);
}

TEST_F(LibmodbusServer, AccessFunctionsRoundTrip) {
  LIR::ChannelParams params{};
  params[0] = {900, 15, 1, 0, 1, 0, 1, 1, 2, 12};
  ASSERT_TRUE(LIR::WriteChannelsParam(kSlave, 11, 1, params));
  LIR::ChannelParams back{};
  ASSERT_TRUE(LIR::ReadChannelsParam(kSlave, 11, 1, back));
  EXPECT_EQ(back[0].VrSrabat, 900);
  EXPECT_EQ(back[0].ReleNumber, 12);
  EXPECT_EQ(back[0].Zvuk, 2);
  EXPECT_EQ(back[0].Srabat, 1);

  double when = 0;
  ASSERT_TRUE(LIR::EncodeDateTime({2031, 12, 31, 23, 59, 58}, when));
  ASSERT_TRUE(LIR::WriteClock(kSlave, when));
  double read = 0;
  ASSERT_TRUE(LIR::ReadClock(kSlave, read));
  EXPECT_NEAR(read, when, 1e-9);

  mapping_->tab_input_registers[50] = 0x8006;
  EXPECT_EQ(LIR::CheckAccess(kSlave), LIR::AccessGranted);
  EXPECT_EQ(LIR::CheckAccess(kSlave + 1), LIR::AccessNoAnswer);  // nobody there
}

TEST_F(LibmodbusServer, ExceptionAnswersFail) {
  ModBus::RegisterArray regs{};
  regs[0] = 0x1234;
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(kSlave, 590, 20, regs));  // beyond the map
  EXPECT_EQ(regs[0], 0x1234);
  EXPECT_FALSE(ModBus::WriteSingleRegister(kSlave, 700, 1));
  EXPECT_FALSE(ModBus::WriteMultipleRegisters(kSlave, 599, 2, regs));
  EXPECT_TRUE(ModBus::ReadHoldingRegisters(kSlave, 0, 1, regs));  // and the line recovers
}

}  // namespace
