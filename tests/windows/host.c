/* A host program for the Windows library: loads brennix.dll at run time as a
 * host would, checks its export table, entry point and version resource, and
 * runs every job through each of its result codes on prepared files. On
 * 32-bit x86 every call also checks the calling convention by the stack
 * pointer; a 64-bit build has one convention only, and notes the skip.
 *
 *   host.exe [DLL]      (default brennix.dll)
 *
 * Run in a directory holding in\ (inputs), expected\ (the outputs the jobs
 * must write, byte for byte) and an empty out\. Before each job it sends
 * "[host] <case>" to the debugger channel, so that the channel's transcript
 * shows which job emitted which diagnostic. Exit status 0 when every check
 * passed. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int g_passed;
static int g_failed;

static void Check(int ok, const char* format, ...) {
    va_list args;
    if (ok) {
        ++g_passed;
        return;
    }
    ++g_failed;
    printf("FAILED: ");
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
}

/* The library's functions, found by name. */
static void* g_append;
static void* g_paint;
static void* g_generate;
static void* g_import;

#if defined(__i386__)
#define HOST_MACHINE IMAGE_FILE_MACHINE_I386
#define HOST_MACHINE_NAME "32-bit x86"

/* ------------------------------------------------------------------------ */
/* Calls through a pointer with the cdecl convention and reports how far the
 * stack pointer moved across the call: 0 when the callee left its arguments
 * to the caller, as cdecl requires; -4 * count for a callee that popped them
 * (stdcall). The stack is put right in either case. */
int CallCdecl(void* function, int count, const unsigned* args, int* stackDelta);
__asm__(
    ".text\n"
    ".globl _CallCdecl\n"
    "_CallCdecl:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    pushl %ebx\n"
    "    movl 12(%ebp), %ecx\n"
    "    movl 16(%ebp), %edx\n"
    "    movl %ecx, %ebx\n"
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    pushl -4(%edx,%ecx,4)\n"
    "    decl %ecx\n"
    "    jmp 1b\n"
    "2:  movl %esp, %esi\n"
    "    call *8(%ebp)\n"
    "    movl %esi, %ecx\n"
    "    subl %esp, %ecx\n"
    "    leal (%esi,%ebx,4), %esp\n"
    "    movl 20(%ebp), %edx\n"
    "    movl %ecx, (%edx)\n"
    "    popl %ebx\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebp\n"
    "    ret\n");

static int Call(const char* what, void* function, int count, const unsigned* args) {
    int delta = 0;
    int result = CallCdecl(function, count, args, &delta);
    Check(delta == 0, "%s: the callee moved the stack pointer by %d (not cdecl)", what, -delta);
    return result;
}

static int Generate(const char* dff, int mode, const char* col) {
    unsigned args[3];
    args[0] = (unsigned)(UINT_PTR)dff;
    args[1] = (unsigned)mode;
    args[2] = (unsigned)(UINT_PTR)col;
    return Call("GenerateColFromDff", g_generate, 3, args);
}

static int Append(const char* dff, const char* col, const char* out) {
    unsigned args[3];
    args[0] = (unsigned)(UINT_PTR)dff;
    args[1] = (unsigned)(UINT_PTR)col;
    args[2] = (unsigned)(UINT_PTR)out;
    return Call("AppendColToDff", g_append, 3, args);
}

static int Import(const char* dff, const char* night, const char* out) {
    unsigned args[3];
    args[0] = (unsigned)(UINT_PTR)dff;
    args[1] = (unsigned)(UINT_PTR)night;
    args[2] = (unsigned)(UINT_PTR)out;
    return Call("ImportNVCFromDff", g_import, 3, args);
}

static int Paint(const char* dff, unsigned day, unsigned night, const char* out) {
    unsigned args[4];
    args[0] = (unsigned)(UINT_PTR)dff;
    args[1] = day;
    args[2] = night;
    args[3] = (unsigned)(UINT_PTR)out;
    return Call("EasyVertexColors", g_paint, 4, args);
}

#elif defined(__x86_64__)
#define HOST_MACHINE IMAGE_FILE_MACHINE_AMD64
#define HOST_MACHINE_NAME "64-bit x86"

