#include "device/UnitConfig.h"

#include <nlohmann/json.hpp>

namespace LIR {
namespace {

using Json = nlohmann::ordered_json;  // the file keeps the order a reader expects

constexpr char kFormat[] = "Ирвалон: конфигурация прибора ЛИР";
constexpr int kVersion = 1;

// The fields of a channel, in the order of the record, with the largest value each takes,
// and as the channel table names them and shows a flag's two values.
struct Field {
  const char* Name;
  int Max;
  const char* Title;
  const char *No, *Yes;
};
constexpr Field kChannelFields[] = {
    {"VrSrabat", 0xFFFF, "Время срабатывания", nullptr, nullptr},
    {"VrZaderj", 0xFFFF, "Время задержки", nullptr, nullptr},
    {"TypeInput", 1, "Тип входа", "Н.Р.", "Н.З."},
    {"TypeChannel", 1, "Тип канала", "Запоминает", "Сквозной"},
    {"ReleMode", 1, "Режим реле", "Блокировка", "Сигнализация"},
    {"ToRele", 1, "Влияние на общее реле", "Нет", "Да"},
    {"Srabat", 1, "В журнал при срабатывании", "Запрещено", "Разрешено"},
    {"Norm", 1, "В журнал при переходе в норму", "Запрещено", "Разрешено"},
    {"Zvuk", 2, "Звук", nullptr, nullptr},
    {"ReleNumber", 0xFF, "Номер реле для канала", nullptr, nullptr}};

int Get(const ChannelParam& p, int field) {
  const int values[] = {p.VrSrabat, p.VrZaderj, p.TypeInput, p.TypeChannel, p.ReleMode,
                        p.ToRele,   p.Srabat,   p.Norm,      p.Zvuk,        p.ReleNumber};
  return values[field];
}

void Set(ChannelParam& p, int field, int value) {
  uint16_t* wide[] = {&p.VrSrabat, &p.VrZaderj};
  uint8_t* narrow[] = {&p.TypeInput, &p.TypeChannel, &p.ReleMode, &p.ToRele,
                       &p.Srabat,    &p.Norm,        &p.Zvuk,     &p.ReleNumber};
  if (field < 2) {
    *wide[field] = static_cast<uint16_t>(value);
  } else {
    *narrow[field - 2] = static_cast<uint8_t>(value);
  }
}

// The external-control entries: which byte of which settings word each one is, and the name
// of its bit 7 (a button's lock, or the pump's restart).
struct Entry {
  const char* Name;
  int Word, Shift;
  const char* Flag;
  const char *ChannelTitle, *FlagTitle;  // as the settings dialog words them
};
constexpr Entry kEntries[] = {
    {"Pusk", 1, 8, "locked", "Канал для кнопки \"Пуск\"", "Блокировка кнопки \"Пуск\""},
    {"Stop", 1, 0, "locked", "Канал для кнопки \"Стоп\"", "Блокировка кнопки \"Стоп\""},
    {"Control", 0, 8, "locked", "Канал для кнопки \"Контроль\"", "Блокировка кнопки \"Контроль\""},
    {"Kvitir", 0, 0, "locked", "Канал для кнопки \"Квитир.\"", "Блокировка кнопки \"Квитир.\""},
    {"Sbros", 2, 0, "locked", "Канал для кнопки \"Сброс\"", "Блокировка кнопки \"Сброс\""},
    {"Restart", 2, 8, "allowed", "Канал для авт. перезапуска", "Перезапуск насоса разрешен"}};

int EntryByte(const std::array<uint16_t, 3>& words, const Entry& e) {
  return (words[e.Word] >> e.Shift) & 0xFF;
}

// An integer member from 0 to max; false when it is missing or anything else.
bool Integer(const Json& object, const char* name, int max, int& value) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_number_integer()) return false;
  const int64_t v = it->get<int64_t>();
  if (v < 0 || v > max) return false;
  value = static_cast<int>(v);
  return true;
}

bool Boolean(const Json& object, const char* name, bool& value) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_boolean()) return false;
  value = it->get<bool>();
  return true;
}

bool Damaged(std::string& error, const std::string& where) {
  error = "Файл конфигурации повреждён: " + where + ".";
  return false;
}

// "Нет" for no channel, the number otherwise.
std::string NumberOrNone(int value) {
  return value == 0 ? "Нет" : std::to_string(value);
}

std::string SoundText(int zvuk) {
  if (zvuk == 0) return "Нет";
  if (zvuk == 1 || zvuk == 2) return std::to_string(zvuk) + "Гц";
  return "не определён";  // both sound bits set
}

}  // namespace

