#include <gtest/gtest.h>

#include <map>

#include "resources/resource.h"
#include "ui/logic/ButtonLogic.h"
#include "ui/logic/DialogPhases.h"
#include "ui/logic/PromptLogic.h"
#include "ui/logic/ResultsListLogic.h"
#include "ui/logic/StatusPacing.h"

TEST(PromptLogicTest, FlagsChooseButtonsAndPicture)
{
    struct Row {
        std::uint32_t flags;
        PromptMode mode;
        int picture;
    };
    const Row rows[] = {
        {36, PromptYesNo, 178},       // Yes/No with the question icon
        {0x41, PromptOkCancel, 177},  // OK/Cancel with the information icon
        {0, PromptOkOnly, 147},       // no icon style: the warning
        {5, PromptOkCancel, 147},     // 0x1 is tested before 0x4
        {0x30, PromptOkOnly, 147},    // exclamation
        {0x70, PromptOkOnly, 147},    // 0x30 is tested first
        {0x50, PromptOkOnly, 177},
        {0x60, PromptOkOnly, 177},
        {0x20, PromptOkOnly, 178},
        {0x10, PromptOkOnly, 179},    // stop
        {0x14, PromptYesNo, 179},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.flags);
        EXPECT_EQ(row.mode, PromptModeForFlags(row.flags));
        EXPECT_EQ(row.picture, PromptPictureForFlags(row.flags));
    }
}

