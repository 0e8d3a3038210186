// What leaves the tool and comes back: the decoding of frames, the journal's CSV and the unit's
// configuration file; the configuration also carried from one simulated unit to another.

#include <gtest/gtest.h>

#include <algorithm>

#include "device/JournalFile.h"
#include "device/UnitConfig.h"
#include "link/FrameDecode.h"
#include "link/FrameLog.h"
#include "sim/Simulator.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

Bytes WithCrc(Bytes b) {
  const uint16_t crc = ModBus::Crc16(b.data(), b.size());
  b.insert(b.end(), {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
  return b;
}

FrameDecode::Frame Sent(int64_t ms, Bytes b) {
  return {ms, 0, std::move(b)};
}
FrameDecode::Frame Got(int64_t ms, Bytes b) {
  return {ms, 1, std::move(b)};
}

TEST(Files, FramesDecodedAgainstTheirRequests) {
  const auto read = Sent(1000, WithCrc({3, 3, 2, 5, 0, 2}));
  EXPECT_EQ(FrameDecode::Describe(read, nullptr),
            (Lines{"Запрос, 1000 мс", "Адрес: 3", "Функция: 3 (чтение регистров хранения)",
                   "Регистры 517–518 (2 шт.)", "Контрольная сумма: верна"}));
  EXPECT_EQ(FrameDecode::Describe(Got(1012, WithCrc({3, 3, 4, 3, 0xE8, 0, 17})), &read),
            (Lines{"Ответ, 1012 мс, через 12 мс после запроса", "Адрес: 3",
                   "Функция: 3 (чтение регистров хранения)", "Байтов данных: 4",
                   "517 = 1000 (0x03E8)", "518 = 17 (0x0011)", "Контрольная сумма: верна"}));
  // An answer that is not the answer: another unit, another function; an exception; bad CRC.
  Bytes broken = WithCrc({9, 4, 2, 0, 7});
  broken.back() ^= 1;
  const Lines other = FrameDecode::Describe(Got(1020, broken), &read);
  EXPECT_EQ(other[1], "Адрес: 9 — ответ другого устройства: запрос был к 3");
  EXPECT_EQ(other[2], "Функция: 4 (чтение входных регистров) — не ответ на запрос функции 3");
  EXPECT_EQ(other[4], "Значение 1: 7 (0x0007)");
  EXPECT_EQ(other.back().rfind("Контрольная сумма: неверна (0x", 0), 0u);
  const auto command = Sent(5, WithCrc({1, 6, 2, 14, 0, 8}));
  EXPECT_EQ(FrameDecode::Describe(command, nullptr)[3], "Регистр 526 = 8 (0x0008)");
  EXPECT_EQ(FrameDecode::Describe(Got(9, WithCrc({1, 0x86, 2})), &command)[2],
            "Функция: 134 — исключение на функцию 6 (запись регистра)");
  EXPECT_EQ(FrameDecode::Describe(Got(9, WithCrc({1, 0x86, 2})), &command)[3],
            "Исключение 2: недопустимый адрес данных");
  const Lines clock =
      FrameDecode::Describe(Sent(0, WithCrc({1, 16, 2, 8, 0, 3, 6, 5, 3, 7, 14, 9, 30})), nullptr);
  EXPECT_EQ(Lines(clock.begin() + 3, clock.end() - 1),
            (Lines{"Регистры 520–522 (3 шт.), байтов: 6", "520 = 1283 (0x0503)",
                   "521 = 1806 (0x070E)", "522 = 2334 (0x091E)"}));
  EXPECT_EQ(FrameDecode::Describe(Got(0, {1, 2}), nullptr).back(), "Неполный кадр: 2 байт");
  EXPECT_EQ(FrameDecode::Hex({0, 0x0A, 0xFF}), "00 0A FF");
  EXPECT_EQ(FrameDecode::ExceptionMeaning(4), "отказ устройства");
  EXPECT_EQ(FrameDecode::ExceptionMeaning(200), "");
  // Bytes no request could ever be: nothing read past their end.
  for (uint8_t function : {3, 4, 6, 16, 0x83, 0x90, 7})
    for (size_t size = 0; size < 12; ++size) {
      Bytes b(size, 0xFF);
      if (size > 1) b[1] = function;
      for (uint8_t way : {0, 1})
        EXPECT_FALSE(FrameDecode::Describe({0, way, b}, &command).empty());
    }
}

// The frames behind a ring of 20 slots: a cell leads to its frame while all its bytes are there.
TEST(Files, FrameLogFollowsTheRing) {
  TFrameLog log(20);
  const Bytes request = WithCrc({3, 4, 0, 4, 0, 1}), answer = WithCrc({3, 4, 2, 0, 5});
  log.Add(100, 0, request.data(), 8);  // slots 0..7
  log.Add(112, 1, answer.data(), 7);   // 8..14
  EXPECT_EQ(std::vector<long>({log.FrameAt(0), log.FrameAt(7), log.FrameAt(14), log.FrameAt(15),
                               log.FrameAt(20)}),
            std::vector<long>({0, 0, 1, -1, -1}));
  EXPECT_EQ(log.Line(0), "Запрос, 100 мс\t" + FrameDecode::Hex(request) +
                             "\tАдрес: 3; Функция: 4 (чтение входных регистров); Регистр 4; "
                             "Контрольная сумма: верна; Ответ через 12 мс");
  EXPECT_EQ(log.Describe(1)[4], "4 = 5 (0x0005)");  // read against its request
  log.Add(200, 0, request.data(), 8);               // 15..19, 0..2: the first request is gone
  log.Add(300, 0, request.data(), 8);               // 3..10: the answer too
  ASSERT_EQ(log.Size(), 2u);
  EXPECT_EQ(std::vector<long>({log.FrameAt(2), log.FrameAt(3), log.FrameAt(11), log.FrameAt(14)}),
            std::vector<long>({0, 1, -1, -1}));
  EXPECT_EQ(log.Describe(0).back(), "Полного ответа нет");
  log.Add(400, 1, answer.data(), 7);  // the 200 ms request goes
  EXPECT_EQ(log.Describe(1)[0], "Ответ, 400 мс, через 100 мс после запроса");
  log.Add(500, 0, Bytes(21).data(), 21);  // longer than the ring: kept by none
  EXPECT_EQ(log.Size(), 0u);
  log.Clear();
  log.Add(600, 1, answer.data(), 7);
  EXPECT_TRUE(log.FrameAt(0) == 0 && !log.RequestOf(0) && log.Describe(0)[0] == "Ответ, 600 мс");
  TFrameLog after(20, 5);  // five bytes of no frame before it
  after.Add(0, 0, request.data(), 8);
  EXPECT_EQ(std::vector<long>({after.FrameAt(4), after.FrameAt(5)}), std::vector<long>({-1, 0}));

  using E = ModBus::Error;
  const std::pair<E, std::string> faults[] = {{E::None, ""},
                                              {E::NoAnswer, "нет ответа"},
                                              {E::WrongAddress, "ответ с другого адреса"},
                                              {E::PortLost, "порт потерян"}};
  for (const auto& [error, text] : faults)
    EXPECT_EQ(FrameDecode::FaultText(error, 0), text);
  EXPECT_EQ(FrameDecode::FaultText(E::Exception, 2), "исключение 2 (недопустимый адрес данных)");
  EXPECT_EQ(FrameDecode::FaultText(E::Exception, 9), "исключение 9");
}

TEST(Files, CsvForRussianSpreadsheets) {
  EXPECT_EQ(LIR::CsvText({{"Прибор", "[3] ЛИР-8М"}, {"1", "a;b", "say \"hi\"", "two\nlines"}}),
            "\xEF\xBB\xBF"
            "Прибор;[3] ЛИР-8М\r\n1;\"a;b\";\"say \"\"hi\"\"\";\"two\nlines\"\r\n");
  EXPECT_EQ(LIR::CsvText({}), "\xEF\xBB\xBF");
}

LIR::UnitConfig Sample() {
  LIR::UnitConfig c;
  c.Model = LIR::Model8M;
  c.Address = 12;
  c.ReadTime = "2026-12-07 14:09:30";
  for (int n = 0; n < 8; ++n)
    c.Params[n] = {uint16_t(900 - n), uint16_t(n), 1, 0, 1, 0, 1, 0, uint8_t(n % 3), uint8_t(n)};
  c.Settings = {0x8305, 0x0100, 0x8807};
  c.CommonRele = 1;
  return c;
}

TEST(Files, ConfigurationRoundTripsAndRefusesWhatIsNotOne) {
  const LIR::UnitConfig c = Sample();
  const std::string json = LIR::ToJson(c);
  EXPECT_NE(json.find("\"modelName\": \"ЛИР-8М\""), std::string::npos);
  EXPECT_NE(json.find("\"Pusk\": {\n      \"channel\": 1,\n      \"locked\": false"),
            std::string::npos);
  LIR::UnitConfig back;
  std::string error;
  ASSERT_TRUE(LIR::FromJson(json, back, error)) << error;
  EXPECT_EQ(back.Settings, c.Settings);
  EXPECT_EQ(std::vector<int>({back.Model, back.Address, back.CommonRele}),
            std::vector<int>({6, 12, 1}));
  EXPECT_TRUE(LIR::Compare(c, back).empty());

  LIR::UnitConfig unit = c;
  unit.Params[2].VrZaderj = 40;
  unit.Settings[1] = 0x8100;  // Пуск locked
  unit.CommonRele = -1;
  const auto d = LIR::Compare(unit, back);
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d[0].Channel * 1000 + d[0].InUnit * 10 + d[0].InFile, 3000 + 400 + 2);
  EXPECT_EQ(d[0].Field, "VrZaderj");
  EXPECT_EQ(d[1].Field + " " + std::to_string(d[1].InUnit), "Pusk.locked 1");
  EXPECT_EQ(d[2].Field + " " + std::to_string(d[2].InUnit), "commonReleType -1");
  // A file without a relay type would not write one: that is no difference, whatever the
  // unit holds.
  LIR::UnitConfig noType = back;
  noType.CommonRele = -1;
  EXPECT_TRUE(LIR::Compare(c, noType).empty());
  // As the windows word them.
  const std::pair<LIR::Difference, std::string> texts[] = {
      {d[0], "Канал 3: Время задержки|40|2"},
      {d[1], "Блокировка кнопки \"Пуск\"|Да|Нет"},
      {d[2], "Общее реле (тип)|не определён|Н.З."},
      {{5, "TypeInput", 1, 0}, "Канал 5: Тип входа|Н.З.|Н.Р."},
      {{1, "Zvuk", 0xFF, 1}, "Канал 1: Звук|не определён|1Гц"},
      {{2, "ReleNumber", 0, 4}, "Канал 2: Номер реле для канала|Нет|4"},
      {{0, "Restart.channel", 3, 0}, "Канал для авт. перезапуска|3|Нет"}};
  for (const auto& [difference, text] : texts) {
    const LIR::DifferenceText t = LIR::Describe(difference);
    EXPECT_EQ(t.Field + "|" + t.InUnit + "|" + t.InFile, text);
  }

  // Damaged, foreign, or not writable: refused with a sentence, nothing taken.
  auto edited = [&](const std::string& from, const std::string& to) {
    std::string text = json;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::pair<std::string, std::string> bad[] = {
      {"", "не является"},
      {"{\"format\": 1}", "не является"},
      {json.substr(0, json.size() / 2), "не является"},
      {edited("\"version\": 1", "\"version\": 2"), "Версия"},
      {edited("\"model\": 6", "\"model\": 7"), "число каналов"},
      {edited("\"VrSrabat\": 900", "\"VrSrabat\": 70000"), "канал 1, поле VrSrabat"},
      {edited("\"Zvuk\": 1", "\"Zvuk\": null"), "звук канала 2"},
      {edited("\"TypeInput\": 1", "\"TypeInput\": \"1\""), "поле TypeInput"},
      {edited("\"locked\": false", "\"locked\": 0"), "настройка Pusk"},
      {edited("\"commonReleType\": 1", "\"commonReleType\": 2"), "тип общего реле"}};
  for (const auto& [text, says] : bad) {
    LIR::UnitConfig kept = c;
    error.clear();
    EXPECT_FALSE(LIR::FromJson(text, kept, error)) << says;
    EXPECT_NE(error.find(says), std::string::npos) << error;
    EXPECT_EQ(kept.Settings, c.Settings);
  }
}

// Read from one simulated unit, written to another of the same model, read back equal.
TEST(Files, ConfigurationCarriedBetweenUnits) {
  Sim::Simulator sim({}, {{1, LIR::Model8M}, {2, LIR::Model8M}});
  ASSERT_TRUE(sim.Start()) << sim.LastError();
  ModBus::Port->PortName = sim.TerminalPath();
  ASSERT_TRUE(ModBus::Port->Open());
  const LIR::UnitConfig c = Sample();
  ASSERT_TRUE(LIR::WriteUnitConfig(1, c));
  LIR::UnitConfig fromOne, fromTwo, file;
  std::string error;
  ASSERT_TRUE(LIR::ReadUnitConfig(1, LIR::Model8M, fromOne));
  EXPECT_TRUE(LIR::Compare(c, fromOne).empty());
  ASSERT_TRUE(LIR::FromJson(LIR::ToJson(fromOne), file, error)) << error;
  ASSERT_TRUE(LIR::ReadUnitConfig(2, LIR::Model8M, fromTwo));
  EXPECT_FALSE(LIR::Compare(fromTwo, file).empty());
  ASSERT_TRUE(LIR::WriteUnitConfig(2, file) && LIR::ReadUnitConfig(2, LIR::Model8M, fromTwo));
  EXPECT_TRUE(LIR::Compare(fromTwo, file).empty());
  uint16_t address = 0;
  EXPECT_TRUE(sim.Holding(2, 544, address) && address == 2);  // the address is never carried
  sim.InjectFault(Sim::FaultKind::Silent, 0, 1);
  LIR::UnitConfig kept = fromTwo;
  EXPECT_FALSE(LIR::ReadUnitConfig(2, LIR::Model8M, kept));
  EXPECT_TRUE(LIR::Compare(kept, fromTwo).empty());
  int done = 0;  // stopped by its caller after the second step: nothing taken
  kept.Settings = {};
  EXPECT_FALSE(
      LIR::ReadUnitConfig(1, LIR::Model8M, kept, [&done](int d) { return (done = d) < 2; }));
  EXPECT_EQ(done * 10 + kept.Settings[0], 20);
  ModBus::Port->Close();
}

}  // namespace
