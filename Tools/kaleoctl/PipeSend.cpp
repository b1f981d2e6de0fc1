// kaleoctl pipe send: writes given messages, or one of the special messages
// that test the reader's rules, on one or more connections in turn.
#include <windows.h>
#include <vector>

#include "Console.h"
#include "Pipe.h"
#include "PipeClient.h"
#include "PipeMessages.h"
#include "TextCodec.h"

namespace
{

constexpr unsigned long kMaxConnections = 1000;

// The messages named by exactly one of the message options; 0, or the exit
// code (message printed).
int TakeMessages(CArgs& args, std::vector<std::string>& messages)
{
    std::wstring text, file;
    unsigned long oversized = 0;
    bool bOversized = false;
    const bool bText = TakeOption(args, L"--message", text);
    const bool bFile = TakeOption(args, L"--file", file);
    if (!PipeCmd::TakeBounded(args, L"--oversized", PipeCmd::OVERSIZED_MIN_BYTES, PipeCmd::MAX_MESSAGE_BYTES,
                              oversized, &bOversized))
        return 2;
    const bool bMalformed = TakeFlag(args, L"--malformed");
    const bool bNoEventId = TakeFlag(args, L"--no-event-id");
    if (bText + bFile + bOversized + bMalformed + bNoEventId != 1)
    {
        Console::Err(L"pipe send: give one of --message, --file, --oversized, --malformed, --no-event-id\n");
        return 2;
    }
    std::string message;
    if (bText)
    {
        if (text.empty() || !TextCodec::WideToUtf8Strict(text, message) || message.size() > PipeCmd::MAX_MESSAGE_BYTES)
        {
            Console::Error(L"pipe send: --message takes 1 to %lu bytes of text\n",
                           static_cast<unsigned long>(PipeCmd::MAX_MESSAGE_BYTES));
            return 2;
        }
    }
    else if (bFile)
    {
        const DWORD status = PipeCmd::ReadMessageFile(file, messages);
        if (status != ERROR_SUCCESS)
        {
            Console::Error(L"pipe send: cannot use '%s' (error %lu): a file of at most %lu bytes, with at least one "
                           L"non-empty line of at most %lu bytes\n",
                           file.c_str(), status, PipeCmd::MAX_FILE_BYTES,
                           static_cast<unsigned long>(PipeCmd::MAX_MESSAGE_BYTES));
            return 1;
        }
        return 0;
    }
    else if (bOversized)
        message = PipeCmd::OversizedEvent(oversized);
    else if (bMalformed)
        message = PipeCmd::MalformedMessage();
    else
        message = PipeCmd::NoEventIdMessage();
    messages.push_back(message);
    return 0;
}

// Writes every message on one connection; 0, or the exit code (message printed).
int SendOnce(const PipeCmd::CTarget& target, const std::vector<std::string>& messages, const std::wstring& where)
{
    PipeCmd::CPipeClient client;
    DWORD status = client.Connect(target.name, target.dwWaitMs);
    if (status != ERROR_SUCCESS)
    {
        Console::Error(L"pipe send: %scannot open %s within %lu ms: %s\n", where.c_str(),
                       PipeCmd::Describe(target).c_str(), target.dwWaitMs, PipeCmd::DescribePipeError(status).c_str());
        return 1;
    }
    for (size_t i = 0; i < messages.size(); ++i)
    {
        status = client.Write(messages[i]);
        if (status != ERROR_SUCCESS)
        {
            Console::Error(L"pipe send: %smessage %u of %u: %s\n", where.c_str(), static_cast<unsigned>(i + 1),
                           static_cast<unsigned>(messages.size()), PipeCmd::DescribePipeError(status).c_str());
            return 1;
        }
    }
    status = client.Close();
    if (status != ERROR_SUCCESS)
    {
        Console::Error(L"pipe send: %swaiting for the reader to take the messages: %s\n", where.c_str(),
                       PipeCmd::DescribePipeError(status).c_str());
        return 1;
    }
    return 0;
}

} // namespace

namespace PipeCmd
{

int Send(CArgs& args, const CTarget& targetIn)
{
    std::vector<std::string> messages;
    unsigned long connections = 1;
    if (!TakeBounded(args, L"--connections", 1, kMaxConnections, connections))
        return 2;
    int rc = TakeMessages(args, messages);
    if (rc != 0)
        return rc;
    if (!NoMoreArgs(args, L"send"))
        return 2;
    CTarget target = targetIn;
    rc = ResolveTarget(target);
    if (rc != 0)
        return rc;

    unsigned long long bytes = 0;
    unsigned long tooLong = 0;
    for (const std::string& message : messages)
    {
        bytes += message.size();
        tooLong += message.size() > READER_MAX_MESSAGE ? 1 : 0;
    }
    for (unsigned long k = 1; k <= connections; ++k)
    {
        const std::wstring where =
            connections > 1 ? Console::Format(L"connection %lu of %lu: ", k, connections) : std::wstring();
        rc = SendOnce(target, messages, where);
        if (rc != 0)
            return rc;
    }
    const unsigned long sent = static_cast<unsigned long>(messages.size()) * connections;
    const std::wstring over = connections > 1 ? Console::Format(L" over %lu connections", connections) : L"";
    const std::wstring note =
        tooLong > 0 ? Console::Format(L", %lu longer than the reader's %lu", tooLong * connections,
                                      static_cast<unsigned long>(READER_MAX_MESSAGE))
                    : L"";
    Console::Print(L"sent %lu message%s (%llu bytes%s)%s to %s\n", sent, sent == 1 ? L"" : L"s", bytes * connections,
                   note.c_str(), over.c_str(), Describe(target).c_str());
    return 0;
}

} // namespace PipeCmd
