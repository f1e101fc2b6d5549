// A harmless program for the Wine tests: it only waits until it is ended.
// A test copies it, writes a signature record's patterns into an overlay
// after its last section (where the loader never looks) and runs the copy
// as a running threat; an untouched copy is an unrelated running program.
// It ends by itself after a while, so that a test that fails to end it
// leaves nothing running for long; it then exits with a status of its own,
// so that status 0 tells that it was terminated.
#include <windows.h>

namespace {
const DWORD kLifetimeMs = 280000;
const int kEndedByItself = 3;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    Sleep(kLifetimeMs);
    return kEndedByItself;
}
