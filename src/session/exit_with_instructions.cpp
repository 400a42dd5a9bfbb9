#include "session/exit_with_instructions.h"

#include <mutex>
#include <optional>

#include "base/log.h"
#include "device/device.h"
#include "device/module_entry.h"
#include "net/outbound_state.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/window_endpoint.h"
#include "session/boot_files.h"
#include "session/device_message.h"
#include "session/device_messages.h"

namespace {

constexpr char kCompanionTitle[] = "Yxnetwork";
constexpr int kCompanionBonus = 10000;
constexpr uint32_t kTakeRetryMs = 10;
// A module call still running after this is hung, or might as well be: the
// upgrade and the heartbeat must not wait on it for good.
constexpr uint32_t kTakeWaitMs = 120000;

std::mutex g_notice_lock;
std::function<void()> g_notice;

bool HasSecondName(char type) { return type == 'C' || type == 'M'; }

// The first token after a zero byte that begins with "in", and its value.
std::optional<std::string_view> InstructionsField(std::string_view message) {
  const std::vector<std::string_view> tokens = MessageTokens(message);
  for (size_t i = 1; i + 1 < tokens.size(); ++i) {
    if (tokens[i].starts_with("in")) return tokens[i + 1];
  }
  return std::nullopt;
}

void WriteFullExitCode(int code) {
  const std::string path = platform::NativePath(kBootExitCodePath);
  if (platform::ReplaceFileAtomically(path, std::to_string(code) + "\n") != 0) {
    QvLog::GetInstance()->WriteString("ExitWithInstructions: cannot write ", path, 1);
  }
}

}  // namespace

std::vector<BootInstruction> ParseBootInstructions(std::string_view list) {
  std::vector<BootInstruction> entries;
  size_t pos = 0;
  while (pos + 2 <= list.size() && list[pos] != '\0') {
    BootInstruction entry;
    entry.type = list[pos];
    pos += 2;  // the type and one separator
    size_t caret = list.find('^', pos);
    if (caret == std::string_view::npos) break;
    entry.first = std::string(list.substr(pos, caret - pos));
    pos = caret + 1;
    if (HasSecondName(entry.type)) {
      caret = list.find('^', pos);
      if (caret == std::string_view::npos) break;
      entry.second = std::string(list.substr(pos, caret - pos));
      entry.has_second = true;
      pos = caret + 1;
    }
    if (pos >= list.size() || list[pos] == '\0') break;
    entry.end = list[pos++];
    entries.push_back(std::move(entry));
    if (pos + 1 >= list.size() || list[pos] != '|' || list[pos + 1] == '\0') break;
    ++pos;
  }
  return entries;
}

BootWriteResult WriteBootInstructions(std::string_view message) {
  QvLog* log = QvLog::GetInstance();
  const std::optional<std::string_view> list = InstructionsField(message);
  if (!list) return {};
  log->Write("GOT INSTRUCTIONS", 3);
  BootSpecReader key_file;
  if (key_file.Open(kBootSpecPath, false) == 0) key_file.Read();
  BootSeqWriter sequence;
  const bool writable = sequence.Open(kBootSeqPath, true) == 0;
  sequence.SetKey(key_file.Key());
  BootWriteResult result;
  for (const BootInstruction& entry : ParseBootInstructions(*list)) {
    log->WriteString("Adding filename 1: ", entry.first, 3);
    log->WriteString("Adding filename 2: ", entry.second, 3);
    const char* second = entry.has_second ? entry.second.c_str() : nullptr;
    // Cut short, the boot helper would act on another instruction.
    if (!FitsBootRecord(BootText(entry.type, entry.first.c_str(), second, entry.end),
                        sequence.Key())) {
      log->WriteString("ExitWithInstructions: instruction not written, it cannot be encoded whole",
                       entry.first, 1);
      result.refused = true;
      continue;
    }
    if (!writable) continue;
    sequence.WriteLine(entry.type, entry.first.c_str(), second, entry.end);
  }
  key_file.Close();
  sequence.Close();
  // The size tells the boot helper what the file holds, written to or not.
  result.exit_code = static_cast<int>(BootSequenceSize());
  return result;
}

bool TakeAllModules(QvDevice& device, uint32_t wait_ms) {
  QvLog* log = QvLog::GetInstance();
  const uint32_t start = platform::TickCount();
  bool all_taken = true;
  for (int i = 0; i < device.GetModuleCount(); ++i) {
    QvModule* module = device.GetModule(i);
    if (module == nullptr) continue;
    // A module call may run for long: wait for it, without spinning, but
    // not beyond the one bound for all.
    while (!module->TryTakeModule()) {
      if (platform::TickCount() - start >= wait_ms) {
        log->WriteString("ExitWithInstructions: module still busy, not waited for",
                         module->GetName(), 1);
        all_taken = false;
        break;
      }
      platform::SleepMs(kTakeRetryMs);
    }
  }
  if (all_taken) log->Write("ExitWithInstructions: every module taken", 3);
  return all_taken;
}

void SetUpgradeNotice(std::function<void()> notice) {
  std::lock_guard<std::mutex> hold(g_notice_lock);
  g_notice = std::move(notice);
}

void ExitWithInstructions(const char* message, int length) {
  const std::string_view run = MessageRun(message, length);
  QvLog::GetInstance()->WriteString("ExitWithInstructions device message ", FirstToken(run), 3);
  const BootWriteResult written = WriteBootInstructions(run);
  int code = written.exit_code;
  SendMessageAck(GetMessageSID(run).value_or(""), written.refused ? "4" : "3");
  if (QvDevice* device = OutboundDevice()) TakeAllModules(*device, kTakeWaitMs);
  if (platform::WindowExists(kCompanionTitle)) {
    if (code != 0) code += kCompanionBonus;
    std::function<void()> notice;
    {
      std::lock_guard<std::mutex> hold(g_notice_lock);
      notice = g_notice;
    }
    if (notice) notice();
    platform::PostToWindow(kCompanionTitle, "WM_CLOSE");
  }
  WriteFullExitCode(code);
  QvLog::GetInstance()->WriteNumber("ExitWithInstructions: exit code ", code, 3);
  platform::ExitProcess(code);
}