/* 64-bit Windows has a single calling convention, in which the caller owns
 * the stack, so there is no stack pointer to measure: plain calls through
 * pointers of the exported types. */
typedef int (*GenerateFunction)(const char*, int, const char*);
typedef int (*PathsFunction)(const char*, const char*, const char*);
typedef int (*PaintFunction)(const char*, unsigned, unsigned, const char*);

static int Generate(const char* dff, int mode, const char* col) {
    return ((GenerateFunction)g_generate)(dff, mode, col);
}

static int Append(const char* dff, const char* col, const char* out) {
    return ((PathsFunction)g_append)(dff, col, out);
}

static int Import(const char* dff, const char* night, const char* out) {
    return ((PathsFunction)g_import)(dff, night, out);
}

static int Paint(const char* dff, unsigned day, unsigned night, const char* out) {
    return ((PaintFunction)g_paint)(dff, day, night, out);
}

#else
#error "host.c is built for 32-bit or 64-bit x86 Windows"
#endif

/* ------------------------------------------------------------------------ */
/* Files. */

typedef struct {
    unsigned char* data;
    DWORD length;
    int ok;
} FileBytes;

static FileBytes ReadAll(const char* path) {
    FileBytes bytes = {NULL, 0, 0};
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    LARGE_INTEGER size;
    DWORD got = 0;
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    if (GetFileSizeEx(file, &size) && size.QuadPart < 0x10000000) {
        bytes.length = (DWORD)size.QuadPart;
        bytes.data = (unsigned char*)malloc(bytes.length + 1);
        if (bytes.data != NULL && ReadFile(file, bytes.data, bytes.length, &got, NULL) &&
            got == bytes.length) {
            bytes.ok = 1;
        }
    }
    CloseHandle(file);
    return bytes;
}

static int WriteAll(const char* path, const void* data, DWORD length) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    int ok;
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    ok = WriteFile(file, data, length, &written, NULL) && written == length;
    return CloseHandle(file) && ok;
}

static int Exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

/* The file at path holds exactly the bytes of the reference file. */
static void CheckSameFile(const char* path, const char* reference) {
    FileBytes got = ReadAll(path);
    FileBytes want = ReadAll(reference);
    Check(want.ok, "reference %s cannot be read", reference);
    if (!got.ok) {
        Check(0, "%s was not written", path);
    } else if (want.ok) {
        DWORD i = 0;
        DWORD n = got.length < want.length ? got.length : want.length;
        while (i < n && got.data[i] == want.data[i])
            ++i;
        Check(got.length == want.length && i == n,
              "%s differs from %s: %lu bytes against %lu, first difference at byte %lu", path,
              reference, (unsigned long)got.length, (unsigned long)want.length, (unsigned long)i);
    }
    free(got.data);
    free(want.data);
}

static void CheckContent(const char* path, const char* text) {
    FileBytes got = ReadAll(path);
    Check(got.ok && got.length == strlen(text) && memcmp(got.data, text, got.length) == 0,
          "%s should still hold \"%s\"", path, text);
    free(got.data);
}

static unsigned LoadU32(const unsigned char* p) {
    return (unsigned)p[0] | ((unsigned)p[1] << 8) | ((unsigned)p[2] << 16) | ((unsigned)p[3] << 24);
}

/* Sends a case marker to the debugger channel and to standard output. */
static void Case(const char* name) {
    char text[128];
    snprintf(text, sizeof text, "[host] %s", name);
    OutputDebugStringA(text);
    printf("%s\n", text);
    fflush(stdout);
}

static void ExpectCode(const char* what, int got, int want) {
    Check(got == want, "%s returned %d, expected %d", what, got, want);
}

/* A failing job wrote nothing: its output does not exist. */
static void ExpectNoFile(const char* what, const char* path) {
    Check(!Exists(path), "%s created %s although it failed", what, path);
}

/* ------------------------------------------------------------------------ */
/* The module itself. */

static const char* const kExportNames[4] = {"AppendColToDff", "EasyVertexColors",
                                            "GenerateColFromDff", "ImportNVCFromDff"};

