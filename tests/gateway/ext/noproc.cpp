// Test extension: a library without HttpExtensionProc.
extern "C" int SomethingElse() { return 1; }
