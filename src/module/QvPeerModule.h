// The contract between peerserver and its extension modules: the one header
// a module builds against. A module is one shared library (named like
// "QvStatusModule.dll") holding a class derived from QvPeerModule and the
// exports at the end of this file; it links its own copy of qvcore.
//
// Host and module are built apart and exchange tagREQUEST and QvDevice by
// pointer, so field order and text widths are fixed; pointers and handles
// take the platform's width. The host owns the request and the device; the
// module owns its object and the answer text it returns (freed through its
// own DeallocMem). The records it shares live on lower floors and come in
// with it: tagREQUEST (net/request_record.h), QvUser and QvDomain
// (device/user.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <new>

#include "base/bounded_copy.h"
#include "device/user.h"
#include "net/net_util.h"
#include "net/request_record.h"
#include "platform/native_types.h"

class QvBrokerEndpoint;
class QvJspResponse;
class QvLookupTable;

#if defined(_WIN32)
#define QV_EXPORT extern "C" __declspec(dllexport)
#else
#define QV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The base of every module class. Execute is the module's work; the rest
// are helpers for parsing the query, answering the browser and reading the
// settings.
class QvPeerModule {
 public:
  static constexpr int kMaxParams = 100;

  QvPeerModule();
  QvPeerModule(const QvPeerModule&) = delete;
  QvPeerModule& operator=(const QvPeerModule&) = delete;
  virtual ~QvPeerModule();

  // The value of the first parameter whose name matches ignoring case.
  virtual const char* GetCgiValue(const char* name);
  // Must store pExtra (the tagREQUEST) in m_pRequest first; null pExtra:
  // do nothing and return null. Returns a complete HTTP answer allocated by
  // the module, or null when it answered on the socket itself.
  virtual char* Execute(const char* query, void* pExtra) = 0;

  // Splits "k=v&k2=v2" into at most 100 parameters, values as they stand.
  void ParseString(const char* query);
  const char* GetCgiValue(int index);
  const char* GetCgiKey(int index);
  int GetNumQueryParams() const { return m_nParams; }
  tagREQUEST* GetRequestObj() const { return m_pRequest; }
  // Made on first use, for this call only.
  QvDevice* GetDevice();
  QvDomain* GetDomain();
  QvUser* GetUser();

  // Outbound requests (m_netUtil.ConnectRequest, RunJsp) run in the module's
  // own runtime, which starts without a device and so would go direct. Call
  // this once in Execute, after m_pRequest is set and before the first
  // request: a device of this runtime (kept until the library unloads) is
  // loaded from the settings, takes a copy of the host's proxy situation
  // (m_pRequest->pDevice: proxy fields, credentials and flags) and becomes
  // the device those requests follow; proxies they meet are reported to the
  // broker as the host's requests report them. Returns it.
  QvDevice* UseHostNetwork();
  // Gives the host's device what this call changed in that copy: submitted
  // credentials, the credentials-needed and tunnel flags, a proxy name the
  // host did not know. Written under the host's own lock. Call it before
  // answering, so that the next request the user makes finds them.
  void HandBackHostNetwork();

  // Query text. URLDecode returns a new text (free it with delete[]); with
  // keep_separators, "%26" and "%3D" stay encoded.
  static char* URLDecode(const char* text, bool keep_separators);
  void UnEsc(char* text);
  char Esc2Char(const char* two);
  // dest (of dest_size bytes) becomes source with every search replaced.
  static void Replace(const char* source, const char* search, const char* replacement,
                      char* dest, size_t dest_size);
  // ROT13 of the upper-cased text, in a buffer of the calling thread.
  static char* RotString(const char* text);
  static void FormatDate(time_t time, char* dest /* 32 */);
  static void FormatTime(time_t time, char* dest /* 32 */);

  // Files.
  long QvGetFileSize(int descriptor);
  long QvGetFileSize(const char* path);
  int QvGetFileModifyDateAndSize(const char* path, long* size, char* date);
  void PerformDigestOnFile(const char* path, char* dest, int size);