int ChannelsOf(uint8_t model) {
  if (model == Model4M) return 4;
  if (model == Model8M) return 8;
  return 12;
}

std::string ModelName(uint8_t model) {
  if (model == Model4M) return "ЛИР-4М";
  if (model == Model8M) return "ЛИР-8М";
  if (model == Model12M) return "ЛИР-12М";
  return "неопознанный";
}

bool ReadUnitConfig(uint8_t address, uint8_t model, UnitConfig& config,
                    const std::function<bool(int done)>& goOn) {
  UnitConfig read;
  read.Model = model;
  read.Address = address;
  for (ChannelParam& p : read.Params)
    p.Zvuk = kUnknownSound;  // left so by a read that finds both sound bits set
  ModBus::RegisterArray settings{};
  uint8_t type = 0xFF;
  const auto step = [&goOn](int done, bool ok) { return ok && (!goOn || goOn(done)); };
  if (!step(1,
            ReadChannelsParam(address, 0, static_cast<uint8_t>(ChannelsOf(model)), read.Params)) ||
      !step(2, ReadSettings(address, settings)) || !step(3, ReadCommonReleType(address, type)))
    return false;
  read.Settings = {settings[0], settings[1], settings[2]};
  read.CommonRele = type <= 1 ? type : -1;
  read.ReadTime = config.ReadTime;
  config = read;
  return true;
}

bool WriteUnitConfig(uint8_t address, const UnitConfig& config) {
  ModBus::RegisterArray settings{};
  std::copy(config.Settings.begin(), config.Settings.end(), settings.begin());
  return WriteChannelsParam(address, 0, static_cast<uint8_t>(ChannelsOf(config.Model)),
                            config.Params) &&
         WriteSettings(address, settings) &&
         (config.CommonRele < 0 || WriteCommonReleType(address, config.CommonRele == 1));
}

