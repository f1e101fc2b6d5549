#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "scan/ProductText.h"
#include "scan/ScanSession.h"
#include "unit/ScanFixture.h"

namespace {

// What the recording handlers saw, in order, as "label|path".
std::vector<std::string> offered;
// Paths the first handler claims as dealt with.
std::set<std::string> claimedByFirst;

std::int32_t RecordFirst(const char* label, const char* path)
{
    offered.push_back(std::string(label) + "|" + path);
    return claimedByFirst.count(path) ? 1 : 0;
}

std::int32_t RecordSecond(const char* label, const char* path)
{
    offered.push_back(std::string(label) + "|" + path);
    return 0;
}

const VirusHandler kRecordingTable[] = {
    {"first", RecordFirst},
    {"second", RecordSecond},
    {nullptr, nullptr},
};

class ScanSessionTest : public ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        offered.clear();
        claimedByFirst.clear();
        UseHandlerTable(kRecordingTable);
    }

    // The paths offered to the first handler, in order.
    std::vector<std::string> FirstOffers() const
    {
        std::vector<std::string> paths;
        for (const std::string& entry : offered) {
            if (entry.compare(0, 6, "first|") == 0) paths.push_back(entry.substr(6));
        }
        return paths;
    }

    bool Walked(const std::string& pattern) const
    {
        return std::count(fake.findPatterns.begin(), fake.findPatterns.end(), pattern) > 0;
    }

    // Starts one row of a table: the program-start state, empty records and
    // a platform of its own with two files on a fixed C: drive.
    FakePlatform& StartRow()
    {
        ResetScanGlobals();
        ScanState.resultSink = kSink;
        offered.clear();
        statuses.clear();
        lines.clear();
        rowPlatform.reset(new FakePlatform);
        rowPlatform->onNotify = fake.onNotify;
        SetPlatform(rowPlatform.get());
        rowPlatform->AddDrive('C', DriveFixed);
        rowPlatform->AddFile("C:\\one.txt", "1");
        rowPlatform->AddFile("C:\\two.txt", "2");
        return *rowPlatform;
    }

    std::unique_ptr<FakePlatform> rowPlatform;
};

TEST_F(ScanSessionTest, FilesOfAFolderComeBeforeItsSubfoldersWhichAreEnteredDepthFirst)
{
    fake.AddDrive('D', DriveFixed);
    fake.AddFile("D:\\a.txt", "a");
    fake.AddFile("D:\\one\\deep\\d.txt", "d");
    fake.AddFile("D:\\one\\c.txt", "c");
    fake.AddFile("D:\\b.txt", "b");
    fake.AddFile("D:\\two\\e.txt", "e");
    // Enumeration order is the file system's, not alphabetical.
    fake.SetEnumerationOrder("D:\\", {"two", "b.txt", "one", "a.txt"});

    EXPECT_EQ(1, RunScanSession());

    std::vector<std::string> expected = {"D:\\b.txt", "D:\\a.txt", "D:\\two\\e.txt", "D:\\one\\c.txt",
                                         "D:\\one\\deep\\d.txt"};
    EXPECT_EQ(expected, FirstOffers());
    EXPECT_EQ(5, ScanStatistics.filesScanned);
}

TEST_F(ScanSessionTest, EveryEntryIsShownButOnlyFilesAreCountedAndDotEntriesNeverEntered)
{
    fake.AddDrive('D', DriveFixed);
    fake.AddFile("D:\\dir\\x.bin", "x", kAttrHidden | kAttrSystem | kAttrReadOnly);
    fake.AddFolder("D:\\dir\\empty");

    EXPECT_EQ(1, WalkFolder("D:\\*.*"));

    std::vector<std::string> shown(statuses.begin(), statuses.end());
    std::vector<std::string> expected = {"D:\\dir",         "D:\\dir\\.", "D:\\dir\\..", "D:\\dir\\x.bin",
                                         "D:\\dir\\empty", "D:\\dir\\empty\\.", "D:\\dir\\empty\\.."};
    EXPECT_EQ(expected, shown);
    EXPECT_EQ(std::vector<std::string>{"D:\\dir\\x.bin"}, FirstOffers());
    std::vector<std::string> patterns = {"D:\\*.*", "D:\\*.*", "D:\\dir\\*.*", "D:\\dir\\*.*",
                                         "D:\\dir\\empty\\*.*", "D:\\dir\\empty\\*.*"};
    EXPECT_EQ(patterns, fake.findPatterns);
}

