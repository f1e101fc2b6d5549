#include "wine/support/ProgramRun.h"

#include "wine/support/Win32TestSupport.h"

namespace {

const char kOutFile[] = "C:\\console-out.txt";
const char kErrFile[] = "C:\\console-err.txt";

HANDLE CaptureFile(const char* path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

Finished RunProgram(const char* program, const std::string& arguments, DWORD timeout)
{
    Finished finished = {false, false, 0, {}, {}};
    HANDLE out = CaptureFile(kOutFile);
    HANDLE err = CaptureFile(kErrFile);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::string commandLine = std::string("\"") + program + "\" " + arguments;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    finished.started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                       CreateProcessA(program, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, "C:\\", &startup,
                                      &process);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    if (!finished.started) return finished;
    finished.ended = WaitForSingleObject(process.hProcess, timeout) == WAIT_OBJECT_0;
    if (!finished.ended) TerminateProcess(process.hProcess, 99);
    GetExitCodeProcess(process.hProcess, &finished.status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::string text;
    if (ReadWholeFile(kOutFile, text)) finished.out = LinesOf(text);
    if (ReadWholeFile(kErrFile, text)) finished.err = LinesOf(text);
    return finished;
}

Finished RunInstalledScanner(const std::string& arguments)
{
    return RunProgram("C:\\Quellor\\quellor-scan.exe", arguments, 240000);
}
