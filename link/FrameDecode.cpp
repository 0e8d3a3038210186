#include "link/FrameDecode.h"

#include <cstdio>

#include "link/ModBus.h"

namespace FrameDecode {
namespace {

constexpr uint8_t kExceptionBit = 0x80;
constexpr size_t kMostValuesShown = 16;

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

std::string Number(long value) {
  return std::to_string(value);
}

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

std::string FunctionName(uint8_t function) {
  switch (function) {
    case 3:
      return "чтение регистров хранения";
    case 4:
      return "чтение входных регистров";
    case 6:
      return "запись регистра";
    case 16:
      return "запись регистров";
    default:
      return "неизвестная";
  }
}

std::string Function(uint8_t function) {
  if (function & kExceptionBit) {
    const uint8_t base = function & ~kExceptionBit;
    return "Функция: " + Number(function) + " — исключение на функцию " + Number(base) + " (" +
           FunctionName(base) + ")";
  }
  return "Функция: " + Number(function) + " (" + FunctionName(function) + ")";
}

std::string Registers(uint16_t first, uint16_t count) {
  if (count == 1) return "Регистр " + Number(first);
  return "Регистры " + Number(first) + "–" + Number(long{first} + count - 1) + " (" +
         Number(count) + " шт.)";
}

std::string Value(long reg, uint16_t value) {
  return Number(reg) + " = " + Number(value) + " (" + Hex16(value) + ")";
}

// The values from `at` on, each beside its register when the first one is known (first >= 0).
void Values(std::vector<std::string>& lines, const std::vector<uint8_t>& b, size_t at, size_t count,
            long first) {
  for (size_t k = 0; k < count && k < kMostValuesShown; ++k) {
    const uint16_t value = Get16(b, at + 2 * k);
    lines.push_back(first >= 0 ? Value(first + static_cast<long>(k), value)
                               : "Значение " + Number(static_cast<long>(k + 1)) + ": " +
                                     Number(value) + " (" + Hex16(value) + ")");
  }
  if (count > kMostValuesShown)
    lines.push_back("… и ещё " + Number(static_cast<long>(count - kMostValuesShown)));
}

void Request(std::vector<std::string>& lines, const std::vector<uint8_t>& b) {
  const size_t size = b.size();
  switch (b[1]) {
    case 3:
    case 4:
      if (size == 8) lines.push_back(Registers(Get16(b, 2), Get16(b, 4)));
      return;
    case 6:
      if (size == 8) lines.push_back("Регистр " + Value(Get16(b, 2), Get16(b, 4)));
      return;
    case 16:
      if (size >= 9 && size == 9u + b[6]) {
        lines.push_back(Registers(Get16(b, 2), Get16(b, 4)) + ", байтов: " + Number(b[6]));
        Values(lines, b, 7, b[6] / 2u, Get16(b, 2));
      }
      return;
    default:
      return;
  }
}

void Answer(std::vector<std::string>& lines, const std::vector<uint8_t>& b, const Frame* request) {
  const size_t size = b.size();
  const std::vector<uint8_t>* asked = request ? &request->Bytes : nullptr;
  if (asked && (asked->size() < 8 || asked->at(1) != (b[1] & ~kExceptionBit))) asked = nullptr;
  if (b[1] & kExceptionBit) {
    const std::string meaning = ExceptionMeaning(b[2]);
    lines.push_back("Исключение " + Number(b[2]) + (meaning.empty() ? "" : ": " + meaning));
    return;
  }
  switch (b[1]) {
    case 3:
    case 4: {
      lines.push_back("Байтов данных: " + Number(b[2]));
      if (size != 5u + b[2] || b[2] % 2) return;
      const bool paired = asked && Get16(*asked, 4) * 2u == b[2];
      Values(lines, b, 3, b[2] / 2u, paired ? Get16(*asked, 2) : -1);
      return;
    }
    case 6:
      if (size == 8) lines.push_back("Регистр " + Value(Get16(b, 2), Get16(b, 4)) + " записан");
      return;
    case 16:
      if (size == 8) lines.push_back(Registers(Get16(b, 2), Get16(b, 4)) + " записаны");
      return;
    default:
      return;
  }
}

}  // namespace

std::string ExceptionMeaning(uint8_t code) {
  switch (code) {
    case 1:
      return "недопустимая функция";
    case 2:
      return "недопустимый адрес данных";
    case 3:
      return "недопустимое значение данных";
    case 4:
      return "отказ устройства";
    case 5:
      return "запрос принят, выполняется";
    case 6:
      return "устройство занято";
    case 8:
      return "ошибка чётности памяти";
    case 10:
      return "шлюз: путь недоступен";
    case 11:
      return "шлюз: устройство не отвечает";
    default:
      return std::string();
  }
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char byte[4];
  for (uint8_t b : bytes) {
    std::snprintf(byte, sizeof byte, text.empty() ? "%02X" : " %02X", b);
    text += byte;
  }
  return text;
}

std::vector<std::string> Describe(const Frame& frame, const Frame* request) {
  const std::vector<uint8_t>& b = frame.Bytes;
  const bool answer = frame.Direction != 0;
  std::vector<std::string> lines;
  std::string head = (answer ? "Ответ, " : "Запрос, ") + Number(frame.TimeMs) + " мс";
  if (answer && request)
    head += ", через " + Number(frame.TimeMs - request->TimeMs) + " мс после запроса";
  lines.push_back(head);
  if (b.size() < 4) {
    lines.push_back("Неполный кадр: " + Number(static_cast<long>(b.size())) + " байт");
    return lines;
  }
  lines.push_back("Адрес: " + Number(b[0]) + (b[0] == 0 ? " (широковещательный)" : ""));
  if (answer && request && request->Bytes.size() >= 2 && request->Bytes[0] != b[0])
    lines.back() += " — ответ другого устройства: запрос был к " + Number(request->Bytes[0]);
  lines.push_back(Function(b[1]));
  if (answer && request && request->Bytes.size() >= 2 &&
      request->Bytes[1] != (b[1] & ~kExceptionBit))
    lines.back() += " — не ответ на запрос функции " + Number(request->Bytes[1]);
  if (answer) {
    Answer(lines, b, request);
  } else {
    Request(lines, b);
  }
  const uint16_t crc = ModBus::Crc16(b.data(), b.size() - 2);
  const uint16_t sent = static_cast<uint16_t>(b[b.size() - 2] | b[b.size() - 1] << 8);
  lines.push_back(crc == sent ? "Контрольная сумма: верна"
                              : "Контрольная сумма: неверна (" + Hex16(sent) + " вместо " +
                                    Hex16(crc) + ")");
  return lines;
}

}  // namespace FrameDecode