static void CheckExports(HMODULE module) {
    const unsigned char* base = (const unsigned char*)module;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY* dir =
        &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY* exports;
    const DWORD* names;
    const WORD* ordinals;
    int i;

    Check(nt->FileHeader.Machine == HOST_MACHINE, "the library is not " HOST_MACHINE_NAME);
    if (dir->VirtualAddress == 0) {
        Check(0, "the library has no export table");
        return;
    }
    exports = (const IMAGE_EXPORT_DIRECTORY*)(base + dir->VirtualAddress);
    names = (const DWORD*)(base + exports->AddressOfNames);
    ordinals = (const WORD*)(base + exports->AddressOfNameOrdinals);
    Check(strcmp((const char*)(base + exports->Name), "brennix.dll") == 0,
          "module name in the export table is \"%s\"", (const char*)(base + exports->Name));
    Check(exports->Base == 1, "ordinal base is %lu", (unsigned long)exports->Base);
    Check(exports->NumberOfFunctions == 4, "%lu exported functions",
          (unsigned long)exports->NumberOfFunctions);
    Check(exports->NumberOfNames == 4, "%lu exported names", (unsigned long)exports->NumberOfNames);
    for (i = 0; i < 4 && (DWORD)i < exports->NumberOfNames; ++i) {
        const char* name = (const char*)(base + names[i]);
        Check(strcmp(name, kExportNames[i]) == 0, "export name %d is %s, expected %s", i, name,
              kExportNames[i]);
        Check(ordinals[i] + exports->Base == (DWORD)(i + 1), "%s has ordinal %lu, expected %d",
              name, (unsigned long)(ordinals[i] + exports->Base), i + 1);
    }

    for (i = 0; i < 4; ++i) {
        FARPROC byName = GetProcAddress(module, kExportNames[i]);
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(i + 1));
        Check(byName != NULL, "%s is not found by name", kExportNames[i]);
        Check(byOrdinal != NULL && byOrdinal == byName,
              "ordinal %d does not give the address of %s", i + 1, kExportNames[i]);
    }
    Check(GetProcAddress(module, MAKEINTRESOURCEA(5)) == NULL, "ordinal 5 is exported");
    Check(GetProcAddress(module, "DllMain") == NULL, "DllMain is exported");
    Check(GetProcAddress(module, "_GenerateColFromDff") == NULL &&
              GetProcAddress(module, "GenerateColFromDff@12") == NULL,
          "a decorated name is exported");

    g_append = (void*)GetProcAddress(module, "AppendColToDff");
    g_paint = (void*)GetProcAddress(module, "EasyVertexColors");
    g_generate = (void*)GetProcAddress(module, "GenerateColFromDff");
    g_import = (void*)GetProcAddress(module, "ImportNVCFromDff");
}

static void CheckVersionString(void* info, const char* key, const char* want) {
    char path[128];
    char* value = NULL;
    UINT length = 0;
    snprintf(path, sizeof path, "\\StringFileInfo\\040904b0\\%s", key);
    if (!VerQueryValueA(info, path, (void**)&value, &length) || value == NULL) {
        Check(0, "version resource has no %s", key);
        return;
    }
    Check(strcmp(value, want) == 0, "version %s is \"%s\", expected \"%s\"", key, value, want);
}

static void CheckVersion(const char* dllPath) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(dllPath, &handle);
    void* info;
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    if (size == 0) {
        Check(0, "the library has no version resource");
        return;
    }
    info = malloc(size);
    if (info == NULL || !GetFileVersionInfoA(dllPath, 0, size, info)) {
        Check(0, "the version resource cannot be read");
        free(info);
        return;
    }
    if (VerQueryValueA(info, "\\", (void**)&fixed, &length) && fixed != NULL &&
        length >= sizeof *fixed) {
        Check(fixed->dwFileVersionMS == 0x00000002 && fixed->dwFileVersionLS == 0,
              "file version is %08lx %08lx, expected 0.2.0.0",
              (unsigned long)fixed->dwFileVersionMS, (unsigned long)fixed->dwFileVersionLS);
        Check(fixed->dwProductVersionMS == 0x00000002 && fixed->dwProductVersionLS == 0,
              "product version is %08lx %08lx, expected 0.2.0.0",
              (unsigned long)fixed->dwProductVersionMS, (unsigned long)fixed->dwProductVersionLS);
        Check(fixed->dwFileType == VFT_DLL, "file type is %lu, not a DLL",
              (unsigned long)fixed->dwFileType);
    } else {
        Check(0, "the version resource has no fixed part");
    }
    CheckVersionString(info, "FileVersion", "0, 2, 0, 0");
    CheckVersionString(info, "ProductVersion", "0, 2, 0, 0");
    CheckVersionString(info, "CompanyName", "brennix");
    CheckVersionString(info, "ProductName", "brennix");
    CheckVersionString(info, "FileDescription", "brennix model library");
    free(info);
}

