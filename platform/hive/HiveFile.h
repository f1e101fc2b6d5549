// One hive file of the disk: where it is and whether it may be read.
#pragma once

#include <string>

struct HiveFile {
    std::string hostPath;
};
