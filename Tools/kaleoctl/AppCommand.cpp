#include "Commands.h"
#include "Console.h"

int CmdApp(const CArgs&)
{
    Console::Err(L"not available yet\n");
    return 1;
}
