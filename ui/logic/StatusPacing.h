// When the scan's status line repaints. The walk sends a new path for every
// entry, thousands a second; the line keeps each one at once but repaints
// at most once a frame: a new text marks the line for painting unless a
// paint is already due or the last one is less than a frame old, in which
// case a timer asks for the paint once the frame is over. A paint always
// shows the newest text, so whenever the screen shows the line it shows the
// entry being examined, and the last text sent is painted last.
#pragma once

#include <cstdint>

// About 25 paints a second at most.
const std::uint32_t kStatusFrameMs = 40;

struct StatusPacing {
    bool paintDue = false;      // the line is marked for painting
    bool timerArmed = false;    // a timer will mark it
    bool painted = false;       // it has been painted at least once
    std::uint32_t lastPaint = 0;  // millisecond tick of the last paint
};

enum StatusStep {
    StatusNothing,     // the paint already due (or the timer armed) will show the text
    StatusInvalidate,  // mark the line for painting now
    StatusArmTimer     // arm the timer for `delay` milliseconds
};

// A new text arrived at tick `now`.
StatusStep OnStatusText(StatusPacing& pacing, std::uint32_t now, std::uint32_t& delay);
// The timer went off (the caller stops it).
StatusStep OnStatusTimer(StatusPacing& pacing);
// The line was painted at tick `now`.
void OnStatusPainted(StatusPacing& pacing, std::uint32_t now);
