#include "ContentLog.h"

#include <algorithm>

#include "LogWriter.h"
#include "TextCodec.h"

namespace NetDevice
{

void LogContentPieces(const wchar_t* function, const std::string& text) noexcept
{
    for (size_t at = 0; at < text.size(); at += CONTENT_LOG_PIECE_BYTES)
    {
        const size_t length = std::min(CONTENT_LOG_PIECE_BYTES, text.size() - at);
        try
        {
            const std::wstring piece = TextCodec::Utf8ToWide(text.substr(at, length));
            KLOG(Common::LOG_INFO, L"%s | %s", function, piece.c_str());
        }
        catch (...)
        {
            // The dump is a diagnosis aid: a piece that cannot be shown is
            // named, and the reading goes on.
            KLOG(Common::LOG_ERROR, L"%s | content bytes %u to %u cannot be converted for the log", function,
                 static_cast<unsigned>(at), static_cast<unsigned>(at + length - 1));
        }
    }
}

} // namespace NetDevice
