// The quit for an upgrade ("QuitWithInst"): the message's boot instructions
// are appended to the boot sequence file, the message is acknowledged ("4"
// when an instruction could not be written whole), every module entry is
// taken so that no module call runs on (a call still busy after two minutes
// is logged and left), the companion window is told to close, and the
// process ends with a code that tells the boot helper how large the
// sequence file now is. The shutdown sequence (logout, server stop) does
// not run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QvDevice;

// One entry of the instruction list "T?first^[second^]E|...".
struct BootInstruction {
  char type = 0;
  std::string first;
  std::string second;  // only for the types 'C' and 'M'
  bool has_second = false;
  char end = 0;
};

// The entries in order. An entry cut short (no '^' after a name, or no end
// character) ends the list without being written.
std::vector<BootInstruction> ParseBootInstructions(std::string_view list);

struct BootWriteResult {
  // The file's size, -1 when it cannot be examined, 0 without instructions.
  int exit_code = 0;
  // An entry could not be written whole and was left out (logged at level 1).
  bool refused = false;
};

// Appends the message's instructions (its first "in..." field) to the
// sequence file, each entry whole or not at all.
BootWriteResult WriteBootInstructions(std::string_view message);

// Takes every module entry of the device, waiting for each to be idle, at
// most wait_ms in all; false (the busy modules logged at level 1) when some
// call was still running then.
bool TakeAllModules(QvDevice& device, uint32_t wait_ms);

// Shown while the companion window is told to close (the tray sets it);
// without one nothing is shown.
void SetUpgradeNotice(std::function<void()> notice);

// Does not return.
[[noreturn]] void ExitWithInstructions(const char* message, int length);
