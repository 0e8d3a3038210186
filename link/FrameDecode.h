#pragma once
// What a Modbus RTU frame on the line says, in the user's words: direction, address, function,
// registers and values, an exception's meaning, the checksum's verdict. An answer is read
// against the request it follows, which tells its registers. Texts are UTF-8.

#include <cstdint>
#include <string>
#include <vector>

namespace FrameDecode {

struct Frame {
  int64_t TimeMs = 0;     // when it was recorded, from the program's start
  uint8_t Direction = 0;  // 0 sent (a request), 1 received (an answer)
  std::vector<uint8_t> Bytes;
};

// One line per fact, the first naming the frame ("Запрос, 1200 мс"); `request` is the request
// the answer follows (nullptr when there is none, or for a request).
std::vector<std::string> Describe(const Frame& frame, const Frame* request);

// The meaning of a Modbus exception code; empty for a code without a standard meaning.
std::string ExceptionMeaning(uint8_t code);

// The bytes in upper-case hexadecimal, separated by spaces: "01 03 00 00".
std::string Hex(const std::vector<uint8_t>& bytes);

}  // namespace FrameDecode
