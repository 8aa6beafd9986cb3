#pragma once
// The SDK's process-wide values. They are written on the platform thread;
// the atomics are read from the worker too.

namespace halvix::sdk {

class CorvelNative;

// Hot-development mode: set by the SDK channel's initSDK from "sdkEnv".
bool hotDevMode();
void setHotDevMode(bool on);

// Source of PendingCall ids; platform thread only.
int takeNextCallId();

// The plugin's CorvelNative, or null before registration and after destruction.
CorvelNative* currentCorvelNative();
void setCurrentCorvelNative(CorvelNative* native);

// True once the SDK plugin has been registered: sdkLog then goes to the console.
bool pluginRegistered();
void setPluginRegistered(bool registered);

}  // namespace halvix::sdk
