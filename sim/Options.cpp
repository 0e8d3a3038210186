#include "sim/Options.h"

#include <charconv>
#include <cmath>

#include "sim/Unit.h"

namespace Sim {

namespace {

const char kHelp[] = R"(Usage: lir-sim [OPTION]...
Simulates ЛИР-4М/8М/12М alarm units on one Modbus RTU line behind a pseudo-terminal.
The program under test opens the terminal (or the link to it) as its serial port.

Options:
  --link PATH          link the terminal as PATH (default: COM2 in the current folder);
                       an existing symbolic link is replaced, any other file is refused
  --unit UNIT          a unit on the line (repeatable; default: one ЛИР-12М at address 1):
                         ADDR[:MODEL][,password=TEXT][,access=granted|denied]
                             [,journal=COUNT[@LATEST]][,inputs=HEX]
                       ADDR 1..255, each address once. MODEL is the type code the unit
                       reports: 5 ЛИР-4М (4 channels), 6 ЛИР-8М (8), 7 ЛИР-12М (12,
                       default); any other code 0..255 is reported as it is and the unit
                       has 12 channels. password: 8 characters from the digits, '_' and
                       the Cyrillic capitals А..Я without Й (lower case is taken as upper
                       case); default 00000000. access: the state at start (default
                       granted). journal: COUNT records (0..1000) prefilled, LATEST
                       (0..1000, default COUNT) the number of the newest one. inputs:
                       channel inputs active at start, bit n = channel n+1 (those channels
                       start tripped, without journal entries).
  --baud N             line speed, for pacing and the frame gap (default 9600)
  --pace               send answers byte by byte at 11 bits a byte at the line speed
  --turnaround-us N    pause between the end of a request and the answer, in
                       microseconds (default 2000; 0 answers at once)
  --fault KIND[:PARAM] inject a fault into answers (see Faults)
  --fault-next N       ... into the next N requests addressed to a unit
  --fault-rate P       ... into each such request with probability P (0..1);
                       with neither, into every such request
  --trip-period-ms N   every N ms a random channel of a random unit toggles its input
                       (default 0: inputs change only on command)
  --seed N             seed of the random numbers (faults, noise, trips; default 1)
  --control PATH       open a second pseudo-terminal linked as PATH for the control
                       protocol (see Control)
  --tcp PORT           also serve the line on TCP port PORT of 127.0.0.1 (0: a free port),
                       as a serial device server in raw mode carries RTU: port name
                       tcp://127.0.0.1:PORT (see TCP)
  --verbose            print every frame, with its time, in hex on standard error
  --help               print this text and exit

On start the program prints the terminal's path and its link (and "tcp 127.0.0.1:PORT"
with --tcp), then serves until SIGINT or SIGTERM, and removes its links on the way out.
Bad options: a message, exit code 2.

TCP (--tcp PORT):
  One client at a time is connected to the line; another is closed at once, and when the
  client goes the next may come. The server opens the line's terminal while a client is
  connected and drops what the line sent before; in between, the terminal stays free for a
  program that opens it directly (the two never share it). Only 127.0.0.1 listens.

Line:
  Requests are framed by the length their function implies (3, 4, 6: 8 bytes; 16: 9 +
  byte count) and served as soon as they are complete. A frame with a wrong CRC is never
  answered; it and whatever follows it are dropped until the line is silent for 3.5
  characters (at least 2 ms). Bytes of another function code are taken as one frame at
  that silence: if its CRC is right and a unit has its address, the answer is exception 1.
  Frames to an address no unit has, and broadcasts (address 0), are never answered; the
  units do not act on broadcasts at all.
  Answers go out after the turnaround. A unit that hears the master before its answer is
  out (during the turnaround, a late or split fault's pause, or paced sending) drops the
  rest of that answer, as on a half-duplex line the master has taken back, and serves
  the new request as usual: a fault spoils only its own transaction.

Faults (the fault replaces or spoils the answer of a request addressed to a unit):
  silent               no answer
  corrupt              one byte of the answer changed, the CRC left as it was
  exception            exception answer with code 4; the unit does nothing
  split:MS             the answer in two halves, MS ms apart (default 50)
  late:MS              the answer MS ms later than usual (default 500)
  noise:N              N random bytes just before the answer (default 4)
  other-address:A      a correct answer bearing address A (CRC recomputed; A required)
  truncated:N          the answer without its last N bytes, as from a unit cut off in
                       the middle of its frame (default 1; N at least the length: none)
  Except for exception, a faulted request still takes effect: only the answer is lost.

Registers of a unit (16 bits each):
  Holding, read with function 3:
    0..35    channel parameters, 3 per channel (all 12 channels exist on every model)
             3n trip time, 3n+1 delay, 3n+2 flags: bit 0 contact type, bit 1 pass-through
             (else latching), bit 2 alarm mode, bit 3 common relay, bit 4 trips NOT
             logged, bit 5 returns to normal logged, bits 6-7 sound, bits 8-15 relay.
             At start: 10, 0, 0x0020 for every channel.
    517      number of the newest journal record (read only)
    518      number of records held; writing 0 clears the journal (records stay in
             memory, the newest number stays), any other value: exception 3
    520..522 clock: 520 = day<<8|month, 521 = (year-2000)<<8|hour, 522 = minute<<8|second
    523..525 external-control settings, any value
    526      panel command: 1 Пуск, 2 Стоп, 4 Контроль, 8 Квитир., 16 Сброс,
             32 Перезапуск, other values: exception 3; reads the last command taken
    527      common relay type: low byte 0 or 1 (else exception 3)
    540..543 password, write only (reading them: exception 2); must be written all four
             in one request (else exception 3)
    544      network address, 1..255 (0 or above 255: exception 3; so is an address
             another unit on the line has)
  Input, read with function 4:
    4          channel state: bit n = channel n+1 tripped
    50         low byte: model code; bit 15: access granted
    1000..4999 journal record k at 1000+4(k-1): +0 day<<8|month,
               +1 (year-2000)<<8|hour, +2 minute<<8|second, +3 bit 7 alarm (else return
               to normal), bits 0-6 channel number
  Any other register in a request: exception 2. A read of 0 or more than 125 registers,
  a write of 0 or more than 123, or a byte count that does not match: exception 3.
  Checks go in this order: count, registers, access, values; a refused write changes
  nothing.

Access and password:
  Reads are always allowed. While access is denied (bit 15 of input register 50 clear)
  every write but the password's is refused with exception 1. Writing 540..543 while
  denied grants access if the four registers equal the unit's password in device
  character codes (two per register, first character in the high byte; '_' 0, А..И 1..9,
  К..Щ 10..25, Ы 26, Ь 27, Ъ 28, Э..Я 29..31, '0'..'9' 32..41); otherwise access stays
  denied and the answer is the same. Writing them while granted sets a new password
  (every code 0..41, else exception 3) and access stays granted. The restart command
  withdraws access.

Clock:
  The unit's clock is the host's local time plus an offset. Writing any of 520..522 sets
  the offset so that the clock reads the written value now and then runs on; a written
  date or time that does not exist (month 13, 31 April, hour 24 ...) is refused with
  exception 3. The control command clock-regs (and the API's SetClockRegisters) freezes
  the three registers at raw values, valid or not, until the next clock write.

Channels:
  Each channel has an input, active or not (the contact type does not matter here). A
  channel trips when its input becomes active and then writes an alarm record unless bit
  4 of 3n+2 is set. A pass-through channel returns to normal when its input does; a
  latching one stays tripped until Сброс. A return to normal writes a normal record if
  bit 5 of 3n+2 is set.

Panel commands (register 526; each one taken is counted per unit and code):
  Пуск, Стоп   start and stop the pump (a flag no register shows)
  Контроль     lamp test: every channel of the unit reads tripped in register 4 until
               1 s after the last Контроль; no journal entries
  Квитир.      silences the sound
  Сброс        latched channels whose input is no longer active return to normal, with
               their journal entries
  Перезапуск   every channel back to normal without journal entries, lamp test ended,
               access withdrawn

Journal:
  A ring of 1000 records numbered 1..1000. A new record goes to the newest number + 1
  (after 1000, or with none yet: 1), the count grows up to 1000. Prefilled records go
  back in time from one minute ago, a few minutes apart, in alarm/normal pairs with the
  channels taking turns. With records but newest number 0, register 517 reads 0 and the
  records lie at 1000, 999, ... as if the newest were 1000.

Network address:
  A write of 544 is answered under the old address; the unit takes the new one once the
  answer has gone out (or was lost to a fault).

Control (--control PATH): one command a line, one reply line each ("ok", a number, or
"error: ..."), lines end with LF (a CR before it is ignored); empty lines get no reply.
Numbers are decimal, or hexadecimal after 0x. CHANNEL counts from 1.
  fault KIND PARAM COUNT        fault for the next COUNT requests (KIND as above)
  fault-rate KIND PARAM P       fault with probability P
  clear-faults
  count ADDR                    good requests to that address
  total                         good requests to any address, broadcasts included
  commands ADDR CODE            panel commands CODE the unit has taken
  reset-counters
  access ADDR 0|1               deny or grant access
  input ADDR CHANNEL 0|1        set a channel input (with the unit's own reaction)
  holding ADDR REG              read a holding register (540..543 too)
  set-holding ADDR REG VALUE    set a holding register, bypassing the unit's rules
                                (520..522 freeze the clock; 544 refuses a taken address)
  input-reg ADDR REG            read an input register
  clock-regs ADDR R520 R521 R522  freeze the clock registers
  journal ADDR COUNT LATEST     prefill the journal afresh
  model ADDR CODE               change the model code
  password ADDR                 the unit's password (UTF-8)
  send BYTE...                  put bytes on the line now, outside any transaction
)";

bool Split(const std::string& text, char separator, std::string& head, std::string& tail) {
  const size_t at = text.find(separator);
  if (at == std::string::npos) return false;
  head = text.substr(0, at);
  tail = text.substr(at + 1);
  return true;
}

bool ParseHex(const std::string& text, uint16_t& value) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  unsigned v = 0;
  const char* end = digits.data() + digits.size();
  auto r = std::from_chars(digits.data(), end, v, 16);
  if (digits.empty() || r.ec != std::errc() || r.ptr != end || v > 0xFFFF) return false;
  value = static_cast<uint16_t>(v);
  return true;
}

bool ParseUnit(const std::string& text, UnitSetup& unit, std::string& error) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1) {
    parts.push_back(text.substr(start, comma - start));
  }
  parts.push_back(text.substr(start));

