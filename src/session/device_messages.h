// Device messages that the heartbeat receives. Each type in the message
// table is either handled here (a setting, a new device SID, the heartbeat
// interval, the quit for an upgrade) or handed to an extension module on a
// thread of its own. Messages handled here are acknowledged to the broker
// ("/asys/update.jsp?", status "3" carried out, "4" refused); those handed
// to a module are the module's to acknowledge.
#pragma once

#include <string>
#include <string_view>

#include "platform/native_types.h"

// Carries out one message. message/length: the run from GetMsgPtr, which
// reaches over the later messages of the answer; only the message's own
// fields are used.
int iDeviceMessageHandler(const char* type, const char* message, int length);

// Hands the message, as a query text, to CallExtensionDll for module on a
// thread of its own (at most 32 such calls run at once; the rest wait in
// order); the caller does not wait.
void iInvokeExtensionDll(const char* module, const char* text, int length);

// One plain page call; the answer is not read.
void SendMessageAck(std::string_view message_sid, const char* status);

// The process-wide lock that guards the record files; set at start-up.
void SetRecordLock(platform::ProcessLock* lock);

// Asks the transfer module to resume each interrupted transfer.
void ResumeXfer();

// The acknowledgement page path: "/asys/update.jsp?type=1&status=..."
std::string MessageAckPath(std::string_view message_sid, const char* status);
