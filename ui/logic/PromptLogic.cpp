#include "ui/logic/PromptLogic.h"

namespace {
const std::uint32_t kOkCancel = 0x1;
const std::uint32_t kYesNo = 0x4;
const std::uint32_t kIconStop = 0x10;
const std::uint32_t kIconQuestion = 0x20;
const std::uint32_t kIconExclamation = 0x30;
const std::uint32_t kIconInformation = 0x40;

const int kPictureWarning = 147;
const int kPictureInformation = 177;
const int kPictureQuestion = 178;
const int kPictureStop = 179;

const int kCommandOk = 1;
const int kCommandCancel = 2;
const int kCommandOkAlone = 3;
const int kCommandYes = 6;
const int kCommandNo = 7;

// The message control moves up by this much, and the picture goes this far
// above the message's old top.
const int kMessageRise = 25;
const int kPictureAboveMessage = 30;
const int kLargeFontsExtraHeight = 25;
const int kButtonsAboveBottom = 65;
const int kGrowthMovingPicture = 30;
}  // namespace

const int kPromptButtonIds[kPromptButtonCount] = {kCommandOkAlone, kCommandOk, kCommandCancel, kCommandYes,
                                                  kCommandNo};

PromptMode PromptModeForFlags(std::uint32_t flags)
{
    if (flags & kOkCancel) return PromptOkCancel;
    if (flags & kYesNo) return PromptYesNo;
    return PromptOkOnly;
}

int PromptPictureForFlags(std::uint32_t flags)
{
    if ((flags & kIconExclamation) == kIconExclamation) return kPictureWarning;
    if (flags & kIconInformation) return kPictureInformation;
    if (flags & kIconQuestion) return kPictureQuestion;
    if (flags & kIconStop) return kPictureStop;
    return kPictureWarning;
}

int PromptResultForCommand(int command, PromptMode mode)
{
    switch (command) {
    case kCommandYes: return 6;
    case kCommandNo: return 7;
    case kCommandOkAlone:
    case kCommandOk: return 1;
    case kCommandCancel: return mode == PromptYesNo ? 7 : 2;
    default: return -1;
    }
}

PromptGrowth PromptGrowthForLength(std::size_t length)
{
    PromptGrowth growth;
    growth.grow = static_cast<int>(length / 30 + 1) * 10;
    growth.widen = static_cast<int>(growth.grow * 1.25);
    growth.quarter = growth.widen / 4;
    growth.half = growth.widen / 2;
    return growth;
}

PromptLayout LayOutPrompt(const PromptLayoutInput& input)
{
    PromptGrowth growth = PromptGrowthForLength(input.messageLength);
    PromptLayout layout;

    layout.dialog.x = 0;
    layout.dialog.y = 0;
    layout.dialog.width = input.dialog.width + growth.widen;
    layout.dialog.height = input.dialog.height + growth.grow - growth.quarter;
    const int bottom = layout.dialog.height;

    layout.message.x = input.message.x;
    layout.message.y = input.message.y - kMessageRise;
    layout.message.width = input.message.width + growth.widen;
    layout.message.height = input.message.height + growth.grow - growth.quarter +
                            (input.largeFonts ? kLargeFontsExtraHeight : 0);

    for (int i = 0; i < kPromptButtonCount; ++i) {
        layout.buttons[i] = input.buttons[i];
        layout.buttons[i].x = input.buttons[i].x + growth.half;
        layout.buttons[i].y = bottom - kButtonsAboveBottom;
    }

    layout.movePicture = growth.grow > kGrowthMovingPicture;
    layout.picture = input.picture;
    if (layout.movePicture) layout.picture.y = input.message.y - kPictureAboveMessage;
    return layout;
}