  std::string address = parts[0], model;
  const bool hasModel = Split(parts[0], ':', address, model);
  uint64_t n = 0;
  if (!ParseNumber(address, 255, n) || n == 0) {
    error = "unit address must be 1..255: '" + address + "'";
    return false;
  }
  unit.Address = static_cast<uint8_t>(n);
  if (hasModel) {
    if (!ParseNumber(model, 255, n)) {
      error = "unit model must be 0..255: '" + model + "'";
      return false;
    }
    unit.Model = static_cast<uint8_t>(n);
  }
  bool latestGiven = false;
  for (size_t i = 1; i < parts.size(); ++i) {
    std::string key, value;
    if (!Split(parts[i], '=', key, value)) {
      error = "unit setting must be KEY=VALUE: '" + parts[i] + "'";
      return false;
    }
    if (key == "password") {
      if (!PasswordFromText(value, unit.Password, error)) return false;
    } else if (key == "access") {
      if (value != "granted" && value != "denied") {
        error = "access must be granted or denied: '" + value + "'";
        return false;
      }
      unit.AccessGranted = value == "granted";
    } else if (key == "journal") {
      std::string count = value, latest;
      latestGiven = Split(value, '@', count, latest);
      uint64_t c = 0, l = 0;
      if (!ParseNumber(count, kJournalSize, c) ||
          (latestGiven && !ParseNumber(latest, kJournalSize, l))) {
        error = "journal must be COUNT[@LATEST], both 0..1000: '" + value + "'";
        return false;
      }
      unit.JournalCount = static_cast<uint16_t>(c);
      unit.JournalLatest = static_cast<uint16_t>(latestGiven ? l : c);
    } else if (key == "inputs") {
      if (!ParseHex(value, unit.Inputs)) {
        error = "inputs must be a hexadecimal number up to FFFF: '" + value + "'";
        return false;
      }
    } else {
      error = "unknown unit setting '" + key + "'";
      return false;
    }
  }
  if (unit.Inputs >> ChannelCount(unit.Model)) {
    error = "unit " + std::to_string(unit.Address) + " has only " +
            std::to_string(ChannelCount(unit.Model)) + " channels for its inputs";
    return false;
  }
  return true;
}