/* The entry point answers TRUE for thread attach and detach as well; process
 * attach and detach are what LoadLibrary and FreeLibrary go through. */
static void CheckEntryPoint(HMODULE module) {
    typedef BOOL(WINAPI * EntryPoint)(HINSTANCE, DWORD, LPVOID);
    const unsigned char* base = (const unsigned char*)module;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    EntryPoint entry = (EntryPoint)(UINT_PTR)(base + nt->OptionalHeader.AddressOfEntryPoint);
    Check(nt->OptionalHeader.AddressOfEntryPoint != 0, "the library has no entry point");
    if (nt->OptionalHeader.AddressOfEntryPoint == 0)
        return;
    Check(entry(module, DLL_THREAD_ATTACH, NULL) == TRUE, "thread attach did not return TRUE");
    Check(entry(module, DLL_THREAD_DETACH, NULL) == TRUE, "thread detach did not return TRUE");
}

static DWORD WINAPI ThreadJob(LPVOID unused) {
    (void)unused;
    return (DWORD)Generate("in\\model.dff", 0, "out\\thread.col");
}

/* ------------------------------------------------------------------------ */
/* The jobs. */

static void GenerateCases(void) {
    static const struct {
        const char* caseName;
        int mode;
        const char* output;
        const char* reference;
    } kWritten[] = {
        {"generate empty", 0, "out\\gen0.col", "expected\\gen0.col"},
        {"generate box", 1, "out\\gen1.col", "expected\\gen1.col"},
        {"generate mesh", 2, "out\\gen2.col", "expected\\gen2.col"},
        {"generate mode 3", 3, "out\\gen3.col", "expected\\gen3.col"},
        {"generate mode -1", -1, "out\\genm1.col", "expected\\gen3.col"},
    };
    size_t i;
    FileBytes col;
    DWORD attributes;

    for (i = 0; i < sizeof kWritten / sizeof kWritten[0]; ++i) {
        Case(kWritten[i].caseName);
        ExpectCode(kWritten[i].caseName,
                   Generate("in\\model.dff", kWritten[i].mode, kWritten[i].output), 0);
        CheckSameFile(kWritten[i].output, kWritten[i].reference);
    }
    col = ReadAll("out\\gen0.col");
    Check(col.ok && col.length == 120 && memcmp(col.data, "COL3", 4) == 0 &&
              memcmp(col.data + 8, "yolt", 5) == 0,
          "the empty collision file is not a 120-byte COL3 file named yolt");
    free(col.data);
    col = ReadAll("out\\gen1.col");
    Check(col.ok && col.length == 148, "the box collision file is not 148 bytes");
    free(col.data);

    /* A signalling NaN radius reaches the file with its bits unchanged. */
    Case("generate keeps NaN bits");
    ExpectCode("generate nan", Generate("in\\nan.dff", 0, "out\\gennan.col"), 0);
    CheckSameFile("out\\gennan.col", "expected\\gennan.col");
    col = ReadAll("out\\gennan.col");
    Check(col.ok && col.length == 120 && LoadU32(col.data + 68) == 0x7FA00001u,
          "the radius of the NaN model is %08x, expected 7fa00001",
          col.ok && col.length >= 72 ? LoadU32(col.data + 68) : 0u);
    free(col.data);

    Case("generate missing model");
    ExpectCode("generate missing", Generate("in\\missing.dff", 0, "out\\g_missing.col"), 1);
    ExpectNoFile("generate missing", "out\\g_missing.col");
    Case("generate not a model");
    ExpectCode("generate garbage", Generate("in\\garbage.dff", 1, "out\\g_garbage.col"), 1);
    ExpectNoFile("generate garbage", "out\\g_garbage.col");

    Case("generate bad geometry list");
    ExpectCode("generate badgeom", Generate("in\\badgeom.dff", 0, "out\\g_badgeom.col"), 2);
    ExpectNoFile("generate badgeom", "out\\g_badgeom.col");

    Case("generate mesh without positions");
    ExpectCode("generate nopos", Generate("in\\nopos.dff", 2, "out\\g_nopos.col"), 4);
    ExpectNoFile("generate nopos", "out\\g_nopos.col");
    Case("generate empty without geometry");
    ExpectCode("generate nogeom 0", Generate("in\\nogeom.dff", 0, "out\\g_nogeom0.col"), 4);
    ExpectNoFile("generate nogeom 0", "out\\g_nogeom0.col");
    Case("generate box without geometry");
    ExpectCode("generate nogeom 1", Generate("in\\nogeom.dff", 1, "out\\g_nogeom1.col"), 4);
    ExpectNoFile("generate nogeom 1", "out\\g_nogeom1.col");
    Case("generate mesh without geometry");
    ExpectCode("generate nogeom 2", Generate("in\\nogeom.dff", 2, "out\\g_nogeom2.col"), 4);
    ExpectNoFile("generate nogeom 2", "out\\g_nogeom2.col");

    Case("generate into a missing directory");
    ExpectCode("generate nodir", Generate("in\\model.dff", 0, "out\\nodir\\g.col"), 5);
    ExpectNoFile("generate nodir", "out\\nodir");
    Case("generate onto a directory");
    CreateDirectoryA("out\\adir.col", NULL);
    ExpectCode("generate onto directory", Generate("in\\model.dff", 0, "out\\adir.col"), 5);
    attributes = GetFileAttributesA("out\\adir.col");
    Check(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY),
          "the directory out\\adir.col was replaced");

    /* A read-only target is refused and stays as it was. */
    Case("generate onto a read-only file");
    WriteAll("out\\readonly.col", "keep", 4);
    SetFileAttributesA("out\\readonly.col", FILE_ATTRIBUTE_READONLY);
    ExpectCode("generate read-only", Generate("in\\model.dff", 0, "out\\readonly.col"), 5);
    CheckContent("out\\readonly.col", "keep");
    SetFileAttributesA("out\\readonly.col", FILE_ATTRIBUTE_NORMAL);

    /* A hidden target is replaced and stays hidden. */
    Case("generate onto a hidden file");
    WriteAll("out\\hidden.col", "old", 3);
    SetFileAttributesA("out\\hidden.col", FILE_ATTRIBUTE_HIDDEN);
    ExpectCode("generate hidden", Generate("in\\model.dff", 0, "out\\hidden.col"), 0);
    CheckSameFile("out\\hidden.col", "expected\\gen0.col");
    attributes = GetFileAttributesA("out\\hidden.col");
    Check(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN),
          "the replaced file lost its hidden attribute");
    SetFileAttributesA("out\\hidden.col", FILE_ATTRIBUTE_NORMAL);
}

