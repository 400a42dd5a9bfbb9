// OutputGenerator: expands a template file into a page, replacing each tag
// "[%name%]" by the value of name in a QvLookupTable and copying everything
// else. No escaping, nesting, conditions or loops. The base class sends the
// page on a connected socket; FileOutputGenerator writes it to a file.
//
// Templates are read line by line in pieces of at most 255 characters (CR LF
// arrives as LF); a tag must open and close within one piece, otherwise it is
// copied as text. Output goes out piece by piece, one write each, unbuffered.
// Both classes are part of what modules link against: names are fixed.
#pragma once

#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/native_types.h"

class QvLookupTable;

class OutputGenerator {
 public:
  OutputGenerator();
  OutputGenerator(const OutputGenerator&) = delete;
  OutputGenerator& operator=(const OutputGenerator&) = delete;
  virtual ~OutputGenerator();

  // Keeps a copy of the path (relative to the working directory; backslashes
  // allowed).
  void setTemplate(const char* path);
  const char* getTemplate() const { return m_szTemplate.get(); }
  // Adds a status line and a Content-Type header before the page.
  void setSendHeaders(bool send) { m_bSendHeaders = send; }
  bool getSendHeaders() const { return m_bSendHeaders; }
  void setSocket(platform::SocketDescriptor& socket) { m_hSocket = socket; }
  platform::SocketDescriptor getSocket() const { return m_hSocket; }

  // False only when the template cannot be opened; then nothing is written.
  bool ConstructOutputFromTemplate();

  // The values of the tags; not owned; set before expanding.
  QvLookupTable* m_pTable = nullptr;

 protected:
  // Writes the value of one tag (an absent tag gives nothing).
  virtual void HandleTag(const char* name);
  // Writes one piece. The base class sends the text up to its terminator;
  // length is for subclasses.
  virtual void WriteOutput(const char* text, int length);

 private:
  void ExpandPiece(char* piece, int length);

  std::unique_ptr<char[]> m_szTemplate;
  bool m_bSendHeaders = false;
  platform::SocketDescriptor m_hSocket = platform::kInvalidSocket;
};

// Writes the page to a file. The file is replaced in one step when the
// generator goes (a link planted at its name is replaced, not followed), so
// readers never see half a page; a new file is readable by everyone.
class FileOutputGenerator : public OutputGenerator {
 public:
  // path as the system writes it ("..\doc\port.js"); a file that cannot be
  // replaced swallows the output.
  explicit FileOutputGenerator(const char* path);
  ~FileOutputGenerator() override;

 protected:
  // Writes exactly length bytes.
  void WriteOutput(const char* text, int length) override;

 private:
  std::string m_path;  // native; empty when none was given
  std::string m_content;
};