bool ParseFault(const std::string& text, Options& options, std::string& error) {
  std::string name = text, param;
  const bool hasParam = Split(text, ':', name, param);
  if (!ParseFaultKind(name, options.Fault) || options.Fault == FaultKind::None) {
    error = "unknown fault kind '" + name + "'";
    return false;
  }
  uint64_t n = 0;
  if (hasParam) {
    const uint64_t max = options.Fault == FaultKind::OtherAddress ? 255
                         : options.Fault == FaultKind::Noise      ? 1000
                                                                  : 60000;
    if (!ParseNumber(param, max, n)) {
      error = "fault parameter must be 0.." + std::to_string(max) + ": '" + param + "'";
      return false;
    }
    options.FaultParam = static_cast<uint32_t>(n);
  } else if (!DefaultFaultParam(options.Fault, options.FaultParam)) {
    error = "fault " + name + " needs a parameter (" + name + ":ADDRESS)";
    return false;
  }
  return true;
}

}  // namespace

std::string HelpText() {
  return kHelp;
}

bool ParseFaultKind(const std::string& name, FaultKind& kind) {
  static const struct {
    const char* Name;
    FaultKind Kind;
  } kKinds[] = {{"none", FaultKind::None},          {"silent", FaultKind::Silent},
                {"corrupt", FaultKind::Corrupt},    {"exception", FaultKind::Exception},
                {"split", FaultKind::Split},        {"late", FaultKind::Late},
                {"noise", FaultKind::Noise},        {"other-address", FaultKind::OtherAddress},
                {"truncated", FaultKind::Truncated}};
  for (const auto& k : kKinds) {
    if (name == k.Name) {
      kind = k.Kind;
      return true;
    }
  }
  return false;
}

