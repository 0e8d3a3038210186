#pragma once
// A unit's configuration as a file the engineer keeps or hands on: every channel's parameters,
// the external-control settings and the common relay type, read from one unit and written to
// another of the same model. Clock, password and network address are never written from it.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/LIR.h"

namespace LIR {

// A sound value for a channel whose two sound bits are both set: no sound the unit knows.
constexpr uint8_t kUnknownSound = 0xFF;

struct UnitConfig {
  uint8_t Model = Model12M;            // as the unit reports it; decides the number of channels
  uint8_t Address = 0;                 // the unit it was read from, for the reader: never written
  std::string ReadTime;                // "2026-12-07 14:09:30"
  ChannelParams Params{};              // channels 1..ChannelsOf(Model); Zvuk may be kUnknownSound
  std::array<uint16_t, 3> Settings{};  // registers 523..525
  int CommonRele = -1;                 // 0 or 1; -1 when the unit holds any other value
};

int ChannelsOf(uint8_t model);
// "ЛИР-4М", "ЛИР-8М", "ЛИР-12М"; "неопознанный" for another code.
std::string ModelName(uint8_t model);

// Reads the configuration of the unit at `address`: three transactions. On false nothing is
// changed and ModBus::LastError() says why. `goOn`, when given, hears after each transaction
// how many are done; its false stops the reading there (false, with LastError() None).
constexpr int kReadSteps = 3;
bool ReadUnitConfig(uint8_t address, uint8_t model, UnitConfig& config,
                    const std::function<bool(int done)>& goOn = nullptr);
// Writes what the file may change: the channels' parameters, the settings, and the relay type
// unless it is unknown (-1). Three transactions at most; false at the first that fails.
bool WriteUnitConfig(uint8_t address, const UnitConfig& config);

std::string ToJson(const UnitConfig& config);
// False for a damaged or foreign file, or one that could not be written to a unit (a sound
// that is none of the three), with a sentence for the user in `error`.
bool FromJson(const std::string& text, UnitConfig& config, std::string& error);

// One value that differs: the channel (1..12, or 0 for the unit's own settings), the field's
// name as the file spells it, and the two values. Only what writing the file would change.
struct Difference {
  int Channel;
  std::string Field;
  int InUnit, InFile;
};
std::vector<Difference> Compare(const UnitConfig& unit, const UnitConfig& file);

// A difference as the windows show such values: the field by its Russian name ("Канал 3:
// Тип входа", "Блокировка кнопки "Пуск""), the values as words ("Н.З.", "1Гц", "Нет").
struct DifferenceText {
  std::string Field, InUnit, InFile;
};
DifferenceText Describe(const Difference& difference);

}  // namespace LIR
