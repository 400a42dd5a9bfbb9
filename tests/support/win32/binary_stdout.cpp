// Linked into the test children on Windows: their lines reach the tests as
// written, without the CR that text mode puts before each LF.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace {

const bool binary_output = [] {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  return true;
}();

}  // namespace
