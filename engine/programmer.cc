#include "engine/programmer.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/clock.h"
#include "engine/console.h"
#include "engine/detect.h"
#include "engine/progress.h"
#include "engine/protocol.h"
#include "engine/reply_reader.h"
#include "engine/run_hooks.h"
#include "engine/transfer.h"
#include "serial/serial_port.h"

namespace {

constexpr char kVersion[] = "V1.0.3.2";
constexpr char kRule[] = "==========================================================\n";

void PrintShortUsage() {
  Print(
      "KT2250[A] Flash Programmer %s - Velmora; exit status 2 written, 1 ready, "
      "3 image failed, 0 failed\n",
      kVersion);
  Print("Usage :  Fwp [/? or -h or --h or -help]\n");
  Print("             [-uart port] [-baud baud_rate] \n");
  Print("             [-almanac file] [-app file]\n");
}

void PrintFullHelp() {
  PrintShortUsage();
  Print("command :\n");
  Print("  /? or -h or --h or -help : this message\n");
  Print("  -uart         : COM1  to COM256 (default COM1)\n");
  Print("  -baud         : 9600, 19200, 38400, 57600,\n");
  Print("                  115200, 230400  (default 115200bps)\n");
  Print("  -almanac      : Almanac code\n");
  Print("  -app          : App code\n");
}

void PrintTail() {
  Print("%s", kRule);
  PrintShortUsage();
  Print("%s", kRule);
  Print("Device not found!\n");
}

// How parsing ended.
enum class Parse { kDone, kFailed, kHelp };

bool IsRate(int rate) {
  for (int r : kRateTable)
    if (r == rate) return true;
  return false;
}

// The -uart value: "COM" in any letter case and a number 1 to 256 as atoi
// reads it; on POSIX an absolute device path is taken as it stands too.
bool CheckPort(const char* word) {
  if (word[0] == '/') return true;
  if (std::strlen(word) < 3 || std::toupper(static_cast<unsigned char>(word[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(word[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(word[2])) != 'M') {
    Print("Unknown \"%s\" port!\n", word);
    return false;
  }
  const int number = std::atoi(word + 3);
  if (number > 256 || number < 1) {
    Print("Unknow \"%s\" port!\n", word);
    return false;
  }
  return true;
}

Parse ParseWords(int count, char** words, const char** portName, const char* paths[]) {
  for (int i = 1; i < count; ++i) {
    const char* word = words[i];
    const bool hasNext = i + 1 < count;
    if (word[0] != '-') {
      if (std::strcmp(word, "/?") == 0) return Parse::kHelp;
      Print("unknown \"%s\" command!\n", word);
      return Parse::kFailed;
    }
    const char* key = word + 1;
    int image = -1;
    for (int s = 0; s < kSlotCount && image < 0; ++s)
      if (std::strcmp(key, kImageTable[s].key) == 0) image = s;
    if (image >= 0) {
      if (!hasNext || words[i + 1][0] == '-') {
        Print("%s", kImageTable[image].missing);
        return Parse::kFailed;
      }
      // The later path wins; the user hears of it, for a typo may hide there.
      if (paths[image] != nullptr)
        EngineConsole().writeError(std::string(word) + " given twice: " + words[i + 1] +
                                   " replaces " + paths[image]);
      paths[image] = words[++i];
    } else if (std::strcmp(key, "uart") == 0) {
      if (!hasNext) {
        Print("COM port was missing!\n");
        return Parse::kFailed;
      }
      if (!CheckPort(words[i + 1])) return Parse::kFailed;
      *portName = words[++i];
    } else if (std::strcmp(key, "baud") == 0) {
      if (!hasNext) return Parse::kFailed;
      const int rate = std::atoi(words[i + 1]);
      if (!IsRate(rate)) {
        Print("Baud rate \"%s\" error!\n", words[i + 1]);
        return Parse::kFailed;
      }
      g_programmingBaud = rate;
      ++i;
    } else if (std::strcmp(key, "h") == 0 || std::strcmp(key, "-h") == 0 ||
               std::strcmp(key, "help") == 0 || std::strcmp(key, "-help") == 0) {
      return Parse::kHelp;
    } else {
      Print("unknown \"%s\" command!\n", word);
      return Parse::kFailed;
    }
  }
  return Parse::kDone;
}

int EndRun(int result, bool portOpened) {
  if (portOpened) SerialPort::close();
  g_imageSet.release();
  return result;
}

}  // namespace

int ProgrammerMain(int count, char** words) {
  RunHooks none;
  return RunProgrammer(count, words, none);
}

int RunProgrammer(int count, char** words, RunHooks& hooks) {
  hooks.record = RunRecord{};
  const RunHooksScope scope(hooks);
  Print("Flash Programmer %s\n", kVersion);
  if (count <= 1) {
    PrintShortUsage();
    Pause();
    return 0;
  }

  const char* portName = "COM1";
  const char* paths[kSlotCount] = {};
  const Parse parse = ParseWords(count, words, &portName, paths);
  if (parse == Parse::kHelp) {
    PrintFullHelp();
    return 0;
  }

  // The paths stored before a parsing error are loaded too, so that every
  // missing file among them is reported, in slot order.
  bool good = parse == Parse::kDone;
  g_imageSet.release();
  for (int slot = 0; slot < kSlotCount; ++slot)
    if (paths[slot] && !LoadImage(paths[slot], g_imageSet.slot[slot])) good = false;
  for (int slot = 0; slot < kSlotCount; ++slot)
    hooks.record.present[slot] = g_imageSet.present(slot);
  if (!good) {
    PrintTail();
    return EndRun(0, false);
  }

  std::string why;
  SerialPort::Handle port =
      SerialPort::open(portName, static_cast<uint32_t>(g_programmingBaud), &why);
  if (!port) {
    Print("Can not open %s port!\n", portName);
    if (!why.empty()) EngineConsole().writeError(why);
    PrintTail();
    return EndRun(0, false);
  }
  SerialPort::install(std::move(port));
  g_startTime = EngineClock().nowMs();

  if (DetectReceiver() == 0) {
    if (RunAborted()) {
      hooks.record.aborted = true;
      return EndRun(0, true);
    }
    if (SerialPort::lineGone()) Print("\nDevice no response!\n");
    Print("Device not found!\n");
    return EndRun(0, true);
  }

  int first = 0;
  while (first < kSlotCount && !g_imageSet.present(first)) ++first;
  if (first == kSlotCount) return EndRun(1, true);
  if (first == 0)
    Print("DSU mode %d bps\n", g_programmingBaud);
  else
    Print("ISP mode %d bps\n", g_programmingBaud);
  Print("Addr : 0x%08X", kImageTable[first].address);

  const int result = TransferImages();
  // An abort that came after the last image was handled cut nothing short.
  if (RunAborted() && !hooks.record.complete && result != 3) {
    hooks.record.aborted = true;
    return EndRun(result, true);
  }
  if (result == 0) Print("Device not found!\n");
  return EndRun(result, true);
}
