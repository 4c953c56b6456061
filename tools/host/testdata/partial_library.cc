// A library that exports only the lifecycle pair, to check that the host
// command refuses a library lacking an export instead of calling through a null
// pointer.
#define PARTIAL_API __attribute__((visibility("default")))

PARTIAL_API void InitialDatabase() {}
PARTIAL_API void ExitDatabase() {}
