// The CSV files that a run wrote below the save root: the files present at the end
// that were not there at the start, with their counts of data lines.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class ZxCsvListing {
public:
    struct File {
        // Relative to the save root, with '/' separators.
        std::string path;
        std::uint64_t dataLines = 0;
        std::uint64_t bytes = 0;
    };

    explicit ZxCsvListing(std::string root);

    // Remembers the files already present, so that older runs are not listed.
    void takeSnapshot();
    // The files written since the snapshot, sorted by path.
    std::vector<File> newFiles() const;

private:
    std::set<std::string> csvFilesNow() const;

    std::string root_;
    std::set<std::string> before_;
};
