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

StartedProgram StartProgram(const char* program, const std::string& arguments, const std::string& outFile,
                            const std::string& errFile)
{
    StartedProgram started = {false, nullptr, outFile, errFile};
    HANDLE out = CaptureFile(outFile.c_str());
    HANDLE err = CaptureFile(errFile.c_str());
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
    started.started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                      CreateProcessA(program, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, "C:\\", &startup,
                                     &process);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    if (!started.started) return started;
    CloseHandle(process.hThread);
    started.process = process.hProcess;
    return started;
}

Finished FinishProgram(StartedProgram& started, DWORD timeout)
{
    Finished finished = {started.started, false, 0, {}, {}};
    if (!started.started) return finished;
    finished.ended = WaitForSingleObject(started.process, timeout) == WAIT_OBJECT_0;
    if (!finished.ended) TerminateProcess(started.process, 99);
    GetExitCodeProcess(started.process, &finished.status);
    CloseHandle(started.process);
    started.process = nullptr;
    std::string text;
    if (ReadWholeFile(started.outFile, text)) finished.out = LinesOf(text);
    if (ReadWholeFile(started.errFile, text)) finished.err = LinesOf(text);
    return finished;
}

Finished RunProgram(const char* program, const std::string& arguments, DWORD timeout)
{
    StartedProgram started = StartProgram(program, arguments, kOutFile, kErrFile);
    return FinishProgram(started, timeout);
}

Finished RunInstalledScanner(const std::string& arguments)
{
    return RunProgram("C:\\Quellor\\quellor-scan.exe", arguments, 240000);
}
