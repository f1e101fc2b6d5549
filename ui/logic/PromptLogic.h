// The decisions of the program's question box, free of any window: which
// buttons and picture a message-box flags value asks for, what each command
// answers, and how the box grows with its text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/logic/LayoutRect.h"

enum PromptMode { PromptOkOnly, PromptOkCancel, PromptYesNo };

// Bit 0x1 (OK and Cancel) is tested before bit 0x4 (Yes and No).
PromptMode PromptModeForFlags(std::uint32_t flags);

// Bitmap resource of the picture: the exclamation style (0x30) is tested
// first, then information (0x40), question (0x20) and stop (0x10); no icon
// style shows the warning.
int PromptPictureForFlags(std::uint32_t flags);

// The dialog's result for a command: Yes 6, No 7, OK-alone and OK 1, the
// cancel command 7 in Yes/No mode and 2 otherwise. -1 for other commands.
int PromptResultForCommand(int command, PromptMode mode);

// How much the box grows for a message of `length` characters.
struct PromptGrowth {
    int grow;     // (length / 30 + 1) * 10
    int widen;    // grow * 1.25, truncated
    int quarter;  // widen / 4
    int half;     // widen / 2
};
PromptGrowth PromptGrowthForLength(std::size_t length);

// The buttons in the order the layout moves them: OK-alone, OK, Cancel,
// Yes, No.
const int kPromptButtonCount = 5;
extern const int kPromptButtonIds[kPromptButtonCount];

// Window rectangles measured from the dialog's outer top-left corner once
// the dialog stands at the screen origin, before any control is moved.
struct PromptLayoutInput {
    std::size_t messageLength;
    bool largeFonts;
    LayoutRect dialog;
    LayoutRect message;
    LayoutRect picture;
    LayoutRect buttons[kPromptButtonCount];
};

// Where everything goes. Control positions are applied unchanged as
// positions in the dialog's client area.
struct PromptLayout {
    LayoutRect dialog;                      // at (0, 0)
    LayoutRect message;
    bool movePicture;                       // only for long messages
    LayoutRect picture;
    LayoutRect buttons[kPromptButtonCount];  // sizes unchanged
};
PromptLayout LayOutPrompt(const PromptLayoutInput& input);
