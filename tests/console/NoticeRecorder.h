// The POSIX backend's notices, kept for a test to look at.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/PosixPlatform.h"

struct RecordedNotice {
    PosixPlatform::NoticeKind kind;
    std::string path;
    int detail;
};

inline std::vector<RecordedNotice>& RecordedNotices()
{
    static std::vector<RecordedNotice> notices;
    return notices;
}

// A notice handler (PosixPlatform::SetNoticeHandler) that keeps each notice.
inline void RecordNotice(PosixPlatform::NoticeKind kind, const char* hostPath, int detail)
{
    RecordedNotices().push_back({kind, hostPath, detail});
}