TEST(PromptLogicTest, CommandsAnswerByMode)
{
    struct Row {
        int command;
        int okOnly;
        int okCancel;
        int yesNo;
    };
    const Row rows[] = {
        {IDC_PROMPT_YES, 6, 6, 6},     {IDC_PROMPT_NO, 7, 7, 7},       {IDC_PROMPT_OK_ALONE, 1, 1, 1},
        {IDC_PROMPT_OK, 1, 1, 1},      {IDC_PROMPT_CANCEL, 2, 2, 7},   {1085, -1, -1, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        EXPECT_EQ(row.okOnly, PromptResultForCommand(row.command, PromptOkOnly));
        EXPECT_EQ(row.okCancel, PromptResultForCommand(row.command, PromptOkCancel));
        EXPECT_EQ(row.yesNo, PromptResultForCommand(row.command, PromptYesNo));
    }
}

TEST(PromptLogicTest, TheBoxGrowsWithItsText)
{
    struct Row {
        std::size_t length;
        int grow, widen, quarter, half;
    };
    const Row rows[] = {
        {0, 10, 12, 3, 6},    {23, 10, 12, 3, 6},   {29, 10, 12, 3, 6},   {30, 20, 25, 6, 12},
        {59, 20, 25, 6, 12},  {60, 30, 37, 9, 18},  {89, 30, 37, 9, 18},  {90, 40, 50, 12, 25},
        {95, 40, 50, 12, 25}, {186, 70, 87, 21, 43},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        PromptGrowth growth = PromptGrowthForLength(row.length);
        EXPECT_EQ(row.grow, growth.grow);
        EXPECT_EQ(row.widen, growth.widen);
        EXPECT_EQ(row.quarter, growth.quarter);
        EXPECT_EQ(row.half, growth.half);
    }
}

namespace {
PromptLayoutInput TemplateLayout(std::size_t length, bool largeFonts)
{
    // Outer rectangles of a 187 x 54 unit template at the usual font, measured
    // from the dialog's outer corner (frame and caption included).
    PromptLayoutInput input;
    input.messageLength = length;
    input.largeFonts = largeFonts;
    input.dialog = {0, 0, 286, 114};
    input.message = {77, 34, 202, 31};
    input.picture = {26, 26, 38, 39};
    const int xs[kPromptButtonCount] = {98, 39, 156, 39, 153};
    const int ys[kPromptButtonCount] = {88, 88, 88, 68, 68};
    for (int i = 0; i < kPromptButtonCount; ++i) input.buttons[i] = {xs[i], ys[i], 75, 23};
    return input;
}
}  // namespace

TEST(PromptLogicTest, LayoutMovesTextButtonsAndPicture)
{
    struct Row {
        std::size_t length;
        bool largeFonts;
        int dialogWidth, dialogHeight, messageHeight, buttonShift;
        bool picture;
    };
    const Row rows[] = {
        {23, false, 286 + 12, 114 + 7, 31 + 7, 6, false},
        {45, false, 286 + 25, 114 + 14, 31 + 14, 12, false},
        {75, false, 286 + 37, 114 + 21, 31 + 21, 18, false},
        {90, false, 286 + 50, 114 + 28, 31 + 28, 25, true},
        {23, true, 286 + 12, 114 + 7, 31 + 7 + 25, 6, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.length << (row.largeFonts ? " large fonts" : ""));
        PromptLayoutInput input = TemplateLayout(row.length, row.largeFonts);
        PromptLayout layout = LayOutPrompt(input);
        EXPECT_EQ((LayoutRect{0, 0, row.dialogWidth, row.dialogHeight}), layout.dialog);
        EXPECT_EQ((LayoutRect{77, 34 - 25, 202 + row.dialogWidth - 286, row.messageHeight}), layout.message);
        for (int i = 0; i < kPromptButtonCount; ++i) {
            // Every button ends up 65 pixels above the bottom, whatever its
            // template row, shifted right by half the widening.
            EXPECT_EQ((LayoutRect{input.buttons[i].x + row.buttonShift, row.dialogHeight - 65, 75, 23}),
                      layout.buttons[i]);
        }
        EXPECT_EQ(row.picture, layout.movePicture);
        EXPECT_EQ(row.picture ? (LayoutRect{26, 34 - 30, 38, 39}) : input.picture, layout.picture);
    }
}

TEST(ResultsListLogicTest, ClearingScrollingAndExtent)
{
    EXPECT_FALSE(ResultsListNeedsClearing(149, false));
    EXPECT_TRUE(ResultsListNeedsClearing(150, false));
    EXPECT_TRUE(ResultsListNeedsClearing(151, false));
    EXPECT_FALSE(ResultsListNeedsClearing(150, true));  // the statistics block stays
    EXPECT_FALSE(ResultsListNeedsClearing(400, true));

    EXPECT_EQ(-1, ResultsListTopLine(1));
    EXPECT_EQ(-1, ResultsListTopLine(2));
    EXPECT_EQ(2, ResultsListTopLine(3));
    EXPECT_EQ(149, ResultsListTopLine(150));

    struct Row {
        int current, widest, expected;
    };
    const Row rows[] = {
        {0, 560, 0},      // narrow lines never change it
        {0, 561, 420},    // 3 * 561 / 4
        {0, 800, 600},
        {600, 800, 600},  // an extent already wide enough stays
        {799, 800, 600},  // smaller than the line: replaced, even by a smaller value
        {800, 800, 800},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.current << " / " << row.widest);
        EXPECT_EQ(row.expected, ResultsListExtent(row.current, row.widest));
    }
}

