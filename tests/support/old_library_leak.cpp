// Linked into the tool built against an "old library" only. Refusing the
// library, the tool returns at once and leaves the system object to the
// process's end, as it always has; leak checking is told that this one
// allocation is meant.
extern "C" const char* __lsan_default_suppressions() { return "leak:FMOD_System_Create\n"; }
