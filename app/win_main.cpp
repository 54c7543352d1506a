// The Windows GUI entry point; the command line and show state are not used.
#include "app/dialogs.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return RunProgram(instance); }
