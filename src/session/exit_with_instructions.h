// The quit for an upgrade ("QuitWithInst"): the message's boot instructions
// are appended to the boot sequence file, the message is acknowledged,
// every module entry is taken so that no module call runs on, the
// companion window is told to close, and the process ends with a code that
// tells the boot helper how large the sequence file now is. The shutdown
// sequence (logout, server stop) does not run.
#pragma once

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

// Appends the message's instructions (its first "in..." field) to the
// sequence file; the exit code: the file's size, -1 when it cannot be
// examined, 0 without instructions.
int WriteBootInstructions(std::string_view message);

// Takes every module entry of the device, waiting for each to be idle.
void TakeAllModules(QvDevice& device);

// Shown while the companion window is told to close (the tray sets it);
// without one nothing is shown.
void SetUpgradeNotice(std::function<void()> notice);

// Does not return.
[[noreturn]] void ExitWithInstructions(const char* message, int length);