TEST_F(ScanSessionTest, OnlyFixedDrivesFromCToZAreWalkedInLetterOrder)
{
    struct Drive {
        char letter;
        int type;
        bool walked;
    };
    const Drive drives[] = {
        {'A', DriveFixed, false},     {'B', DriveFixed, false},     {'C', DriveFixed, true},
        {'D', DriveCdRom, false},     {'E', DriveFixed, true},      {'F', DriveRemote, false},
        {'G', DriveRemovable, false}, {'H', DriveRamDisk, false},   {'I', DriveUnknown, false},
        {'Z', DriveFixed, true},
    };
    for (const Drive& drive : drives) {
        fake.AddDrive(drive.letter, drive.type);
        fake.AddFile(std::string(1, drive.letter) + ":\\file.txt", "x");
    }

    RunScanSession();

    std::vector<std::string> expected = {"C:\\file.txt", "E:\\file.txt", "Z:\\file.txt"};
    EXPECT_EQ(expected, FirstOffers());
    for (const Drive& drive : drives) {
        SCOPED_TRACE(drive.letter);
        EXPECT_EQ(drive.walked, Walked(std::string(1, drive.letter) + ":\\*.*"));
    }
}

TEST_F(ScanSessionTest, ALaterHandlerIsNotAskedOnceAnEarlierOneDealtWithTheFile)
{
    fake.AddDrive('D', DriveFixed);
    fake.AddFile("D:\\infected.exe", "x");
    fake.AddFile("D:\\clean.txt", "y");
    claimedByFirst.insert("D:\\infected.exe");

    WalkFolder("D:\\*.*");

    std::vector<std::string> expected = {"first|D:\\infected.exe", "first|D:\\clean.txt", "second|D:\\clean.txt"};
    EXPECT_EQ(expected, offered);
}

TEST_F(ScanSessionTest, StatusLineShowsPathsShortenedToSixtyCharacters)
{
    std::string folder = "D:\\" + std::string(50, 'f');
    std::string shortPath = folder + "\\short.txt";               // 63 characters
    std::string exact = "D:\\" + std::string(51, 'e') + ".txt";   // 58 characters
    fake.AddDrive('D', DriveFixed);
    fake.AddFile(shortPath, "s");
    fake.AddFile(exact, "e");

    WalkFolder("D:\\*.*");

    ASSERT_EQ(63u, shortPath.size());
    std::string shortened = shortPath.substr(0, 29) + ".." + shortPath.substr(shortPath.size() - 29);
    EXPECT_NE(statuses.end(), std::find(statuses.begin(), statuses.end(), shortened));
    EXPECT_NE(statuses.end(), std::find(statuses.begin(), statuses.end(), exact));
    for (const std::string& status : statuses) EXPECT_LE(status.size(), 60u) << status;
    // The handlers still get the full path.
    EXPECT_NE(offered.end(), std::find(offered.begin(), offered.end(), "first|" + shortPath));
}

