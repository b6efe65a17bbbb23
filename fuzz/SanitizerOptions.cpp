// AddressSanitizer's defaults for the fuzz targets, which run millions of small inputs: short
// allocation stacks, a small quarantine and no filling of new memory cost far less per input and
// still catch every bad access within an input. ASAN_OPTIONS overrides them; to see the full
// allocation and release stacks of a saved input, run it with ASAN_OPTIONS=malloc_context_size=30.

// Looked up by the sanitizer runtime at start-up.
extern "C" const char *__asan_default_options();

extern "C" const char *__asan_default_options()
{
    return "malloc_context_size=4:quarantine_size_mb=16:max_malloc_fill_size=0";
}
