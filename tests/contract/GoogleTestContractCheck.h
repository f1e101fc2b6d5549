// Where a contract case's verdicts go in the GoogleTest suites: failures as
// test failures, a skip kept for the test body to report with GTEST_SKIP
// (which only works there) once the case has returned.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "contract/PlatformContract.h"

class GoogleTestContractCheck : public ContractCheck {
public:
    void Fail(const char* file, int line, const std::string& what) override { ADD_FAILURE_AT(file, line) << what; }
    void Skip(const std::string& reason) override
    {
        skipped = true;
        skipReason = reason;
    }

    bool skipped = false;
    std::string skipReason;
};
