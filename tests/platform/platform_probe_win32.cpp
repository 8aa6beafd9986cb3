// A library for the Windows platform tests to load: one export that answers
// a known number.
extern "C" __declspec(dllexport) int halvixProbeAnswer() { return 42; }
