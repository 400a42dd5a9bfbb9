// Device messages that the heartbeat receives: each is a run of
// zero-separated key and value tokens from its "messageType" key on.
#pragma once

class QvDevice;

// Carries out one message of the given type. For now every type is logged
// and otherwise left alone.
int iDeviceMessageHandler(const char* type, const char* message, int length);

// Resumes interrupted transfers (every so many good heartbeats).
void ResumeXfer();
