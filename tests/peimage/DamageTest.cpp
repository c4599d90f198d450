// Cut real images: every truncation point of the two small test images gives the whole image's
// answers or none, never a read outside the file (the buffer is exactly as long as the file, so
// the address sanitizer sees any overrun). Mutated bytes are the reader's fuzz target's.
#include "peimage/FileMapping.h"
#include "peimage/Win6432PE.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace peimage;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readImage(const std::string& name)
{
    std::ifstream in(std::string(KV_TEST_IMAGES) + "/" + name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Answers {
    bool opened = false;
    std::wstring fileVersion, productVersion, company;
};

// Where the touched bytes go, so the compiler cannot drop the reads.
volatile uint8_t gSink;

Answers query(const Bytes& image)
{
    // A copy of exactly the image's length: the heap ends where the file does.
    const std::unique_ptr<uint8_t[]> exact(new uint8_t[image.size() + (image.empty() ? 1 : 0)]);
    std::copy(image.begin(), image.end(), exact.get());
    CWin6432PE reader(BufferMapping::maker(exact.get(), image.size()));
    Answers a;
    a.opened = reader.open(L"damaged.dll");
    a.fileVersion = reader.getFileVersion();
    a.productVersion = reader.getProductVersion();
    a.company = reader.getVersionString(L"CompanyName");
    int leaves = 0;
    reader.enumResources([&leaves](ResourceItem* item) {
        // Touch the data: it must lie inside the file.
        uint8_t sum = 0;
        for (uint32_t i = 0; i < item->dataSize; ++i)
            sum = static_cast<uint8_t>(sum ^ item->data[i]);
        gSink = sum;
        return ++leaves < 1000 ? 1 : 0;
    });
    return a;
}

} // namespace

TEST(DamagedImages, EveryCutAnswersAsTheWholeImageOrNothing)
{
    for (const char* name : {"version32.dll", "version64.dll"}) {
        SCOPED_TRACE(name);
        const Bytes image = readImage(name);
        ASSERT_GT(image.size(), 1000u);
        const Answers whole = query(image);
        ASSERT_TRUE(whole.opened);
        ASSERT_FALSE(whole.fileVersion.empty());

        // A cut image answers what the whole one does, or nothing.
        for (size_t size = 0; size < image.size(); ++size) {
            const Answers a = query(Bytes(image.begin(), image.begin() + size));
            EXPECT_TRUE(a.fileVersion.empty() || a.fileVersion == whole.fileVersion) << size;
            EXPECT_TRUE(a.productVersion.empty() || a.productVersion == whole.productVersion) << size;
            EXPECT_TRUE(a.company.empty() || a.company == whole.company) << size;
        }
    }
}
