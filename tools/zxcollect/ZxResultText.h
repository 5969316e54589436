// The library's return codes with their meanings, for messages and the summary.
// The table here is the one the README repeats (zxcollect --codes prints it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ZxResultText {
public:
    struct Row {
        std::int32_t code;
        // Several codes share a value; the call that returned it picks the meaning.
        const char* calls;
        const char* meaning;
    };

    // Meaning of a result of the named exported function (e.g. "ZxOpenDev").
    static std::string meaning(const std::string& call, std::int32_t code);

    static const std::vector<Row>& rows();

    // The table as Markdown, exactly as the README holds it.
    static std::string markdownTable();
};
