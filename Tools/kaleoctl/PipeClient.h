#pragma once
// The device side's end of a device's data pipe: connects as a writer,
// writes whole pipe messages, and closes only once the reader has taken
// them. The reader serves one instance at a time and offers the next one
// after a client leaves, so connecting waits for a free instance and for the
// name to appear again; every other wait is bounded as well, so a reader
// that stops reading cannot hang the tool.
#include <windows.h>
#include <string>

#include "Handles.h"

namespace PipeCmd
{

// A reader that takes no message for this long counts as hung.
constexpr DWORD READER_TIMEOUT_MS = 10000;

class CPipeClient
{
public:
    // Opens the pipe for writing. A busy pipe (ERROR_PIPE_BUSY) and a missing
    // one (ERROR_FILE_NOT_FOUND: the reader is between two instances or not
    // started) are tried again until waitMs has passed; the result is then
    // the last of the two errors. Any other error ends at once.
    [[nodiscard]] DWORD Connect(const std::wstring& name, DWORD waitMs);

    // One pipe message holding all of `message`. ERROR_NO_DATA or
    // ERROR_BROKEN_PIPE when the reader closed its end, ERROR_TIMEOUT when it
    // took nothing within READER_TIMEOUT_MS.
    [[nodiscard]] DWORD Write(const std::string& message);

    // Waits (at most READER_TIMEOUT_MS) until the reader has read every
    // message, then closes. Leaving earlier would let the reader find a
    // client that has already gone when it accepts the connection, which
    // it may take for a failure of its own instead of an ordinary leave.
    [[nodiscard]] DWORD Close();

private:
    Common::CHandle m_pipe;
};

// "no pipe of that name", "the reader closed the pipe", ... with the code.
std::wstring DescribePipeError(DWORD error);

} // namespace PipeCmd
