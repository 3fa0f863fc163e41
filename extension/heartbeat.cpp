// The heartbeat state machine, the network monitor and shut-down.
#include "extension/extension.h"

void CVRGpcExtension::Heartbeat() {}
void CVRGpcExtension::SuppressedStart() {}
void CVRGpcExtension::StartNetMonitor() {}
void CVRGpcExtension::StopNetMonitor() {}
int WINAPI CVRGpcExtension::OnSocketContext(void*, DWORD, DWORD) { return 0; }
void CVRGpcExtension::ExitInstance() {}