bool DefaultFaultParam(FaultKind kind, uint32_t& param) {
  switch (kind) {
    case FaultKind::Split:
      param = 50;
      return true;
    case FaultKind::Late:
      param = 500;
      return true;
    case FaultKind::Noise:
      param = 4;
      return true;
    case FaultKind::Truncated:
      param = 1;
      return true;
    case FaultKind::OtherAddress:
      return false;
    default:
      param = 0;
      return true;
  }
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
  int base = 10;
  size_t skip = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    skip = 2;
  }
  const char* begin = text.data() + skip;
  const char* end = text.data() + text.size();
  uint64_t v = 0;
  auto r = std::from_chars(begin, end, v, base);
  if (begin == end || r.ec != std::errc() || r.ptr != end || v > max) return false;
  value = v;
  return true;
}

bool ParseProbability(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  double v = 0;
  auto r = std::from_chars(text.data(), end, v);
  if (text.empty() || r.ec != std::errc() || r.ptr != end || !(v >= 0 && v <= 1)) return false;
  value = v;
  return true;
}

bool PasswordFromText(const std::string& utf8, std::string& cp1251, std::string& error) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(utf8[i]);
    uint8_t byte = 0;
    if (c < 0x80) {
      byte = c;
    } else if ((c == 0xD0 || c == 0xD1) && i + 1 < utf8.size()) {
      const unsigned code = ((c & 0x1Fu) << 6) | (static_cast<uint8_t>(utf8[++i]) & 0x3Fu);
      if (code >= 0x410 && code <= 0x42F) byte = static_cast<uint8_t>(code - 0x410 + 192);
      if (code >= 0x430 && code <= 0x44F) byte = static_cast<uint8_t>(code - 0x430 + 192);
    }
    if (!IsPasswordChar(byte)) {
      error =
          "password may hold only digits, '_' and Cyrillic letters А..Я without Й: '" + utf8 + "'";
      return false;
    }
    out.push_back(static_cast<char>(byte));
  }
  if (out.size() != 8) {
    error = "password must be exactly 8 characters: '" + utf8 + "'";
    return false;
  }
  cp1251 = out;
  return true;
}