  // Answers. The texts returned are new (free them with delete[]).
  int SendBuffer(const char* bytes, int length);
  static int SendBuffer(const char* bytes, int length, platform::SocketDescriptor& socket);
  char* GetCgiErrorReturn(const char* message, int code);
  char* GetRedirectURL(const char* default_target);

  // Broker answers and settings.
  static void ParseResponse(const char* answer, QvLookupTable* table);
  const char* GetJspDetails(QvJspResponse* response, const char* key);
  void MakeContentEntry(const char* name, const char* version);
  static void LaunchHelp(const char* help_file, const char* topic);

 protected:
  void DeallocStrings();

  char* m_szKeys[kMaxParams];
  char* m_szValues[kMaxParams];
  int32_t m_nParams;
  QvBrokerEndpoint* m_pEndpoint;  // owned; the base never makes one
  QvDevice* m_pDevice;            // owned
  QvDomain* m_pDomain;            // owned
  QvUser* m_pUser;                // owned
  QvNetUtil m_netUtil;
  tagREQUEST* m_pRequest;         // not owned
  bool m_bDetailsMissing;
};

// The member Execute, called on the module's object by the host.
using QvExecuteMethod = char* (QvPeerModule::*)(const char* query, void* pExtra);

// The exports of every module library.
QV_EXPORT QvPeerModule* ConstructQvModule();
QV_EXPORT void DestroyQvModule(QvPeerModule* module);
QV_EXPORT QvExecuteMethod GetExecuteMethod();
QV_EXPORT void DeallocMem(void* response);
// The text after the first ':' of the module's revision keyword, without
// blanks and '$' ("$Revision: 1.21 $" gives "1.21"), into 32 bytes.
QV_EXPORT void GetModuleVersion(char* version);
// Optional, login modules only.
QV_EXPORT QvUser* GetUserObject(QvPeerModule* module);

// A module's answer text is made with QvNewText (base/bounded_copy.h), which
// its DeallocMem frees.

// 32-bit Windows builds unwind with tables each library keeps to itself (a
// static runtime): an exception cannot leave a DLL. There a module also
// exports QvExecuteGuarded, which runs Execute, catches what it throws and
// returns 1 for a throw (0 otherwise); the host takes that as the throw.
#if defined(_WIN32)
#define QV_DEFINE_EXECUTE_GUARD                                                        \
  QV_EXPORT int QvExecuteGuarded(QvPeerModule* module, const char* query, void* pExtra, \
                                 char** response) {                                    \
    try {                                                                              \
      *response = module->Execute(query, pExtra);                                      \
      return 0;                                                                        \
    } catch (...) {                                                                    \
      return 1;                                                                        \
    }                                                                                  \
  }
#else
#define QV_DEFINE_EXECUTE_GUARD
#endif
using QvExecuteGuardedFn = int (*)(QvPeerModule*, const char*, void*, char**);

// Defines the five exports for a module class with a default constructor:
//   QV_DEFINE_MODULE(QvStatusModule, "$Revision: 1.4 $")
#define QV_DEFINE_MODULE(ModuleClass, revision)                                   \
  QV_EXPORT QvPeerModule* ConstructQvModule() { return new (std::nothrow) ModuleClass(); } \
  QV_EXPORT void DestroyQvModule(QvPeerModule* module) { delete module; }         \
  QV_EXPORT QvExecuteMethod GetExecuteMethod() { return &QvPeerModule::Execute; } \
  QV_EXPORT void DeallocMem(void* response) { delete[] static_cast<char*>(response); } \
  QV_EXPORT void GetModuleVersion(char* version) { QvCopyRevision(version, 32, revision); } \
  QV_DEFINE_EXECUTE_GUARD

// The revision keyword's number into dest[size] ("$Revision: 1.21 $" gives "1.21").
void QvCopyRevision(char* dest, size_t size, const char* keyword);

// Function types of the exports, for the host's lookups.
using ConstructQvModuleFn = QvPeerModule* (*)();
using DestroyQvModuleFn = void (*)(QvPeerModule*);
using GetExecuteMethodFn = QvExecuteMethod (*)();
using DeallocMemFn = void (*)(void*);
using GetModuleVersionFn = void (*)(char*);
using GetUserObjectFn = QvUser* (*)(QvPeerModule*);
