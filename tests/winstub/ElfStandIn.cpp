// mysqldump.exe and mysql.exe for the tests under Wine: a Windows program of the name the copy job
// looks for, which runs the build machine's Linux program of the same name and hands its output,
// error output and exit status back as its own.
//
// Why not run the Linux program directly: Wine starts an ELF program passed to CreateProcessW, but
// returns no process handle (it cannot be waited for, its exit status is lost) and output written
// to anonymous pipes is lost. Files work. So this stand-in
//   1. reads its whole standard input into a file of a private temporary folder,
//   2. starts /bin/sh (an ELF program) with a fixed script and the file names and the program's
//      words as positional parameters (nothing is interpolated into the script text), which runs
//      the program with standard input, output and error redirected to files and then writes the
//      exit status to a status file through rename, so the file appears whole,
//   3. waits (bounded) for the status file and copies the output and error files to its own
//      standard output and error, and ends with the program's exit status.
// With VELMAR_STANDIN_RECORD naming a folder, it also notes there what it was given, as the
// recording wrappers of the Linux tests do: <program>.args (one argument a line, UTF-8) and
// <program>.cnf (the option file named by --defaults-extra-file, read while it exists).
// Windows paths among the arguments (X:\... also after "--option=") and in MYSQL_HOME are turned
// into Unix paths with wine_get_unix_file_name, which Wine's kernel32 exports.
#include <windows.h>

#include <string>
#include <vector>

namespace {

using UnixNameFn = char *(CDECL *)(const WCHAR *);
using DosNameFn = WCHAR *(CDECL *)(const char *);

constexpr DWORD kPollMs = 20;
constexpr ULONGLONG kLimitMs = 30ull * 60 * 1000;  // a test's whole copy takes seconds

UnixNameFn unixNameFn()
{
    static const auto fn = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    return fn;
}

std::wstring fromUtf8(const std::string &s)
{
    if (s.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
    return w;
}

// The Unix path of a Windows path (as UTF-16 again, for the command line).
std::wstring unixPath(const std::wstring &windowsPath)
{
    char *p = unixNameFn()(windowsPath.c_str());
    if (!p)
        return windowsPath;
    std::wstring w = fromUtf8(p);
    HeapFree(GetProcessHeap(), 0, p);
    return w;
}

bool isWindowsAbsolute(const std::wstring &s, size_t at)
{
    return s.size() >= at + 3 && iswalpha(s[at]) && s[at + 1] == L':' && (s[at + 2] == L'\\' || s[at + 2] == L'/');
}

// An argument with its Windows path (whole, or after "--name=") as a Unix path.
std::wstring translate(const std::wstring &arg)
{
    if (isWindowsAbsolute(arg, 0))
        return unixPath(arg);
    const size_t eq = arg.find(L'=');
    if (arg.rfind(L"--", 0) == 0 && eq != std::wstring::npos && isWindowsAbsolute(arg, eq + 1))
        return arg.substr(0, eq + 1) + unixPath(arg.substr(eq + 1));
    return arg;
}

// One word of a command line, quoted so that the usual Windows splitting gives it back unchanged.
std::wstring quote(const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring q = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, L'\\');
    return q + L'"';
}

bool copyHandle(HANDLE from, HANDLE to)
{
    char buffer[1 << 16];
    DWORD got = 0;
    while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        DWORD put = 0;
        if (to != INVALID_HANDLE_VALUE && to != nullptr && !WriteFile(to, buffer, got, &put, nullptr))
            return false;
    }
    return true;
}

bool fileToHandle(const std::wstring &path, HANDLE to)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = copyHandle(f, to);
    CloseHandle(f);
    return ok;
}

bool handleToFile(HANDLE from, const std::wstring &path)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    if (from != INVALID_HANDLE_VALUE && from != nullptr && GetFileType(from) != FILE_TYPE_CHAR)
        ok = copyHandle(from, f);
    CloseHandle(f);
    return ok;
}

void fail(const wchar_t *what)
{
    std::wstring text = std::wstring(L"stand-in: ") + what + L"\n";
    const std::string utf8(text.begin(), text.end());  // ASCII only
    DWORD put = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), utf8.data(), DWORD(utf8.size()), &put, nullptr);
    ExitProcess(127);
}

std::string toUtf8(const std::wstring &w)
{
    if (w.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

bool writeWhole(const std::wstring &path, const std::string &bytes)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD put = 0;
    const bool ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &put, nullptr) && put == bytes.size();
    CloseHandle(f);
    return ok;
}

