// Decides whether a name from the ID mapping can become part of a file name inside the
// save folder, the same way on every platform so that saved files stay portable.
#pragma once

#include <string>
#include <string_view>

class ZxSaveNameCheck {
public:
    // Null when the name is fit, otherwise why it is not: an empty name, a control
    // character, a root, drive or path separator, ".." (the parent folder), one of
    // the characters <>:"|?* that Windows refuses in file names, a ',' or ';' (they
    // separate the fields and entries of a mapping text); a name longer than
    // 200 bytes or one that Windows would take for a device ("nul.x").
    static const char* problemOf(std::string_view name);

    // The same name compared the way a case-insensitive file system compares it
    // (ASCII letters folded), so two names that would share files compare equal.
    static std::string fileSystemKey(std::string_view name);

    // The name for a log line: control characters as \xNN, so a name cannot forge lines.
    static std::string printable(std::string_view name);
};
