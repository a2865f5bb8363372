// The sample application's library: proves the DLL beside it was unpacked too.
extern "C" __declspec(dllexport) const char* quillbox_sample_greeting() { return "hello from quillbox_greeting.dll"; }
