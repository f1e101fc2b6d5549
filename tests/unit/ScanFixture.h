// Shared set-up for engine tests: a fresh fake platform, the shared scan
// state back at its program-start values, and a result sink that records
// every status text and result line the engine sends.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/FakePlatform.h"
#include "scan/ScanState.h"
#include "scan/VirusHandler.h"

class ScanFixture : public ::testing::Test {
protected:
    static constexpr WindowRef kSink = 0x5150;

    void SetUp() override
    {
        ResetScanGlobals();
        SetPlatform(&fake);
        ScanState.resultSink = kSink;
        fake.onNotify = [this](WindowRef window, std::uint32_t message) {
            EXPECT_EQ(kSink, window);
            if (message == ShowStatusMessage) statuses.push_back(ScanState.statusText);
            if (message == AppendLineMessage) lines.push_back(ScanState.lineText);
        };
    }

    void TearDown() override
    {
        UseHandlerTable(nullptr);
        ResetScanGlobals();
    }

    FakePlatform fake;
    std::vector<std::string> statuses;
    std::vector<std::string> lines;
};
