// The windows' tests lay out text, and fontconfig keeps a cache it never
// frees at exit; LeakSanitizer would take that for a leak of ours. Only
// fontconfig's own allocations are passed over.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