static void AppendCases(void) {
    FileBytes model;

    Case("append");
    ExpectCode("append", Append("in\\model.dff", "in\\small.col", "out\\append.dff"), 0);
    CheckSameFile("out\\append.dff", "expected\\append.dff");

    Case("append in place");
    model = ReadAll("in\\model.dff");
    Check(model.ok && WriteAll("out\\inplace.dff", model.data, model.length),
          "cannot copy the model");
    free(model.data);
    ExpectCode("append in place", Append("out\\inplace.dff", "in\\small.col", "out\\inplace.dff"),
               0);
    CheckSameFile("out\\inplace.dff", "expected\\append.dff");

    Case("append to a missing model");
    ExpectCode("append missing", Append("in\\missing.dff", "in\\small.col", "out\\a_missing.dff"),
               1);
    ExpectNoFile("append missing", "out\\a_missing.dff");

    Case("append to a model with a collision");
    ExpectCode("append withcol", Append("in\\withcol.dff", "in\\small.col", "out\\a_withcol.dff"),
               6);
    ExpectNoFile("append withcol", "out\\a_withcol.dff");

    Case("append to a clump without extension");
    ExpectCode("append noext", Append("in\\noext.dff", "in\\small.col", "out\\a_noext.dff"), 7);
    ExpectNoFile("append noext", "out\\a_noext.dff");

    Case("append a missing collision file");
    ExpectCode("append missing col",
               Append("in\\model.dff", "in\\missing.col", "out\\a_missingcol.dff"), 7);
    ExpectNoFile("append missing col", "out\\a_missingcol.dff");

    /* This diagnostic goes to standard output, without a line break. */
    Case("append into a missing directory");
    printf("savedff: ");
    fflush(stdout);
    ExpectCode("append nodir", Append("in\\model.dff", "in\\small.col", "out\\nodir\\a.dff"), 5);
    printf("\n");
    fflush(stdout);
    ExpectNoFile("append nodir", "out\\nodir");
}

