// The host's file mapping behind the image reader's interface.
#include "peimage/HostMapping.h"

#include "logging/LogItem.h"
#include "logging/Logger.h"
#include "platform/TextConvert.h"

#include <algorithm>
#include <limits>

namespace peimage {

bool HostFileMapping::open(const std::wstring& fileName)
{
    close();
    if (!mFile.open(platform::wideToUtf8(fileName), mProblem)) {
        rlxutil::getLogger("DPXUtil")->log(1, rlxutil::LogItem(rlxutil::textValue("HostFileMapping::open")),
                                           rlxutil::LogItem(mProblem, "problem"));
        return false;
    }
    mProblem.clear();
    const auto size =
        static_cast<uint32_t>(std::min<uint64_t>(mFile.size(), std::numeric_limits<uint32_t>::max()));
    if (mFile.data())
        attach(mFile.data(), size);
    return true;
}

bool HostFileMapping::close()
{
    detach();
    mFile.close();
    return true;
}

} // namespace peimage
