#include "Commands.h"
#include "Console.h"

int CmdTable(const CArgs&)
{
    Console::Err(L"not available yet\n");
    return 1;
}
