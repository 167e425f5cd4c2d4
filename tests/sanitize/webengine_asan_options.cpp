// Linked only into builds with AddressSanitizer, into every program that runs
// the web engine: the engine frees some of its own objects through a pointer
// to a base class with a sized delete (seen when a page is torn down). That
// mismatch lies in the library, outside this program, and would end every
// program that ever shows a page. ASAN_OPTIONS can still turn the check on.

extern "C" [[gnu::used, gnu::visibility("default")]] const char *__asan_default_options();

extern "C" const char *__asan_default_options()
{
    return "new_delete_type_mismatch=0";
}
