// QvModule: one entry of the device's module list. It knows the module's
// file name, the version learnt by loading the library once, and how many
// calls of the module are in progress. Just before the process ends on the
// broker's instruction, every entry is taken (TryTakeModule) so that no new
// call starts; calls that find an entry taken wait for the end.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class QvModule {
 public:
  // Loads the library by name (working directory, then program directory)
  // to ask its version, and unloads it again.
  explicit QvModule(const char* name);
  // The server's own entry: nothing is loaded.
  QvModule(const char* name, const char* version);
  QvModule(const QvModule&) = delete;
  QvModule& operator=(const QvModule&) = delete;

  const char* GetName() const { return m_szName.c_str(); }
  // Empty when the library could not be loaded or has no version export.
  const char* GetVersion() const { return m_szVersion.c_str(); }
  bool HasVersion() const { return m_bHasVersion; }

  int AcquireModule();
  // Below zero the count stays 0 and the result is -1.
  int ReleaseModule();
  // Takes an idle entry for good; false when busy or already taken.
  bool TryTakeModule();
  // AcquireModule unless the entry is taken, in one step, so that no call
  // can start after the entry was taken.
  bool AcquireUnlessTaken();
  bool IsTaken() const;
  int GetUseCount() const;

 private:
  std::string m_szName;
  std::string m_szVersion;
  bool m_bHasVersion = false;
  mutable std::mutex m_lock;  // orders the count and the mark
  int32_t m_nUseCount = 0;
  bool m_bTaken = false;
};
