// The command line of lir-sim: what it accepts, what it makes of it, and what it refuses.

#include <gtest/gtest.h>

#include "sim/Options.h"

namespace {

using Sim::FaultKind;
using Sim::Options;

bool Parse(std::vector<std::string> args, Options& o, std::string& error) {
  return Sim::ParseOptions(args, o, error);
}

// The error for a command line that must be refused; empty if it was accepted.
std::string Refusal(std::vector<std::string> args) {
  Options o;
  std::string error;
  return Parse(args, o, error) ? std::string() : error;
}

TEST(Options, DefaultsToOneTwelveChannelUnitOnCom2) {
  Options o;
  std::string error;
  ASSERT_TRUE(Parse({}, o, error)) << error;
  EXPECT_EQ("COM2", o.Link);
  ASSERT_EQ(1u, o.Units.size());
  EXPECT_EQ(1, o.Units[0].Address);
  EXPECT_EQ(7, o.Units[0].Model);
  EXPECT_TRUE(o.Units[0].AccessGranted);
  EXPECT_EQ(9600u, o.Line.Baud);
  EXPECT_EQ(2000u, o.Line.TurnaroundUs);
  EXPECT_FALSE(o.Line.Pace);
  EXPECT_EQ(FaultKind::None, o.Fault);
  EXPECT_TRUE(o.Control.empty());
}

TEST(Options, ReadsEveryOption) {
  Options o;
  std::string error;
  ASSERT_TRUE(Parse({"--link",
                     "/tmp/x",
                     "--unit",
                     "3:5,password=абвг_123,access=denied,"
                     "journal=20@7,inputs=0xA",
                     "--unit=200",
                     "--baud=19200",
                     "--pace",
                     "--turnaround-us",
                     "0",
                     "--fault",
                     "split:80",
                     "--fault-next",
                     "3",
                     "--trip-period-ms",
                     "250",
                     "--seed",
                     "42",
                     "--control",
                     "/tmp/c",
                     "--verbose"},
                    o, error))
      << error;
  EXPECT_EQ("/tmp/x", o.Link);
  ASSERT_EQ(2u, o.Units.size());
  const Sim::UnitSetup& u = o.Units[0];
  EXPECT_EQ(3, u.Address);
  EXPECT_EQ(5, u.Model);
  EXPECT_EQ("\xC0\xC1\xC2\xC3_123", u.Password);
  EXPECT_FALSE(u.AccessGranted);
  EXPECT_EQ(20, u.JournalCount);
  EXPECT_EQ(7, u.JournalLatest);
  EXPECT_EQ(0xA, u.Inputs);
  EXPECT_EQ(200, o.Units[1].Address);
  EXPECT_EQ(7, o.Units[1].Model);
  EXPECT_EQ(19200u, o.Line.Baud);
  EXPECT_TRUE(o.Line.Pace);
  EXPECT_EQ(0u, o.Line.TurnaroundUs);
  EXPECT_EQ(FaultKind::Split, o.Fault);
  EXPECT_EQ(80u, o.FaultParam);
  EXPECT_EQ(3u, o.FaultNext);
  EXPECT_EQ(250u, o.Line.TripPeriodMs);
  EXPECT_EQ(42u, o.Line.Seed);
  EXPECT_EQ("/tmp/c", o.Control);
  EXPECT_TRUE(o.Verbose);
}

TEST(Options, FaultDefaults) {
  Options o;
  std::string error;
  ASSERT_TRUE(Parse({"--fault", "late"}, o, error)) << error;
  EXPECT_EQ(500u, o.FaultParam);
  EXPECT_EQ(0u, o.FaultNext);
  EXPECT_EQ(1.0, o.FaultRate);  // neither count nor rate: every request
  ASSERT_TRUE(Parse({"--fault", "other-address:9", "--fault-rate", "0.25"}, o, error)) << error;
  EXPECT_EQ(FaultKind::OtherAddress, o.Fault);
  EXPECT_EQ(9u, o.FaultParam);
  EXPECT_EQ(0.25, o.FaultRate);
  ASSERT_TRUE(Parse({"--fault", "noise"}, o, error)) << error;
  EXPECT_EQ(4u, o.FaultParam);
}

TEST(Options, JournalLatestDefaultsToTheCount) {
  Options o;
  std::string error;
  ASSERT_TRUE(Parse({"--unit", "1,journal=12"}, o, error)) << error;
  EXPECT_EQ(12, o.Units[0].JournalLatest);
  ASSERT_TRUE(Parse({"--unit", "1,journal=1000@0"}, o, error)) << error;
  EXPECT_EQ(1000, o.Units[0].JournalCount);
  EXPECT_EQ(0, o.Units[0].JournalLatest);
}

TEST(Options, RefusesWhatCannotBeSimulated) {
  EXPECT_NE("", Refusal({"--unit", "0"}));
  EXPECT_NE("", Refusal({"--unit", "256"}));
  EXPECT_NE("", Refusal({"--unit", "x"}));
  EXPECT_NE("", Refusal({"--unit", "1:300"}));
  EXPECT_NE("", Refusal({"--unit", "5", "--unit", "5:6"}));
  EXPECT_NE("", Refusal({"--unit", "1,journal=1001"}));
  EXPECT_NE("", Refusal({"--unit", "1,journal=5@1001"}));
  EXPECT_NE("", Refusal({"--unit", "1:5,inputs=10"}));  // channel 5 of a ЛИР-4М
  EXPECT_NE("", Refusal({"--unit", "1,access=maybe"}));
  EXPECT_NE("", Refusal({"--unit", "1,colour=red"}));
  EXPECT_NE("", Refusal({"--unit", "1,password=1234567"}));
  EXPECT_NE("", Refusal({"--unit", "1,password=123456789"}));
  EXPECT_NE("", Refusal({"--unit", "1,password=abcdefgh"}));
  EXPECT_NE("", Refusal({"--unit", "1,password=ЙЙЙЙ0000"}));
  EXPECT_NE("", Refusal({"--unit", "1,password=ЁЁЁЁ0000"}));
  EXPECT_NE("", Refusal({"--baud", "0"}));
  EXPECT_NE("", Refusal({"--baud"}));
  EXPECT_NE("", Refusal({"--turnaround-us", "-1"}));
  EXPECT_NE("", Refusal({"--seed", "4294967296"}));
  EXPECT_NE("", Refusal({"--fault", "fire"}));
  EXPECT_NE("", Refusal({"--fault", "other-address"}));
  EXPECT_NE("", Refusal({"--fault", "other-address:256"}));
  EXPECT_NE("", Refusal({"--fault-next", "2"}));
  EXPECT_NE("", Refusal({"--fault", "silent", "--fault-next", "2", "--fault-rate", "1"}));
  EXPECT_NE("", Refusal({"--fault", "silent", "--fault-rate", "1.5"}));
  EXPECT_NE("", Refusal({"--link", ""}));
  EXPECT_NE("", Refusal({"--link", "a", "--control", "a"}));
  EXPECT_NE("", Refusal({"--pace=yes"}));
  EXPECT_NE("", Refusal({"--frobnicate"}));
  EXPECT_NE("", Refusal({"stray"}));
  // The message names what is wrong.
  EXPECT_NE(std::string::npos, Refusal({"--unit", "9", "--unit", "9"}).find("9"));
  EXPECT_NE(std::string::npos, Refusal({"--frobnicate"}).find("--frobnicate"));
}

TEST(Options, PasswordTextConversion) {
  std::string cp, error;
  ASSERT_TRUE(Sim::PasswordFromText("ЯЪЫЬ0_9А", cp, error)) << error;
  EXPECT_EQ(
      "\xDF\xDA\xDB\xDC"
      "0_9\xC0",
      cp);
  EXPECT_EQ("ЯЪЫЬ0_9А", Sim::Cp1251ToUtf8(cp));
  EXPECT_EQ("ok?", Sim::Cp1251ToUtf8("ok\xA8"));
}

}  // namespace