static void ImportCases(void) {
    static const struct {
        const char* caseName;
        const char* model;
        const char* night;
        const char* output;
        int code;
    } kFailing[] = {
        {"import missing model", "in\\missing.dff", "in\\night.dff", "out\\n_1.dff", 1},
        {"import missing night model", "in\\model.dff", "in\\missing.dff", "out\\n_2.dff", 2},
        {"import night model not a model", "in\\model.dff", "in\\garbage.dff", "out\\n_2b.dff", 2},
        {"import bad geometry list", "in\\badgeom.dff", "in\\night.dff", "out\\n_4.dff", 4},
        {"import model without geometry", "in\\nogeom.dff", "in\\night.dff", "out\\n_4b.dff", 4},
        {"import night bad geometry list", "in\\model.dff", "in\\badgeom.dff", "out\\n_5.dff", 5},
        {"import night without geometry", "in\\model.dff", "in\\nogeom.dff", "out\\n_5b.dff", 5},
        {"import vertex counts differ", "in\\model.dff", "in\\more.dff", "out\\n_6.dff", 6},
        {"import into a missing directory", "in\\model.dff", "in\\night.dff", "out\\nodir\\n.dff",
         8},
        {"import night without day colours", "in\\model.dff", "in\\noprelit.dff", "out\\n_9.dff",
         9},
    };
    size_t i;

    Case("import");
    ExpectCode("import", Import("in\\model.dff", "in\\night.dff", "out\\nvc.dff"), 0);
    CheckSameFile("out\\nvc.dff", "expected\\nvc.dff");
    Case("import from itself");
    ExpectCode("import same", Import("in\\model.dff", "in\\model.dff", "out\\nvcsame.dff"), 0);
    CheckSameFile("out\\nvcsame.dff", "expected\\nvcsame.dff");

    for (i = 0; i < sizeof kFailing / sizeof kFailing[0]; ++i) {
        Case(kFailing[i].caseName);
        ExpectCode(kFailing[i].caseName,
                   Import(kFailing[i].model, kFailing[i].night, kFailing[i].output),
                   kFailing[i].code);
        ExpectNoFile(kFailing[i].caseName, kFailing[i].output);
    }
    ExpectNoFile("import", "out\\nodir");
}

static void PaintCases(void) {
    /* Day colour red; night colour (128, 64, 32): the top bytes are ignored. */
    const unsigned day = 0xFF0000FFu;
    const unsigned night = 0x00204080u;

    Case("paint");
    ExpectCode("paint", Paint("in\\model.dff", day, night, "out\\paint.dff"), 0);
    CheckSameFile("out\\paint.dff", "expected\\paint.dff");
    Case("paint keeps NaN bits");
    ExpectCode("paint nan", Paint("in\\nan.dff", day, night, "out\\paintnan.dff"), 0);
    CheckSameFile("out\\paintnan.dff", "expected\\paintnan.dff");

    Case("paint missing model");
    ExpectCode("paint missing", Paint("in\\missing.dff", day, night, "out\\p_1.dff"), 1);
    ExpectNoFile("paint missing", "out\\p_1.dff");
    Case("paint bad geometry list");
    ExpectCode("paint badgeom", Paint("in\\badgeom.dff", day, night, "out\\p_4.dff"), 4);
    ExpectNoFile("paint badgeom", "out\\p_4.dff");
    Case("paint model without geometry");
    ExpectCode("paint nogeom", Paint("in\\nogeom.dff", day, night, "out\\p_4b.dff"), 4);
    ExpectNoFile("paint nogeom", "out\\p_4b.dff");
    Case("paint into a missing directory");
    ExpectCode("paint nodir", Paint("in\\model.dff", day, night, "out\\nodir\\p.dff"), 8);
    ExpectNoFile("paint nodir", "out\\nodir");
}

