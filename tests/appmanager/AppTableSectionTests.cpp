// Attaching the shared app table when another process got its name first.
#include <gtest/gtest.h>

#include "AppData.h"
#include "SharedSection.h"

using Common::APP_TABLE_NAME;
using Common::APP_TABLE_SIZE;

// A section of the table's name made too small by another process is never
// used; once that process has let it go, the next attach makes a whole
// table instead of refusing for the rest of the run.
TEST(AppTableSection, TooSmallSectionIsRefusedAndTheAttachRetried)
{
    Common::CHandle squatter(
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, APP_TABLE_NAME));
    ASSERT_TRUE(squatter.IsValid());
    Common::CAppData table;
    EXPECT_FALSE(table.Open());
    EXPECT_FALSE(table.Create());
    EXPECT_EQ(nullptr, table.Table());

    squatter.Reset();
    EXPECT_FALSE(table.Open()) << "the name is gone with the squatter";
    ASSERT_TRUE(table.Create());
    ASSERT_NE(nullptr, table.Table());
    table.Table()->rows[50].dwProcessId = 1234;

    Common::CSharedSection reader;
    ASSERT_EQ(0u, reader.Open(APP_TABLE_NAME, APP_TABLE_SIZE, FILE_MAP_READ));
    EXPECT_EQ(1234u, reader.As<Common::CAppData::_APPTABLE>()->rows[50].dwProcessId);
}

// A section of the full size whose pages another process only reserved
// maps without complaint, but any read of it would fault. The attach must
// refuse it rather than hand out a view that crashes the module.
TEST(AppTableSection, ReservedButUncommittedSectionIsRefused)
{
    Common::CHandle squatter(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE, 0,
                                                  APP_TABLE_SIZE, APP_TABLE_NAME));
    ASSERT_TRUE(squatter.IsValid());
    Common::CAppData table;
    EXPECT_FALSE(table.Open());
    EXPECT_FALSE(table.Create());
    EXPECT_EQ(nullptr, table.Table());
}
