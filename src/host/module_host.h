// The extension-module host. A module library is loaded for one call and
// unloaded right after it: for a browser request that names it (WebCall,
// answering on the request's socket) or for a device message (the thread
// procedure CallExtensionDll, whose answer only reaches the log).
#pragma once

#include <functional>
#include <string>

#include "module/QvPeerModule.h"

// Finds the module entry by szUri, loads the library from szFilePath (the
// web root) and calls it with szQueryString. Says how it ended, so that the
// caller can tell the browser why a module gave no answer.
enum class WebCallResult {
  kCalled,        // loaded and called (the module answered, or chose not to)
  kUnknown,       // no module of the list has that name
  kNotInstalled,  // listed, but no library file where the call looks
  kNotLoaded,     // the file is there, but the loader refused it (logged)
};
WebCallResult WebCall(tagREQUEST* request);

// A device message for a module, run on a thread of its own.
struct ExtensionCall {
  std::string query;        // the message's pairs, joined with '=' and '&'
  std::string module_name;  // e.g. "QvTransferModule.dll"
};
void CallExtensionDll(ExtensionCall* call);  // owns and frees call

// The command a module call posts to the main window (40009, help) with its
// text. Set by the shell; unset, the post is dropped.
inline constexpr int kCommandDisplayHelp = 40009;
void SetMainWindowPoster(std::function<void(int command, std::string text)> poster);
