// The dump program's mapping on Windows: the one the setup program reads images through.
#include "peimage/win32/CFileMapping.h"

peimage::MappingMaker dumpMapping()
{
    return peimage::win32::CFileMapping::make;
}
