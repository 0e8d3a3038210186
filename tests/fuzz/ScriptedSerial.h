#pragma once
// A stand-in for the platform's serial calls: what the master writes is kept, and its reads are
// served from a script. For feeding the master answers no unit would send.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Scripted {

// The bytes that the reads hand out from now on, each read at most the count it asks for.
void SetAnswer(const uint8_t* bytes, size_t size);
// Everything written since the last SetAnswer, and the number of reads and bytes read.
const std::vector<uint8_t>& Written();
int Reads();
size_t BytesRead();

}  // namespace Scripted
