// libmodbus as an independent Modbus RTU master against the simulator: if the two agree on
// frames, CRC and exception answers, the simulator speaks the protocol and not just our
// own reading of it.

#include <errno.h>
#include <gtest/gtest.h>
#include <modbus.h>

#include "sim/Simulator.h"

namespace {

class ModbusClient : public ::testing::Test {
 protected:
  void SetUp() override {
    Sim::UnitSetup unit;
    unit.Address = 17;
    unit.Model = 6;
    unit.JournalCount = 300;
    unit.JournalLatest = 40;
    sim.reset(new Sim::Simulator(Sim::LineSetup(), {unit}));
    ASSERT_TRUE(sim->Start()) << sim->LastError();
    ctx = modbus_new_rtu(sim->TerminalPath().c_str(), 9600, 'N', 8, 2);
    ASSERT_NE(nullptr, ctx);
    ASSERT_EQ(0, modbus_set_slave(ctx, 17));
    ASSERT_EQ(0, modbus_connect(ctx)) << modbus_strerror(errno);
    modbus_set_response_timeout(ctx, 1, 0);
  }
  void TearDown() override {
    if (ctx) {
      modbus_close(ctx);
      modbus_free(ctx);
    }
  }
  uint16_t Hold(uint16_t reg) {
    uint16_t v = 0xDEAD;
    EXPECT_TRUE(sim->Holding(17, reg, v));
    return v;
  }

  std::unique_ptr<Sim::Simulator> sim;
  modbus_t* ctx = nullptr;
};

TEST_F(ModbusClient, ReadsHoldingAndInputRegisters) {
  uint16_t regs[125];
  ASSERT_EQ(36, modbus_read_registers(ctx, 0, 36, regs)) << modbus_strerror(errno);
  for (uint16_t r = 0; r < 36; ++r)
    EXPECT_EQ(Hold(r), regs[r]) << r;
  ASSERT_EQ(2, modbus_read_registers(ctx, 517, 2, regs));
  EXPECT_EQ(40, regs[0]);
  EXPECT_EQ(300, regs[1]);
  ASSERT_EQ(1, modbus_read_input_registers(ctx, 50, 1, regs));
  EXPECT_EQ(0x8006, regs[0]);
  ASSERT_EQ(125, modbus_read_input_registers(ctx, 1000, 125, regs));
  for (uint16_t i = 0; i < 125; ++i) {
    uint16_t v = 0;
    ASSERT_TRUE(sim->Input(17, static_cast<uint16_t>(1000 + i), v));
    EXPECT_EQ(v, regs[i]) << i;
  }
}

TEST_F(ModbusClient, WritesSingleAndMultipleRegisters) {
  ASSERT_EQ(1, modbus_write_register(ctx, 523, 0x8A05)) << modbus_strerror(errno);
  EXPECT_EQ(0x8A05, Hold(523));
  const uint16_t params[] = {900, 15, 0x0531};
  ASSERT_EQ(3, modbus_write_registers(ctx, 33, 3, params)) << modbus_strerror(errno);
  EXPECT_EQ(0x0531, Hold(35));
  const uint16_t clock[] = {0x0503, 0x070E, 0x091E};
  ASSERT_EQ(3, modbus_write_registers(ctx, 520, 3, clock));
  uint16_t back[3];
  ASSERT_EQ(3, modbus_read_registers(ctx, 520, 3, back));
  EXPECT_EQ(0x0503, back[0]);
  EXPECT_EQ(0x070E, back[1]);
  ASSERT_EQ(1, modbus_write_register(ctx, 526, 4));
  EXPECT_EQ(1u, sim->CommandCount(17, 4));
}

TEST_F(ModbusClient, ExceptionAnswersReachTheClientAsModbusErrors) {
  uint16_t regs[4];
  EXPECT_EQ(-1, modbus_read_registers(ctx, 100, 1, regs));
  EXPECT_EQ(EMBXILADD, errno);
  EXPECT_EQ(-1, modbus_read_input_registers(ctx, 5000, 1, regs));
  EXPECT_EQ(EMBXILADD, errno);
  EXPECT_EQ(-1, modbus_write_register(ctx, 527, 2));
  EXPECT_EQ(EMBXILVAL, errno);
  uint8_t id[64];
  EXPECT_EQ(-1, modbus_report_slave_id(ctx, sizeof id, id));
  EXPECT_EQ(EMBXILFUN, errno);
  sim->InjectFault(Sim::FaultKind::Exception, 0, 1);
  EXPECT_EQ(-1, modbus_read_registers(ctx, 0, 1, regs));
  EXPECT_EQ(EMBXSFAIL, errno);
}

TEST_F(ModbusClient, PasswordOpensAccess) {
  ASSERT_TRUE(sim->SetAccess(17, false));
  EXPECT_EQ(-1, modbus_write_register(ctx, 523, 1));
  EXPECT_EQ(EMBXILFUN, errno);
  const uint16_t password[] = {0x2020, 0x2020, 0x2020, 0x2020};  // 00000000
  ASSERT_EQ(4, modbus_write_registers(ctx, 540, 4, password));
  uint16_t type = 0;
  ASSERT_EQ(1, modbus_read_input_registers(ctx, 50, 1, &type));
  EXPECT_EQ(0x8006, type);
  EXPECT_EQ(1, modbus_write_register(ctx, 523, 1));
}

}  // namespace