std::string ToJson(const UnitConfig& config) {
  Json channels = Json::array();
  for (int n = 0; n < ChannelsOf(config.Model); ++n) {
    Json channel = {{"channel", n + 1}};
    for (int f = 0; f < static_cast<int>(std::size(kChannelFields)); ++f) {
      const int value = Get(config.Params[static_cast<size_t>(n)], f);
      channel[kChannelFields[f].Name] =
          value <= kChannelFields[f].Max ? Json(value) : Json(nullptr);
    }
    channels.push_back(channel);
  }
  Json settings = Json::object();
  for (const Entry& e : kEntries) {
    const int byte = EntryByte(config.Settings, e);
    settings[e.Name] = {{"channel", byte & 0x7F}, {e.Flag, (byte & 0x80) != 0}};
  }
  const Json file = {
      {"format", kFormat},
      {"version", kVersion},
      {"model", config.Model},
      {"modelName", ModelName(config.Model)},
      {"address", config.Address},
      {"readTime", config.ReadTime},
      {"channels", channels},
      {"settings", settings},
      {"commonReleType", config.CommonRele < 0 ? Json(nullptr) : Json(config.CommonRele)}};
  return file.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool FromJson(const std::string& text, UnitConfig& config, std::string& error) {
  const Json file = Json::parse(text, nullptr, false);
  const auto format = file.is_object() ? file.find("format") : file.end();
  if (!file.is_object() || format == file.end() || *format != kFormat) {
    error = "Файл не является файлом конфигурации прибора ЛИР.";
    return false;
  }
  int version = 0, model = 0, address = 0;
  if (!Integer(file, "version", 0xFFFF, version)) return Damaged(error, "версия");
  if (version != kVersion) {
    error = "Версия файла конфигурации " + std::to_string(version) + " не поддерживается.";
    return false;
  }
  if (!Integer(file, "model", 0xFF, model)) return Damaged(error, "модель");
  if (!Integer(file, "address", 0xFF, address)) return Damaged(error, "адрес");
  UnitConfig read;
  read.Model = static_cast<uint8_t>(model);
  read.Address = static_cast<uint8_t>(address);
  const auto time = file.find("readTime");
  if (time != file.end() && time->is_string()) read.ReadTime = time->get<std::string>();

  const auto channels = file.find("channels");
  const int count = ChannelsOf(read.Model);
  if (channels == file.end() || !channels->is_array() ||
      static_cast<int>(channels->size()) != count)
    return Damaged(error, "число каналов");
  for (int n = 0; n < count; ++n) {
    const Json& channel = (*channels)[static_cast<size_t>(n)];
    const std::string where = "канал " + std::to_string(n + 1);
    int number = 0;
    if (!channel.is_object() || !Integer(channel, "channel", 0xFF, number) || number != n + 1)
      return Damaged(error, where);
    for (int f = 0; f < static_cast<int>(std::size(kChannelFields)); ++f) {
      int value = 0;
      const char* name = kChannelFields[f].Name;
      // A sound the unit held that is none of the three cannot be written back.
      if (f == 8 && channel.contains(name) && channel[name].is_null()) {
        error = "В файле не задан звук канала " + std::to_string(n + 1) +
                ": такую конфигурацию записать в прибор нельзя.";
        return false;
      }
      if (!Integer(channel, name, kChannelFields[f].Max, value))
        return Damaged(error, where + ", поле " + name);
      Set(read.Params[static_cast<size_t>(n)], f, value);
    }
  }

  const auto settings = file.find("settings");
  if (settings == file.end() || !settings->is_object()) return Damaged(error, "настройки");
  for (const Entry& e : kEntries) {
    const auto entry = settings->find(e.Name);
    int channel = 0;
    bool flag = false;
    if (entry == settings->end() || !entry->is_object() ||
        !Integer(*entry, "channel", 0x7F, channel) || !Boolean(*entry, e.Flag, flag))
      return Damaged(error, std::string("настройка ") + e.Name);
    read.Settings[static_cast<size_t>(e.Word)] |=
        static_cast<uint16_t>((channel | (flag ? 0x80 : 0)) << e.Shift);
  }

  const auto rele = file.find("commonReleType");
  int type = -1;
  if (rele == file.end() || (!rele->is_null() && !Integer(file, "commonReleType", 1, type)))
    return Damaged(error, "тип общего реле");
  read.CommonRele = type;
  config = read;
  return true;
}

std::vector<Difference> Compare(const UnitConfig& unit, const UnitConfig& file) {
  std::vector<Difference> differences;
  for (int n = 0; n < ChannelsOf(file.Model); ++n) {
    for (int f = 0; f < static_cast<int>(std::size(kChannelFields)); ++f) {
      const int inUnit = Get(unit.Params[static_cast<size_t>(n)], f);
      const int inFile = Get(file.Params[static_cast<size_t>(n)], f);
      if (inUnit != inFile) differences.push_back({n + 1, kChannelFields[f].Name, inUnit, inFile});
    }
  }
  for (const Entry& e : kEntries) {
    const int inUnit = EntryByte(unit.Settings, e), inFile = EntryByte(file.Settings, e);
    if ((inUnit & 0x7F) != (inFile & 0x7F))
      differences.push_back({0, std::string(e.Name) + ".channel", inUnit & 0x7F, inFile & 0x7F});
    if ((inUnit & 0x80) != (inFile & 0x80))
      differences.push_back({0, std::string(e.Name) + "." + e.Flag, inUnit >> 7, inFile >> 7});
  }
  // A file without a relay type leaves the unit's alone: no difference to write.
  if (file.CommonRele >= 0 && unit.CommonRele != file.CommonRele)
    differences.push_back({0, "commonReleType", unit.CommonRele, file.CommonRele});
  return differences;
}

DifferenceText Describe(const Difference& d) {
  const auto both = [&d](const std::function<std::string(int)>& text) {
    return DifferenceText{std::string(), text(d.InUnit), text(d.InFile)};
  };
  const auto yesNo = [](int v) { return std::string(v ? "Да" : "Нет"); };
  for (const Field& f : kChannelFields) {
    if (d.Field != f.Name) continue;
    DifferenceText t = both([&f](int v) {
      if (f.No) return std::string(v ? f.Yes : f.No);
      if (std::string(f.Name) == "Zvuk") return SoundText(v);
      if (std::string(f.Name) == "ReleNumber") return NumberOrNone(v);
      return std::to_string(v);
    });
    t.Field = "Канал " + std::to_string(d.Channel) + ": " + f.Title;
    return t;
  }
  for (const Entry& e : kEntries) {
    if (d.Field == std::string(e.Name) + ".channel") {
      DifferenceText t = both(NumberOrNone);
      t.Field = e.ChannelTitle;
      return t;
    }
    if (d.Field == std::string(e.Name) + "." + e.Flag) {
      DifferenceText t = both(yesNo);
      t.Field = e.FlagTitle;
      return t;
    }
  }
  DifferenceText t = both([](int v) {
    return std::string(v < 0 ? "не определён" : v ? "Н.З." : "Н.Р.");
  });
  t.Field = d.Field == "commonReleType" ? "Общее реле (тип)" : d.Field;
  return t;
}

}  // namespace LIR
