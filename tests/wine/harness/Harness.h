// A lean test harness for the Win32 test programs that run under Wine.
// GoogleTest needs the posix threading model; these programs use the same
// win32-model compilers as Quellor.exe, so they carry their own few macros.
//
//   WINE_TEST(WalkOffersEveryFile) { CHECK_EQ(2, count); }
//
// main() runs every registered test (or those named on the command line),
// prints one line per test and ends with "N passed, N failed, N skipped".
// A test (or a part of one, such as one contract case) that cannot be shown
// here calls ReportSkip with the reason: it is listed as skipped, never
// counted as passed.
#pragma once

#include <cstdint>
#include <string>

struct WineTestCase {
    const char* name;
    void (*run)();
    WineTestCase* next;
};

int RegisterWineTest(WineTestCase* test);
void ReportFailure(const char* file, int line, const std::string& what);
void ReportSkip(const std::string& reason);
std::string DescribeValue(long long value);
std::string DescribeValue(unsigned long long value);
std::string DescribeValue(const std::string& value);
std::string DescribeValue(const char* value);
inline std::string DescribeValue(int value) { return DescribeValue(static_cast<long long>(value)); }
inline std::string DescribeValue(long value) { return DescribeValue(static_cast<long long>(value)); }
inline std::string DescribeValue(unsigned value) { return DescribeValue(static_cast<unsigned long long>(value)); }
inline std::string DescribeValue(unsigned long value) { return DescribeValue(static_cast<unsigned long long>(value)); }
inline std::string DescribeValue(bool value) { return value ? "true" : "false"; }

#define WINE_TEST(name)                                                  \
    static void name();                                                  \
    static WineTestCase name##_case = {#name, name, nullptr};            \
    static const int name##_registered = RegisterWineTest(&name##_case); \
    static void name()

#define CHECK(condition) \
    do { if (!(condition)) ReportFailure(__FILE__, __LINE__, "CHECK(" #condition ")"); } while (0)

#define CHECK_EQ(expected, actual)                                                              \
    do {                                                                                        \
        const auto& quellorExpected = (expected);                                               \
        const auto& quellorActual = (actual);                                                   \
        if (!(quellorExpected == quellorActual))                                                \
            ReportFailure(__FILE__, __LINE__, std::string(#actual " is ") +                     \
                          DescribeValue(quellorActual) + ", expected " + DescribeValue(quellorExpected)); \
    } while (0)

#define CHECK_STREQ(expected, actual) CHECK_EQ(std::string(expected), std::string(actual))