TEST(ButtonLogicTest, HighlightFollowsFocusAndMouse)
{
    struct Row {
        const char* name;
        ButtonEvent event;
        bool capture;
        bool inside;
        HighlightStep expected;
    };
    const Row rows[] = {
        {"set focus", ButtonSetFocus, false, false, {true, false, false, false, 1}},
        {"kill focus", ButtonKillFocus, true, true, {true, false, false, false, 0}},
        {"mouse enters", ButtonMouseMove, false, true, {false, true, true, false, 1}},
        {"mouse leaves", ButtonMouseMove, true, false, {false, false, false, true, 0}},
        {"mouse moves inside", ButtonMouseMove, true, true, {false, false, false, false, -1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HighlightStep step = NextHighlightStep(row.event, row.capture, row.inside);
        EXPECT_EQ(row.expected.defaultFirst, step.defaultFirst);
        EXPECT_EQ(row.expected.takeFocus, step.takeFocus);
        EXPECT_EQ(row.expected.takeCapture, step.takeCapture);
        EXPECT_EQ(row.expected.releaseCapture, step.releaseCapture);
        EXPECT_EQ(row.expected.highlight, step.highlight);
    }
    // The right and bottom edges are outside; with no image the bounds are
    // empty and every point is outside.
    EXPECT_TRUE(PointInsideBounds(0, 0, 21, 21));
    EXPECT_TRUE(PointInsideBounds(20, 20, 21, 21));
    EXPECT_FALSE(PointInsideBounds(21, 5, 21, 21));
    EXPECT_FALSE(PointInsideBounds(5, 21, 21, 21));
    EXPECT_FALSE(PointInsideBounds(-1, 5, 21, 21));
    EXPECT_FALSE(PointInsideBounds(0, 0, 0, 0));

    EXPECT_EQ(ImageFocus, ChooseButtonImage(true, true));  // the highlight wins
    EXPECT_EQ(ImageDisable, ChooseButtonImage(false, true));
    EXPECT_EQ(ImageNotFocus, ChooseButtonImage(false, false));
}

namespace {

struct ControlState {
    bool visible = true;  // every control of the template starts visible and enabled
    bool enabled = true;
};

void Enter(std::map<int, ControlState>& controls, DialogPhase phase, bool productInstalled)
{
    ControlChange changes[kMaxPhaseChanges];
    std::size_t count = ChangesForPhase(phase, productInstalled, changes, kMaxPhaseChanges);
    ASSERT_LT(count, kMaxPhaseChanges);
    for (std::size_t i = 0; i < count; ++i) {
        ControlState& state = controls[changes[i].controlId];
        if (changes[i].visibility != KeepVisibility) state.visible = changes[i].visibility == ShowControl;
        if (changes[i].enabling != KeepEnabling) state.enabled = changes[i].enabling == EnableControl;
    }
}

struct Expected {
    int id;
    bool visible;
    bool enabled;  // checked only for controls the user can press
};

void ExpectStates(const std::map<int, ControlState>& controls, const std::vector<Expected>& expected)
{
    for (const Expected& row : expected) {
        SCOPED_TRACE(row.id);
        ControlState state = controls.count(row.id) ? controls.at(row.id) : ControlState();
        EXPECT_EQ(row.visible, state.visible);
        EXPECT_EQ(row.enabled, state.enabled);
    }
}

}  // namespace

TEST(DialogPhasesTest, ControlsFollowTheStateTableThroughAScan)
{
    for (bool product : {false, true}) {
        SCOPED_TRACE(product ? "product installed" : "no product");
        std::map<int, ControlState> controls;
        Enter(controls, PhaseReady, product);
        ExpectStates(controls, {
            {IDC_SCAN, true, true},
            {IDC_DOWNLOAD, true, !product},
            {IDC_CLOSE_X, true, true},
            {IDC_MAKER_LOGO, true, true},
            {IDC_CANCEL_BUTTON, false, true},
            {IDC_OK_BUTTON, false, false},
            {IDC_DLINK, !product, !product},
            {IDC_ULINK, true, true},
            {IDC_DESCRIPTION, true, true},
            {IDC_MAKER_NOTICE, true, true},
            {IDC_PRODUCT_NOTICE, product, true},
            {IDC_CAPTION_LABEL, true, true},
            {IDC_HEADING, false, true},
            {IDC_STATUS_FRAME, false, true},
            {IDC_STATUS_TEXT, false, true},
            {IDC_LIST_FRAME, false, true},
            {IDC_RESULTS_LIST, false, true},
        });

        Enter(controls, PhaseScanning, product);
        ExpectStates(controls, {
            {IDC_SCAN, true, false},
            {IDC_DOWNLOAD, true, !product},
            {IDC_CLOSE_X, true, true},
            {IDC_MAKER_LOGO, true, true},
            {IDC_CANCEL_BUTTON, true, true},
            {IDC_OK_BUTTON, false, true},
            {IDC_DLINK, false, false},
            {IDC_ULINK, false, false},
            {IDC_DESCRIPTION, false, true},
            {IDC_MAKER_NOTICE, false, true},
            {IDC_PRODUCT_NOTICE, false, true},
            {IDC_CAPTION_LABEL, true, true},
            {IDC_HEADING, true, true},
            {IDC_STATUS_FRAME, true, true},
            {IDC_STATUS_TEXT, true, true},
            {IDC_LIST_FRAME, true, true},
            {IDC_RESULTS_LIST, true, true},
        });

        std::map<int, ControlState> cancelled = controls;
        Enter(cancelled, PhaseCancelConfirmed, product);
        ExpectStates(cancelled, {{IDC_CANCEL_BUTTON, false, true}, {IDC_OK_BUTTON, true, true}});

        Enter(controls, PhaseFinished, product);
        ExpectStates(controls, {
            {IDC_SCAN, true, false},
            {IDC_CANCEL_BUTTON, false, true},
            {IDC_OK_BUTTON, true, true},
            {IDC_DLINK, false, false},
            {IDC_ULINK, false, false},
            {IDC_DESCRIPTION, false, true},
            {IDC_MAKER_NOTICE, false, true},
            {IDC_PRODUCT_NOTICE, false, true},
            {IDC_HEADING, false, true},
            {IDC_STATUS_FRAME, true, true},
            {IDC_STATUS_TEXT, true, true},
            {IDC_LIST_FRAME, true, true},
            {IDC_RESULTS_LIST, true, true},
        });
    }
}

TEST(ButtonLogicTest, ControlsActOnAClickOnly)
{
    struct Row {
        int notifyCode;
        bool fromControl;
        bool acts;
    };
    const Row rows[] = {
        {0, true, true},
        {5, true, false},  // the second click of a double-click
        {2, true, false},                      // other notifications (BN_PAINT, list selection, ...)
        {0, false, true},                      // a menu command
        {1, false, true},                      // an accelerator
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.notifyCode * 10 + row.fromControl);
        EXPECT_EQ(row.acts, CommandActs(row.notifyCode, row.fromControl));
    }
}

TEST(StatusPacingTest, TextsArriveAtOnceAndPaintsFollowTheFrames)
{
    enum Event { Text, Timer, Painted };
    struct Row {
        const char* what;
        Event event;
        std::uint32_t at;
        StatusStep step;
        std::uint32_t delay;
    };
    const Row rows[] = {
        {"the first text is painted at once", Text, 1000, StatusInvalidate, 0},
        {"more texts before the paint wait for it", Text, 1001, StatusNothing, 0},
        {"the paint", Painted, 1005, StatusNothing, 0},
        {"a text inside the frame arms the timer", Text, 1010, StatusArmTimer, kStatusFrameMs - 5},
        {"texts while it is armed wait for it", Text, 1020, StatusNothing, 0},
        {"the timer marks the line", Timer, 1045, StatusInvalidate, 0},
        {"a text before that paint waits for it", Text, 1046, StatusNothing, 0},
        {"the second paint", Painted, 1050, StatusNothing, 0},
        {"a text a whole frame later is painted at once", Text, 1090, StatusInvalidate, 0},
        {"a paint for another reason", Painted, 1091, StatusNothing, 0},
        {"a timer left over from before marks the line anew", Timer, 1092, StatusInvalidate, 0},
        {"a paint just before the clock wraps", Painted, 0xFFFFFFF0u, StatusNothing, 0},
        {"a text just after: still inside the frame", Text, 0x10, StatusArmTimer, kStatusFrameMs - 0x20},
    };
    StatusPacing pacing;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::uint32_t delay = 12345;
        StatusStep step = StatusNothing;
        if (row.event == Text) step = OnStatusText(pacing, row.at, delay);
        if (row.event == Timer) step = OnStatusTimer(pacing);
        if (row.event == Painted) OnStatusPainted(pacing, row.at);
        EXPECT_EQ(row.step, step);
        if (row.event == Text) {
            EXPECT_EQ(row.delay, delay);
        }
    }
}