std::string Cp1251ToUtf8(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const uint8_t c = static_cast<uint8_t>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else if (c >= 192) {
      const unsigned code = 0x410 + (c - 192u);
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back('?');
    }
  }
  return out;
}

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  options = Options();
  bool faultNext = false, faultRate = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    const bool inlineValue = name.rfind("--", 0) == 0 && Split(args[i], '=', name, value);
    auto needValue = [&]() {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto number = [&](uint64_t min, uint64_t max, uint64_t& n) {
      if (!needValue()) return false;
      if (!ParseNumber(value, max, n) || n < min) {
        error = name + " must be " + std::to_string(min) + ".." + std::to_string(max) + ": '" +
                value + "'";
        return false;
      }
      return true;
    };
    uint64_t n = 0;
    if (name == "--help" || name == "-h") {
      options.Help = true;
    } else if (name == "--verbose") {
      options.Verbose = true;
    } else if (name == "--pace") {
      options.Line.Pace = true;
    } else if (name == "--link" || name == "--control") {
      if (!needValue()) return false;
      if (value.empty()) {
        error = name + " needs a path";
        return false;
      }
      (name == "--link" ? options.Link : options.Control) = value;
    } else if (name == "--unit") {
      UnitSetup unit;
      if (!needValue() || !ParseUnit(value, unit, error)) return false;
      for (const UnitSetup& other : options.Units) {
        if (other.Address == unit.Address) {
          error = "address " + std::to_string(unit.Address) + " given to two units";
          return false;
        }
      }
      options.Units.push_back(unit);
    } else if (name == "--baud") {
      if (!number(50, 4000000, n)) return false;
      options.Line.Baud = static_cast<uint32_t>(n);
    } else if (name == "--turnaround-us") {
      if (!number(0, 10000000, n)) return false;
      options.Line.TurnaroundUs = static_cast<uint32_t>(n);
    } else if (name == "--trip-period-ms") {
      if (!number(0, 3600000, n)) return false;
      options.Line.TripPeriodMs = static_cast<uint32_t>(n);
    } else if (name == "--tcp") {
      if (!number(0, 65535, n)) return false;
      options.Tcp = static_cast<int32_t>(n);
    } else if (name == "--seed") {
      if (!number(0, 0xFFFFFFFFu, n)) return false;
      options.Line.Seed = static_cast<uint32_t>(n);
    } else if (name == "--fault") {
      if (!needValue() || !ParseFault(value, options, error)) return false;
    } else if (name == "--fault-next") {
      if (!number(1, 1000000000, n)) return false;
      options.FaultNext = static_cast<uint32_t>(n);
      faultNext = true;
    } else if (name == "--fault-rate") {
      if (!needValue()) return false;
      if (!ParseProbability(value, options.FaultRate)) {
        error = "--fault-rate must be a probability 0..1: '" + value + "'";
        return false;
      }
      faultRate = true;
    } else {
      error = "unknown option '" + args[i] + "'";
      return false;
    }
    if (inlineValue &&
        (name == "--help" || name == "-h" || name == "--verbose" || name == "--pace")) {
      error = name + " takes no value";
      return false;
    }
  }
  if ((faultNext || faultRate) && options.Fault == FaultKind::None) {
    error = "--fault-next and --fault-rate need --fault";
    return false;
  }
  if (faultNext && faultRate) {
    error = "give either --fault-next or --fault-rate, not both";
    return false;
  }
  if (options.Fault != FaultKind::None && !faultNext && !faultRate) options.FaultRate = 1;
  if (!options.Control.empty() && options.Control == options.Link) {
    error = "--control and --link must differ";
    return false;
  }
  if (options.Units.empty()) options.Units.push_back(UnitSetup());
  return true;
}

}  // namespace Sim
