// The words for a file failure that both systems share; the system's own
// text for any other failure comes from the platform file.
#pragma once

#include <cstdio>
#include <string>

#include "platform/Platform.h"

namespace brennix::platform {

// The words for `failure`, or null when the system's text is needed.
inline std::string SharedFailureWords(const FileFailure& failure) {
    switch (failure.problem) {
        case FileProblem::kNone:
            return "no failure";
        case FileProblem::kMissing:
            return "no such file";
        case FileProblem::kNoAccess:
            return "permission denied";
        case FileProblem::kFolder:
            return "is a folder";
        case FileProblem::kFifo:
            return "not a regular file (a FIFO)";
        case FileProblem::kDevice:
            return "not a regular file (a device)";
        case FileProblem::kSocket:
            return "not a regular file (a socket)";
        case FileProblem::kNotRegular:
            return "not a regular file";
        case FileProblem::kTooLarge: {
            char text[80];
            std::snprintf(text, sizeof text, "the file is 4 GiB or larger (%llu bytes)",
                          static_cast<unsigned long long>(failure.size));
            return text;
        }
        case FileProblem::kExists:
            return "exists";
        case FileProblem::kSystem:
            break;
    }
    return std::string();
}

}  // namespace brennix::platform
