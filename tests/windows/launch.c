/* Starts a program with a command line given byte for byte, the way a
 * Windows shell passes what was typed: the emulator's own argument quoting
 * cannot then add escapes or drop quotation marks.
 *
 *   BRENNIX_LAUNCH_APP   path of the program to start
 *   BRENNIX_LAUNCH_LINE  its whole command line, program name first
 *
 * The child shares this process's standard handles and current directory;
 * the exit status is the child's, or 120 when it could not be started. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdio.h>

static char* Env(const char* name) {
    DWORD size = GetEnvironmentVariableA(name, NULL, 0);
    char* value;
    if (size == 0)
        return NULL;
    value = (char*)HeapAlloc(GetProcessHeap(), 0, size);
    if (value == NULL || GetEnvironmentVariableA(name, value, size) + 1 != size)
        return NULL;
    return value;
}

static HANDLE Inheritable(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (handle != NULL && handle != INVALID_HANDLE_VALUE) {
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    return handle;
}

int main(void) {
    char* app = Env("BRENNIX_LAUNCH_APP");
    char* line = Env("BRENNIX_LAUNCH_LINE");
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    DWORD status = 120;

    if (app == NULL || line == NULL) {
        fprintf(stderr, "launch: BRENNIX_LAUNCH_APP and BRENNIX_LAUNCH_LINE must be set\n");
        return 120;
    }
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = Inheritable(STD_ERROR_HANDLE);
    fflush(stdout);
    if (!CreateProcessA(app, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "launch: cannot start %s (error %lu)\n", app,
                (unsigned long)GetLastError());
        return 120;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    if (!GetExitCodeProcess(process.hProcess, &status))
        status = 120;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)status;
}
