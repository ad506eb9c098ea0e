/* qelmot32: the component's user-mode library. It answers the component
   version, so a product can check which KOTA component it has loaded. */
#ifdef _WIN32
#define QELMOT_EXPORT __declspec(dllexport)
#else
#define QELMOT_EXPORT __attribute__((visibility("default")))
#endif

QELMOT_EXPORT int QelmotVersionMajor(void) { return 4; }
QELMOT_EXPORT int QelmotVersionMinor(void) { return 0; }
