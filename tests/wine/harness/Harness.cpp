#include "wine/harness/Harness.h"

#include <cstdio>
#include <cstring>

namespace {
WineTestCase* firstTest = nullptr;
WineTestCase* lastTest = nullptr;
int failuresInTest = 0;
int skipsInTest = 0;
int skipsInRun = 0;
}

int RegisterWineTest(WineTestCase* test)
{
    if (lastTest) lastTest->next = test;
    else firstTest = test;
    lastTest = test;
    return 0;
}

void ReportFailure(const char* file, int line, const std::string& what)
{
    ++failuresInTest;
    std::printf("  %s:%d: %s\n", file, line, what.c_str());
    std::fflush(stdout);
}

void ReportSkip(const std::string& reason)
{
    ++skipsInTest;
    ++skipsInRun;
    std::printf("  [ SKIP ] %s\n", reason.c_str());
    std::fflush(stdout);
}

std::string DescribeValue(long long value) { return std::to_string(value); }
std::string DescribeValue(unsigned long long value) { return std::to_string(value); }
std::string DescribeValue(const std::string& value) { return "\"" + value + "\""; }
std::string DescribeValue(const char* value) { return value ? DescribeValue(std::string(value)) : "null"; }

static bool Selected(const WineTestCase* test, int argc, char** argv)
{
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], test->name) == 0) return true;
    }
    return false;
}

int main(int argc, char** argv)
{
    int passed = 0, failed = 0;
    for (WineTestCase* test = firstTest; test; test = test->next) {
        if (!Selected(test, argc, argv)) continue;
        failuresInTest = 0;
        skipsInTest = 0;
        std::printf("[ RUN  ] %s\n", test->name);
        std::fflush(stdout);
        test->run();
        if (failuresInTest) std::printf("[ FAIL ] %s\n", test->name);
        else if (skipsInTest) std::printf("[  OK  ] %s, with %d part(s) skipped\n", test->name, skipsInTest);
        else std::printf("[  OK  ] %s\n", test->name);
        std::fflush(stdout);
        if (failuresInTest) ++failed;
        else ++passed;
    }
    std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipsInRun);
    std::fflush(stdout);
    return (failed == 0 && passed > 0) ? 0 : 1;
}