TEST(ShortenPathTest, KeepsShortTextsAndCutsTheMiddleOfLongOnes)
{
    struct Row {
        std::size_t length;
        std::int16_t width;
        std::size_t head;  // characters kept at each end; 0 = unchanged
        std::size_t dots;
    };
    const Row rows[] = {
        {60, 60, 0, 0},   // exactly the width: unchanged
        {59, 60, 0, 0},
        {61, 60, 29, 2},  // one over: 29 + ".." + 29
        {70, 60, 29, 2},
        {259, 60, 29, 2},
        {20, 9, 3, 3},    // odd width: 3 + "..." + 3
        {20, 3, 0, 0},    // width / 2 - 1 is 0: unchanged
        {20, 2, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.length << " chars, width " << row.width);
        std::string source;
        for (std::size_t i = 0; i < row.length; ++i) source += static_cast<char>('a' + i % 26);
        char out[512];
        ShortenPath(source.c_str(), out, sizeof out, row.width);
        if (row.head == 0) {
            EXPECT_EQ(source, out);
        } else {
            std::string expected = source.substr(0, row.head) + std::string(row.dots, '.') +
                                   source.substr(source.size() - row.head);
            EXPECT_EQ(expected, out);
            EXPECT_EQ(static_cast<std::size_t>(row.width), std::string(out).size());
        }
    }
}

TEST(ShortenPathTest, NeverWritesPastASmallDestination)
{
    char out[8];
    std::memset(out, 'z', sizeof out);
    ShortenPath("D:\\a-rather-long-path\\file.txt", out, 5, 60);
    EXPECT_EQ(std::string("D:\\a"), std::string(out));
    EXPECT_EQ('z', out[5]);
}

