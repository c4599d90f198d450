// A stand-in for a DLL planted in a download folder; it only marks itself.
extern "C" __declspec(dllexport) int KvPlantedLibrary()
{
    return 1;
}
