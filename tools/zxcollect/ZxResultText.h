// The library's texts for its results (ZxGetResultText), for messages and the summary,
// and the table of every code that zxcollect --codes prints and the README repeats.
#pragma once

#include <cstdint>
#include <string>

class ZxResultText {
public:
    // The library's text for a result of the named exported function (e.g. "ZxOpenDev"):
    // of a value shared by several calls, only the meaning for that call.
    static std::string meaning(const std::string& call, std::int32_t code);

    // Every code of the header with the library's text, as Markdown, exactly as the
    // README holds it.
    static std::string markdownTable();
};