TEST_F(ScanSessionTest, StatisticsBlockLinesAndFinalWord)
{
    struct Row {
        std::int32_t infected;
        std::int32_t removed;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {0, 0,
         {"Scanning statistics", "------------------------------", "Total files scanned\t\t:  2",
          "Total files infected\t\t:  0", "Total files removed\t\t:  0"}},
        {3, 1,
         {" ", "Scanning statistics", "------------------------------", "Total files scanned\t\t:  2",
          "Total files infected\t\t:  3", "Total files removed\t\t:  1"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.infected);
        FakePlatform& fresh = StartRow();
        ScanStatistics.filesInfected = row.infected;
        ScanStatistics.filesRemoved = row.removed;

        RunScanSession();

        EXPECT_EQ(row.expected, lines);
        EXPECT_TRUE(ScanState.statisticsPhase);
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ("Scanning completed", statuses.back());
        EXPECT_TRUE(fresh.prompts.empty());
    }
}

TEST_F(ScanSessionTest, EscapeAsksWhetherToStopAndOtherMessagesAreDispatched)
{
    struct Row {
        const char* name;
        std::uint32_t message;
        std::uintptr_t wParam;
        int answer;
        bool stops;
        bool prompts;
        bool dispatched;
    };
    const Row rows[] = {
        {"Escape answered No goes on", 0x0100, 27, kAnswerNo, false, true, false},
        {"Escape answered Yes stops", 0x0100, 27, kAnswerYes, true, true, false},
        {"Escape closing the prompt stops", 0x0100, 27, kAnswerCancel, true, true, false},
        {"Escape code in any message", 0x0111, 0x1001B, kAnswerYes, true, true, false},
        {"quit stops", kMessageQuit, 0, kAnswerNo, true, false, false},
        {"destroy stops", kMessageDestroy, 0, kAnswerNo, true, false, false},
        {"paint is dispatched", 0x000F, 0, kAnswerNo, false, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform& fresh = StartRow();
        fresh.QueueMessage(row.message, row.wParam);
        fresh.promptAnswers.push_back(row.answer);

        RunScanSession();

        EXPECT_EQ(row.stops, ScanState.cancelRequested);
        EXPECT_EQ(row.stops ? 0u : 2u, FirstOffers().size());
        ASSERT_EQ(row.prompts ? 1u : 0u, fresh.prompts.size());
        if (row.prompts) {
            EXPECT_EQ("Terminate the Scan now?", fresh.prompts[0].text);
            EXPECT_EQ(kProductTitle, fresh.prompts[0].caption);
            EXPECT_EQ(36u, fresh.prompts[0].flags);
        }
        EXPECT_EQ(row.dispatched ? 1u : 0u, fresh.dispatched.size());
        // The statistics and the final word follow a stop as well.
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("Total files removed\t\t:  0", lines.back());
        EXPECT_EQ(row.stops ? "Scanning terminated" : "Scanning completed", statuses.back());
    }
}

TEST_F(ScanSessionTest, AnEmptyQueueIsLookedIntoOncePerTickOfTheClock)
{
    fake.tickStep = 0;  // the clock stands still until the test moves it
    fake.tick = 500;
    PumpPendingMessage();
    PumpPendingMessage();
    PumpPendingMessage();
    EXPECT_EQ(1, fake.queueLooks);

    // A message posted within the tick waits for the next one, then is
    // taken by the first pump.
    fake.QueueMessage(0x000F);
    PumpPendingMessage();
    EXPECT_TRUE(fake.dispatched.empty());
    fake.tick = 501;
    PumpPendingMessage();
    EXPECT_EQ(1u, fake.dispatched.size());
    EXPECT_EQ(2, fake.queueLooks);

    // A queue that just gave a message is looked into again at once.
    fake.QueueMessage(0x000F);
    PumpPendingMessage();
    EXPECT_EQ(2u, fake.dispatched.size());
    PumpPendingMessage();
    EXPECT_EQ(4, fake.queueLooks);
    PumpPendingMessage();
    EXPECT_EQ(4, fake.queueLooks);

    // A clock that wraps still counts as a new tick.
    fake.tick = 0;
    PumpPendingMessage();
    EXPECT_EQ(5, fake.queueLooks);
}

TEST_F(ScanSessionTest, ACancelFromTheDialogStopsTheWalkAtTheNextEntry)
{
    fake.AddDrive('C', DriveFixed);
    fake.AddDrive('D', DriveFixed);
    fake.AddFile("C:\\a.txt", "a");
    fake.AddFile("C:\\sub\\b.txt", "b");
    fake.AddFile("C:\\sub\\c.txt", "c");
    fake.AddFile("D:\\d.txt", "d");
    // The dialog's CANCEL handler runs nested inside the walk when its
    // message is dispatched; it sets the flag after the user said Yes.
    const std::uint32_t kCommand = 0x0111;
    fake.onDispatch = [](const PendingMessage& message) {
        if (message.message == kCommand) ScanState.cancelRequested = true;
    };
    std::size_t before = 0;
    fake.onNotify = [&](WindowRef, std::uint32_t message) {
        if (message == AppendLineMessage) lines.push_back(ScanState.lineText);
        if (message == ShowStatusMessage) {
            statuses.push_back(ScanState.statusText);
            if (statuses.back() == "C:\\sub\\b.txt") {
                before = offered.size();
                fake.QueueMessage(kCommand);
            }
        }
    };

    RunScanSession();

    // b.txt is examined (the status comes before the handlers), then the
    // next check stops every level; D: is visited but returns at once.
    EXPECT_EQ((std::vector<std::string>{"C:\\a.txt", "C:\\sub\\b.txt"}), FirstOffers());
    EXPECT_EQ(before + 2, offered.size());
    EXPECT_TRUE(Walked("D:\\*.*"));
    EXPECT_EQ("Scanning terminated", statuses.back());
    EXPECT_EQ("Total files scanned\t\t:  2", lines[lines.size() - 3]);
}

TEST_F(ScanSessionTest, ProgramFilesIsWalkedOnceWhetherOrNotTheRootWalkReachedIt)
{
    fake.AddDrive('C', DriveFixed);
    fake.AddDrive('D', DriveFixed);
    fake.AddFile("C:\\Program Files\\app\\app.exe", "x");
    fake.AddFile("D:\\Program Files\\tool.exe", "y");

    RunScanSession();

    // Reached by the walks of the roots: no extra walk. One walk of a folder
    // enumerates its pattern twice, once per pass.
    EXPECT_EQ(2, std::count(fake.findPatterns.begin(), fake.findPatterns.end(), "C:\\Program Files\\*.*"));
    EXPECT_EQ(2, std::count(fake.findPatterns.begin(), fake.findPatterns.end(), "D:\\Program Files\\*.*"));
    EXPECT_EQ(1, ScanState.programFilesVisited);
    EXPECT_EQ(2, ScanStatistics.filesScanned);
}

TEST_F(ScanSessionTest, ProgramFilesGetsItsOwnWalkWhenTheRootWalkStoppedEarly)
{
    fake.AddDrive('C', DriveFixed);
    fake.AddFile("C:\\first.txt", "x");
    fake.AddFile("C:\\Program Files\\app.exe", "y");
    fake.QueueMessage(kMessageQuit);

    RunScanSession();

    EXPECT_EQ(0, ScanState.programFilesVisited);
    EXPECT_EQ(0, ScanState.programFilesPending);
    EXPECT_STREQ("C:\\Program Files\\*.*", ScanState.programFilesPattern);
    EXPECT_TRUE(Walked("C:\\Program Files\\*.*"));
    EXPECT_TRUE(FirstOffers().empty());
}

TEST_F(ScanSessionTest, ARootWithoutProgramFilesLeavesThePendingFlagAlone)
{
    fake.AddDrive('C', DriveFixed);
    fake.AddFile("C:\\x.txt", "x");
    ScanState.programFilesPending = 0;

    WalkFolder("C:\\*.*");

    EXPECT_EQ(0, ScanState.programFilesPending);
    EXPECT_STREQ("C:\\Program Files", ScanState.programFilesPattern);
    // Only a drive root is checked: a deeper pattern never sets it.
    fake.AddFile("C:\\sub\\Program Files\\y.txt", "y");
    WalkFolder("C:\\sub\\*.*");
    EXPECT_EQ(0, ScanState.programFilesPending);
}

TEST_F(ScanSessionTest, RestartQuestionAndRestartOnBothFamilies)
{
    struct Row {
        const char* name;
        std::int32_t restartNeeded;
        std::uint32_t platformId;
        int answer;
        PrivilegeResult privilege;
        bool asked;
        bool privilegeAsked;
        bool rebooted;
    };
    const Row rows[] = {
        {"nothing scheduled", 0, 2, kAnswerYes, PrivilegeEnabled, false, false, false},
        {"answered No", 1, 2, kAnswerNo, PrivilegeEnabled, true, false, false},
        {"NT with the privilege", 1, 2, kAnswerYes, PrivilegeEnabled, true, true, true},
        {"NT without a token", 1, 2, kAnswerYes, PrivilegeTokenUnavailable, true, true, false},
        {"NT privilege not granted", 1, 2, kAnswerYes, PrivilegeNotAdjusted, true, true, false},
        {"9x needs no privilege", 1, 1, kAnswerYes, PrivilegeTokenUnavailable, true, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform& fresh = StartRow();
        fresh.version.platformId = row.platformId;
        fresh.privilegeResult = row.privilege;
        fresh.promptAnswers.push_back(row.answer);
        ScanState.restartNeeded = row.restartNeeded;

        RunScanSession();

        ASSERT_EQ(row.asked ? 1u : 0u, fresh.prompts.size());
        if (row.asked) {
            EXPECT_EQ("The system has to be restarted to remove the virus completely from your system. \n\n "
                      "Restart now?",
                      fresh.prompts[0].text);
            EXPECT_EQ(kProductTitle, fresh.prompts[0].caption);
            EXPECT_EQ(36u, fresh.prompts[0].flags);
        }
        EXPECT_EQ(row.privilegeAsked ? std::vector<std::string>{"SeShutdownPrivilege"} : std::vector<std::string>{},
                  fresh.privilegeRequests);
        EXPECT_EQ(row.rebooted ? std::vector<std::uint32_t>{6} : std::vector<std::uint32_t>{}, fresh.rebootRequests);
    }
}

TEST_F(ScanSessionTest, APatternWithoutADotAbandonsTheWalk)
{
    fake.AddDrive('D', DriveFixed);
    fake.AddFile("D:\\data", "no extension");
    fake.AddFolder("D:\\folder");

    EXPECT_EQ(-1, WalkFolder("D:\\data"));
    EXPECT_EQ(-1, WalkFolder("D:\\folder"));
    EXPECT_TRUE(offered.empty());
    EXPECT_EQ(0, ScanStatistics.filesScanned);
}

TEST_F(ScanSessionTest, ReturnsTheFilesScannedSoFar)
{
    fake.AddDrive('D', DriveFixed);
    fake.AddFile("D:\\a\\1.txt", "1");
    fake.AddFile("D:\\b\\2.txt", "2");
    ScanStatistics.filesScanned = 40;

    EXPECT_EQ(41, WalkFolder("D:\\a\\*.*"));
    EXPECT_EQ(41, WalkFolder("D:\\missing\\*.*"));
    EXPECT_EQ(42, WalkFolder("D:\\b\\*.*"));
}

TEST_F(ScanSessionTest, MemoryScanModeOffersOneFileWithoutCountingIt)
{
    fake.AddDrive('C', DriveFixed);
    fake.AddFile("C:\\tools\\setup.exe", "x");
    fake.AddFile("C:\\tools\\setup.dat", "y");
    fake.AddFolder("C:\\tools\\setup.d");
    fake.AddFile("C:\\tools\\other.exe", "z");
    memoryScanMode = true;
    foundInMemory = true;

    EXPECT_EQ(0, WalkFolder("C:\\tools\\setup.exe"));

    EXPECT_FALSE(foundInMemory);
    EXPECT_EQ(std::vector<std::string>{"C:\\tools\\setup.exe"}, FirstOffers());
    EXPECT_EQ(0, ScanStatistics.filesScanned);
    EXPECT_EQ(std::vector<std::string>{"C:\\tools\\setup.exe"}, statuses);
    // The subfolder pass looks for names beginning like the file's and
    // enters a folder among them by the walk's usual cut of the pattern.
    EXPECT_TRUE(Walked("C:\\tools\\setup.*"));
    EXPECT_TRUE(Walked("C:\\tools\\setusetup.d\\*.*"));
}

TEST_F(ScanSessionTest, NamesOutsideTheAnsiCodePageAreReachedThroughTheirShortNames)
{
    fake.AddDrive('D', DriveFixed);
    // Files and a folder whose long names lost characters to the code page.
    fake.AddFile("D:\\INVOIC~1.EXE", "1");
    fake.SetAnsiLongName("D:\\INVOIC~1.EXE", "invoice ??.exe");
    fake.AddFile("D:\\DATA~1\\inner.txt", "2");
    fake.SetAnsiLongName("D:\\DATA~1", "d??a");
    // A long name the code page holds keeps being used; a '?' without a
    // short name is passed on as it came.
    fake.AddFile("D:\\LONGNA~1.TXT", "3");
    fake.SetAnsiLongName("D:\\LONGNA~1.TXT", "long name.txt");
    fake.AddFile("D:\\pl?in.txt", "4");

    EXPECT_EQ(4, WalkFolder("D:\\*.*"));

    std::vector<std::string> expected = {"D:\\INVOIC~1.EXE", "D:\\long name.txt", "D:\\pl?in.txt",
                                         "D:\\DATA~1\\inner.txt"};
    EXPECT_EQ(expected, FirstOffers());
}

TEST_F(ScanSessionTest, EntriesBeyondThePathLimitAreSkippedWithoutOverrun)
{
    // A 255-character folder is the deepest whose "\\*.*" pattern fits.
    std::string folder = "D:";
    for (int i = 0; i < 4; ++i) folder += "\\" + std::string(50, static_cast<char>('a' + i));
    folder += "\\" + std::string(48, 'e');
    ASSERT_EQ(255u, folder.size());
    fake.AddDrive('D', DriveFixed);
    fake.AddFile(folder + "\\abc", "fits");               // 259 characters: fits
    fake.AddFile(folder + "\\abcd", "too long");          // 260: does not fit
    fake.AddFile(folder + "\\s\\inner.txt", "beyond");   // its folder's pattern does not fit
    fake.AddFile("D:\\short.txt", "ok");

    RunScanSession();

    std::vector<std::string> expected = {"D:\\short.txt", folder + "\\abc"};
    EXPECT_EQ(expected, FirstOffers());
    EXPECT_EQ(2, ScanStatistics.filesScanned);
    for (const std::string& pattern : fake.findPatterns) EXPECT_LT(pattern.size(), kPathBufferSize);
}

TEST_F(ScanSessionTest, JunctionsAndFolderLinksAreNotEnteredButMountedVolumesAre)
{
    fake.AddDrive('C', DriveFixed);
    fake.AddDrive('E', DriveFixed);
    fake.AddFile("C:\\Users\\me\\AppData\\Local\\cache.dat", "c");
    // The profile's compatibility junction points back at its own parent.
    fake.AddLink("C:\\Users\\me\\AppData\\Local\\Application Data", "C:\\Users\\me\\AppData\\Local",
                 kReparseTagMountPoint);
    fake.AddLink("C:\\Users\\me\\link", "C:\\Users", kReparseTagSymlink);
    // A linked folder whose tag the system does not report.
    fake.AddLink("C:\\Users\\me\\untagged", "C:\\Users\\me", 0);
    // Other reparse points (cloud placeholders and the like) are real folders.
    fake.AddLink("C:\\cloud", "E:\\", 0x9000001Au);
    fake.AddFile("E:\\volume.txt", "v");
    fake.AddLink("C:\\mnt\\disk", "E:\\", kReparseTagMountPoint, true);

    RunScanSession();

    std::vector<std::string> offers = FirstOffers();
    std::vector<std::string> expected = {"C:\\mnt\\disk\\volume.txt", "C:\\Users\\me\\AppData\\Local\\cache.dat",
                                         "E:\\volume.txt", "C:\\cloud\\volume.txt"};
    std::sort(offers.begin(), offers.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, offers);
    EXPECT_FALSE(Walked("C:\\Users\\me\\AppData\\Local\\Application Data\\*.*"));
    EXPECT_FALSE(Walked("C:\\Users\\me\\link\\*.*"));
    EXPECT_FALSE(Walked("C:\\Users\\me\\untagged\\*.*"));
    EXPECT_TRUE(Walked("C:\\mnt\\disk\\*.*"));
    // The links themselves still show in the status line.
    EXPECT_NE(statuses.end(),
              std::find(statuses.begin(), statuses.end(), "C:\\Users\\me\\AppData\\Local\\Application Data"));
}

}  // namespace

namespace {

TEST_F(ScanSessionTest, ANamedFileIsShownCountedAndOfferedAsTheWalkOffersAFile)
{
    fake.AddDrive('C', DriveFixed);
    fake.AddFile("C:\\dir\\one.exe", "1");
    fake.AddFile("C:\\dir\\two.exe", "2");
    claimedByFirst.insert("C:\\dir\\two.exe");

    ScanSingleFile("C:\\dir\\one.exe");
    ScanSingleFile("C:\\dir\\two.exe");

    EXPECT_EQ((std::vector<std::string>{"C:\\dir\\one.exe", "C:\\dir\\two.exe"}), statuses);
    EXPECT_EQ((std::vector<std::string>{"first|C:\\dir\\one.exe", "second|C:\\dir\\one.exe", "first|C:\\dir\\two.exe"}),
              offered);
    EXPECT_EQ(2, ScanStatistics.filesScanned);
    // Nothing else of the folder is looked at.
    EXPECT_TRUE(fake.findPatterns.empty());
}

}  // namespace