void record(const std::wstring &program, int argc, wchar_t **argv)
{
    wchar_t folder[MAX_PATH];
    if (GetEnvironmentVariableW(L"VELMAR_STANDIN_RECORD", folder, MAX_PATH) == 0)
        return;
    std::string args;
    for (int i = 1; i < argc; ++i)
        args += toUtf8(argv[i]) + "\n";
    writeWhole(std::wstring(folder) + L"\\" + program + L".args", args);
    const std::wstring option = L"--defaults-extra-file=";
    if (argc > 1 && std::wstring(argv[1]).rfind(option, 0) == 0) {
        HANDLE f = CreateFileW(std::wstring(argv[1]).substr(option.size()).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        std::string content;
        if (f != INVALID_HANDLE_VALUE) {
            char buffer[4096];
            DWORD got = 0;
            while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0)
                content.append(buffer, got);
            CloseHandle(f);
        }
        writeWhole(std::wstring(folder) + L"\\" + program + L".cnf", content);
    }
}

void removeFolder(const std::wstring &folder)
{
    for (const wchar_t *name : {L"\\in", L"\\out", L"\\err", L"\\status"})
        DeleteFileW((folder + name).c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (!unixNameFn())
        fail(L"this program runs only under Wine");

    // The Linux program has this program's own name.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring program = self;
    program = program.substr(program.find_last_of(L"\\/") + 1);
    if (program.size() > 4 && _wcsicmp(program.c_str() + program.size() - 4, L".exe") == 0)
        program.resize(program.size() - 4);

    record(program, argc, argv);

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"velmar-standin-" + std::to_wstring(GetCurrentProcessId())
                                + L"-" + std::to_wstring(GetTickCount64());
    if (!CreateDirectoryW(folder.c_str(), nullptr))
        fail(L"cannot create a temporary folder");
    const std::wstring in = folder + L"\\in", out = folder + L"\\out", err = folder + L"\\err",
                       status = folder + L"\\status";
    // Only mysql reads its standard input (the copy job feeds it and closes it); the others get
    // an empty one, as a caller may leave its end of the pipe open.
    if (!handleToFile(_wcsicmp(program.c_str(), L"mysql") == 0 ? GetStdHandle(STD_INPUT_HANDLE) : nullptr, in))
        fail(L"cannot keep the standard input");

    std::vector<std::wstring> words{
        L"sh", L"-c",
        L"st=$1 in=$2 out=$3 err=$4; shift 4; \"$@\" <\"$in\" >\"$out\" 2>\"$err\"; "
        L"echo $? >\"$st.tmp\"; mv \"$st.tmp\" \"$st\"",
        L"sh", unixPath(status), unixPath(in), unixPath(out), unixPath(err), L"/usr/bin/env"};
    // The client programs read their option file from MYSQL_HOME.
    wchar_t home[MAX_PATH];
    if (GetEnvironmentVariableW(L"MYSQL_HOME", home, MAX_PATH) > 0)
        words.push_back(L"MYSQL_HOME=" + translate(home));
    words.push_back(program);
    for (int i = 1; i < argc; ++i)
        words.push_back(translate(argv[i]));

    std::wstring commandLine;
    for (const std::wstring &w : words)
        commandLine += (commandLine.empty() ? L"" : L" ") + quote(w);

    const auto dosName = reinterpret_cast<DosNameFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    WCHAR *shell = dosName ? dosName("/bin/sh") : nullptr;
    if (!shell)
        fail(L"no /bin/sh");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // Under Wine this succeeds without a handle to wait on; the status file is the wait.
    const BOOL started = CreateProcessW(shell, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    HeapFree(GetProcessHeap(), 0, shell);
    if (!started)
        fail(L"cannot start /bin/sh");
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);

    const ULONGLONG begin = GetTickCount64();
    while (GetFileAttributesW(status.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() - begin > kLimitMs)
            fail(L"the Linux program did not end in time");
        Sleep(kPollMs);
    }

    fileToHandle(out, GetStdHandle(STD_OUTPUT_HANDLE));
    fileToHandle(err, GetStdHandle(STD_ERROR_HANDLE));
    char code[16] = {};
    DWORD got = 0;
    HANDLE s = CreateFileW(status.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (s != INVALID_HANDLE_VALUE) {
        ReadFile(s, code, sizeof code - 1, &got, nullptr);
        CloseHandle(s);
    }
    removeFolder(folder);
    return got > 0 ? atoi(code) : 127;
}
