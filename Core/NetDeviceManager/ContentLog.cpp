#include "ContentLog.h"

#include <algorithm>

#include "LogWriter.h"
#include "TextCodec.h"

namespace NetDevice
{

void LogContentPieces(const wchar_t* function, const std::string& text) noexcept
{
    const size_t shown = std::min(text.size(), CONTENT_LOG_MAX_BYTES);
    for (size_t at = 0; at < shown; at += CONTENT_LOG_PIECE_BYTES)
    {
        const size_t length = std::min(CONTENT_LOG_PIECE_BYTES, shown - at);
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
    if (shown < text.size())
        KLOG(Common::LOG_INFO, L"%s | content logged up to %u bytes: %u more not logged", function,
             static_cast<unsigned>(shown), static_cast<unsigned>(text.size() - shown));
}

} // namespace NetDevice
