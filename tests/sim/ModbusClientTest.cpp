// libmodbus as an independent RTU master: if it agrees with the simulator on frames, CRC
// and an exception answer, the simulator speaks the protocol and not just our reading of it;
// which request gets which exception is the raw wire test's.

#include <errno.h>
#include <gtest/gtest.h>
#include <modbus.h>

#include "sim/Simulator.h"

namespace {

TEST(ModbusClient, AgreesOnReadsWritesAndExceptions) {
  Sim::Simulator sim(Sim::LineSetup(), {Sim::UnitSetup()});
  ASSERT_TRUE(sim.Start()) << sim.LastError();
  ASSERT_TRUE(sim.SetJournal(1, 300, 40));
  modbus_t* ctx = modbus_new_rtu(sim.TerminalPath().c_str(), 9600, 'N', 8, 2);
  ASSERT_NE(nullptr, ctx);
  modbus_set_slave(ctx, 1);
  ASSERT_EQ(0, modbus_connect(ctx)) << modbus_strerror(errno);

  uint16_t regs[125], v = 0;
  ASSERT_EQ(2, modbus_read_registers(ctx, 517, 2, regs)) << modbus_strerror(errno);
  EXPECT_EQ((std::vector<uint16_t>{40, 300}), std::vector<uint16_t>(regs, regs + 2));
  ASSERT_EQ(125, modbus_read_input_registers(ctx, 1000, 125, regs));
  for (uint16_t i = 0; i < 125; ++i) {
    ASSERT_TRUE(sim.Input(1, static_cast<uint16_t>(1000 + i), v));
    EXPECT_EQ(v, regs[i]) << i;
  }
  const uint16_t params[] = {900, 15, 0x0531};
  ASSERT_EQ(3, modbus_write_registers(ctx, 33, 3, params)) << modbus_strerror(errno);
  ASSERT_EQ(1, modbus_write_register(ctx, 34, 0x8A05)) << modbus_strerror(errno);
  ASSERT_EQ(36, modbus_read_registers(ctx, 0, 36, regs));
  EXPECT_EQ(0x8A05, regs[34]);
  EXPECT_EQ(0x0531, regs[35]);

  EXPECT_EQ(-1, modbus_write_register(ctx, 527, 2));  // an exception answer it understands
  EXPECT_EQ(EMBXILVAL, errno);
  modbus_close(ctx);
  modbus_free(ctx);
}

}  // namespace
