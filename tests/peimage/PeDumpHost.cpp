// The dump program's mapping on systems other than Windows.
#include "peimage/HostMapping.h"

peimage::MappingMaker dumpMapping()
{
    return peimage::HostFileMapping::make;
}
