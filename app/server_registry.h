// The records of running servers, one per server: which content (ContentId), which
// process, which URL. Windows keeps them as values of
// HKEY_CURRENT_USER\SOFTWARE\<branch>\DeployedServers; POSIX as files in
// <runtime folder>/DeployedServers/ named by ContentId (see runtime_folder.h).
//
// All of this runs on the main thread, and the unregistering in the exit handler.
// Failures are silent: a store that cannot be opened finds nothing and records nothing.
#pragma once

namespace app {

// Called when no other instance runs: removes every record (left-overs of crashes).
void ClearDeployedServers();
// Called when another instance runs: true when a live server for ContentId is
// recorded; ContentBaseUrl then holds its URL. Removes records of ended processes.
bool FindRunningServer();
// Records this process's server (ContentId, ProcessId, ContentBaseUrl); when the write
// succeeded, UnregisterServer runs at process exit.
void RegisterServer();
// Removes the record named by ContentId (nothing when ContentId is 0).
void UnregisterServer();

}  // namespace app
