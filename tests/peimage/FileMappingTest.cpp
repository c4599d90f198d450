// The cursor every mapping shares, over a buffer and over a real file: short reads at the end,
// seeks that fail at the size, and the one log line without a view.
#include "peimage/FileMapping.h"

#include "peimage/HostMapping.h"
#include "tests/support/CaptureSink.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

using namespace peimage;

namespace {

const std::string kNotOpened = "Write file failed, not opened";

// The same walk over any mapping of the ten bytes 0..9.
void expectCursorRules(IFileMapping& mapping, const char* what)
{
    SCOPED_TRACE(what);
    rlxutil::ScopedCaptureSink capture;
    ASSERT_EQ(mapping.size(), 10u);
    ASSERT_NE(mapping.view(), nullptr);
    EXPECT_EQ(mapping.seek(0), 0u); // from 0 to 0: the same answer as a failed seek
    uint8_t bytes[16] = {};
    uint32_t got = 99;
    mapping.read(bytes, 4, &got);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(bytes[3], 3);
    EXPECT_EQ(mapping.tell(), 4u);
    EXPECT_EQ(mapping.seek(10), 0u); // the size itself is past the end
    EXPECT_EQ(mapping.tell(), 4u);
    EXPECT_EQ(mapping.seek(9), 4u);
    EXPECT_EQ(mapping.read(bytes, 4, &got), 0u);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(bytes[0], 9);
    mapping.read(bytes, 4, &got); // at the end
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(mapping.seek(0xFFFFFFFFu), 0u);
    EXPECT_TRUE(capture.texts().empty());

    EXPECT_TRUE(mapping.close());
    got = 77;
    mapping.read(bytes, 4, &got);
    EXPECT_EQ(got, 77u); // untouched
    EXPECT_EQ(mapping.seek(1), 0u);
    EXPECT_EQ(mapping.tell(), 0u);
    EXPECT_EQ(mapping.view(), nullptr);
    const rlxutil::CapturedLine notOpened{2, "DPXUtil", kNotOpened};
    EXPECT_EQ(capture.lines(), (std::vector<rlxutil::CapturedLine>{notOpened, notOpened}));
}

} // namespace

TEST(FileMapping, CursorRulesOverABufferAndAFileAndEmptyAndUnopenableFiles)
{
    const std::vector<uint8_t> ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    BufferMapping borrowed(ten.data(), ten.size());
    ASSERT_TRUE(borrowed.open(L"ignored"));
    expectCursorRules(borrowed, "borrowed buffer");
    BufferMapping owned(ten);
    ASSERT_TRUE(owned.open(L""));
    expectCursorRules(owned, "owned buffer");

    test_support::TempFolder folder(u8"-\u00e9");
    folder.write(u8"ten \u00fc.bin", ten);
    HostFileMapping file;
    ASSERT_TRUE(file.open(folder.wide(u8"ten \u00fc.bin")));
    expectCursorRules(file, "file");

    // An empty file opens with nothing mapped (the closed mapping reopened): nothing to read, seek
    // and tell log.
    folder.write("empty", {});
    rlxutil::ScopedCaptureSink capture;
    ASSERT_TRUE(file.open(folder.wide("empty")));
    EXPECT_EQ(file.size(), 0u);
    uint32_t got = 5;
    uint8_t byte = 0;
    file.read(&byte, 1, &got);
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(file.tell(), 0u);
    EXPECT_EQ(capture.texts(), std::vector<std::string>{kNotOpened});
    capture.sink().clear();

    // A missing file's line is checked with the image reader's.
    EXPECT_FALSE(file.open(folder.wide(".")));
    EXPECT_EQ(file.problem(), "is a folder, not a file");
    EXPECT_EQ(capture.texts(),
              std::vector<std::string>{"HostFileMapping::open, problem=is a folder, not a file"});
    BufferMapping none(nullptr, 0);
    EXPECT_TRUE(none.open(L"x"));
    EXPECT_EQ(none.view(), nullptr);
}
