// zxcollect: collects module records from a VCI box through zxcollector_api.
#include "ZxCollectOptions.h"
#include "ZxCollectSession.h"
#include "ZxResultText.h"
#include "zxcollector_api.h"

#include <cstdio>

int main(int argc, char** argv) {
    ZxCollectOptions options;
    switch (options.parse(argc, argv)) {
    case ZxCollectOptions::Outcome::Help:
        std::fputs(ZxCollectOptions::usage().c_str(), stdout);
        return 0;
    case ZxCollectOptions::Outcome::Version: {
        char library[32];
        if (ZxGetVersion(library, sizeof library) != ZX_OK) {
            library[0] = '\0';
        }
        std::printf("zxcollect %d.%d.%d (library zxcollector_api %s)\n", ZXCOLLECTOR_VERSION_MAJOR,
                    ZXCOLLECTOR_VERSION_MINOR, ZXCOLLECTOR_VERSION_PATCH, library);
        return 0;
    }
    case ZxCollectOptions::Outcome::Codes:
        std::fputs(ZxResultText::markdownTable().c_str(), stdout);
        return 0;
    case ZxCollectOptions::Outcome::Invalid:
        std::fprintf(stderr, "zxcollect: %s\n%s", options.error.c_str(), ZxCollectOptions::usage().c_str());
        return 2;
    case ZxCollectOptions::Outcome::Run:
        break;
    }
    ZxCollectSession session(options, stdout, stderr);
    return session.run();
}
