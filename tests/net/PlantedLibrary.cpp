// A library that lies beside the test program, where the normal search for a library looks
// first, for the test that the socket library is taken from the system folder only.
extern "C" __declspec(dllexport) int Zeb40Planted() {
    return 1;
}
