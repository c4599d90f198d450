/* The code of the test images: an entry point and nothing else. */
int __stdcall entry(void* module, unsigned reason, void* reserved)
{
    (void)module;
    (void)reason;
    (void)reserved;
    return 1;
}