/* After all jobs, out\ holds exactly the files the successful jobs wrote and
 * the ones this program made: no temporary file is left behind. */
static void CheckOutputDirectory(void) {
    static const char* const kWanted[] = {
        "gen0.col",    "gen1.col",     "gen2.col",     "gen3.col",   "genm1.col",   "gennan.col",
        "adir.col",    "readonly.col", "hidden.col",   "append.dff", "inplace.dff", "nvc.dff",
        "nvcsame.dff", "paint.dff",    "paintnan.dff", "thread.col",
    };
    const size_t wantedCount = sizeof kWanted / sizeof kWanted[0];
    int seen[sizeof kWanted / sizeof kWanted[0]] = {0};
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("out\\*", &found);
    size_t i;
    if (search == INVALID_HANDLE_VALUE) {
        Check(0, "out\\ cannot be listed");
        return;
    }
    do {
        int known = 0;
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        for (i = 0; i < wantedCount; ++i) {
            if (_stricmp(found.cFileName, kWanted[i]) == 0) {
                seen[i] = 1;
                known = 1;
            }
        }
        Check(known, "unexpected file out\\%s", found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (i = 0; i < wantedCount; ++i)
        Check(seen[i], "out\\%s is missing", kWanted[i]);
}

int main(int argc, char** argv) {
    const char* dllName = argc > 1 ? argv[1] : "brennix.dll";
    char dllPath[MAX_PATH];
    HMODULE module;
    HANDLE thread;
    DWORD threadResult = 99;

    if (GetFullPathNameA(dllName, sizeof dllPath, dllPath, NULL) == 0) {
        printf("FAILED: bad library path %s\n", dllName);
        return 1;
    }
    module = LoadLibraryA(dllPath);
    if (module == NULL) {
        printf("FAILED: LoadLibraryA(%s) failed with error %lu\n", dllPath,
               (unsigned long)GetLastError());
        printf("0 passed, 1 failed\n");
        return 1;
    }
#if !defined(__i386__)
    printf(
        "note: the cdecl check by the stack pointer needs 32-bit x86; skipped on this "
        "%s build\n",
        HOST_MACHINE_NAME);
    fflush(stdout);
#endif
    CheckExports(module);
    CheckVersion(dllPath);
    CheckEntryPoint(module);
    if (g_append == NULL || g_paint == NULL || g_generate == NULL || g_import == NULL) {
        printf("%d passed, %d failed\n", g_passed, g_failed + 1);
        return 1;
    }

    GenerateCases();
    AppendCases();
    ImportCases();
    PaintCases();

    /* A job on another thread, which the entry point sees attach and detach. */
    Case("generate on another thread");
    thread = CreateThread(NULL, 0, ThreadJob, NULL, 0, NULL);
    Check(thread != NULL, "cannot start a thread");
    if (thread != NULL) {
        WaitForSingleObject(thread, INFINITE);
        GetExitCodeThread(thread, &threadResult);
        CloseHandle(thread);
        ExpectCode("generate on a thread", (int)threadResult, 0);
        CheckSameFile("out\\thread.col", "expected\\gen0.col");
    }

    /* Unloading and loading again leaves nothing behind between calls. */
    Check(FreeLibrary(module) != 0, "FreeLibrary failed");
    module = LoadLibraryA(dllPath);
    Check(module != NULL, "loading the library a second time failed");
    if (module != NULL) {
        g_generate = (void*)GetProcAddress(module, "GenerateColFromDff");
        Case("generate after reloading");
        ExpectCode("generate after reload", Generate("in\\model.dff", 1, "out\\gen1.col"), 0);
        CheckSameFile("out\\gen1.col", "expected\\gen1.col");
        FreeLibrary(module);
    }

    CheckOutputDirectory();
    printf("%d passed, %d failed\n", g_passed, g_failed);
    fflush(stdout);
    return g_failed == 0 ? 0 : 1;
}
